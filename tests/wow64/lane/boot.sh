#!/usr/bin/env bash
# Starts the wow64 lane's prefix afresh, with nothing of the component in it, and runs each script
# host once: on first use the script hosts register Wine's own type libraries, which must not count
# as a difference when the lane compares the registry with how it found it.
#   boot.sh <prefix-dir> <scratch-dir>
set -euo pipefail
prefix=$1 scratch=$2
here=$(dirname "$0")
run=$here/../../../tools/wine/run.sh
bash "$here/../../release/fresh_prefix.sh" wow64 "$prefix" "$scratch"
printf 'WScript.Quit 0\r\n' >"$scratch/empty.vbs"
for host in 'C:\windows\system32\cscript.exe' 'C:\windows\syswow64\cscript.exe'; do
  bash "$run" wow64 "$prefix" "$host" //nologo "Z:$(echo "$scratch/empty.vbs" | tr / '\\')" </dev/null
done
