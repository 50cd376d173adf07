# Shared by the link benchmarks: a work folder and the services they start, removed and stopped on exit, and
# the helpers that find and wait for ports.
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
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local p
    p=$((20000 + RANDOM % 20000))
    while port_answers "$p"; do p=$((20000 + RANDOM % 20000)); done
    echo "$p"
}
wait_port() {  # PORT PID LOG
    until port_answers "$1"; do kill -0 "$2" || { cat "$3"; exit 1; }; sleep 0.2; done
}
