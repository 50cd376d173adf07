#!/usr/bin/env bash
# Starts Azurite's blob service on 127.0.0.1 (in memory, no telemetry) in the background, records its PID and
# waits until the port answers. Arguments are passed on to Azurite (e.g. --oauth basic --cert C --key K). Azurite comes from the repository's node_modules (npm ci at the repository root).
#
# Environment:
#   AZURITE_BLOB_PORT   port to listen on (default 10000, the development store's well-known port)
#   AZURITE_STATE_DIR   where the PID file and the log go (default ${TMPDIR:-/tmp}/kq-azurite)
#   AZURITE_WAIT_SECS   how long to wait for the port (default 60)
# Prints the PID file's path on success. Exit status: 0 started (or already running from this script),
# 1 failure (not installed, port taken by something else, Azurite exited or never answered).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${AZURITE_BLOB_PORT:-10000}"
state="${AZURITE_STATE_DIR:-${TMPDIR:-/tmp}/kq-azurite}"
wait_secs="${AZURITE_WAIT_SECS:-60}"
pidfile="$state/azurite-$port.pid"
logfile="$state/azurite-$port.log"
bin="$root/node_modules/.bin/azurite-blob"

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

is_our_azurite() {
    [[ -r "/proc/$1/cmdline" ]] && tr '\0' ' ' <"/proc/$1/cmdline" | grep -q azurite
}

if [[ ! -x "$bin" ]]; then
    echo "azurite-start: $bin is missing; run 'npm ci' in $root first" >&2
    exit 1
fi
mkdir -p "$state"

if [[ -f "$pidfile" ]]; then
    old="$(cat "$pidfile")"
    if [[ -n "$old" ]] && is_our_azurite "$old" && port_answers "$port"; then
        echo "$pidfile"
        exit 0
    fi
    rm -f "$pidfile"
fi
if port_answers "$port"; then
    echo "azurite-start: 127.0.0.1:$port is already in use by another process" >&2
    exit 1
fi

# setsid: the server must outlive this script and must not receive signals meant for the caller's process group.
# It runs in the state folder so that nothing it might write lands in the caller's working directory.
cd "$state"
setsid "$bin" --blobHost 127.0.0.1 --blobPort "$port" --inMemoryPersistence --skipApiVersionCheck \
    --disableTelemetry --silent "$@" </dev/null >"$logfile" 2>&1 &
pid=$!
echo "$pid" >"$pidfile"

deadline=$((SECONDS + wait_secs))
until port_answers "$port"; do
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "azurite-start: Azurite exited during start-up; its log ($logfile) ends with:" >&2
        tail -n 20 "$logfile" >&2 || true
        rm -f "$pidfile"
        exit 1
    fi
    if ((SECONDS >= deadline)); then
        echo "azurite-start: 127.0.0.1:$port did not answer within ${wait_secs}s" >&2
        kill "$pid" 2>/dev/null || true
        rm -f "$pidfile"
        exit 1
    fi
    sleep 0.2
done
echo "$pidfile"
