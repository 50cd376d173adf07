#!/usr/bin/env bash
# Checks a cross-built plug-in DLL for what a Windows host relies on:
#   - the export table holds exactly one name, CreateInstance, undecorated
#     (no leading underscore, no @N stdcall suffix);
#   - every imported DLL is part of Windows (no MinGW runtime such as
#     libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll; no jvm.dll: the
#     JavaVM comes from the host);
#   - with --arch i686|x86_64, the image is of that machine type.
# Usage: scripts/windows-check-dll.sh [--arch i686|x86_64] path/to/KQAzurePlugin.dll
# Exit status: 0 all checks pass, 1 a check failed, 2 usage or tool problem.
set -euo pipefail

arch=""
if [[ "${1:-}" == "--arch" ]]; then
  arch="${2:-}"
  shift 2 || true
fi
if [[ $# -ne 1 || ! -f "$1" ]]; then
  echo "usage: $0 [--arch i686|x86_64] file.dll" >&2
  exit 2
fi
dll="$1"

objdump=""
for candidate in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
  if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -f "$dll" >/dev/null 2>&1; then
    objdump="$candidate"
    break
  fi
done
if [[ -z "$objdump" ]]; then
  echo "windows-check-dll: no objdump that reads $dll (install binutils-mingw-w64)" >&2
  exit 2
fi

failures=0
fail() {
  echo "FAIL: $dll: $*"
  failures=$((failures + 1))
}

format=$("$objdump" -f "$dll" | sed -n 's/.*file format \(.*\)$/\1/p')
case "$arch" in
  "") ;;
  i686) [[ "$format" == "pei-i386" ]] || fail "expected a 32-bit (pei-i386) image, found '$format'" ;;
  x86_64) [[ "$format" == "pei-x86-64" ]] || fail "expected a 64-bit (pei-x86-64) image, found '$format'" ;;
  *) echo "unknown --arch '$arch'" >&2; exit 2 ;;
esac

private=$("$objdump" -p "$dll")

# The names of the export table: the lines after "[Ordinal/Name Pointer] Table"
# look like "\t[   0] CreateInstance" and end at the first blank line.
mapfile -t exports < <(printf '%s\n' "$private" | awk '
  /\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  inside && /^[[:space:]]*$/ { inside = 0 }
  inside && match($0, /\][[:space:]]+/) { print substr($0, RSTART + RLENGTH) }')
if [[ ${#exports[@]} -ne 1 || "${exports[0]:-}" != "CreateInstance" ]]; then
  fail "exports must be exactly 'CreateInstance'; found ${#exports[@]}: ${exports[*]:-(none)}"
fi

# Windows' own DLLs that a plug-in of this kind may reasonably import.
is_system_dll() {
  local name="${1,,}"
  case "$name" in
    kernel32.dll | advapi32.dll | user32.dll | shell32.dll | shlwapi.dll | ole32.dll | oleaut32.dll | \
    ntdll.dll | bcrypt.dll | version.dll | ws2_32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll)
      return 0 ;;
  esac
  return 1
}
mapfile -t imports < <(printf '%s\n' "$private" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [[ ${#imports[@]} -eq 0 ]]; then
  fail "no import table found"
fi
for name in "${imports[@]}"; do
  is_system_dll "$name" || fail "imports $name, which is not a Windows system DLL"
done

if [[ $failures -ne 0 ]]; then
  exit 1
fi
echo "OK: $dll ($format): exports CreateInstance only; imports ${imports[*]}"
