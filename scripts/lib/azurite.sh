# shellcheck shell=bash
# Sourced by the test and benchmark scripts: ports, and Azurite on one of them.
#
#   source scripts/lib/azurite.sh
#   reserve_port api_port                  # a port for another server, held until this shell exits
#   start_azurite --inMemoryPersistence    # or --location DIR; more Azurite options may follow
#
# Expects $work (the caller's scratch folder, for azurite.log) and the repository in $repo or $root.

kq_dev_key="Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw=="
kq_connection() {  # PORT: the connection string of the emulator's account at 127.0.0.1:PORT
  echo "DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=$kq_dev_key;BlobEndpoint=http://127.0.0.1:$1/devstoreaccount1;"
}
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# reserve_port VAR: sets VAR to a port nothing listens on and no other script of this machine holds. Looking
# at the port alone is not enough: two scripts started together (ctest -j) can both find it free before either
# server binds it. So each port taken is an flock on /tmp/kq-ports/PORT.lock (run_faults.py takes the same
# locks), held on a descriptor of this shell until it exits. The ports lie below the kernel's ephemeral range,
# which outgoing connections draw from.
reserve_port() {
  local port fd
  mkdir -p /tmp/kq-ports
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 12000))
    exec {fd}>>"/tmp/kq-ports/$port.lock"
    if flock -n "$fd" && ! port_answers "$port"; then
      printf -v "$1" %s "$port"
      return 0
    fi
    exec {fd}>&-
  done
  echo "no free port found" >&2
  return 1
}

# wait_port PORT PID LOG: waits up to 60 s for PORT to answer while PID lives; else shows LOG and fails.
wait_port() {
  for _ in $(seq 1 300); do
    port_answers "$1" && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.2
  done
  echo "nothing answers on port $1: $(tail -n 20 "$3")" >&2
  return 1
}

# start_azurite OPTION...: Azurite's blob service on $azurite_port (reserved first when unset, kept across
# restarts), PID in $azurite_pid; exports AZURE_STORAGE_CONNECTION_STRING for it.
start_azurite() {
  local bin="${repo:-$root}/node_modules/.bin/azurite-blob"
  [[ -x "$bin" ]] || { echo "Azurite is not installed ($bin): run scripts/setup.sh" >&2; return 1; }
  [[ -n "${azurite_port:-}" ]] || reserve_port azurite_port || return 1
  setsid "$bin" --blobHost 127.0.0.1 --blobPort "$azurite_port" --skipApiVersionCheck --disableTelemetry --silent \
    "$@" </dev/null >>"$work/azurite.log" 2>&1 &
  azurite_pid=$!
  wait_port "$azurite_port" "$azurite_pid" "$work/azurite.log" || return 1
  AZURE_STORAGE_CONNECTION_STRING="$(kq_connection "$azurite_port")"
  export AZURE_STORAGE_CONNECTION_STRING
}

stop_azurite() {
  if [[ -n "${azurite_pid:-}" ]]; then { kill -KILL "$azurite_pid"; wait "$azurite_pid"; } 2>/dev/null; fi
  azurite_pid=""
}
