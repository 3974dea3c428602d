#!/usr/bin/env bash
# The release bundle: installs what it needs, builds the component for x64 and, in a companion build,
# for x86, and writes dist/AtomTables10-<version>.zip (both architectures; see packaging/).
#   scripts/bundle.sh            build/x64 (as scripts/build.sh configures it), the bundle only
#   scripts/bundle.sh --check    also builds the tests and runs the bundle's own: unpacked into a fresh
#                                Wine prefix, used without registration, registered, its examples
#                                run, bad installations looked at, unregistered
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
zip=$(ls "$build"/dist/AtomTables10-*.zip)
cp "$zip" "$root/dist/"
echo "dist/$(basename "$zip")"
