#!/usr/bin/env bash
# Runs every test of the project on a fresh or a used machine:
#   1. installs what is missing (scripts/setup.sh),
#   2. the native build with warnings as errors, all its tests (build/),
#   3. the same with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/),
#   4. the suites of the other toolchains (marked below).
#   scripts/test.sh
# Exit status 0 only when everything passed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh

# Several JDKs may be installed; the plug-in and its tests use 17.
export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
jobs="$(nproc)"

# build_and_test <build dir> [cmake options...]
build_and_test() {
  local dir="$1"
  shift
  echo "== configure $dir"
  cmake -S . -B "$dir" -G Ninja -DKQ_WERROR=ON "$@" >"$dir/configure.log" 2>&1 || {
    cat "$dir/configure.log"
    return 1
  }
  echo "== build $dir"
  cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1 || {
    grep -E "error|FAILED" -A5 "$dir/build.log" | head -100
    return 1
  }
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

mkdir -p build build-asan
build_and_test build
# The JVM tests get their sanitizer options from CTest (tests/CMakeLists.txt).
build_and_test build-asan -DKQ_SANITIZE=ON

# ---- hook: the Java library's own tests (Maven/JUnit) ----

# ---- hook: the Windows cross build and its tests under Wine ----

echo "== all tests passed"
