# Sourced by the scripts: finds the JDK 17 the build and the tests use.
#
#   source scripts/lib/java-home.sh
#   kq_use_java_home || exit 1     # exports JAVA_HOME and puts its bin/ first
#
# An explicit JAVA_HOME wins (and must be a JDK: it is not silently replaced);
# otherwise the first /usr/lib/jvm/*17* with a javac that is not the i386 one
# (the 32-bit build's, which cmake/toolchains/linux-i686.cmake picks itself),
# then the JDK the javac on the PATH belongs to, if that is a 17.

kq_find_java_home() {
  if [[ -n "${JAVA_HOME:-}" ]]; then
    if [[ -x "$JAVA_HOME/bin/javac" ]]; then
      printf '%s\n' "$JAVA_HOME"
      return 0
    fi
    echo "JAVA_HOME=$JAVA_HOME is not a JDK (no bin/javac)" >&2
    return 1
  fi
  local candidate javac
  for candidate in /usr/lib/jvm/*17*; do
    [[ "$candidate" == *-i386 ]] && continue
    if [[ -x "$candidate/bin/javac" ]]; then
      printf '%s\n' "$candidate"
      return 0
    fi
  done
  if javac="$(command -v javac 2>/dev/null)"; then
    candidate="$(dirname "$(dirname "$(readlink -f "$javac")")")"
    if "$candidate/bin/javac" -version 2>&1 | grep -qE '^javac 17(\.|$)'; then
      printf '%s\n' "$candidate"
      return 0
    fi
  fi
  echo "no JDK 17 found: install one (scripts/setup.sh) or set JAVA_HOME" >&2
  return 1
}

kq_use_java_home() {
  local found
  found="$(kq_find_java_home)" || return 1
  export JAVA_HOME="$found"
  export PATH="$JAVA_HOME/bin:$PATH"
}
