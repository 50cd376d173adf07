#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, created on first use
# under a lock so that parallel tests do not initialise it twice:
#   tests/windows/wine-run.sh [--win32] PREFIX_DIR program.exe [args...]
#   tests/windows/wine-run.sh [--win32] PREFIX_DIR --init      (only create the prefix)
# 64-bit programs run under wine64 in a win64 prefix; with --win32, 32-bit
# ones under the 32-bit loader (Debian's wine32) in a win32 prefix of their own,
# so that they never go through WoW64.
set -euo pipefail
arch=win64
if [[ "${1:-}" == --win32 ]]; then
  arch=win32
  shift
fi
[[ $# -ge 2 ]] || { echo "usage: $0 [--win32] prefix-dir program.exe [args...]" >&2; exit 2; }
prefix="$1"
shift
if [[ $arch == win64 ]]; then
  wine="$(command -v wine64 || command -v /usr/lib/wine/wine64 || command -v wine || true)"
  [[ -n "$wine" ]] || { echo "wine-run: wine64 not found" >&2; exit 2; }
else
  # /usr/lib/wine/wine is the 32-bit loader of wine32:i386.
  wine="$(command -v /usr/lib/wine/wine || command -v wine32 || true)"
  [[ -n "$wine" ]] || { echo "wine-run: the 32-bit Wine loader (wine32:i386) not found" >&2; exit 2; }
fi

export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG="${WINEDEBUG:--all}"
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
