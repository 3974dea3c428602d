#!/usr/bin/env bash
# The way into Wine for the lanes that run 32-bit code (x86, and the 32-bit side of wow64); called by
# run.sh with run.sh's own arguments:
#
#   enter-i386.sh <lane> <prefix-dir> (--boot | --stop | <program> [args...])
#   enter-i386.sh --how        prints "native" or "emulated": how this machine runs 32-bit code
#
# It only makes a place where i386 code runs and hands over to run.sh again, which does the rest
# (the prefix, the server, the program) as for x64.
#
# Some machines execute i386 code natively: then there is nothing to do. Most of ours cannot (the
# kernel refuses i386 ELF files), so every invocation there enters a user + mount namespace of its
# own (unshare --user --map-root-user --mount), mounts a private binfmt_misc instance there
# (Linux >= 6.7), registers the static qemu-i386 that scripts/setup-x86-lane.sh installed for i386
# ELF files with the F flag, and only then runs Wine. Nothing outside the namespace is changed: the
# host's binfmt_misc is never touched. Every process Wine starts from there (wineboot, services.exe,
# the program's child processes, the 32-bit programs of a 64-bit prefix) is in the same namespace
# and so runs through qemu as well. A prefix that is to run 32-bit code must be created there.
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
# then runs in a nested user namespace that maps the uid back (run.sh); binfmt_misc lookups fall
# through to the parent namespace's instance.
#
# Environment: DISPLAY / XAUTHORITY pass through unchanged (xvfb-run -a works); ATOMTABLES_QEMU_I386
# names the qemu-i386 binary (default /opt/atomtables/qemu-i386, as in scripts/setup-x86-lane.sh).
set -euo pipefail

qemu=${ATOMTABLES_QEMU_I386:-/opt/atomtables/qemu-i386}
wine32=/usr/lib/wine/wine
run=$(dirname "$0")/run.sh

# The 32-bit loader answers --version without a server or a prefix: if it runs here, i386 code does.
runs_natively() { "$wine32" --version >/dev/null 2>&1; }

if [ "${1:-}" = --how ]; then
  if runs_natively; then echo native; else echo emulated; fi
  exit 0
fi

if [ "${1:-}" != --in-namespace ]; then
  # --- Outside: natively, straight back; otherwise check the emulator, then enter the namespace. ----
  if [ $# -lt 3 ]; then
    echo "usage: enter-i386.sh <lane> <prefix-dir> (--boot | --stop | <program> [args...])" >&2
    exit 2
  fi
  if [ ! -x "$wine32" ]; then
    echo "enter-i386.sh: $wine32 is missing; run scripts/setup-x86-lane.sh" >&2
    exit 2
  fi
  if runs_natively; then
    ATOMTABLES_I386=native exec bash "$run" "$@"
  fi
  if [ ! -x "$qemu" ]; then
    echo "enter-i386.sh: $qemu is missing; run scripts/setup-x86-lane.sh" >&2
    exit 2
  fi
  # unshare execs the command (no --fork: no PID namespace, so no extra process), so the exit status
  # of the Windows program comes straight back.
  exec unshare --user --map-root-user --mount -- \
       "${BASH:-bash}" "$0" --in-namespace "$(id -u)" "$(id -g)" "$@"
fi

# --- Inside the namespace ----------------------------------------------------------------------------
shift
outer_uid=$1 outer_gid=$2
shift 2

# A private binfmt_misc instance, registered with qemu-i386 for i386 executables and shared objects
# (e_machine 3, e_type 2 or 3). F: the kernel opens qemu-i386 now, so it is found from any mount
# table and any working directory later.
binfmt=/proc/sys/fs/binfmt_misc
if ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
  # Any empty directory will do (this mount is seen only in this namespace).
  binfmt=${TMPDIR:-/tmp}/atomtables-binfmt-$outer_uid
  mkdir -p "$binfmt"
  mount -t binfmt_misc binfmt_misc "$binfmt" || {
    echo "enter-i386.sh: cannot mount a private binfmt_misc (needs Linux 6.7 or later)" >&2
    exit 2
  }
fi
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register"

# The rest is run.sh's, as the caller's uid (see the head of this file).
ATOMTABLES_I386="$outer_uid:$outer_gid" exec bash "$run" "$@"
