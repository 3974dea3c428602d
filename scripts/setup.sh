#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and any others named as arguments
# (scripts/setup.sh gnuplot-nox). Idempotent.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools
  wine64 xvfb xauth googletest wixl msitools
  osslsigncode openssl faketime zip unzip
  "$@"
)

# shellcheck source=scripts/apt-lib.sh
. "$(dirname "$0")/apt-lib.sh"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
