#!/usr/bin/env bash
# The Java library and the plug-in on every Java runtime of scripts/jdks.sh (11, 17, 21, 25):
#   scripts/test-jvms.sh [--small-heap] [BUILD_DIR]
#     BUILD_DIR      default build/; needs its kqhost and plug-in, and the library's Maven build
#                    (mvn -f java/azure/pom.xml package)
#     --small-heap   then also tests/jvms/small-heap.sh (-Xmx256m: a 4 GiB file and 10,000 small files, ~6 min)
# Per runtime: the library's JUnit tests run in that VM (Maven's compiled classes, surefire's jvm), then one
# short round trip through kqhost --java-home (backup, restore, compare) against one Azurite. Every runtime runs
# the whole suite: the library is built for Java 8 (EntryClassTest checks every class file) and needs nothing of
# the runtime but java.base and java.logging.
# KQ_JVMS="17 21" limits the runtimes; KQ_JVMS_KEEP=1 keeps the work folder. Exit status 0 when all passed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
small_heap=0
[[ "${1:-}" == --small-heap ]] && { small_heap=1; shift; }
build="$(cd "${1:-$root/build}" && pwd)"
kqhost="$build/tools/kqhost/kqhost"
[[ -x "$kqhost" ]] || { echo "test-jvms: $kqhost is missing (build it first)" >&2; exit 1; }
[[ -f "$root/java/azure/target/dist/KQAzurePlugIn.jar" ]] ||
  { echo "test-jvms: the Java library is not built (mvn -f java/azure/pom.xml package)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kq-jvms.XXXXXX")"
source "$root/tests/jvms/common.sh"
cleanup() {
  stop_azurite
  if [[ "${KQ_JVMS_KEEP:-0}" == 1 ]]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

runtimes="$(bash "$root/scripts/jdks.sh")" || exit 1
start_azurite || exit 1
# A small tree with a file of several blocks, so that a write session and ranged reads are exercised.
mkdir -p "$work/src/sub"
printf 'small\n' >"$work/src/a.txt"
: >"$work/src/empty"
head -c 3500000 /dev/urandom >"$work/src/sub/blocks.bin"

failures=0
fail() { echo "FAIL: java $version: $*"; failures=$((failures + 1)); }
# kq NAME ARGS...: kqhost in this runtime with -Xcheck:jni; output in $work/NAME.out/.err, status in $rc.
kq() {
  local name="$1"
  shift
  KQHOST_HOME="$work/home-$version" "$kqhost" -q --java-home "$home" --jvm-option=-Xcheck:jni \
    --block-size 1M "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  if grep -q -E '(WARNING|FATAL ERROR) in native method' "$work/$name.out" "$work/$name.err"; then
    fail "$name: JNI check reported: $(grep -h -A3 'in native method' "$work/$name.err" | head -5)"
  fi
}

while read -r version home; do
  [[ -z "${KQ_JVMS:-}" || " $KQ_JVMS " == *" $version "* ]] || continue
  SECONDS=0
  if mvn -B -f "$root/java/azure/pom.xml" surefire:test -Djvm="$home/bin/java" \
      >"$work/junit-$version.log" 2>&1; then
    junit="$(grep -E 'Tests run: [0-9]+, Failures' "$work/junit-$version.log" | tail -1 | sed 's/^\[INFO\] //')"
  else
    junit="FAILED"
    fail "JUnit: $(grep -E 'Tests run:|FAIL|ERROR\]' "$work/junit-$version.log" | head -10)"
  fi

  kq "backup-$version" backup "$work/src" --prefix "java$version"
  [[ $rc == 0 ]] || fail "backup exited $rc: $(tail -n 5 "$work/backup-$version.err")"
  kq "restore-$version" restore "$work/dst-$version" --prefix "java$version"
  [[ $rc == 0 ]] || fail "restore exited $rc: $(tail -n 5 "$work/restore-$version.err")"
  if same_tree "$work/src" "$work/dst-$version"; then roundtrip="round trip identical"; else
    fail "restored tree differs"
    roundtrip="FAILED"
  fi
  echo "java $version ($home): JUnit: $junit; kqhost: $roundtrip (${SECONDS}s)"
done <<<"$runtimes"

((failures == 0)) || { echo "test-jvms: $failures check(s) failed"; exit 1; }
echo "test-jvms: all runtimes passed"
if ((small_heap)); then
  stop_azurite
  bash "$root/tests/jvms/small-heap.sh" "$build" || exit 1
fi
