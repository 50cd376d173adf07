#!/usr/bin/env bash
# Cross-builds the plug-in for Windows with MinGW-w64 and checks it:
#   build-win-i686/    the 32-bit KQAzurePlugin.dll (the shipped one) plus the Windows tests, run under the
#                      32-bit Wine (wine32) in a win32 prefix
#   build-win-x86_64/  the 64-bit DLL plus the same tests, run under wine64
# Each DLL must export exactly CreateInstance and import only system DLLs
# (scripts/windows-check-dll.sh); the JNI headers must come from our Windows
# jni_md.h, never from the JDK's Linux one.
#
# Usage: scripts/windows-build.sh [--skip-code N] [--no-wine]
#        scripts/windows-build.sh --install-deps     (as root; idempotent)
# Exit status: 0 success; N (default 0) when the cross compiler is missing,
# with a SKIP line; 1 any build, check or test failure.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 wine32:i386 googletest)

skip_code=0
run_wine=1
while [[ $# -gt 0 ]]; do
  case "$1" in
    --install-deps)
      missing=()
      for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
      done
      if [[ ${#missing[@]} -gt 0 ]]; then
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
      fi
      exit 0 ;;
    --skip-code) skip_code="$2"; shift 2 ;;
    --no-wine) run_wine=0; shift ;;
    *) echo "usage: $0 [--skip-code N] [--no-wine] | --install-deps" >&2; exit 2 ;;
  esac
done

skip() {
  echo "SKIP: $*"
  exit "$skip_code"
}
fail() {
  echo "FAIL: $*"
  exit 1
}

for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  command -v "$triplet-g++-posix" >/dev/null 2>&1 ||
    skip "$triplet-g++-posix not installed (apt-get install ${packages[*]}, or $0 --install-deps)"
done
[[ -f /usr/src/googletest/CMakeLists.txt ]] || skip "GoogleTest sources missing (apt-get install googletest)"
wine_ok=0
wine32_ok=0
if [[ $run_wine -eq 1 ]]; then
  for candidate in wine64 /usr/lib/wine/wine64 wine; do
    command -v "$candidate" >/dev/null 2>&1 && wine_ok=1 && break
  done
  [[ -x /usr/lib/wine/wine ]] && wine32_ok=1
fi

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
# The JDK's jni.h (jni_md.h comes from cmake/windows).
source "$(dirname "${BASH_SOURCE[0]}")/lib/java-home.sh"
jdk="$(kq_find_java_home)"

# Runs a step quietly into a log file; on failure shows the log's end.
step() {
  local log="$1" what="$2"
  shift 2
  if ! "$@" >"$log" 2>&1; then
    grep -E "error|Error|FAILED|undefined reference" "$log" | cut -c1-400 | head -25 || true
    tail -5 "$log" | cut -c1-400
    fail "$what (full output: $log)"
  fi
}

# Every compile must see cmake/windows before the JDK's include directory and
# never a JDK include/linux.
check_jni_includes() {
  local db="$1/compile_commands.json" windows="$root/cmake/windows" line before
  [[ -f "$db" ]] || fail "$db missing"
  if grep -q "$jdk/include/linux" "$db"; then
    fail "a compile in $1 uses the JDK's Linux jni_md.h ($jdk/include/linux)"
  fi
  while IFS= read -r line; do
    [[ "$line" == *"-I$jdk/include"* ]] || continue
    before="${line%%-I$jdk/include*}"
    [[ "$before" == *"$windows"* ]] || fail "a compile in $1 reaches jni.h without cmake/windows first: $line"
  done < <(grep '"command"' "$db")
}

# Sets $dll to the DLL built under the folder.
find_dll() {
  local dir="$1"
  dll="$(find "$dir" -name KQAzurePlugin.dll -not -path '*/wineprefix/*' | head -1)"
  if [[ -z "$dll" ]]; then
    if find "$dir" -name libKQAzurePlugin.dll | grep -q .; then
      fail "the DLL was built as libKQAzurePlugin.dll; the target needs PREFIX \"\" on Windows"
    fi
    fail "no KQAzurePlugin.dll under $dir"
  fi
}

configure_args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DKQ_JDK_HOME="$jdk"
                -DKQ_BUILD_TESTS=OFF -DKQ_BUILD_BENCH=OFF -DKQ_BUILD_TOOLS=OFF)

# Configures, builds and checks one architecture: build_arch ARCH SOURCE_DIR.
build_arch() {
  local arch="$1" source="$2" dir="$root/build-win-$1"
  mkdir -p "$dir"
  step "$dir/configure.log" "configure $arch" cmake -S "$source" -B "$dir" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" "${configure_args[@]}"
  step "$dir/build.log" "build $arch" cmake --build "$dir"
  check_jni_includes "$dir"
  find_dll "$dir"
  "$root/scripts/windows-check-dll.sh" --arch "$arch" "$dll" || fail "$arch DLL check"
}

# Both: the Windows test project, which builds the plug-in tree below it.
b32="$root/build-win-i686"
b64="$root/build-win-x86_64"
build_arch i686 "$root/tests/windows"
build_arch x86_64 "$root/tests/windows"

warnings=$(cat "$b32/build.log" "$b64/build.log" | grep -c "warning:" || true)
[[ "$warnings" -eq 0 ]] || echo "NOTE: $warnings compiler warnings, see $b32/build.log and $b64/build.log"

if [[ $wine_ok -eq 0 ]]; then
  echo "SKIP: Windows tests not run under Wine (wine64 not installed or --no-wine)"
  echo "OK: both DLLs built and checked"
  exit 0
fi
# run_tests ARCH DIR: the Windows tests of one build under its Wine.
run_tests() {
  if ! ctest --test-dir "$2" --output-on-failure >"$2/ctest.log" 2>&1; then
    grep -E "Failure|FAILED|Failed|Timeout|Not Run|Exception" "$2/ctest.log" | head -60 || true
    fail "$1 Windows tests under Wine (full output: $2/ctest.log)"
  fi
  echo "$1: $(grep -E "tests passed|tests failed" "$2/ctest.log")"
}
run_tests x86_64 "$b64"
if [[ $wine32_ok -eq 0 ]]; then
  echo "SKIP: i686 Windows tests not run (the 32-bit Wine, wine32:i386, is not installed)"
  echo "OK: both DLLs built and checked; x86_64 Windows tests passed under Wine"
  exit 0
fi
run_tests i686 "$b32"
echo "OK: both DLLs built and checked; Windows tests passed under Wine on both"
