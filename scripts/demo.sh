#!/usr/bin/env bash
# The main job: installs what it needs, builds the x64 component and its stand-in common library,
# registers both in a private Wine prefix (build/x64/wineprefix) and runs the demo script.
# (The build also makes the release bundle, whose installer packages are recorded from the DLLs'
# registration on both architectures: that needs the 32-bit side set up too.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run=(bash "$root/tools/wine/run.sh" x64 "$root/build/x64/wineprefix")

bash "$root/scripts/setup.sh"
bash "$root/scripts/setup-x86-lane.sh"
bash "$root/scripts/build.sh" x64
"${run[@]}" --boot
"${run[@]}" regsvr32 /s "$root/build/x64/bedrock/QxBedrock10.dll"
"${run[@]}" regsvr32 /s "$root/build/x64/AtomTables10.dll"
status=0
"${run[@]}" cscript //nologo "Z:$(printf '%s' "$root/examples/demo.vbs" | tr / '\\')" || status=$?
"${run[@]}" --stop
exit "$status"
