#!/usr/bin/env bash
# Stops the Azurite that azurite-start.sh started, by the PID it recorded (never by process name).
# Same environment as azurite-start.sh (AZURITE_BLOB_PORT, AZURITE_STATE_DIR). Exit status 0 also when none runs.
set -euo pipefail

port="${AZURITE_BLOB_PORT:-10000}"
state="${AZURITE_STATE_DIR:-${TMPDIR:-/tmp}/kq-azurite}"
pidfile="$state/azurite-$port.pid"
logfile="$state/azurite-$port.log"

[[ -f "$pidfile" ]] || exit 0
pid="$(cat "$pidfile")"
rm -f "$pidfile"
# A stale file may name a PID that now belongs to another program: only signal an Azurite process.
if [[ -z "$pid" || ! -r "/proc/$pid/cmdline" ]] || ! tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q azurite; then
    exit 0
fi
kill -TERM "$pid" 2>/dev/null || exit 0
for _ in $(seq 1 50); do
    if ! kill -0 "$pid" 2>/dev/null; then
        rm -f "$logfile"
        exit 0
    fi
    sleep 0.1
done
kill -KILL "$pid" 2>/dev/null || true
rm -f "$logfile"
