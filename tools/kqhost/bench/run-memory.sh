#!/usr/bin/env bash
# Peak resident memory of kqhost (the process that hosts the VM, the plug-in and the library) backing up and
# restoring one large file against Azurite, with default settings and with --threads 4.
#
#   run-memory.sh BUILD_DIR[,BUILD_DIR...] [SIZE...]     sizes as for numfmt --from=iec; default 4G
#
# Several builds (e.g. build,build-m32: the 64-bit and the 32-bit process) take turns on every run, against the
# same Azurite, so that their figures share the machine's load.  Each kqhost runs the VM it was built with
# (build-m32: the i386 JDK 17's); MEMORY_JAVA_HOME gives every build that Java installation instead.
# MEMORY_SETTINGS=defaults leaves out the --threads 4 runs.
#
# MEMORY_COMPARE=1 adds a 1G and a 10G run (the cost must not grow with the file; the 10G run takes a while).
# MEMORY_JVM_OPTION adds one VM option to every run (e.g. -Xmx1g, the host's heap).  The file is sparse (it
# reads as zeros, nothing is written to disk for it); Azurite keeps its data on disk in the work folder and the
# restore writes the file out, so the disk needs about twice the largest size free.
# Prints one line per run: size, build (and its word size), settings, operation, peak RSS in MiB, seconds, MB/s.
set -euo pipefail

IFS=, read -ra builds <<<"${1:?usage: run-memory.sh BUILD_DIR[,BUILD_DIR...] [SIZE...]}"
shift
sizes=("${@:-4G}")
[[ "${MEMORY_COMPARE:-0}" == 1 ]] && sizes+=(1G 10G)
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
javalib="${KQHOST_JAVA_LIB:-$repo/java/azure/target/dist}"
for f in "$javalib/KQAzurePlugIn.jar" "$repo/node_modules/.bin/azurite-blob" /usr/bin/time; do
    [[ -e "$f" ]] || { echo "missing $f" >&2; exit 1; }
done
for build in "${builds[@]}"; do
    [[ -x "$build/tools/kqhost/kqhost" ]] || { echo "missing $build/tools/kqhost/kqhost" >&2; exit 1; }
done
extra=()
[[ -n "${MEMORY_JVM_OPTION:-}" ]] && extra+=("--jvm-option=$MEMORY_JVM_OPTION")
[[ -n "${MEMORY_JAVA_HOME:-}" ]] && extra+=(--java-home "$MEMORY_JAVA_HOME")
settings_list=("defaults" "--threads 4")
[[ "${MEMORY_SETTINGS:-}" == defaults ]] && settings_list=("defaults")
# bits KQHOST: 32 or 64, from the ELF class byte.
bits() { [[ "$(od -An -tx1 -j4 -N1 "$1" | tr -d ' ')" == 01 ]] && echo 32 || echo 64; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kqhost-memory.XXXXXX")"
pid=""
cleanup() {
    [[ -n "$pid" ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=../../../scripts/lib/azurite.sh
source "$repo/scripts/lib/azurite.sh"
start_azurite --location "$work/azurite" || exit 1
pid=$azurite_pid
export KQHOST_HOME="$work/home"

# measure LABEL ARGS...: one run of $kqhost under /usr/bin/time; prints peak RSS (MiB), seconds and MB/s of
# the $bytes moved.
measure() {
    local label="$1"
    shift
    /usr/bin/time -f '%M %e' -o "$work/time.txt" "$kqhost" -q --java-lib "$javalib" "${extra[@]}" "$@" \
        >"$work/kq.out" 2>&1 || { echo "$label failed:"; cat "$work/kq.out"; exit 1; }
    awk -v l="$label" -v b="$bytes" '{ printf "%-52s %8.0f MiB %8.1f s %8.1f MB/s\n", l, $1 / 1024, $2,
        ($2 > 0 ? b / $2 / 1e6 : 0) }' "$work/time.txt"
}

echo "peak RSS of kqhost${extra:+ (${extra[*]})}"
for size in "${sizes[@]}"; do
    mkdir -p "$work/src"
    bytes="$(numfmt --from=iec "$size")"
    truncate -s "$bytes" "$work/src/file.bin"
    for settings in "${settings_list[@]}"; do
        opts=()
        [[ "$settings" != defaults ]] && read -ra opts <<<"$settings"
        for build in "${builds[@]}"; do
            kqhost="$build/tools/kqhost/kqhost"
            what="$size $(basename "$build") ($(bits "$kqhost")-bit) $settings"
            measure "$what backup" "${opts[@]}" backup "$work/src" --prefix "m$size" --full
            rm -rf "$work/dst"
            measure "$what restore" "${opts[@]}" restore "$work/dst" --prefix "m$size"
            cmp -s "$work/src/file.bin" "$work/dst/file.bin" || { echo "the restored $size file differs" >&2; exit 1; }
            rm -rf "$work/dst"
        done
    done
    "$kqhost" -q --java-lib "$javalib" rm -r "m$size" >/dev/null 2>&1 || true
    rm -rf "$work/src"
done
