# Shared by the link benchmarks: a work folder and the services they start, removed and stopped on exit (the
# helpers that find and wait for ports are those of scripts/lib/azurite.sh).
# shellcheck shell=bash
bench_work() {  # NAME: makes $work and arranges for it and every PID in pids to go at exit
    work="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
    pids=()
    trap bench_cleanup EXIT
}
bench_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
# shellcheck source=../../../scripts/lib/azurite.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/azurite.sh"

# The median of the numbers on standard input, separated by blanks or lines (empty fields are not numbers).
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# start_link [AZURITE OPTION...]: Azurite on disk in $work/azurite and Toxiproxy in front of it, both in pids.
# Sets azurite_port, api (Toxiproxy's API) and link_port (the proxy clients talk to); toxic JSON adds a toxic.
start_link() {
  start_azurite --location "$work/azurite" "$@" || exit 1
  pids+=("$azurite_pid")
  reserve_port api_port && reserve_port link_port || exit 1
  setsid "$toxiproxy" -host 127.0.0.1 -port "$api_port" </dev/null >"$work/toxiproxy.log" 2>&1 &
  pids+=($!)
  wait_port "$api_port" "${pids[-1]}" "$work/toxiproxy.log" || exit 1
  api="http://127.0.0.1:$api_port"
  curl -sf -X POST "$api/proxies" \
    -d "{\"name\":\"link\",\"listen\":\"127.0.0.1:$link_port\",\"upstream\":\"127.0.0.1:$azurite_port\"}" >/dev/null
}
toxic() { curl -sf -X POST "$api/proxies/link/toxics" -d "$1" >/dev/null; }
