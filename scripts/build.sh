#!/usr/bin/env bash
# Builds the component, the common library and the tests for the given lanes (default: x64 x86).
#   scripts/build.sh [x64] [x86]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lanes=("$@")
[ ${#lanes[@]} -gt 0 ] || lanes=(x64 x86)

for lane in "${lanes[@]}"; do
  case $lane in
    x64) toolchain=$root/cmake/toolchain-x86_64-w64-mingw32.cmake ;;
    x86) toolchain=$root/cmake/toolchain-i686-w64-mingw32.cmake ;;
    *) echo "build.sh: unknown lane '$lane' (x64 or x86)" >&2; exit 2 ;;
  esac
  build=$root/build/$lane
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  fi
  cmake --build "$build"
done
