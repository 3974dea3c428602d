#!/usr/bin/env bash
# Starts a Wine prefix created afresh, with nothing of the component in it, and an empty scratch
# folder for the clients that run there.
#   fresh_prefix.sh <x64|x86|wow64> <prefix-dir> <scratch-dir>
set -euo pipefail
arch=$1 prefix=$2 scratch=$3
run="$(dirname "$0")/../../tools/wine/run.sh"
bash "$run" "$arch" "$prefix" --stop
rm -rf "$prefix" "$scratch"
mkdir -p "$scratch"
exec bash "$run" "$arch" "$prefix" --boot
