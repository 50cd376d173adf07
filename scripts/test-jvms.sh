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

source "$root/tests/jvms/common.sh"
work_folder kq-jvms "${KQ_JVMS_KEEP:-0}"

runtimes="$(bash "$root/scripts/jdks.sh")" || exit 1
start_azurite --location "$work/azurite" || exit 1
small_tree "$work/src"

while read -r version home; do
  [[ -z "${KQ_JVMS:-}" || " $KQ_JVMS " == *" $version "* ]] || continue
  SECONDS=0
  fail_prefix="java $version: "
  junit "junit-$version" "$home"
  export KQHOST_HOME="$work/home-$version"
  kq_cmd=("$kqhost" -q --java-home "$home" --jvm-option=-Xcheck:jni --block-size 1M)
  round_trip "java$version"
  echo "java $version ($home): JUnit: $junit; kqhost: $result (${SECONDS}s)"
done <<<"$runtimes"

finish test-jvms "test-jvms: all runtimes passed"
if ((small_heap)); then
  stop_azurite
  bash "$root/tests/jvms/small-heap.sh" "$build" || exit 1
fi
