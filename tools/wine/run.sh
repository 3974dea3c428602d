#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix of the build tree.
#
#   run.sh <x64|x86> <prefix-dir> <program> [args...]
#   run.sh <x64|x86> <prefix-dir> --boot      starts the prefix afresh (kills a running server)
#   run.sh <x64|x86> <prefix-dir> --stop      stops the prefix's server
#
# The prefix is created on first use. Wine's server and its helper processes are always started by
# a process whose standard streams go nowhere, so that they never hold a test's output pipe open.
#
# x86: this machine cannot execute i386 code, so run-x86.sh first enters a namespace where it can
# (qemu-i386 in a private binfmt_misc) and comes back here, with ATOMTABLES_X86_CALLER set to the
# caller's uid:gid, for the rest.
set -euo pipefail

arch=$1 prefix=$2
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# What every Wine command is run through (nothing, or a namespace mapping the caller's uid back).
as_caller=()
case $arch in
  x64)
    export WINEARCH=win64
    wine=/usr/lib/wine/wine64
    wineserver=/usr/lib/wine/wineserver64
    [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
    ;;
  x86)
    if [ -z "${ATOMTABLES_X86_CALLER:-}" ]; then
      exec bash "$(dirname "$0")/run-x86.sh" "$prefix" "$@"
    fi
    export WINEARCH=win32
    wine=/usr/lib/wine/wine
    # Debian's 64-bit server runs natively and serves 32-bit clients (see run-x86.sh).
    wineserver=/usr/lib/wine/wineserver64
    [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32
    # Wine checks that the prefix belongs to the uid it runs as: as another user than root, it runs
    # in a nested namespace that maps the namespace's root back to the caller.
    caller_uid=${ATOMTABLES_X86_CALLER%:*} caller_gid=${ATOMTABLES_X86_CALLER#*:}
    unset ATOMTABLES_X86_CALLER
    if [ "$caller_uid" -ne 0 ]; then
      as_caller=(unshare --user --map-user="$caller_uid" --map-group="$caller_gid" --)
    fi
    ;;
  *) echo "run.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac

quiet() { "${as_caller[@]}" "$@" </dev/null >/dev/null 2>&1; }

# Wine writes its registry files lazily, so a marker of our own says the prefix is complete.
ready=$prefix/.prefix-ready

boot() {
  "${as_caller[@]}" mkdir -p "$prefix"
  if [ ! -f "$ready" ]; then
    quiet "$wine" wineboot -i
    # Message boxes appear at once instead of waiting for a window manager.
    quiet "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    "${as_caller[@]}" touch "$ready"
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
exec "${as_caller[@]}" "$wine" "$@"
