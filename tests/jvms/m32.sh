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
[[ "$(od -An -tx1 -j4 -N1 "$kqhost" | tr -d ' ')" == 01 ]] ||  # ELF class 1: 32-bit
  { echo "m32: $kqhost is not a 32-bit program" >&2; exit 1; }
[[ -f "$root/java/azure/target/dist/KQAzurePlugIn.jar" ]] ||
  { echo "m32: the Java library is not built (mvn -f java/azure/pom.xml package)" >&2; exit 1; }

source "$root/tests/jvms/common.sh"
work_folder kq-m32 "${KQ_M32_KEEP:-0}"
fail_prefix="m32: "

if [[ "${KQ_M32_JUNIT:-1}" != 0 ]]; then
  SECONDS=0
  junit junit "$home"
  [[ $junit == FAILED ]] || echo "m32: JUnit in the 32-bit VM: $junit (${SECONDS}s)"
fi

start_azurite --location "$work/azurite" || exit 1
small_tree "$work/src"
head -c $((96 << 20)) /dev/urandom >"$work/src/sub/big.bin"

export KQHOST_HOME="$work/home"
kq_cmd=("$kqhost" -q --java-home "$home" --jvm-option=-Xcheck:jni)
kq_rss=1
for heap in default -Xmx256m; do
  SECONDS=0
  options=()
  [[ $heap == default ]] || options=(--jvm-option="$heap")
  round_trip "m32-$heap" "${options[@]}"
  echo "m32: kqhost in the 32-bit VM, heap $heap: $result; peak RSS backup $backup_rss MiB, restore $rss MiB (${SECONDS}s)"
done

finish m32 "m32: all passed"
