#!/usr/bin/env bash
# Runs every test of the project on a fresh or a used machine:
#   1. installs what is missing (scripts/setup.sh),
#   2. the native build with warnings as errors, all its tests (build/),
#   3. the 32-bit build (-m32, the i386 JDK 17: build-m32/), its native and
#      end-to-end tests beside 64-bit processes of build/, and kqhost round
#      trips in the 32-bit VM,
#   4. the same with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/),
#   5. the suites of the other toolchains (marked below).
# Before any of that it checks the C++ and Java layout (clang-format,
# palantir-java-format) and the CI workflows (actionlint).
#
#   scripts/test.sh           everything
#   scripts/test.sh --quick   the checks, then the native build and its tests
#                             without the end-to-end ones (build/ only: no
#                             Maven build, no sanitizer build, no Windows/Wine
#                             stage)
# Exit status 0 only when everything run passed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

bash scripts/setup.sh

# Several JDKs may be installed; the plug-in and its tests use 17.
source scripts/lib/java-home.sh
kq_use_java_home
jobs="$(nproc)"

# The C++ files whose layout .clang-format fixes.
echo "== layout (clang-format)"
mapfile -t formatted < <(git ls-files -- 'plugin/*.cpp' 'plugin/*.h' 'bridge/*.cpp' 'bridge/*.h' 'log/*.cpp' 'log/*.h' \
  'platform/*.cpp' 'platform/*.h' 'include/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
  'tools/*.cpp' 'tools/*.h' ':!tests/e2e/**' ':!tests/faults/**')
clang-format --dry-run --Werror "${formatted[@]}" || {
  echo "layout differs from .clang-format: run clang-format -i on the files above" >&2
  exit 1
}

# The Java files' layout: palantir-java-format through Spotless, over the trees java/azure/pom.xml lists.
# Its own step rather than a phase of the Maven build below: it fails within seconds, before anything is
# compiled, and in the quick run too, which has no Maven build.
echo "== layout (palantir-java-format)"
mvn -B -q -f java/azure/pom.xml spotless:check >build-spotless.log 2>&1 || {
  grep -F "[ERROR]" build-spotless.log | head -60
  echo "Java layout differs: run mvn -f java/azure/pom.xml spotless:apply (log: build-spotless.log)" >&2
  exit 1
}

echo "== workflows (actionlint)"
.tools/bin/actionlint

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
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_filter[@]}"
}
ctest_filter=()

if [[ $quick -eq 1 ]]; then
  mkdir -p build
  # End-to-end and fault tests need the Java library's jars and Azurite: left to the full run.
  ctest_filter=(-E 'e2e|faults')
  build_and_test build
  echo "== quick tests passed (the full run: scripts/test.sh)"
  exit 0
fi

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

# The 32-bit process a 32-bit host is: the same suites in the i386 VM, the mutex and log tests with processes of
# build/ (64-bit) sharing the named mutexes (KQ_PEER_BUILD). The fault scenarios stay 64-bit: they test the Java
# library on a bad link, which does not depend on the process's word size, and take about 4 minutes.
echo "== 32-bit build (build-m32/: -m32, the i386 JDK 17), beside the 64-bit processes of build/"
mkdir -p build-m32
SECONDS=0
ctest_filter=(-E 'faults')
export KQ_PEER_BUILD="$root/build"
build_and_test build-m32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/linux-i686.cmake"
unset KQ_PEER_BUILD
bash tests/jvms/m32.sh build-m32
echo "== 32-bit stage: ${SECONDS}s"
# The JVM tests get their sanitizer options from CTest (tests/CMakeLists.txt). The fault scenarios test the Java
# library's behaviour on a bad link, which the plain build has shown; under the sanitizers they only take longer.
ctest_filter=(-E 'faults')
build_and_test build-asan -DKQ_SANITIZE=ON

# The Windows DLLs (i686 and x86_64, MinGW), their export/import checks, and
# the platform, log and DLL tests under Wine.
echo "== Windows cross build"
bash scripts/windows-build.sh

echo "== all tests passed"
