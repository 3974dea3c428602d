#!/usr/bin/env bash
# A crash report's module and offset turned back into a function and a source line with the symbols
# archive, the way docs/troubleshooting.md tells a developer to, for each architecture: the offset of
# a point inside DllGetClassObject, taken from the shipped DLL's own export table as a crash report
# would give it, must come back as that function in server/exports.cpp, on a line of its body.
#   symbols_round_trip.sh <unpacked bundle> <symbols zip> <sources>
set -euo pipefail
bundle=$1 symbols_zip=$2 sources=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$symbols_zip")
symbols=$(find "$work" -mindepth 1 -maxdepth 1 -type d)

# The function's body in the sources: from its definition to the closing brace at the line's start.
first=$(grep -n '^STDAPI DllGetClassObject' "$sources/server/exports.cpp" | cut -d: -f1)
last=$(awk -v from="$first" 'NR > from && /^}/ { print NR; exit }' "$sources/server/exports.cpp")
[ -n "$first" ] && [ -n "$last" ] || { echo "FAIL: DllGetClassObject not found in server/exports.cpp"; exit 1; }

failures=0
for lane in x64 x86; do
  case $lane in x64) tools=x86_64-w64-mingw32 ;; x86) tools=i686-w64-mingw32 ;; esac
  dll=$bundle/$lane/AtomTables10.dll
  debug=$symbols/$lane/AtomTables10.dll.debug
  # The link the DLL carries names its symbols file.
  if ! "$tools-objdump" -s -j .gnu_debuglink "$dll" | grep -q 'AtomTables10.dll'; then
    echo "FAIL $lane: the DLL does not name AtomTables10.dll.debug"; failures=$((failures + 1)); continue
  fi
  # What a crash report gives: the module and an offset from its base (here 16 bytes into the
  # exported function, whose RVA the export table holds).
  dump=$("$tools-objdump" -p "$dll")
  index=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && $NF == "DllGetClassObject" { gsub(/[][]/, " "); print $1; exit }' <<<"$dump")
  rva=$(awk -v i="$index" '/^Export Address Table --/ { on = 1; next } on && /Export RVA/ { gsub(/[][]/, " "); if ($1 == i) { print $(NF - 2); exit } }' <<<"$dump")
  [ -n "$rva" ] || { echo "FAIL $lane: no DllGetClassObject in the export table"; failures=$((failures + 1)); continue; }
  offset=$(printf '0x%x' $((0x$rva + 16)))
  # The documented steps: the image base from the DLL, the address, addr2line on the symbols file.
  base=$("$tools-objdump" -p "$dll" | awk '$1 == "ImageBase" { print $2 }')
  address=$(printf '0x%x' $((0x$base + offset)))
  # With -i, the functions inlined there come first, each followed by its place; the function the
  # code belongs to comes last.
  answer=$("$tools-addr2line" -f -C -i -e "$debug" "$address")
  function=$(tail -n 2 <<<"$answer" | sed -n 1p) place=$(tail -n 1 <<<"$answer")
  file=${place%%:*} line=${place##*:}
  line=${line%% *}
  echo "$lane: AtomTables10.dll+$offset -> $(paste -sd' ' <<<"$answer")"
  # (32-bit stdcall functions carry their argument bytes: DllGetClassObject@12.)
  if ! [[ $function =~ ^DllGetClassObject(@[0-9]+)?$ ]] || [[ $file != */server/exports.cpp ]] \
     || ! [[ $line =~ ^[0-9]+$ ]] || [ "$line" -lt "$first" ] || [ "$line" -gt "$last" ]; then
    echo "FAIL $lane: expected DllGetClassObject in server/exports.cpp, lines $first to $last"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "symbols round trip: both architectures"
exit "$failures"
