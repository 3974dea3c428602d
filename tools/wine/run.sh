#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix of the build tree.
#
#   run.sh <x64|x86> <prefix-dir> <program> [args...]
#   run.sh <x64|x86> <prefix-dir> --boot      starts the prefix afresh (kills a running server)
#   run.sh <x64|x86> <prefix-dir> --stop      stops the prefix's server
#
# The prefix is created on first use. Wine's server and its helper processes are always started by
# a process whose standard streams go nowhere, so that they never hold a test's output pipe open.
set -euo pipefail

arch=$1 prefix=$2
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

case $arch in
  x64)
    export WINEARCH=win64
    wine=/usr/lib/wine/wine64
    wineserver=/usr/lib/wine/wineserver64
    [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
    ;;
  x86)
    exec "$(dirname "$0")/run-x86.sh" "$prefix" "$@"
    ;;
  *) echo "run.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac

quiet() { "$@" </dev/null >/dev/null 2>&1; }

# Wine writes its registry files lazily, so a marker of our own says the prefix is complete.
ready=$prefix/.prefix-ready

boot() {
  mkdir -p "$prefix"
  if [ ! -f "$ready" ]; then
    quiet "$wine" wineboot -i
    # Message boxes appear at once instead of waiting for a window manager.
    quiet "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    touch "$ready"
  fi
  # The server stays up until --stop, so that no later process (a test's, with its output pipe)
  # has to start it and its helpers again.
  quiet "$wineserver" -p || true
  quiet "$wine" wineboot
}

case ${1:-} in
  --boot)
    quiet "$wineserver" -k || true
    quiet "$wineserver" -w || true
    boot
    exit 0
    ;;
  --stop)
    quiet "$wineserver" -k || true
    quiet "$wineserver" -w || true
    exit 0
    ;;
esac

[ -f "$ready" ] || boot
exec "$wine" "$@"
