#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, and runs every test of each lane (default:
# x64 and x86) under a virtual display, so that message boxes are shown and dismissed for real.
#   scripts/test.sh [x64] [x86]        extra ctest arguments go in CTEST_ARGS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lanes=("$@")
[ ${#lanes[@]} -gt 0 ] || lanes=(x64 x86)

bash "$root/scripts/setup.sh"
for lane in "${lanes[@]}"; do
  [ "$lane" = x86 ] && bash "$root/scripts/setup-x86-lane.sh"
done
bash "$root/scripts/build.sh" "${lanes[@]}"

status=0
for lane in "${lanes[@]}"; do
  echo "=== $lane lane ==="
  start=$(date +%s)
  # shellcheck disable=SC2086
  if ! xvfb-run -a ctest --test-dir "$root/build/$lane" --output-on-failure ${CTEST_ARGS:-}; then
    status=1
  fi
  echo "=== $lane lane: $(( $(date +%s) - start )) s ==="
done
exit $status
