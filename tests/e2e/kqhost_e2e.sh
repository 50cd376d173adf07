#!/usr/bin/env bash
# End-to-end tests of kqhost -> plug-in -> Java library -> Azurite, one scenario per run:
#   kqhost_e2e.sh roundtrip|threads|killed|corrupt|names|foreign|interrupt
# CMake sets KQHOST, KQ_JAVA_LIB (the jars), KQ_REPO (for node_modules and the sample-tree script), JAVA and JAVAC.
# Each run starts its own Azurite on a free port; exits 77 (skipped) without Azurite or the Java library.
# KQ_E2E_KEEP=1 keeps the work folder.
set -uo pipefail

scenario="${1:?scenario}"
: "${KQHOST:?}" "${KQ_JAVA_LIB:?}" "${KQ_REPO:?}" "${JAVA:?}" "${JAVAC:?}"
make_tree="$KQ_REPO/tools/kqhost/scripts/make-sample-tree.sh"
repo="$KQ_REPO"

skip() { echo "SKIPPED: $*"; exit 77; }
[[ -x "$repo/node_modules/.bin/azurite-blob" ]] ||
    skip "Azurite is not installed ($repo/node_modules/.bin/azurite-blob); run 'npm ci' in $KQ_REPO"
[[ -f "$KQ_JAVA_LIB/KQAzurePlugIn.jar" ]] ||
    skip "the Java library is not built ($KQ_JAVA_LIB/KQAzurePlugIn.jar); run 'mvn -q -f java/azure/pom.xml package'"

# shellcheck source=../jvms/common.sh
source "$KQ_REPO/tests/jvms/common.sh"
work_folder "kqhost-e2e-$scenario" "${KQ_E2E_KEEP:-0}"
export KQHOST_HOME="$work/home"
unset KQHOST_JVM_OPTIONS KQHOST_CONTAINER
kq_cmd=("$KQHOST" -q --java-lib "$KQ_JAVA_LIB" --jvm-option=-Xcheck:jni)
# kq_bg NAME ARGS...: kqhost in the background (no JNI check), output as kq's.
kq_bg() { "$KQHOST" -q --java-lib "$KQ_JAVA_LIB" "${@:2}" >"$work/$1.out" 2>"$work/$1.err" & }

expect_text() {  # NAME FILE-SUFFIX TEXT...
    local name="$1" suffix="$2" text
    shift 2
    for text in "$@"; do
        grep -q -F -- "$text" "$work/$name.$suffix" ||
            fail "$name: '$text' missing from its $suffix: $(tail -n 5 "$work/$name.$suffix")"
    done
}
# kq_says NAME RC SUFFIX TEXT... -- ARGS...: kq NAME RC ARGS, then each TEXT must be in NAME's SUFFIX (out, err).
kq_says() {
    local name="$1" want="$2" suffix="$3" texts=()
    shift 3
    while [[ "$1" != -- ]]; do texts+=("$1"); shift; done
    kq "$name" "$want" "${@:2}"
    expect_text "$name" "$suffix" "${texts[@]}"
}
# javac_into DIR SOURCE: compiles SOURCE against the library's jars, once.
javac_into() {
    [[ -d "$work/$1" ]] && return
    "$JAVAC" --release 17 -nowarn -cp "$KQ_JAVA_LIB/*" -d "$work/$1" "$KQ_REPO/$2" ||
        { fail "$2 did not compile"; exit 1; }
}
# plant ARGS...: the plain Azure client, playing another tool (tests/e2e/Plant.java).
plant() {
    javac_into plant tests/e2e/Plant.java
    "$JAVA" -cp "$KQ_JAVA_LIB/*:$work/plant" Plant "$@"
}
# wait_for PID FAILURE CONDITION...: polls CONDITION for at most 60 s while PID runs; FAILURE if PID ended first.
wait_for() {
    local pid="$1" failure="$2"
    shift 2
    for _ in $(seq 1 1200); do
        "$@" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$pid" 2>/dev/null || { fail "$failure"; return 1; }
}
# interrupt_after NAME PID CONDITION...: once CONDITION holds, stalls Azurite, sends Ctrl-C and
# checks that kqhost ends with 130 within 2 s and says so.
interrupt_after() {
    local name="$1" pid="$2" started took
    shift 2
    wait_for "$pid" "$name ended before it could be interrupted" "$@" || return
    kill -STOP "$azurite_pid"  # every request now hangs
    sleep 0.5
    started=$(date +%s%N)
    kill -INT "$pid"
    wait "$pid"
    rc=$?
    took=$((($(date +%s%N) - started) / 1000000))
    kill -CONT "$azurite_pid"
    ((took <= 2000)) || fail "$name took ${took} ms to end after Ctrl-C"
    expect_rc "$name" 130
    expect_text "$name" err "interrupted"
}

# Only the killed scenario keeps its data on disk, so that it survives Azurite's end.
[[ $scenario == killed ]] || start_azurite --inMemoryPersistence || exit 1
case "$scenario" in
roundtrip)
    # The sample tree with a small block size, so that its boundary files and big file stay quick.
    "$make_tree" "$work/src" 1048576 25165824
    round_trip rt --block-size 1M
    expect_text backup-rt out "backup: 15 files"
    kq_says ls 0 out "15 objects" "$(printf 'rt/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.txt')" -- ls -l rt/
    kq_says verify 0 out "verify: 15 intact objects" -- verify --prefix rt
    kq_says empty 1 err "no objects under 'no-such-prefix/'" -- restore "$work/nothing" --prefix no-such-prefix
    ! grep -r -q -F -- "$kq_dev_key" "$work"/*.out "$work"/*.err "$work/home" || fail "the account key was printed"
    ;;
threads)
    "$make_tree" "$work/src" 262144 3000000 60
    round_trip th --threads 4 --block-size 256K
    expect_text backup-th out "backup: 75 files"
    ;;
killed)
    # Persisted, so that what was committed before the kill can be looked at afterwards.
    start_azurite --location "$work/azurite-data" || exit 1
    mkdir -p "$work/keep" "$work/big"
    printf 'kept\n' >"$work/keep/a.txt"
    kq keep 0 backup "$work/keep" --prefix keep
    sleep 6  # Azurite writes its object index to disk every few seconds
    head -c 268435456 /dev/urandom >"$work/big/big.bin"
    base=$(du -sb "$work/azurite-data" | cut -f1)
    kq_bg backup --block-size 1M backup "$work/big" --prefix big
    kq_pid=$!
    staged() { (($(du -sb "$work/azurite-data" | cut -f1) - base > 33554432)); }
    wait_for "$kq_pid" "the backup ended before Azurite could be killed" staged
    stop_azurite
    SECONDS=0
    wait "$kq_pid"
    rc=$?
    ((SECONDS < 120)) || fail "kqhost took ${SECONDS}s to give up"
    expect_rc backup 1
    expect_text backup err "big.bin" "NETWORK_ERROR" "storage does not answer" "backup: FAILED"
    # The object of the interrupted session was never committed; what was committed before is intact.
    start_azurite --location "$work/azurite-data" || exit 1
    kq ls 0 ls -l
    ! grep -q -F "big/big.bin" "$work/ls.out" || fail "the interrupted object was committed: $(cat "$work/ls.out")"
    kq verify 0 verify
    ;;
corrupt)
    "$make_tree" "$work/src" 1048576 3000000
    kq backup 0 --block-size 1M backup "$work/src" --prefix c
    victim="c/boundary/block-plus-1.bin"
    javac_into driver tools/kqhost/java/kqdriver/KQDriver.java
    "$JAVA" -cp "$KQ_JAVA_LIB/*:$work/driver" kqdriver.KQDriver corrupt "$victim" >"$work/corrupt.out" 2>&1 ||
        { fail "the driver could not corrupt $victim: $(tail -n 5 "$work/corrupt.out")"; exit 1; }
    kq_says restore 1 err "$victim: SHA-256 mismatch" -- --block-size 1M restore "$work/dst" --prefix c
    expect_text restore out "restore: 14 files" "1 failed"
    # Everything else restored whole: the corrupt object or a partial file would be in dst alone.
    rm -f "$work/src/boundary/block-plus-1.bin"
    same_tree "$work/src" "$work/dst"
    kq_says verify 1 err "$victim: SHA-256 mismatch" -- verify --prefix c
    ;;
names)
    # Every name a Linux file can have, and a destination that tries to lead the restore astray.
    long="$(printf 'n%.0s' $(seq 1 250))"
    # U+FFFF and U+FFFE are valid UTF-8 that no listing can carry; U+FDD0 lists as it is.
    names=(x x.kqhost-part y "$long" trailing. dir./inner 'back\slash' $'ctl\x01name' $'bad\xffbyte' 100%.txt a%20b
           evil/pwned.txt $'bad\xef\xbf\xbfname' $'nc\xef\xbf\xbe/\xef\xb7\x90')
    for n in "${names[@]}"; do
        mkdir -p "$work/src/$(dirname -- "$n")"
        printf '%s\n' "$n" >"$work/src/$n"
    done
    round_trip s
    expect_text backup-s out "backup: ${#names[@]} files"
    kq verify 0 verify --prefix s
    kq_says ls - out 'ctl%01name' 'bad%EF%BF%BFname' $'nc%EF%BF%BE/\xef\xb7\x90' -- ls -l s/
    ! grep -q $'\x01' "$work/ls.out" || fail "ls printed a control character raw"

    # Unchanged files are not sent again; a changed one (same size and time) is.
    plant etags kq-backup s/ >"$work/etags-1"
    kq_says again 0 out "backup: ${#names[@]} files, 0 B" "${#names[@]} unchanged" -- backup "$work/src" --prefix s
    plant etags kq-backup s/ >"$work/etags-2"
    cmp -s "$work/etags-1" "$work/etags-2" || fail "an unchanged tree was sent again: $(diff "$work/etags-1" "$work/etags-2")"
    stamp="$(stat -c %y "$work/src/y")"
    printf 'Y\n' >"$work/src/y"
    touch -d "$stamp" "$work/src/y"
    kq_says changed - out "$((${#names[@]} - 1)) unchanged" -- backup "$work/src" --prefix s
    plant etags kq-backup s/ >"$work/etags-3"
    [[ "$(diff "$work/etags-2" "$work/etags-3" | grep -c '^>')" == 1 ]] ||
        fail "expected exactly s/y sent again: $(diff "$work/etags-2" "$work/etags-3")"

    # A destination with links planted in it and a file of its own.
    mkdir -p "$work/dst2" "$work/outside"
    printf 'victim\n' >"$work/outside/victim"
    ln -s "$work/outside" "$work/dst2/evil"
    ln -s "$work/outside/victim" "$work/dst2/y.kqhost-part"
    printf 'mine\n' >"$work/dst2/x"
    kq_says planted 1 err "evil is a symbolic link in the destination; not followed" \
        "x: a file of that name exists; kept" -- restore "$work/dst2" --prefix s
    [[ "$(ls -A "$work/outside")" == victim && "$(cat "$work/outside/victim")" == victim ]] ||
        fail "the restore wrote outside its folder: $(ls -lA "$work/outside")"
    [[ "$(cat "$work/dst2/x")" == mine ]] || fail "an existing file was replaced without --overwrite"
    cmp -s "$work/src/y" "$work/dst2/y" || fail "y was not restored beside a link named like its old temporary file"
    kq overwrite - restore --overwrite "$work/dst2" --prefix s
    cmp -s "$work/src/x" "$work/dst2/x" || fail "--overwrite did not replace x"

    # Nothing found is a failure; what the user types is checked before it reaches the library.
    while IFS='|' read -r name want expect args; do
        read -r -a argv <<<"$args"
        kq_says "$name" "$want" err "$expect" -- "${argv[@]}"
    done <<'ROWS'
empty-verify|1|no objects under 'no-such-prefix/'|verify --prefix no-such-prefix
inject|2|is not a container name|--container x;BlobEndpoint=http://127.0.0.1:1/devstoreaccount1 ls
dotdot|2|has a '..' segment|verify --prefix ../../x
dotted|2|cannot end with '.'|backup . --prefix set.
blockitem|2|says BlockSize=4096 but --block-size says 8192|--connection UseDevelopmentStorage=true;BlockSize=4096 --block-size 8K ls
ROWS

    # A top-level file whose name starts like a library handle.
    mkdir -p "$work/kqh"
    printf 'top\n' >"$work/kqh/kqh-top"
    kq kqh-backup 0 --container kqh-names backup "$work/kqh"
    # The container (and block size) written into the connection string, in any case, instead of the options.
    AZURE_STORAGE_CONNECTION_STRING="$AZURE_STORAGE_CONNECTION_STRING CONTAINER = kqh-names;blocksize=1048576" \
        kq kqh-restore 0 --block-size 1M restore "$work/kqh-dst"
    same_tree "$work/kqh" "$work/kqh-dst"
    ;;
foreign)
    # Objects other tools put beside kqhost's.
    mkdir -p "$work/src/sub"
    printf 'one\n' >"$work/src/one.txt"
    printf 'two\n' >"$work/src/sub/two.txt"
    kq backup 0 backup "$work/src" --prefix f
    plant put kq-backup f/sub hdi_isfolder=true
    plant put kq-backup f/other.txt
    kq_says verify 0 out "verify: 2 intact objects" "1 object without kqhost metadata skipped" -- verify --prefix f
    expect_text verify err "f/other.txt: metadata lacks"
    ! grep -q "f/sub:" "$work/verify.err" || fail "the folder marker was reported: $(cat "$work/verify.err")"
    kq strict 1 verify --strict --prefix f
    kq restore 0 restore "$work/dst" --prefix f
    same_tree "$work/src" "$work/dst"
    # --delete removes kqhost's object of a deleted file, and nothing of the other tool's.
    rm "$work/src/one.txt"
    kq_says del 0 out "1 deleted" -- backup "$work/src" --prefix f --delete
    [[ "$(plant etags kq-backup f/ | cut -d' ' -f1 | tr '\n' ' ')" == "f/other.txt f/sub f/sub/two.txt " ]] ||
        fail "--delete left the wrong objects: $(plant etags kq-backup f/)"
    # Another tool's object whose recorded size lies: ls -l shows its real length with the mark, and backup
    # sends the file again although the size, time and SHA-256 recorded all match it.
    printf 'the real content\n' >"$work/src/liar.txt"
    plant put kq-backup f/liar.txt kqsize=17 kqmtime="$(date -r "$work/src/liar.txt" +%s%N)" \
        kqsha256="$(sha256sum "$work/src/liar.txt" | cut -d' ' -f1)"
    kq_says lies - out "folder" -- ls -l f/
    for line in '^ +8  .*  f/liar\.txt  \(size≠recorded 17\)$' '^ +8  \?{19}  \?{12}  f/other\.txt  \(metadata lacks' \
        '^ +4  .*  f/sub/two\.txt$'; do
        grep -q -E -- "$line" "$work/lies.out" || fail "ls -l: no line matching '$line': $(cat "$work/lies.out")"
    done
    kq_says resend 0 out "backup: 2 files, 17 B" -- backup "$work/src" --prefix f
    kq_says reverify 0 out "verify: 2 intact objects" -- verify --prefix f
    # A file that needs a write session, over a page blob of the same name.
    plant page kq-backup f/big.bin
    head -c 3000000 /dev/urandom >"$work/src/big.bin"
    # Blocks upload behind the writes, so the refusal may surface at a later write or at the close.
    kq_says over 1 err "big.bin: " "failed: plug-in code 26 (CONFLICT), the store refused to replace the existing object" \
        -- --block-size 1M backup "$work/src" --prefix f
    ;;
interrupt)
    # Ctrl-C while storage hangs: out within 2 s, no partial local file, nothing committed.
    mkdir -p "$work/src"
    # Larger than the read-ahead can hold (the library's whole pool is 72 MiB): once storage hangs, the restore
    # must be waiting on it, not finishing from ranges already fetched.
    head -c 268435456 /dev/urandom >"$work/src/big.bin"
    kq backup 0 --block-size 1M backup "$work/src" --prefix i
    kq_bg restore --block-size 1M restore "$work/dst" --prefix i
    part_grew() { [[ -n "$(find "$work/dst" -name '.kqhost-*.part' -size +1M 2>/dev/null)" ]]; }
    interrupt_after restore $! part_grew
    [[ -z "$(find "$work/dst" -mindepth 1 2>/dev/null)" ]] || fail "an interrupted restore left $(ls -A "$work/dst")"

    kq_bg backup2 --block-size 1M backup "$work/src" --prefix j
    backup_pid=$!
    sending() {  # kqhost has read 16 MiB of the file: the session is well under way
        local fd
        for fd in /proc/"$backup_pid"/fd/*; do
            [[ "$(readlink "$fd" 2>/dev/null)" == */src/big.bin ]] || continue
            (($(awk '/^pos:/ {print $2}' "/proc/$backup_pid/fdinfo/${fd##*/}" 2>/dev/null || echo 0) > 16777216)) &&
                return 0
        done
        return 1
    }
    interrupt_after backup2 "$backup_pid" sending
    kq ls 0 ls j/
    [[ ! -s "$work/ls.out" ]] || fail "an interrupted backup committed: $(cat "$work/ls.out")"
    ;;
*) echo "unknown scenario $scenario" >&2; exit 2 ;;
esac

finish "$scenario" "$scenario: passed"
