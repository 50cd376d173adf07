#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine in a private prefix, created on
# first use under a lock so that parallel tests do not initialise it twice:
#   tests/windows/wine-run.sh PREFIX_DIR program.exe [args...]
#   tests/windows/wine-run.sh PREFIX_DIR --init      (only create the prefix)
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 prefix-dir program.exe [args...]" >&2; exit 2; }
prefix="$1"
shift
wine="$(command -v wine64 || command -v /usr/lib/wine/wine64 || command -v wine || true)"
[[ -n "$wine" ]] || { echo "wine-run: wine64 not found" >&2; exit 2; }

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko download prompts, no desktop menu entries, no display.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$prefix"
(
  flock 9
  if [[ ! -f "$prefix/system.reg" ]] && ! "$wine" wineboot --init >"$prefix.init.log" 2>&1; then
    echo "wine-run: wineboot failed, see $prefix.init.log" >&2
    exit 2
  fi
) 9>"$prefix.lock"
[[ "$1" == "--init" ]] && exit 0
exec "$wine" "$@"
