#!/usr/bin/env bash
# The main job, on a fresh or a used machine: installs what is missing, builds the plug-in, the Java library and
# kqhost, starts Azurite, generates a sample tree, backs it up through kqhost -> plug-in -> Java library -> storage,
# restores it into a fresh folder, compares the two, verifies the stored checksums, prints a summary with the
# throughput, and stops Azurite.
#
#   scripts/demo.sh
#
# Environment:
#   AZURE_STORAGE_CONNECTION_STRING  use this Azure Storage account instead of Azurite (the key is never printed;
#                                    the demo's objects are deleted again at the end)
#   KQHOST_CONTAINER                 container to use (default kq-backup)
#   DEMO_BIG_SIZE                    size of the big file in bytes (default 200 MiB)
#   DEMO_THREADS                     kqhost --threads (default 2)
#   DEMO_BUILD_DIR                   CMake build folder (default build-demo)
#   AZURITE_BLOB_PORT                Azurite's port (default 10000)
#   DEMO_KEEP=1                      keep the sample tree, the restored tree and the stored objects
# Exit status 0 only when the restored tree is identical to the original and every check passed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
big_size="${DEMO_BIG_SIZE:-209715200}"
threads="${DEMO_THREADS:-2}"
block=8388608
build="${DEMO_BUILD_DIR:-build-demo}"

step() { printf '\n== %s\n' "$*"; }
quiet_or_show() {  # LOG COMMAND...: runs quietly, shows the log's end on failure
    local log="$1"
    shift
    "$@" >"$log" 2>&1 || {
        tail -n 40 "$log"
        echo "demo: '$*' failed (full log: $log)" >&2
        exit 1
    }
}

step "installing what is missing"
bash scripts/setup.sh
source scripts/lib/java-home.sh
kq_use_java_home
mkdir -p "$build"
if [[ ! -x node_modules/.bin/azurite-blob ]]; then
    quiet_or_show "$build/demo-npm.log" npm ci --no-audit --no-fund
fi

step "building the Java library (Maven), the plug-in and kqhost"
quiet_or_show "$build/demo-maven.log" mvn -q -B -f java/azure/pom.xml package -DskipTests
quiet_or_show "$build/configure.log" cmake -S . -B "$build" -G Ninja -DKQ_WERROR=ON -DKQ_BUILD_TESTS=OFF -DKQ_BUILD_BENCH=OFF
quiet_or_show "$build/demo-build.log" cmake --build "$build" --target kqhost
kqhost=("$build/tools/kqhost/kqhost" --java-lib java/azure/target/dist --block-size "$block" --threads "$threads")

work="$(mktemp -d "${TMPDIR:-/tmp}/kqhost-demo.XXXXXX")"
export KQHOST_HOME="$work/home"
prefix="demo-$(date -u +%Y%m%dT%H%M%SZ)"
started_azurite=0
cleanup() {
    local rc=$?
    if [[ "${DEMO_KEEP:-0}" != 1 ]]; then
        if [[ -n "${AZURE_STORAGE_CONNECTION_STRING:-}" && -d "$work/home" ]]; then
            "${kqhost[@]}" -q rm -r "$prefix" >/dev/null 2>&1 || echo "demo: could not delete $prefix/ from the account" >&2
        fi
        rm -rf "$work"
    else
        echo "kept: $work (sample tree, restored tree, kqhost's installation root with the plug-in log)"
    fi
    if ((started_azurite)); then
        step "stopping Azurite"
        scripts/azurite-stop.sh
    fi
    exit "$rc"
}
trap cleanup EXIT

if [[ -n "${AZURE_STORAGE_CONNECTION_STRING:-}" ]]; then
    step "using the Azure account of AZURE_STORAGE_CONNECTION_STRING"
else
    step "starting Azurite"
    port="${AZURITE_BLOB_PORT:-10000}"
    AZURITE_BLOB_PORT="$port" scripts/azurite-start.sh >/dev/null
    started_azurite=1
    if [[ "$port" != 10000 ]]; then
        # The development account's published key (the same everywhere, not a secret) at another port.
        export AZURE_STORAGE_CONNECTION_STRING="DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==;BlobEndpoint=http://127.0.0.1:$port/devstoreaccount1;"
    fi
fi
"${kqhost[@]}" info

step "generating the sample tree"
tools/kqhost/scripts/make-sample-tree.sh "$work/source" "$block" "$big_size"
files=$(find "$work/source" -type f | wc -l)
bytes=$(find "$work/source" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
echo "$files files, $bytes bytes: empty file, 1 byte, block size -1/0/+1, a $big_size-byte file, non-ASCII names, nested folders"

step "backup to $prefix/"
"${kqhost[@]}" backup "$work/source" --prefix "$prefix" | tee "$work/backup.txt"

step "restore into a fresh folder"
"${kqhost[@]}" restore "$work/restored" --prefix "$prefix" | tee "$work/restore.txt"

step "comparing"
diff -r "$work/source" "$work/restored"
listing() { (cd "$1" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort); }
if [[ "$(listing "$work/source")" != "$(listing "$work/restored")" ]]; then
    echo "demo: sizes or modification times differ" >&2
    diff <(listing "$work/source") <(listing "$work/restored") | head -n 20 >&2
    exit 1
fi
echo "identical: every byte, name and modification time"

step "verifying the stored SHA-256 of every object"
"${kqhost[@]}" verify --prefix "$prefix" | tee "$work/verify.txt"

rate() { sed -n 's/.*(\(.* MB\/s\)).*/\1/p' "$1" | tail -n 1; }
step "summary"
echo "files:     $files ($bytes bytes) in $prefix/ of $("${kqhost[@]}" info 2>/dev/null | sed -n 's/^account: *//p')"
echo "backup:    $(rate "$work/backup.txt") with $threads thread(s), block size $block bytes"
echo "restore:   $(rate "$work/restore.txt")"
echo "verify:    $(rate "$work/verify.txt")"
echo "result:    restored tree identical to the original; all checksums match"
