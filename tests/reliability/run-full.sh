#!/usr/bin/env bash
# The reliability tests at full size, then once more under Wine's heap checking.
#
#   bash tests/reliability/run-full.sh [x64|x86] [--no-heap | --heap-only | --validate-only | --oom-only] [--build DIR]
#
# Builds the tests in DIR (default build/<lane>; configured like scripts/build.sh when it is not),
# boots a Wine prefix of its own there (DIR/wineprefix-full, so that it never meets a CTest run),
# registers the component and the common library, and runs
#   - the fuzzer:  FUZZ_CASES cases (default 1 000 000) with a display, and as many without one;
#   - the soak:    SOAK_CALLS mixed calls (default 10 000 000) after its warm-up;
#   - the threads: THREADS apartment threads (default 8) of THREAD_ROUNDS rounds (default 100 000);
#   - the out-of-memory sweep: every allocation of every case failed in turn, the first use of the
#     module in every case of its own (as in CI); --oom-only runs just this;
# and then, with WINEDEBUG=warn+heap (Wine checks every pointer handed back to a heap, fills freed
# blocks and the slack behind each block with patterns, and complains on stderr), the same three at
# HEAP_FUZZ_CASES (default 100 000), HEAP_SOAK_CALLS (default 1 000 000) and HEAP_THREAD_ROUNDS
# (default 20 000). FUZZ_SEED sets the fuzzer's seed.
#
# warn+heap reports a block freed twice or not the heap's, but looks at the patterns only when the
# whole heap is validated. So the heap passes end with the three once more under
# WINEDEBUG=warn+heap,trace+heap, where Wine validates every block of the heap on each allocation and
# release (a write beyond a block or into a freed one is reported and stops the process), at smaller
# sizes because of its cost: VALIDATE_FUZZ_CASES (default 20 000, with a display), VALIDATE_SOAK_CALLS
# (default 100 000) and 4 threads of VALIDATE_THREAD_ROUNDS (default 2 000). Its trace lines are left
# out of the logs.
#
# Each run's output is DIR/reliability-full/<run>.log; the summary (every figure the tests print,
# their verdicts, and how many complaints the heap checker made) is printed and kept in
# DIR/reliability-full/summary.txt. The exit status is non-zero when any run failed or the heap
# checker complained. Without a display of its own the script runs itself under xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

arguments=("$@")
lane=x64 build= full=1 heap=1 validate=1 oom=1
while [ $# -gt 0 ]; do
  case $1 in
    x64|x86) lane=$1 ;;
    --no-heap) heap=0 validate=0 ;;
    --heap-only) full=0 oom=0 ;;
    --validate-only) full=0 heap=0 oom=0 ;;
    --oom-only) full=0 heap=0 validate=0 ;;
    --build) build=$2; shift ;;
    *) echo "run-full.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done
build=${build:-$root/build/$lane}
build=$(mkdir -p "$build" && cd "$build" && pwd)

if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "run-full.sh: needs a display or xvfb-run" >&2; exit 2; }
  exec xvfb-run -a bash "$0" "${arguments[@]}"
fi

case $lane in
  x64) toolchain=$root/cmake/toolchain-x86_64-w64-mingw32.cmake ;;
  x86) toolchain=$root/cmake/toolchain-i686-w64-mingw32.cmake ;;
esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target AtomTables10 QxBedrock10 reliability.fuzz reliability.soak \
  reliability.threads reliability.out_of_memory >/dev/null

out=$build/reliability-full
mkdir -p "$out"
prefix=$build/wineprefix-full
wine=(bash "$root/tools/wine/run.sh" "$lane" "$prefix")
tests=$build/tests/reliability
summary=$out/summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }

"${wine[@]}" --boot
trap '"${wine[@]}" --stop' EXIT
"${wine[@]}" regsvr32 /s "$build/bedrock/QxBedrock10.dll" "$build/AtomTables10.dll"

status=0
# run <name> <program> [VAR=value...]: one run, its figures and verdict in the summary.
run() {
  local name=$1 program=$2
  shift 2
  local log=$out/$name.log start=$SECONDS result=passed
  # (The exit status is the program's: the filter only drops the heap's trace lines.)
  if ! (cd "$out" && env "$@" "${wine[@]}" "$tests/$program.exe" 2>&1 | { grep -v ':trace:heap:' || true; }) >"$log"; then
    result=FAILED
    status=1
  fi
  local complaints
  complaints=$(grep -c ':heap:\|Assertion failed' "$log" || true)
  if [ "$complaints" != 0 ]; then
    result="$result, $complaints complaints of the heap checker"
    status=1
  fi
  say "$name: $result ($((SECONDS - start)) s)"
  grep -E '^(fuzz|soak|threads|registration|out-of-memory): ' "$log" | sed 's/^/    /' | tee -a "$summary" || true
}

seed=()
[ -n "${FUZZ_SEED:-}" ] && seed=("ATOMTABLES_FUZZ_SEED=$FUZZ_SEED")

say "reliability, $lane lane, $(date -u '+%Y-%m-%d %H:%M UTC')"
if [ $full = 1 ]; then
  run fuzz reliability.fuzz "ATOMTABLES_FUZZ_CASES=${FUZZ_CASES:-1000000}" "${seed[@]}"
  run fuzz-no-display reliability.fuzz DISPLAY= "ATOMTABLES_FUZZ_CASES=${FUZZ_CASES:-1000000}" "${seed[@]}"
  run soak reliability.soak DISPLAY= "ATOMTABLES_SOAK_CALLS=${SOAK_CALLS:-10000000}"
  run threads reliability.threads "ATOMTABLES_THREADS=${THREADS:-8}" "ATOMTABLES_THREAD_ROUNDS=${THREAD_ROUNDS:-100000}"
fi
if [ $oom = 1 ]; then
  run out-of-memory reliability.out_of_memory DISPLAY=
fi
if [ $heap = 1 ]; then
  heapcheck=WINEDEBUG=warn+heap
  run heap-fuzz reliability.fuzz $heapcheck "ATOMTABLES_FUZZ_CASES=${HEAP_FUZZ_CASES:-100000}" "${seed[@]}"
  run heap-fuzz-no-display reliability.fuzz $heapcheck DISPLAY= "ATOMTABLES_FUZZ_CASES=${HEAP_FUZZ_CASES:-100000}" "${seed[@]}"
  run heap-soak reliability.soak $heapcheck DISPLAY= "ATOMTABLES_SOAK_CALLS=${HEAP_SOAK_CALLS:-1000000}"
  run heap-threads reliability.threads $heapcheck "ATOMTABLES_THREADS=${THREADS:-8}" "ATOMTABLES_THREAD_ROUNDS=${HEAP_THREAD_ROUNDS:-20000}"
fi
if [ $validate = 1 ]; then
  validatecheck=WINEDEBUG=warn+heap,trace+heap
  run validate-fuzz reliability.fuzz $validatecheck "ATOMTABLES_FUZZ_CASES=${VALIDATE_FUZZ_CASES:-20000}" "${seed[@]}"
  run validate-soak reliability.soak $validatecheck DISPLAY= "ATOMTABLES_SOAK_CALLS=${VALIDATE_SOAK_CALLS:-100000}"
  run validate-threads reliability.threads $validatecheck ATOMTABLES_THREADS=4 "ATOMTABLES_THREAD_ROUNDS=${VALIDATE_THREAD_ROUNDS:-2000}"
fi
exit $status
