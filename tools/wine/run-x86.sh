#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine in a private prefix; called by run.sh for "x86".
#
#   run-x86.sh <prefix-dir> <program> [args...]
#   run-x86.sh <prefix-dir> --boot      starts the prefix afresh (kills a running server)
#   run-x86.sh <prefix-dir> --stop      stops the prefix's server
#
# Behaves as run.sh does for x64; only the mechanism differs. This machine cannot execute i386 code,
# so every invocation enters a user + mount namespace of its own (unshare --user --map-root-user
# --mount), mounts a private binfmt_misc instance there (Linux >= 6.7), registers the static
# qemu-i386 that scripts/setup-x86-lane.sh installed for i386 ELF files with the F flag, and only then
# runs the 32-bit Wine loader. Nothing outside the namespace is changed: the host's binfmt_misc is
# never touched. Every process Wine starts from there (wineboot, services.exe, the program's child
# processes) is in the same namespace and so runs through qemu as well.
#
# The server is Debian's 64-bit wineserver, which runs natively and serves 32-bit clients: the 32-bit
# loader starts /usr/lib/wine/wineserver (it does not consult WINESERVER when that file exists), a
# Debian script that runs wineserver64 -p0 whenever wine64 is installed. The 32-bit wineserver32 works
# as well but would itself run under qemu. The server outlives the invocation that started it and
# keeps that namespace alive; clients of later invocations reach it through its socket (Debian's Wine
# keeps it in a random /tmp/wine-XXXXXX directory whose name it writes to <prefix>/wineserver), which
# every namespace sees, since only the mount table is private and the same uid is seen inside
# (below). -k and -w go to the same 64-bit server binary. No PID namespace, so no --fork: unshare
# execs, and the process a caller waits for (and a CTest timeout kills) is the Wine loader itself.
#
# As root, root is mapped to root. Otherwise the namespace's root is the caller's uid; to let Wine
# see the caller's own uid (it checks that the prefix and its server directory belong to it) Wine
# then runs in a nested user namespace that maps the uid back; binfmt_misc lookups fall through to
# the parent namespace's instance.
#
# Environment: WINEDEBUG (default -all), WINEDLLOVERRIDES (default mscoree,mshtml=) as in run.sh;
# DISPLAY / XAUTHORITY pass through unchanged (xvfb-run -a works); ATOMTABLES_QEMU_I386 names the
# qemu-i386 binary (default /opt/atomtables/qemu-i386, as in scripts/setup-x86-lane.sh).
set -euo pipefail

qemu=${ATOMTABLES_QEMU_I386:-/opt/atomtables/qemu-i386}
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32

if [ "${1:-}" != --in-namespace ]; then
  # --- Outside: check the lane is installed, then enter the namespace (this script again). ---------
  if [ $# -lt 2 ]; then
    echo "usage: run-x86.sh <prefix-dir> (--boot | --stop | <program> [args...])" >&2
    exit 2
  fi
  for f in "$qemu" "$wine" "$wineserver"; do
    if [ ! -x "$f" ]; then
      echo "run-x86.sh: $f is missing; run scripts/setup-x86-lane.sh" >&2
      exit 2
    fi
  done
  # unshare execs the command (no --fork: no PID namespace, so no extra process), so the exit status
  # of the Windows program comes straight back.
  exec unshare --user --map-root-user --mount -- \
       "${BASH:-bash}" "$0" --in-namespace "$(id -u)" "$(id -g)" "$@"
fi

# --- Inside the namespace ----------------------------------------------------------------------------
shift
outer_uid=$1 outer_gid=$2 prefix=$3
shift 3

# A private binfmt_misc instance, registered with qemu-i386 for i386 executables and shared objects
# (e_machine 3, e_type 2 or 3). F: the kernel opens qemu-i386 now, so it is found from any mount
# table and any working directory later.
binfmt=/proc/sys/fs/binfmt_misc
if ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
  # Any empty directory will do (this mount is seen only in this namespace).
  binfmt=${TMPDIR:-/tmp}/atomtables-binfmt-$outer_uid
  mkdir -p "$binfmt"
  mount -t binfmt_misc binfmt_misc "$binfmt" || {
    echo "run-x86.sh: cannot mount a private binfmt_misc (needs Linux 6.7 or later)" >&2
    exit 2
  }
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register"

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win32

# Runs a command as the caller's own uid (see the head of this file).
if [ "$outer_uid" -eq 0 ]; then
  as_caller() { "$@"; }
else
  as_caller() {
    unshare --user --map-user="$outer_uid" --map-group="$outer_gid" -- "$@"
  }
fi

quiet() { as_caller "$@" </dev/null >/dev/null 2>&1; }

# Wine writes its registry files lazily, so a marker of our own says the prefix is complete.
ready=$prefix/.prefix-ready

boot() {
  as_caller mkdir -p "$prefix"
  if [ ! -f "$ready" ]; then
    quiet "$wine" wineboot -i
    # Message boxes appear at once instead of waiting for a window manager.
    quiet "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    as_caller touch "$ready"
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
if [ "$outer_uid" -eq 0 ]; then
  exec "$wine" "$@"
else
  exec unshare --user --map-user="$outer_uid" --map-group="$outer_gid" -- "$wine" "$@"
fi
