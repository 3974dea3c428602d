#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix of the build tree.
#
#   run.sh <lane> <prefix-dir> <program> [args...]
#   run.sh <lane> <prefix-dir> --boot      starts the prefix afresh (kills a running server)
#   run.sh <lane> <prefix-dir> --stop      stops the prefix's server
#
# Lanes: x64 (64-bit Windows without its 32-bit side), x86 (32-bit Windows), wow64 (64-bit Windows
# with its 32-bit side, where 64-bit and 32-bit programs run side by side).
#
# The prefix is created on first use. Wine's server and its helper processes are always started by
# a process whose standard streams go nowhere, so that they never hold a test's output pipe open.
#
# x86 and wow64 run 32-bit code: enter-i386.sh first makes sure it can (natively, or through
# qemu-i386 in a private binfmt_misc) and comes back here with ATOMTABLES_I386 set, for the rest.
set -euo pipefail

lane=$1 prefix=$2
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Debian's 64-bit server runs natively and serves 32-bit clients too (see enter-i386.sh).
wineserver=/usr/lib/wine/wineserver64
# What every Wine command is run through (nothing, or a namespace mapping the caller's uid back).
as_caller=()
emulated=
case $lane in
  x64|x86|wow64) ;;
  *) echo "run.sh: unknown lane '$lane' (x64, x86 or wow64)" >&2; exit 2 ;;
esac
if [ "$lane" != x64 ]; then
  if [ -z "${ATOMTABLES_I386:-}" ]; then
    exec bash "$(dirname "$0")/enter-i386.sh" "$lane" "$prefix" "$@"
  fi
  # Inside the emulator's namespace Wine checks that the prefix belongs to the uid it runs as: as
  # another user than root, it runs in a nested namespace that maps the namespace's root back.
  if [ "$ATOMTABLES_I386" != native ]; then
    caller_uid=${ATOMTABLES_I386%:*} caller_gid=${ATOMTABLES_I386#*:}
    if [ "$caller_uid" -ne 0 ]; then
      as_caller=(unshare --user --map-user="$caller_uid" --map-group="$caller_gid" --)
    fi
  fi
  [ "$ATOMTABLES_I386" = native ] || emulated=1
  unset ATOMTABLES_I386
fi
if [ "$lane" = x86 ]; then
  export WINEARCH=win32
  wine=/usr/lib/wine/wine
  [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32
else
  # A 64-bit prefix; in the wow64 lane it was created where 32-bit code runs, so its 32-bit side
  # (syswow64) works: wine64 hands every 32-bit program to the 32-bit loader.
  export WINEARCH=win64
  wine=/usr/lib/wine/wine64
  [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
fi

quiet() { "${as_caller[@]}" "$@" </dev/null >/dev/null 2>&1; }

# Wine writes its registry files lazily, so a marker of our own says the prefix is complete.
ready=$prefix/.prefix-ready

boot() {
  "${as_caller[@]}" mkdir -p "$prefix"
  if [ ! -f "$ready" ]; then
    quiet "$wine" wineboot -i
    # Message boxes appear at once instead of waiting for a window manager.
    quiet "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    # Under the emulator winedbg cannot attach to a crashed program ("Can't attach process"), and
    # the program then waits for it until the test's timeout: a debugger that does nothing lets it
    # end at once (in both registry views, for 32-bit and 64-bit programs).
    if [ -n "$emulated" ]; then
      for view in /reg:32 /reg:64; do
        quiet "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
          /d 'cmd.exe /c rem %ld %ld' /f "$view" || true
      done
    fi
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
