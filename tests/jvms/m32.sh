#!/usr/bin/env bash
# The 32-bit process: kqhost, the plug-in and the Java library built -m32 (build-m32/), in the i386 JDK 17's VM.
#   tests/jvms/m32.sh [BUILD_DIR]     (default build-m32/; needs the library's Maven build)
# Runs the library's JUnit tests in the 32-bit VM, then one round trip (backup, restore, compare) through kqhost
# against Azurite with the VM's default heap and one with -Xmx256m, each with -Xcheck:jni: a tree of small files,
# one of several blocks and one of 96 MiB (twelve 8 MiB blocks, more than the -Xmx256m buffer pool of 64 MiB
# holds). KQ_M32_JAVA_HOME picks the VM (default /usr/lib/jvm/java-17-openjdk-i386); KQ_M32_JUNIT=0 skips JUnit;
# KQ_M32_KEEP=1 keeps the work folder. Exit status 0 when all passed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build-m32}" && pwd)"
kqhost="$build/tools/kqhost/kqhost"
home="${KQ_M32_JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-i386}"
[[ -x "$kqhost" ]] || { echo "m32: $kqhost is missing (build it first)" >&2; exit 1; }
[[ -x "$home/bin/java" ]] || { echo "m32: no 32-bit VM at $home (scripts/setup.sh)" >&2; exit 1; }
[[ "$(od -An -tx1 -j4 -N1 "$kqhost" | tr -d ' ')" == 01 ]] ||  # ELF class 1: 32-bit { echo "m32: $kqhost is not a 32-bit program" >&2; exit 1; }
[[ -f "$root/java/azure/target/dist/KQAzurePlugIn.jar" ]] ||
  { echo "m32: the Java library is not built (mvn -f java/azure/pom.xml package)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kq-m32.XXXXXX")"
source "$root/tests/jvms/common.sh"
trap 'stop_azurite; if [[ "${KQ_M32_KEEP:-0}" == 1 ]]; then echo "work folder kept: $work"; else rm -rf "$work"; fi' EXIT

failures=0
fail() { echo "FAIL: m32: $*"; failures=$((failures + 1)); }

if [[ "${KQ_M32_JUNIT:-1}" != 0 ]]; then
  SECONDS=0
  if mvn -B -f "$root/java/azure/pom.xml" surefire:test -Djvm="$home/bin/java" >"$work/junit.log" 2>&1; then
    echo "m32: JUnit in the 32-bit VM: $(grep -E 'Tests run: [0-9]+, Failures' "$work/junit.log" | tail -1 |
      sed 's/^\[INFO\] //') (${SECONDS}s)"
  else
    fail "JUnit in the 32-bit VM: $(grep -E 'Tests run:|FAIL|ERROR\]' "$work/junit.log" | head -10)"
  fi
fi

start_azurite || exit 1
mkdir -p "$work/src/sub"
printf 'small\n' >"$work/src/a.txt"
: >"$work/src/empty"
head -c 3500000 /dev/urandom >"$work/src/sub/blocks.bin"
head -c $((96 << 20)) /dev/urandom >"$work/src/sub/big.bin"

# kq NAME HEAP_OPTION... ARGS: kqhost of the 32-bit build with -Xcheck:jni; status in $rc, peak RSS in $rss (MiB).
kq() {
  local name="$1"
  shift
  KQHOST_HOME="$work/home" /usr/bin/time -f '%M' -o "$work/$name.rss" "$kqhost" -q --java-home "$home" \
    --jvm-option=-Xcheck:jni "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  rss=$(($(tail -n 1 "$work/$name.rss" 2>/dev/null || echo 0) / 1024))
  if grep -q -E '(WARNING|FATAL ERROR) in native method' "$work/$name.out" "$work/$name.err"; then
    fail "$name: JNI check reported: $(grep -h -A3 'in native method' "$work/$name.err" | head -5)"
  fi
  [[ $rc == 0 ]] || fail "$name exited $rc: $(tail -n 5 "$work/$name.err")"
}

for heap in default -Xmx256m; do
  SECONDS=0
  options=()
  [[ $heap == default ]] || options=(--jvm-option="$heap")
  kq "backup-$heap" "${options[@]}" backup "$work/src" --prefix "m32-$heap"
  backup_rss=$rss
  kq "restore-$heap" "${options[@]}" restore "$work/dst-$heap" --prefix "m32-$heap"
  if same_tree "$work/src" "$work/dst-$heap"; then result="round trip identical"; else
    fail "heap $heap: restored tree differs"
    result="FAILED"
  fi
  echo "m32: kqhost in the 32-bit VM, heap $heap: $result; peak RSS backup $backup_rss MiB, restore $rss MiB (${SECONDS}s)"
  rm -rf "$work/dst-$heap"
done

((failures == 0)) || { echo "m32: $failures check(s) failed"; exit 1; }
echo "m32: all passed"
