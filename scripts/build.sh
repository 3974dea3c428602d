#!/usr/bin/env bash
# Builds the component, the common library and the tests for the given lanes (default: all three).
#   scripts/build.sh [x64] [x86] [wow64]
# The wow64 lane builds nothing of its own: it needs the x64 and x86 builds, and sets up its test
# project (tests/wow64/lane) over them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lanes=("$@")
[ ${#lanes[@]} -gt 0 ] || lanes=(x64 x86 wow64)

builds=()
for lane in "${lanes[@]}"; do
  case $lane in
    x64|x86) builds+=("$lane") ;;
    wow64) builds+=(x64 x86) ;;
    *) echo "build.sh: unknown lane '$lane' (x64, x86 or wow64)" >&2; exit 2 ;;
  esac
done

built=" "
for arch in "${builds[@]}"; do
  case $built in *" $arch "*) continue ;; esac
  built+="$arch "
  case $arch in
    x64) toolchain=$root/cmake/toolchain-x86_64-w64-mingw32.cmake ;;
    x86) toolchain=$root/cmake/toolchain-i686-w64-mingw32.cmake ;;
  esac
  build=$root/build/$arch
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  fi
  cmake --build "$build"
done

for lane in "${lanes[@]}"; do
  if [ "$lane" = wow64 ]; then
    cmake -S "$root/tests/wow64/lane" -B "$root/build/wow64" -DSOURCE_DIR="$root" \
          -DX64_BUILD="$root/build/x64" -DX86_BUILD="$root/build/x86" >/dev/null
  fi
done
