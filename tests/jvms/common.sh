# Shared by the scripts that drive kqhost against Azurite (tests/e2e/kqhost_e2e.sh, tests/jvms/*.sh,
# scripts/test-jvms.sh); sourced, not run. Expects $work (a scratch folder the caller removes) and $root or $repo.
# shellcheck source=../../scripts/lib/azurite.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/azurite.sh"

failures=0
fail() { echo "FAIL: ${fail_prefix:-}$*"; failures=$((failures + 1)); }
# finish NAME PASSED-LINE: the script's last line and exit status.
finish() {
  ((failures == 0)) || { echo "$1: $failures check(s) failed"; exit 1; }
  echo "$2"
}

# kq NAME RC ARGS...: "${kq_cmd[@]}" ARGS, output in $work/NAME.out and .err; sets $rc and checks it against RC
# ("-": any). Any warning of -Xcheck:jni fails. With kq_rss=1, also under /usr/bin/time: peak RSS in $rss (MiB).
kq() {
  local name="$1" want="$2" jni='(WARNING|FATAL ERROR) in native method' timer=()
  shift 2
  [[ -n "${kq_rss:-}" ]] && timer=(/usr/bin/time -f %M -o "$work/$name.rss")
  "${timer[@]}" "${kq_cmd[@]}" "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  rss=$(($(tail -n 1 "$work/$name.rss" 2>/dev/null || echo 0) / 1024))
  grep -q -E "$jni" "$work/$name.out" "$work/$name.err" &&
    fail "$name: JNI check reported: $(grep -h -E -A3 "$jni" "$work/$name.out" "$work/$name.err" | head -20)"
  [[ "$want" == - ]] || expect_rc "$name" "$want"
}
expect_rc() {  # NAME RC: $rc is RC
  [[ "$rc" == "$2" ]] || fail "$1 exited $rc, expected $2: $(tail -n 20 "$work/$1.out" "$work/$1.err")"
}

# same_tree A B: the same files, bytes and modification times (to the nanosecond), nothing else.
same_tree() {
  diff -r "$1" "$2" >"$work/diff.txt" 2>&1 || { fail "trees differ: $(head -n 5 "$work/diff.txt")"; return 1; }
  diff <(file_times "$1") <(file_times "$2") >"$work/diff.txt" || { fail "sizes or modification times differ: $(head -n 5 "$work/diff.txt")"; return 1; }
}
file_times() { (cd "$1" && find . -type f -printf '%P %s %T@\n' | LC_ALL=C sort); }

# small_tree DIR: a few files, one of them empty and one of several blocks (a write session, ranged reads).
small_tree() {
  mkdir -p "$1/sub"
  printf 'small\n' >"$1/a.txt"
  : >"$1/empty"
  head -c 3500000 /dev/urandom >"$1/sub/blocks.bin"
}

# junit NAME JAVA_HOME: the library's JUnit tests in that VM; sets $junit to the summary line or FAILED.
junit() {
  if mvn -B -f "$root/java/azure/pom.xml" surefire:test -Djvm="$2/bin/java" >"$work/$1.log" 2>&1; then
    junit="$(grep -E 'Tests run: [0-9]+, Failures' "$work/$1.log" | tail -1 | sed 's/^\[INFO\] //')"
  else
    junit="FAILED"
    fail "JUnit: $(grep -E 'Tests run:|FAIL|ERROR\]' "$work/$1.log" | head -10)"
  fi
}

# round_trip NAME ARGS...: backup of $work/src with ARGS, restore into $work/dst-NAME, compare; sets $result and
# the peak RSS of each step in $backup_rss and $rss.
round_trip() {
  local name="$1"
  shift
  kq "backup-$name" 0 "$@" backup "$work/src" --prefix "$name"
  backup_rss=$rss
  kq "restore-$name" 0 "$@" restore "$work/dst-$name" --prefix "$name"
  if same_tree "$work/src" "$work/dst-$name"; then result="round trip identical"; else result="FAILED"; fi
  rm -rf "$work/dst-$name"
}

# work_folder NAME KEEP: makes $work; removes it at exit (keeps it, saying so, when KEEP is 1) after Azurite stops.
work_folder() {
  work="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
  keep_work="$2"
  trap 'stop_azurite; if [[ "$keep_work" == 1 ]]; then echo "work folder kept: $work"; else rm -rf "$work"; fi' EXIT
}
