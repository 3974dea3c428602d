#!/usr/bin/env bash
# The release bundle: installs what it needs, builds the component for x64 and, in a companion build,
# for x86, and writes dist/AtomTables10-<version>.zip (both architectures and the installer packages;
# see packaging/), its symbols archive and SHA256SUMS of both. Signed when the environment names a
# certificate (ATOMTABLES_SIGN_PKCS12, ATOMTABLES_SIGN_PASSWORD_FILE, ATOMTABLES_SIGN_TIMESTAMP_URL:
# docs/development.md). The packages' registry tables are recorded from the DLLs' own registration in a
# Wine prefix that runs both architectures, so the set-up of the 32-bit side comes first.
#   scripts/bundle.sh            build/x64 (as scripts/build.sh configures it), the bundle only
#   scripts/bundle.sh --check    also builds the tests and runs the bundle's own: unpacked into a fresh
#                                Wine prefix, used without registration, registered, its examples
#                                run, bad installations looked at, unregistered, its package installed
# ATOMTABLES_BUILD_DIR names another build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ATOMTABLES_BUILD_DIR:-$root/build/x64}
check=false
case ${1:-} in
  --check) check=true ;;
  "") ;;
  *) echo "usage: bundle.sh [--check]" >&2; exit 2 ;;
esac

bash "$root/scripts/setup.sh"
bash "$root/scripts/setup-x86-lane.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" >/dev/null
fi
if $check; then
  cmake --build "$build"
  xvfb-run -a ctest --test-dir "$build" --output-on-failure -R '^release\.'
else
  cmake --build "$build" --target bundle
fi

mkdir -p "$root/dist"
shopt -s nullglob
zips=()
for zip in "$build"/dist/AtomTables10-*.zip; do
  case $zip in *-symbols.zip) ;; *) zips+=("$zip") ;; esac
done
if [ ${#zips[@]} -ne 1 ]; then
  echo "bundle.sh: expected one bundle in $build/dist, found ${#zips[@]}" >&2
  exit 1
fi
# The bundle, its symbols archive and the checksums of both.
name=${zips[0]##*/}
cp "${zips[0]}" "$build/dist/${name%.zip}-symbols.zip" "$build/dist/SHA256SUMS" "$root/dist/"
echo "dist/$name, dist/${name%.zip}-symbols.zip, dist/SHA256SUMS"
