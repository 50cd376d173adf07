#!/usr/bin/env bash
# End-to-end tests of kqhost -> plug-in -> Java library -> Azurite, one scenario per run:
#   kqhost_e2e.sh roundtrip|threads|killed|corrupt
# CMake sets KQHOST, KQ_JAVA_LIB (the jars), KQ_REPO (for node_modules and the sample-tree script), JAVA and JAVAC.
# Each run starts its own Azurite on a free port; exits 77 (skipped) without Azurite or the Java library.
# KQ_E2E_KEEP=1 keeps the work folder.
set -uo pipefail

scenario="${1:?scenario}"
: "${KQHOST:?}" "${KQ_JAVA_LIB:?}" "${KQ_REPO:?}" "${JAVA:?}" "${JAVAC:?}"
azurite_bin="$KQ_REPO/node_modules/.bin/azurite-blob"
make_tree="$KQ_REPO/tools/kqhost/scripts/make-sample-tree.sh"
dev_key="Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw=="

skip() { echo "SKIPPED: $*"; exit 77; }
[[ -x "$azurite_bin" ]] || skip "Azurite is not installed ($azurite_bin); run 'npm ci' in $KQ_REPO"
[[ -f "$KQ_JAVA_LIB/KQAzurePlugIn.jar" ]] ||
    skip "the Java library is not built ($KQ_JAVA_LIB/KQAzurePlugIn.jar); run 'mvn -q -f java/azure/pom.xml package'"

work="$(mktemp -d "${TMPDIR:-/tmp}/kqhost-e2e-$scenario.XXXXXX")"
azurite_pid=""
failures=0
stop_azurite() {
    [[ -n "$azurite_pid" ]] && { kill -KILL "$azurite_pid"; wait "$azurite_pid"; } 2>/dev/null
    azurite_pid=""
}
cleanup() {
    stop_azurite
    if [[ "${KQ_E2E_KEEP:-0}" == 1 ]]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 20000))
    port_answers "$port" || break
done
# start_azurite [LOCATION]: in memory, or persisted in LOCATION (so that it survives a kill).
start_azurite() {
    local persistence=(--inMemoryPersistence)
    [[ $# -gt 0 ]] && persistence=(--location "$1")
    setsid "$azurite_bin" --blobHost 127.0.0.1 --blobPort "$port" "${persistence[@]}" --skipApiVersionCheck \
        --disableTelemetry --silent </dev/null >>"$work/azurite.log" 2>&1 &
    azurite_pid=$!
    for _ in $(seq 1 300); do
        port_answers "$port" && return 0
        kill -0 "$azurite_pid" 2>/dev/null || break
        sleep 0.2
    done
    echo "Azurite did not start on port $port: $(tail -n 20 "$work/azurite.log")"
    exit 1
}

export AZURE_STORAGE_CONNECTION_STRING="DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey=$dev_key;BlobEndpoint=http://127.0.0.1:$port/devstoreaccount1;"
export KQHOST_HOME="$work/home"
unset KQHOST_JVM_OPTIONS KQHOST_CONTAINER

# kq NAME ARGS...: runs kqhost with -Xcheck:jni, output in $work/NAME.out and .err; sets $rc.
kq() {
    local name="$1" jni='(WARNING|FATAL ERROR) in native method'
    shift
    "$KQHOST" -q --java-lib "$KQ_JAVA_LIB" --jvm-option=-Xcheck:jni "$@" >"$work/$name.out" 2>"$work/$name.err"
    rc=$?
    grep -q -E "$jni" "$work/$name.out" "$work/$name.err" &&
        fail "$name: JNI check reported: $(grep -h -E -A3 "$jni" "$work/$name.out" "$work/$name.err" | head -20)"
}
expect_rc() {  # NAME EXPECTED
    [[ "$rc" == "$2" ]] || fail "$1 exited $rc, expected $2: $(tail -n 20 "$work/$1.out" "$work/$1.err")"
}
expect_text() {  # NAME FILE-SUFFIX TEXT
    grep -q -F -- "$3" "$work/$1.$2" || fail "$1: '$3' missing from its $2: $(tail -n 5 "$work/$1.$2")"
}
# Same files, same bytes, same modification times (to the nanosecond), nothing else.
same_tree() {  # A B
    diff -r "$1" "$2" >"$work/diff.txt" 2>&1 || { fail "trees differ: $(head -n 5 "$work/diff.txt")"; return; }
    local a b
    a="$(cd "$1" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort)"
    b="$(cd "$2" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort)"
    [[ "$a" == "$b" ]] || fail "sizes or modification times differ: $(diff <(echo "$a") <(echo "$b") | head -n 5)"
}

case "$scenario" in
roundtrip)
    # The sample tree with a small block size, so that its boundary files and big file stay quick.
    start_azurite
    "$make_tree" "$work/src" 1048576 25165824
    kq backup --block-size 1M backup "$work/src" --prefix rt
    expect_rc backup 0
    expect_text backup out "backup: 15 files"
    kq ls ls -l rt/
    expect_rc ls 0
    expect_text ls out "15 objects"
    expect_text ls out "$(printf 'rt/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.txt')"
    kq restore --block-size 1M restore "$work/dst" --prefix rt
    expect_rc restore 0
    same_tree "$work/src" "$work/dst"
    kq verify verify --prefix rt
    expect_rc verify 0
    expect_text verify out "verify: 15 intact objects"
    kq empty restore "$work/nothing" --prefix no-such-prefix
    expect_rc empty 1
    expect_text empty err "no objects under 'no-such-prefix/'"
    ! grep -r -q -F -- "$dev_key" "$work"/*.out "$work"/*.err "$work/home" || fail "the account key was printed"
    ;;
threads)
    start_azurite
    "$make_tree" "$work/src" 262144 3000000 60
    kq backup --threads 4 --block-size 256K backup "$work/src" --prefix th
    expect_rc backup 0
    expect_text backup out "backup: 75 files"
    kq restore --threads 4 --block-size 256K restore "$work/dst" --prefix th
    expect_rc restore 0
    same_tree "$work/src" "$work/dst"
    ;;
killed)
    # Persisted, so that what was committed before the kill can be looked at afterwards.
    start_azurite "$work/azurite-data"
    mkdir -p "$work/keep" "$work/big"
    printf 'kept\n' >"$work/keep/a.txt"
    kq keep backup "$work/keep" --prefix keep
    expect_rc keep 0
    sleep 6  # Azurite writes its object index to disk every few seconds
    head -c 268435456 /dev/urandom >"$work/big/big.bin"
    base=$(du -sb "$work/azurite-data" | cut -f1)
    "$KQHOST" -q --java-lib "$KQ_JAVA_LIB" --block-size 1M backup "$work/big" --prefix big \
        >"$work/backup.out" 2>"$work/backup.err" &
    kq_pid=$!
    # Kill Azurite once a good part of the file has been staged, mid-session.
    for _ in $(seq 1 600); do
        (($(du -sb "$work/azurite-data" | cut -f1) - base > 33554432)) && break
        kill -0 "$kq_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$kq_pid" 2>/dev/null || fail "the backup ended before Azurite could be killed"
    stop_azurite
    SECONDS=0
    wait "$kq_pid"
    rc=$?
    ((SECONDS < 120)) || fail "kqhost took ${SECONDS}s to give up"
    expect_rc backup 1
    for text in "big.bin" "NETWORK_ERROR" "storage does not answer" "backup: FAILED"; do
        expect_text backup err "$text"
    done
    # The object of the interrupted session was never committed; what was committed before is intact.
    start_azurite "$work/azurite-data"
    kq ls ls -l
    expect_rc ls 0
    ! grep -q -F "big/big.bin" "$work/ls.out" || fail "the interrupted object was committed: $(cat "$work/ls.out")"
    kq verify verify
    expect_rc verify 0
    ;;
corrupt)
    start_azurite
    "$make_tree" "$work/src" 1048576 3000000
    kq backup --block-size 1M backup "$work/src" --prefix c
    expect_rc backup 0
    victim="c/boundary/block-plus-1.bin"
    mkdir -p "$work/driver"
    "$JAVAC" --release 17 -nowarn -cp "$KQ_JAVA_LIB/*" -d "$work/driver" \
        "$KQ_REPO/tools/kqhost/java/kqdriver/KQDriver.java" || { fail "the Java driver did not compile"; exit 1; }
    "$JAVA" -cp "$KQ_JAVA_LIB/*:$work/driver" kqdriver.KQDriver corrupt "$victim" >"$work/corrupt.out" 2>&1 ||
        { fail "the driver could not corrupt $victim: $(tail -n 5 "$work/corrupt.out")"; exit 1; }
    kq restore --block-size 1M restore "$work/dst" --prefix c
    expect_rc restore 1
    expect_text restore err "$victim: SHA-256 mismatch"
    expect_text restore out "restore: 14 files"
    expect_text restore out "1 failed"
    [[ -e "$work/dst/boundary/block-plus-1.bin" ]] && fail "the corrupt object was restored"
    [[ -z "$(find "$work/dst" -name '*.kqhost-part')" ]] || fail "partial files left in $work/dst"
    rm -f "$work/src/boundary/block-plus-1.bin"
    same_tree "$work/src" "$work/dst"
    kq verify verify --prefix c
    expect_rc verify 1
    expect_text verify err "$victim: SHA-256 mismatch"
    ;;
*) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

((failures == 0)) || { echo "$scenario: $failures check(s) failed"; exit 1; }
echo "$scenario: passed"
