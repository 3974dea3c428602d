#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, and runs every test of each lane (default:
# x64, x86 and wow64) under a virtual display, so that message boxes are shown and dismissed for real.
#   scripts/test.sh [x64] [x86] [wow64]        extra ctest arguments go in CTEST_ARGS
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lanes=("$@")
[ ${#lanes[@]} -gt 0 ] || lanes=(x64 x86 wow64)

bash "$root/scripts/setup.sh"
# x86 and wow64 run 32-bit code: one set-up for both.
case " ${lanes[*]} " in
  *" x86 "*|*" wow64 "*) bash "$root/scripts/setup-x86-lane.sh" ;;
esac
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
