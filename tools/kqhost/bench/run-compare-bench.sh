#!/usr/bin/env bash
# kqhost against the clients a user would pick instead: the Python Azure SDK (azure-storage-blob, 8 MiB chunks,
# concurrency 8) and rclone at its defaults, alternating in one run, through Toxiproxy in front of Azurite, with
# the requests each run made (counted in Azurite's debug log).
#
#   run-compare-bench.sh BUILD_DIR
#
# Profiles: "none" (no shaping), "farfast" (50 ms added to every answer, uploads 15 MB/s per connection, downloads
# not limited), "capped" (run-link-bench.sh's shaped link: 50 ms, 15 MB/s each way per connection).
# Workloads: "one" (one large file up and down), "tree" (several large files), "small" (many small files),
# "delete" (deleting many objects under a prefix: kqhost rm -r, rclone delete, the SDK's deletes 8 at once).
# Environment: CMP_PROFILES (default "none farfast capped"), CMP_WORKLOADS (default "one tree small delete"),
# CMP_ONE_MIB (512), CMP_TREE ("4x128": files x MiB), CMP_SMALL ("2000x16": files x KiB), CMP_DELETE (10000),
# CMP_ROUNDS (1; the order of the tools turns every round), CMP_KQ_OPTIONS (extra kqhost options).
# Installs its clients into <repo>/.tools when missing (pip --target .tools/python; go install rclone into
# .tools/bin). Every run is timed as a whole process. Figures: MB/s (10^6 bytes/s) or files/s, medians of the
# rounds; "req" is the requests of the last round, "cpu" the median CPU time (user + system) of the tool's
# processes. Each cell shows the whole-process figure and, after the slash, the figure net of the tool's
# start-up: the median time of a run that lists an empty prefix (a VM, an interpreter or a binary starting, its
# configuration and one request), measured on the same link before the workloads and printed as the "start" row.
set -euo pipefail

build="${1:?usage: run-compare-bench.sh BUILD_DIR}"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
kqhost="$build/tools/kqhost/kqhost"
javalib="${KQHOST_JAVA_LIB:-$repo/java/azure/target/dist}"
toxiproxy="${TOXIPROXY:-$repo/.tools/bin/server}"
profiles="${CMP_PROFILES:-none farfast capped}"
workloads="${CMP_WORKLOADS:-one tree small delete}"
one_mib="${CMP_ONE_MIB:-512}"
tree="${CMP_TREE:-4x128}"
small="${CMP_SMALL:-2000x16}"
delete_count="${CMP_DELETE:-10000}"
rounds="${CMP_ROUNDS:-1}"
read -r -a kq_options <<<"${CMP_KQ_OPTIONS:-}"
pydir="$repo/.tools/python"
rclone="$repo/.tools/bin/rclone"
for f in "$kqhost" "$javalib/KQAzurePlugIn.jar" "$toxiproxy" "$repo/node_modules/.bin/azurite-blob"; do
    [[ -e "$f" ]] || { echo "missing $f (build kqhost and java/azure, run scripts/setup.sh)" >&2; exit 1; }
done
if ! PYTHONPATH="$pydir" python3 -c 'import azure.storage.blob' 2>/dev/null; then
    python3 -m pip install -q --target "$pydir" azure-storage-blob
fi
if [[ ! -x "$rclone" ]]; then
    GOBIN="$repo/.tools/bin" go install github.com/rclone/rclone@v1.76.0
fi
export PYTHONPATH="$pydir"

# shellcheck source=bench-lib.sh
source "$repo/tools/kqhost/bench/bench-lib.sh"
bench_work kqhost-compare-bench

# The data: one large file, a tree of large files, a tree of small files.
mkdir -p "$work/one" "$work/tree" "$work/small" "$work/seed"
head -c $((one_mib << 20)) /dev/urandom >"$work/one/file.bin"
for i in $(seq 1 "${tree%x*}"); do head -c $((${tree#*x} << 20)) /dev/urandom >"$work/tree/f$i.bin"; done
python3 - "$work/small" "${small%x*}" "${small#*x}" <<'EOF'
import os, sys
root, n, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(n):
    d = os.path.join(root, "d%02d" % (i % 20))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d" % i), "wb") as f:
        f.write(os.urandom(kib * 1024))
EOF
echo x >"$work/seed/x"

start_link --debug "$work/requests.log"

key="Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw=="
connection() { echo "DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=$key;BlobEndpoint=http://127.0.0.1:$1/devstoreaccount1"; }
export AZURE_STORAGE_CONNECTION_STRING; AZURE_STORAGE_CONNECTION_STRING="$(connection "$link_port")"
export KQHOST_HOME="$work/home"
export RCLONE_CONFIG_AZ_TYPE=azureblob RCLONE_CONFIG_AZ_ACCOUNT=devstoreaccount1 RCLONE_CONFIG_AZ_KEY="$key"
export RCLONE_CONFIG_AZ_ENDPOINT="http://127.0.0.1:$link_port/devstoreaccount1"
# Each tool runs under /usr/bin/time: its CPU time (user + system, its own processes) goes to $work/cpu.
quiet() { /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }; }
kq() { quiet "$kqhost" -q --java-lib "$javalib" --container kq-bench "${kq_options[@]}" "$@"; }
sdk() { quiet python3 "$repo/tools/kqhost/bench/sdk_transfer.py" "$@" 8 $((8 << 20)); }
rc() { quiet "$rclone" --config /dev/null "$@"; }

# Many objects to delete, written straight to Azurite (not through the link) by the SDK, 32 at once.
seed() {  # TOOL PREFIX
    local container
    case "$1" in kqhost) container=kq-bench ;; sdk) container=sdk-bench ;; rclone) container=rclone-bench ;; esac
    SDK_CONTAINER=$container AZURE_STORAGE_CONNECTION_STRING="$(connection "$azurite_port")" python3 - "$2" "$delete_count" <<'EOF'
import os, sys
from concurrent.futures import ThreadPoolExecutor
from azure.storage.blob import BlobServiceClient
c = BlobServiceClient.from_connection_string(os.environ["AZURE_STORAGE_CONNECTION_STRING"]).get_container_client(os.environ["SDK_CONTAINER"])
if not c.exists():
    c.create_container()
with ThreadPoolExecutor(32) as pool:
    list(pool.map(lambda i: c.upload_blob("%s/o%06d" % (sys.argv[1], i), b"x", overwrite=True), range(int(sys.argv[2]))))
EOF
}

requests_now() { grep -c 'RequestMethod=' "$work/requests.log" || true; }
# Azurite writes its debug log behind the answers (thousands of lines behind after a burst of deletions): the
# count once two readings half a second apart agree, at most 15 s later.
settled_requests() {
    local now last=-1 i
    for i in $(seq 1 30); do
        now=$(requests_now)
        [[ $now == "$last" ]] && break
        last=$now
        sleep 0.5
    done
    echo "$now"
}
# timed TOOL WORKLOAD OP PREFIX: runs one transfer; prints "FIGURE REQUESTS SECONDS CPU-SECONDS".
timed() {
    local tool=$1 load=$2 op=$3 prefix=$4 src start end before units
    src="$work/$load"
    rm -rf "$work/dst" && mkdir -p "$work/dst"
    [[ $op == delete ]] && seed "$tool" "$prefix"
    sync
    before=$(settled_requests)
    start=$(date +%s.%N)
    case "$tool/$op" in
    kqhost/backup) kq backup "$src" --prefix "$prefix" ;;
    kqhost/restore) kq restore "$work/dst" --prefix "$prefix" ;;
    kqhost/delete) kq rm -r "$prefix" ;;
    kqhost/start) kq ls "$prefix" ;;
    sdk/start) sdk download "$prefix" "$work/dst" ;;
    rclone/start) rc lsd az: ;;
    sdk/backup) sdk upload "$prefix" "$src" ;;
    sdk/restore) sdk download "$prefix" "$work/dst" ;;
    sdk/delete) sdk delete "$prefix" "$work/dst" ;;
    rclone/backup) rc copy "$src" "az:rclone-bench/$prefix" ;;
    rclone/restore) rc copy "az:rclone-bench/$prefix" "$work/dst" ;;
    rclone/delete) rc delete "az:rclone-bench/$prefix" ;;
    esac
    end=$(date +%s.%N)
    if [[ $op == restore ]]; then
        diff -r -q "$src" "$work/dst" >/dev/null || { echo "$tool restored different data" >&2; exit 1; }
    fi
    case "$load/$op" in
    */delete) units=$delete_count ;;
    small/*) units=$(find "$src" -type f | wc -l) ;;
    *) units=$(du -sb "$src" | awk '{ printf "%.6f", $1 / 1e6 }') ;;
    esac
    [[ $op == start ]] && units=0
    awk -v u="$units" -v s="$start" -v e="$end" -v r=$(($(settled_requests) - before)) -v cpu="$(tail -n 1 "$work/cpu")" \
        'BEGIN { split(cpu, c, " "); printf "%.1f %d %.3f %.2f\n", u / (e - s), r, e - s, c[1] + c[2] }'
}

# kqhost records its class archive in its first runs with a new jar set, a once-per-install cost (as Python
# compiles its modules when they are installed): one backup and restore of a file past one call, unshaped and
# untimed, record it with the data path's classes in it.
mkdir -p "$work/warm" "$work/warm-out"
head -c $((9 << 20)) /dev/urandom >"$work/warm/w.bin"
kq backup "$work/warm" --prefix warm
kq restore "$work/warm-out" --prefix warm
rm -rf "$work/warm-out"

echo "load: $(uptime)"
echo "one ${one_mib} MiB file; tree $tree MiB; small $small KiB; delete $delete_count objects; $rounds round(s)"
echo "MB/s (files/s for small, objects/s for delete): whole process/net of start-up; req: requests of the last round"
printf '%-8s %-7s %-8s %-34s %-34s %-34s %s\n' profile load op kqhost "sdk x8" "rclone" "kq/sdk kq/rclone"
tools=(kqhost sdk rclone)
for profile in $profiles; do
    for name in lat down up; do curl -s -X DELETE "$api/proxies/link/toxics/$name" >/dev/null || true; done
    case "$profile" in
    none) ;;
    farfast | capped)
        toxic '{"name":"lat","type":"latency","stream":"downstream","attributes":{"latency":50}}'
        toxic '{"name":"up","type":"bandwidth","stream":"upstream","attributes":{"rate":15000}}'
        [[ $profile == capped ]] && toxic '{"name":"down","type":"bandwidth","stream":"downstream","attributes":{"rate":15000}}'
        ;;
    *) echo "unknown profile $profile" >&2; exit 2 ;;
    esac
    # Each tool's start-up on this link: the time of a run that moves nothing.
    declare -A startup=()
    for tool in "${tools[@]}"; do
        times=""
        for round in $(seq 1 "$rounds"); do
            read -r _ _ elapsed _ <<<"$(timed "$tool" one start "$profile-empty-$round")"
            times+="$elapsed "
        done
        startup[$tool]=$(echo "$times" | median)
    done
    printf '%-8s %-7s %-8s %-34s %-34s %-34s\n' "$profile" - start "${startup[kqhost]} s" "${startup[sdk]} s" \
        "${startup[rclone]} s"
    for load in $workloads; do
        ops="backup restore"
        [[ $load == delete ]] && ops=delete
        for op in $ops; do
            declare -A got=() net=() req=() cpu=()
            for round in $(seq 1 "$rounds"); do
                n=${#tools[@]}
                for i in $(seq 0 $((n - 1))); do
                    tool=${tools[$(((i + round) % n))]}
                    result=$(timed "$tool" "$load" "$op" "$profile-$load-$round")
                    read -r figure requests elapsed seconds <<<"$result"
                    got[$tool]+="$figure "
                    net[$tool]+="$(awk -v f="$figure" -v e="$elapsed" -v s="${startup[$tool]}" \
                        'BEGIN { printf "%.1f", (e > s) ? f * e / (e - s) : f }') "
                    req[$tool]=$requests
                    cpu[$tool]+="$seconds "
                done
            done
            cell() { echo "$(echo "${got[$1]}" | median)/$(echo "${net[$1]}" | median) (req ${req[$1]}, cpu $(echo "${cpu[$1]}" | median) s)"; }
            ratio() {  # A B: A over B, whole and net
                awk -v a="$(echo "${got[$1]}" | median)" -v b="$(echo "${got[$2]}" | median)" \
                    -v c="$(echo "${net[$1]}" | median)" -v d="$(echo "${net[$2]}" | median)" \
                    'BEGIN { printf "%.2f/%.2f", a / b, c / d }'
            }
            printf '%-8s %-7s %-8s %-34s %-34s %-34s %s %s\n' "$profile" "$load" "$op" "$(cell kqhost)" "$(cell sdk)" \
                "$(cell rclone)" "$(ratio kqhost sdk)" "$(ratio kqhost rclone)"
        done
    done
done
echo "load: $(uptime)"
