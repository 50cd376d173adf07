#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine in a private prefix:
#   tests/windows/wine-run.sh PREFIX_DIR program.exe [args...]
#   tests/windows/wine-run.sh PREFIX_DIR --init      (only create the prefix)
# The prefix is created on first use (serialised by a lock so that parallel
# tests do not initialise it twice).  The program's exit status is returned.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 prefix-dir program.exe [args...]" >&2
  exit 2
fi
prefix="$1"
shift

wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine="$(command -v "$candidate")"
    break
  fi
done
if [[ -z "$wine" ]]; then
  echo "wine-run: wine64 not found" >&2
  exit 2
fi

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko download prompts, no desktop menu entries, no display.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$prefix"
(
  flock 9
  if [[ ! -f "$prefix/system.reg" ]]; then
    "$wine" wineboot --init >"$prefix.init.log" 2>&1 || {
      echo "wine-run: wineboot failed, see $prefix.init.log" >&2
      exit 2
    }
  fi
) 9>"$prefix.lock"

[[ "$1" == "--init" ]] && exit 0
exec "$wine" "$@"
