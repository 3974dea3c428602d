#!/usr/bin/env bash
# Records what the DLLs' own registration writes (tools/registration-capture), for the installer
# packages, in a Wine prefix of its own: 64-bit Windows with its 32-bit side, where the DLLs of both
# architectures register, each with its own regsvr32. The prefix is made on first use and its server
# stopped at the end.
#   capture.sh <prefix-dir> <output file> <registration-capture.exe> (<x64|x86> <DLL>)...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$1 output=$2 tool=$3
shift 3
run=(bash "$root/tools/wine/run.sh" wow64 "$prefix")
windows_path() { printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; }

arguments=()
while [ $# -ge 2 ]; do
  arguments+=("$1" "$(windows_path "$2")")
  shift 2
done
status=0
"${run[@]}" "$tool" "$(windows_path "$output")" "${arguments[@]}" </dev/null || status=$?
"${run[@]}" --stop
exit "$status"
