#!/usr/bin/env bash
# Single-file throughput over a shaped link: kqhost against the Azure SDK's own parallel transfer of the same
# file (same block size, concurrency 8), alternating in one run, through Toxiproxy in front of Azurite.
#
#   run-link-bench.sh BUILD_DIR
#
# Profiles: "none" (no shaping) and "shaped" (50 ms added to every answer, 15 MB/s each way per connection).
# Environment: LINK_BENCH_MIB (file size, default 512), LINK_BENCH_BLOCK (default 8M, both tools),
# LINK_BENCH_ROUNDS (default 3; the order of the two tools flips every round), LINK_BENCH_PROFILES
# (default "none shaped"), TOXIPROXY (default <repo>/.tools/bin/server, installed by scripts/setup.sh),
# LINK_BENCH_KQ_ITEMS (library items appended to kqhost's connection string only, e.g. "ReadAhead=12").
# Both tools are timed as whole processes (VM start included for both).  Prints MB/s per row and the ratio
# kqhost/SDK of the medians.
set -euo pipefail

build="${1:?usage: run-link-bench.sh BUILD_DIR}"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
kqhost="$build/tools/kqhost/kqhost"
javalib="${KQHOST_JAVA_LIB:-$repo/java/azure/target/dist}"
# shellcheck source=../../../scripts/lib/java-home.sh
source "$repo/scripts/lib/java-home.sh"
kq_use_java_home || exit 1
java_home="$JAVA_HOME"
toxiproxy="${TOXIPROXY:-$repo/.tools/bin/server}"
mib="${LINK_BENCH_MIB:-512}"
block="${LINK_BENCH_BLOCK:-8M}"
rounds="${LINK_BENCH_ROUNDS:-3}"
profiles="${LINK_BENCH_PROFILES:-none shaped}"
for f in "$kqhost" "$javalib/KQAzurePlugIn.jar" "$toxiproxy" "$repo/node_modules/.bin/azurite-blob"; do
    [[ -e "$f" ]] || { echo "missing $f (build kqhost and java/azure, run scripts/setup.sh)" >&2; exit 1; }
done
block_bytes=$(numfmt --from=iec "$block")

# shellcheck source=bench-lib.sh
source "$repo/tools/kqhost/bench/bench-lib.sh"
bench_work kqhost-link-bench

"$java_home/bin/javac" --release 17 -nowarn -cp "$javalib/*" -d "$work/sdk" \
    "$repo/tools/kqhost/java/sdkbaseline/SdkTransfer.java"
mkdir -p "$work/src"
head -c $((mib << 20)) /dev/urandom >"$work/src/file.bin"

start_link

export AZURE_STORAGE_CONNECTION_STRING="DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==;BlobEndpoint=http://127.0.0.1:$link_port/devstoreaccount1;"
export KQHOST_HOME="$work/home"
kq_items="${LINK_BENCH_KQ_ITEMS:+;$LINK_BENCH_KQ_ITEMS}"
kq() { "$kqhost" -q --java-lib "$javalib" --block-size "$block" --connection "${AZURE_STORAGE_CONNECTION_STRING%;}$kq_items" "$@" >"$work/kq.out" 2>&1 || { cat "$work/kq.out"; exit 1; }; }
sdk() {
    "$java_home/bin/java" -cp "$javalib/*:$work/sdk" sdkbaseline.SdkTransfer "$1" "$2" file.bin "$block_bytes" 8 \
        >"$work/sdk.out" 2>&1 || { cat "$work/sdk.out"; exit 1; }
}
# timed TOOL OP: runs one transfer, prints its MB/s.
timed() {
    local start end
    rm -rf "$work/dst"
    mkdir -p "$work/dst"
    # Each run starts with nothing left to write back: the uploads before the first restore leave Azurite's
    # extents being flushed, which would slow whichever tool ran first.
    sync
    start=$(date +%s.%N)
    case "$1/$2" in
    kqhost/backup) kq backup "$work/src" --prefix bench --full ;;  # every round sends every byte
    kqhost/restore) kq restore "$work/dst" --prefix bench ;;
    sdk/backup) sdk upload "$work/src/file.bin" ;;
    sdk/restore) sdk download "$work/dst/file.bin" ;;
    esac
    end=$(date +%s.%N)
    if [[ "$2" == restore ]]; then
        cmp -s "$work/src/file.bin" "$work/dst/file.bin" || { echo "$1 restored a different file" >&2; exit 1; }
    fi
    awk -v b=$((mib << 20)) -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", b / 1e6 / (e - s) }'
}

echo "one ${mib} MiB file, block $block, SDK concurrency 8, $rounds round(s); MB/s (10^6 bytes/s), whole process"
printf '%-8s %-8s %-26s %-26s %s\n' profile op kqhost sdk "kqhost/sdk"
for profile in $profiles; do
    case "$profile" in
    none) ;;
    shaped)
        toxic '{"name":"lat","type":"latency","stream":"downstream","attributes":{"latency":50}}'
        toxic '{"name":"down","type":"bandwidth","stream":"downstream","attributes":{"rate":15000}}'
        toxic '{"name":"up","type":"bandwidth","stream":"upstream","attributes":{"rate":15000}}'
        ;;
    *) echo "unknown profile $profile" >&2; exit 2 ;;
    esac
    for op in backup restore; do
        k=() s=()
        for round in $(seq 1 "$rounds"); do
            if ((round % 2)); then k+=("$(timed kqhost $op)"); s+=("$(timed sdk $op)")
            else s+=("$(timed sdk $op)"); k+=("$(timed kqhost $op)"); fi
        done
        km=$(echo "${k[*]}" | median) sm=$(echo "${s[*]}" | median)
        printf '%-8s %-8s %-26s %-26s %.2f\n' "$profile" "$op" "$km (${k[*]})" "$sm (${s[*]})" \
            "$(awk -v a="$km" -v b="$sm" 'BEGIN { print a / b }')"
    done
    for name in lat down up; do curl -sf -X DELETE "$api/proxies/link/toxics/$name" >/dev/null || true; done
done
