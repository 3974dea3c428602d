#!/usr/bin/env bash
# The benchmarks: builds the component and the benchmark program, registers the component and its
# stand-in common library in a private Wine prefix of its own, runs every measurement, and writes
# the report (bench/results/latest.md) and its chart (bench/results/latest.png).
#
#   bash bench/run.sh [x64|x86] [--quick]
#
#   x64      the default lane
#   x86      the 32-bit lane, when it is set up (scripts/setup-x86-lane.sh, tools/wine/enter-i386.sh);
#            its report is bench/results/latest-x86.md
#   --quick  fewer and shorter rounds, for trying things out (the report says so)
#
# Everything lives under build/bench/<lane>/ (component build, program build, Wine prefix, raw
# results). BENCH_JOBS sets the build's parallel jobs (default 2). Message boxes cannot appear (no
# name the benchmark passes is over-long), so no virtual display is needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

lane=x64 quick=()
for arg in "$@"; do
  case $arg in
    x64|x86) lane=$arg ;;
    --quick) quick=(--quick) ;;
    *) echo "bench/run.sh: unknown argument '$arg' (x64, x86, --quick)" >&2; exit 2 ;;
  esac
done

say() { echo "bench: $*" >&2; }

# --- What the run needs: the project's packages, gnuplot for the chart, the x86 lane if asked for.
bash "$root/scripts/setup.sh" gnuplot-nox
case $lane in
  x64) toolchain=$root/cmake/toolchain-x86_64-w64-mingw32.cmake ;;
  x86)
    if [ ! -f "$root/tools/wine/enter-i386.sh" ] || [ ! -f "$root/scripts/setup-x86-lane.sh" ]; then
      echo "bench/run.sh: the x86 lane is not available in this tree (tools/wine/enter-i386.sh)" >&2
      exit 2
    fi
    bash "$root/scripts/setup-x86-lane.sh"
    toolchain=$root/cmake/toolchain-i686-w64-mingw32.cmake
    ;;
esac

# --- Build: the component (without its tests), then the benchmark program against it.
work=$root/build/bench/$lane
component=$work/component program=$work/program prefix=$work/wineprefix results=$work/results
jobs=${BENCH_JOBS:-2}
if [ ! -f "$component/build.ninja" ]; then
  cmake -S "$root" -B "$component" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DATOMTABLES_TESTS=OFF >/dev/null
fi
cmake --build "$component" -j "$jobs"
if [ ! -f "$program/build.ninja" ]; then
  cmake -S "$root/bench" -B "$program" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DATOMTABLES_BUILD="$component" >/dev/null
fi
cmake --build "$program" -j "$jobs"

# --- The prefix: started afresh, both DLLs registered; stopped again whatever happens.
run=(bash "$root/tools/wine/run.sh" "$lane" "$prefix")
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
trap '"${run[@]}" --stop || true' EXIT
"${run[@]}" --boot
"${run[@]}" regsvr32 /s "$component/bedrock/QxBedrock10.dll"
"${run[@]}" regsvr32 /s "$component/AtomTables10.dll"

# --- Run.
mkdir -p "$results"
rm -f "$results/latest.md" "$results/latest.dat"
cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n1)
machine="${cpu:-unknown CPU}, $(nproc) cores ($(uname -m), Linux $(uname -r))"
if [ "$lane" = x64 ]; then
  wine_version=$(/usr/lib/wine/wine64 --version)
else
  # The version from the 32-bit package (the loader may need qemu to run here at all), and how this
  # machine runs it.
  how=$(bash "$root/tools/wine/enter-i386.sh" --how 2>/dev/null || echo emulated)
  case $how in native) how="natively" ;; *) how="through qemu-i386" ;; esac
  wine_version="wine-$(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || echo '?') 32-bit, $how"
fi
"${run[@]}" "$program/atomtables_bench.exe" --out "$(winpath "$results")" --script "$(winpath "$root/bench/bench.vbs")" \
  --machine "$machine" --wine "$wine_version" --arch "$lane" --load "$(winpath /proc/loadavg)" "${quick[@]}"
[ -f "$results/latest.md" ] || { echo "bench/run.sh: the benchmark wrote no report" >&2; exit 1; }

# --- The chart, and the report into the tree.
suffix=""
[ "$lane" = x64 ] || suffix="-$lane"
gnuplot -e "datafile='$results/latest.dat'; outfile='$results/latest.png'; subtitle='$lane DLL, $wine_version, $cpu'" \
  "$root/bench/chart.gp"
# The shipped sizes: each binary of packaging/shipped.cmake as the release ships it (stripped, before
# any signature), against the component DLLs' limit.
case $lane in x64) strip=x86_64-w64-mingw32-strip ;; x86) strip=i686-w64-mingw32-strip ;; esac
{
  echo
  echo "## Shipped sizes ($lane)"
  echo
  echo "Each binary of the release as the bundle ships it: stripped of symbols and debugging information (which go to the symbols archive), before a signature adds its few KiB. Limit for each component DLL: 256 KiB."
  echo
  echo "| Binary | Linked (with debugging information) | Shipped | |"
  echo "|---|---|---|---|"
  for file in $(sed -n 's/^set(SHIPPED_FILES \(.*\))$/\1/p' "$root/packaging/shipped.cmake"); do
    [ -f "$component/$file" ] || continue
    "$strip" --strip-all -o "$results/shipped.bin" "$component/$file"
    linked=$(stat -c %s "$component/$file") shipped=$(stat -c %s "$results/shipped.bin")
    verdict=""
    case $file in *.dll) [ "$shipped" -le 262144 ] && verdict="within the limit" || verdict="**over the limit**" ;; esac
    echo "| ${file##*/} | $((linked / 1024)) KiB | $((shipped / 1024)) KiB ($shipped bytes) | $verdict |"
  done
  rm -f "$results/shipped.bin"
} >>"$results/latest.md"

mkdir -p "$root/bench/results"
sed "s/(latest\.png)/(latest$suffix.png)/" "$results/latest.md" >"$root/bench/results/latest$suffix.md"
cp "$results/latest.png" "$root/bench/results/latest$suffix.png"
cat "$root/bench/results/latest$suffix.md"
say "report: bench/results/latest$suffix.md, chart: bench/results/latest$suffix.png"
