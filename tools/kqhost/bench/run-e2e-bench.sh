#!/usr/bin/env bash
# Runs the end-to-end backup benchmark: starts Azurite (in memory, on a free port), compiles the direct Java
# driver against the library's jars, runs kqhost_e2e_bench, stops Azurite.
#
#   run-e2e-bench.sh BUILD_DIR [benchmark options...]
#
# Set AZURE_STORAGE_CONNECTION_STRING to measure against a real account instead (no Azurite is started).
set -euo pipefail

build="${1:?usage: run-e2e-bench.sh BUILD_DIR [benchmark options]}"
shift
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
bench="$build/tools/kqhost/bench/kqhost_e2e_bench"
javalib="${KQHOST_JAVA_LIB:-$repo/java/azure/target/dist}"
# shellcheck source=../../../scripts/lib/java-home.sh
source "$repo/scripts/lib/java-home.sh"
kq_use_java_home || exit 1
java_home="$JAVA_HOME"
[[ -x "$bench" ]] || { echo "missing $bench: build with Google Benchmark installed" >&2; exit 1; }
[[ -f "$javalib/KQAzurePlugIn.jar" ]] || { echo "missing $javalib/KQAzurePlugIn.jar: build java/azure" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kqhost-bench.XXXXXX")"
pid=""
cleanup() {
    [[ -n "$pid" ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT

"$java_home/bin/javac" --release 17 -nowarn -cp "$javalib/*" -d "$work/driver" \
    "$repo/tools/kqhost/java/kqdriver/KQDriver.java"

if [[ -z "${AZURE_STORAGE_CONNECTION_STRING:-}" ]]; then
    # shellcheck source=../../../scripts/lib/azurite.sh
    source "$repo/scripts/lib/azurite.sh"
    start_azurite --inMemoryPersistence || exit 1
    pid=$azurite_pid
fi
KQ_BENCH_DRIVER="$work/driver" KQHOST_JAVA_LIB="$javalib" "$bench" "$@"
