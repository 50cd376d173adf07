# Shared by scripts/test-jvms.sh and tests/jvms/small-heap.sh (sourced, not run).
# Expects $root (the repository) and $work (a scratch folder the caller removes).
azurite_pid=""
dev_key="Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw=="

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# start_azurite: Azurite on a free port, its data on disk in $work/azurite (big objects would not fit in
# memory); sets AZURE_STORAGE_CONNECTION_STRING. Waits at most 60 s for the port.
start_azurite() {
  local bin="$root/node_modules/.bin/azurite-blob" port
  [[ -x "$bin" ]] || { echo "Azurite is not installed ($bin): run scripts/setup.sh" >&2; return 1; }
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 20000))
    port_answers "$port" || break
  done
  mkdir -p "$work/azurite"
  setsid "$bin" --blobHost 127.0.0.1 --blobPort "$port" --location "$work/azurite" --skipApiVersionCheck \
    --disableTelemetry --silent </dev/null >>"$work/azurite.log" 2>&1 &
  azurite_pid=$!
  for _ in $(seq 1 300); do
    if port_answers "$port"; then
      export AZURE_STORAGE_CONNECTION_STRING="DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=$dev_key;BlobEndpoint=http://127.0.0.1:$port/devstoreaccount1;"
      return 0
    fi
    kill -0 "$azurite_pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "Azurite did not start: $(tail -n 5 "$work/azurite.log")" >&2
  return 1
}

stop_azurite() {
  [[ -n "$azurite_pid" ]] && { kill -KILL "$azurite_pid"; wait "$azurite_pid"; } 2>/dev/null
  azurite_pid=""
}

# same_tree A B: same relative paths, sizes and bytes.
same_tree() {
  diff -r "$1" "$2" >"$work/diff.txt" 2>&1 || { echo "trees differ: $(head -n 5 "$work/diff.txt")"; return 1; }
}
