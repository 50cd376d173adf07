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

# The Java library first: its JUnit tests run against their own Azurite, and
# the jars it lays out are what the end-to-end tests of the native build use.
echo "== Java library (Maven: build and JUnit tests)"
mvn -B -f java/azure/pom.xml package >build-maven.log 2>&1 || {
  grep -E "Tests run|FAIL|ERROR" build-maven.log | head -60
  echo "Java library build or tests failed (log: build-maven.log)" >&2
  exit 1
}
grep -E "Tests run: [0-9]+, Failures" build-maven.log | tail -1 || true

mkdir -p build build-asan
build_and_test build
echo "== Java runtimes 11, 17, 21, 25 (JUnit and a kqhost round trip on each), then -Xmx256m backups"
bash scripts/test-jvms.sh --small-heap build
# The JVM tests get their sanitizer options from CTest (tests/CMakeLists.txt).
build_and_test build-asan -DKQ_SANITIZE=ON

# The Windows DLLs (i686 and x86_64, MinGW), their export/import checks, and
# the platform, log and DLL tests under Wine.
echo "== Windows cross build"
bash scripts/windows-build.sh

echo "== all tests passed"
