#!/usr/bin/env bash
# Backup and restore in a VM the size of a 32-bit host's: -Xmx256m, the library's and kqhost's defaults (two
# threads, 8 MiB blocks), against Azurite with its data on disk.
#   tests/jvms/small-heap.sh [BUILD_DIR] [big|many|all]     (default build/, all)
#     big   one 4 GiB file of random bytes (generated, hashed while written, deleted after the backup)
#     many  10,000 files of 1 byte to 6 KiB in 100 folders
# For each, prints the run time, the Java heap in use at its peak (the largest occupancy before a collection)
# and after collections (the live set), and kqhost's peak resident memory, so that a change of the library's
# buffer budget shows whether it still fits. KQ_SMALL_HEAP=-Xmx128m tries another heap;
# KQ_SMALL_HEAP_JAVA_HOME picks the VM (default: the build's); KQ_KEEP=1 keeps the work folder (logs, GC logs).
# Needs about 9 GiB of free disk for `big`.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
which="${2:-all}"
kqhost="$build/tools/kqhost/kqhost"
heap="${KQ_SMALL_HEAP:--Xmx256m}"
[[ -x "$kqhost" ]] || { echo "small-heap: $kqhost is missing (build it first)" >&2; exit 1; }

source "$root/tests/jvms/common.sh"
work_folder kq-small-heap "$([[ -n "${KQ_KEEP:-}" ]] && echo 1)"
start_azurite --location "$work/azurite" || exit 1
java_home=(${KQ_SMALL_HEAP_JAVA_HOME:+--java-home "$KQ_SMALL_HEAP_JAVA_HOME"})
export KQHOST_HOME="$work/home"
kq_rss=1

# heap_kq NAME ARGS...: kqhost with the small heap and a GC log; prints time and memory.
heap_kq() {
  local name="$1" peak live
  shift
  SECONDS=0
  kq_cmd=("$kqhost" -q "${java_home[@]}" --jvm-option="$heap" --jvm-option="-Xlog:gc:file=$work/$name.gc")
  kq "$name" 0 "$@"
  # "... Pause Young (Normal) (G1 Evacuation Pause) 120M->30M(256M) 5.1ms": before->after(committed)
  read -r peak live < <(grep -o -E '[0-9]+M->[0-9]+M' "$work/$name.gc" | tr -d M | awk -F'->' '$1 > p {p = $1} $2 > l {l = $2} END {print p, l}')
  printf '  %-14s %4ss  heap peak %4s MiB, live after GC %4s MiB, RSS %5s MiB  (%s)\n' "$name" "$SECONDS" \
    "${peak:-?}" "${live:-?}" "$rss" "$(tail -n 1 "$work/$name.out")"
  grep -q -i "OutOfMemoryError\|OUT_OF_MEMORY" "$work/$name.out" "$work/$name.err" &&
    fail "$name: the VM ran out of memory: $(grep -h -i -m 3 'OutOfMemory\|OUT_OF_MEMORY' "$work/$name.err")"
}

echo "small heap: $heap, defaults (2 threads, 8 MiB blocks), VM ${KQ_SMALL_HEAP_JAVA_HOME:-of the build}"
if [[ $which == big || $which == all ]]; then
  mkdir -p "$work/big"
  sum="$(head -c 4294967296 /dev/urandom | tee "$work/big/4GiB.bin" | sha256sum | cut -d' ' -f1)"
  heap_kq backup-big backup "$work/big" --prefix big
  rm -f "$work/big/4GiB.bin"
  heap_kq restore-big restore "$work/big-restored" --prefix big
  [[ "$(sha256sum <"$work/big-restored/4GiB.bin" 2>/dev/null | cut -d' ' -f1)" == "$sum" ]] ||
    fail "the restored 4 GiB file differs from the one backed up"
  rm -rf "$work/big-restored"
  heap_kq rm-big rm -r big
fi
if [[ $which == many || $which == all ]]; then
  python3 - "$work/many" <<'EOF'
import os, random, sys
random.seed(15)
for i in range(10000):
    folder = os.path.join(sys.argv[1], "d%02d" % (i % 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
        f.write(random.randbytes(random.randint(1, 6144)))
EOF
  heap_kq backup-many backup "$work/many" --prefix many
  heap_kq restore-many restore "$work/many-restored" --prefix many
  same_tree "$work/many" "$work/many-restored"
fi
finish small-heap "small-heap: passed"
