#!/usr/bin/env bash
# Installs what the lanes that run 32-bit code (x86, wow64) need. Idempotent: a fast no-op when all
# is there.
#
#   1. the i386 architecture for dpkg, and Debian's 32-bit Wine (wine32:i386, beside wine64);
#   2. where this machine cannot execute 32-bit x86 code: a static qemu-i386 (10.x) taken from the
#      backports suite's qemu-user package, extracted into a project-private place (never installed
#      as a package, never registered globally).
#
# Most of our machines cannot execute 32-bit x86 code, and Debian 12's own qemu (7.2) cannot run
# Wine, so tools/wine/enter-i386.sh runs 32-bit Wine through that qemu-i386, registered in a
# private binfmt_misc inside a user namespace. Machines that run i386 code natively need no qemu.
#
# Where the qemu binary goes: $ATOMTABLES_QEMU_I386 (default /opt/atomtables/qemu-i386); the private
# apt state used to fetch it lives in $ATOMTABLES_LANE_DIR (default /opt/atomtables/x86-lane).
# enter-i386.sh reads the same variable, so change both or neither.
#
# The archive's address is taken from this machine's own apt source entries at run time; the
# system's apt sources are not changed. Any failure exits non-zero: the lane is required.
set -euo pipefail

qemu=${ATOMTABLES_QEMU_I386:-/opt/atomtables/qemu-i386}
lane_dir=${ATOMTABLES_LANE_DIR:-/opt/atomtables/x86-lane}
qemu_min_major=10

say() { echo "setup-x86-lane: $*"; }
die() { echo "setup-x86-lane: error: $*" >&2; exit 1; }
# shellcheck source=scripts/apt-lib.sh
. "$(dirname "$0")/apt-lib.sh"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

export DEBIAN_FRONTEND=noninteractive
host_arch=$(dpkg --print-architecture)
[ "$host_arch" = amd64 ] || die "expected an amd64 host, found $host_arch"

# --- 1. wine32:i386 ---------------------------------------------------------------------------
# winex11 loads the X extension libraries at run time; the x64 lane has their amd64 builds, so the
# x86 lane gets the i386 ones and both lanes see the same display features.
i386_packages=(
  wine32:i386
  libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxfixes3:i386
  libxinerama1:i386 libxcomposite1:i386
)
missing=()
for p in "${i386_packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture to dpkg"
    as_root dpkg --add-architecture i386
  fi
  say "installing ${missing[*]}"
  apt_update
  # wine32 must come in the very version of the installed wine64: libwine is Multi-Arch: same, so
  # apt has to keep libwine:amd64 and libwine:i386 equal. Refuse a plan that removes anything or
  # replaces an installed Wine package rather than let apt change the x64 lane behind our back.
  # (Other amd64 libraries may be lifted to the version of their new i386 twin; that is harmless.)
  #
  # Multi-Arch: same libraries must come in one version for both architectures. When the mirror
  # serves the security suite's i386 index out of step with its Release file (it does while it
  # syncs), apt drops that index and the two architectures no longer agree on any version. The
  # lane then resolves from the release's own suites alone (main and updates, still verified):
  # a few amd64 libraries may move to the release's version of their i386 twin.
  apt_options=()
  if ! sim=$(as_root apt-get install -s --no-install-recommends "${missing[@]}" 2>&1); then
    prefs="$lane_dir/etc/release-only.pref"
    as_root mkdir -p "$lane_dir/etc"
    as_root tee "$prefs" >/dev/null <<'PREF'
Package: *
Pin: release l=Debian-Security
Pin-Priority: -1

Package: *
Pin: release o=Debian
Pin-Priority: 1001
PREF
    say "apt cannot match the architectures' versions with the security suite's lists as they are;"
    say "resolving from the release's own suites ($prefs)"
    apt_options=(-o "Dir::Etc::Preferences=$prefs")
    sim=$(as_root apt-get "${apt_options[@]}" install -s --no-install-recommends "${missing[@]}" 2>&1) \
      || { echo "$sim" >&2; die "apt cannot install ${missing[*]}"; }
  fi
  if grep -E '^(Remv |Inst (lib)?wine[^ ]* \[)' <<<"$sim"; then
    die "installing ${missing[*]} would remove or replace installed packages (lines above)"
  fi
  as_root apt-get "${apt_options[@]}" install -y -qq --no-install-recommends --allow-downgrades "${missing[@]}"
fi
for p in "${i386_packages[@]}"; do installed "$p" || die "$p is not installed"; done

# The loader and the versions of both Wines.
wine32_loader=/usr/lib/wine/wine
[ -x "$wine32_loader" ] || die "$wine32_loader (from wine32:i386) is missing"
readelf -h "$wine32_loader" 2>/dev/null | grep -q 'Machine:.*80386' \
  || die "$wine32_loader is not an i386 program"
v64=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null || true)
v32=$(dpkg-query -W -f='${Version}' libwine:i386)
[ -z "$v64" ] || [ "$v64" = "$v32" ] || die "libwine:amd64 $v64 and libwine:i386 $v32 differ"

# --- 2. qemu-i386 from the backports suite ----------------------------------------------------
qemu_ok() {
  [ -x "$qemu" ] || return 1
  # Static: it must run with no loader of its own (the F flag keeps it open for every namespace).
  readelf -l "$qemu" 2>/dev/null | grep -q 'Requesting program interpreter' && return 1
  local v
  v=$("$qemu" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9][0-9]*\)\..*/\1/p')
  [ -n "$v" ] && [ "$v" -ge "$qemu_min_major" ]
}

# Prints the machine's Debian archive URI (the one serving the release's main suite).
debian_uri() {
  local codename=$1 f
  # deb822 entries: a stanza whose Suites has the bare codename.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uris != "") {
          split(uris, u, " "); print u[1]; found = 1; exit
        }
        types = suites = uris = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "types:"  { $1 = ""; types = $0 }
      tolower($1) == "suites:" { $1 = ""; suites = $0 }
      tolower($1) == "uris:"   { $1 = ""; uris = $0 }
      END { if (!found) flush() }
    ' "$f" | sed 's/^ *//' | head -n1
  done
  # One-line entries: deb [options] URI suite components...
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" \
      | awk -v suite="$codename" '$1 == "deb" && $3 == suite { print $2; exit }'
  done
}

if [ "$(bash "$(dirname "$0")/../tools/wine/enter-i386.sh" --how)" = native ]; then
  say "this machine runs i386 code natively: no emulator needed"
elif qemu_ok; then
  say "qemu-i386 present: $qemu ($("$qemu" --version | head -n1))"
else
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell the Debian release (VERSION_CODENAME)"
  uri=$(debian_uri "$codename" | head -n1)
  [ -n "$uri" ] || die "no apt source entry for suite '$codename' found in /etc/apt"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  [ -f "$keyring" ] || die "$keyring is missing (package debian-archive-keyring)"
  say "fetching qemu-user from $codename-backports (private apt state in $lane_dir)"

  as_root mkdir -p "$lane_dir/etc/sources.list.d" "$lane_dir/lists/partial" \
                   "$lane_dir/cache/archives/partial" "$lane_dir/deb"
  as_root tee "$lane_dir/etc/backports.sources" >/dev/null <<EOF
Types: deb
URIs: $uri
Suites: $codename-backports
Components: main
Architectures: $host_arch
Signed-By: $keyring
EOF
  apt_private=(
    -o "Dir::Etc::SourceList=$lane_dir/etc/backports.sources"
    -o "Dir::Etc::SourceParts=$lane_dir/etc/sources.list.d"
    -o "Dir::State::Lists=$lane_dir/lists"
    -o "Dir::Cache=$lane_dir/cache"
    -o "APT::Get::List-Cleanup=0"
  )
  apt_update "${apt_private[@]}"
  version=$(as_root apt-cache "${apt_private[@]}" madison qemu-user \
              | awk -F'|' -v s="$codename-backports" '$3 ~ s { gsub(/ /, "", $2); print $2; exit }')
  [ -n "$version" ] || die "qemu-user not found in $codename-backports"
  say "qemu-user $version"
  as_root find "$lane_dir/deb" -maxdepth 1 -name '*.deb' -delete
  # apt-get download writes to the current directory.
  (cd "$lane_dir/deb" && as_root apt-get "${apt_private[@]}" -o APT::Sandbox::User=root \
     download -qq "qemu-user=$version")
  deb=$(ls -1t "$lane_dir"/deb/qemu-user_*.deb | head -n1)
  [ -f "$deb" ] || die "download of qemu-user $version failed"

  tmp=$(as_root mktemp -d "$lane_dir/extract.XXXXXX")
  trap 'as_root rm -rf "$tmp"' EXIT
  as_root dpkg-deb -x "$deb" "$tmp"
  found=$(as_root find "$tmp" -type f -name qemu-i386 -path '*/bin/*' -print | head -n1)
  [ -n "$found" ] || die "no qemu-i386 in $deb"
  as_root mkdir -p "$(dirname "$qemu")"
  as_root install -m 0755 "$found" "$qemu.new"
  as_root mv -f "$qemu.new" "$qemu"
  qemu_ok || die "$qemu does not work or is not a static qemu ${qemu_min_major}.x or later"
  say "qemu-i386 installed: $qemu ($("$qemu" --version | head -n1))"
fi

say "ready: wine32 $v32 ($wine32_loader), 32-bit code $(bash "$(dirname "$0")/../tools/wine/enter-i386.sh" --how)"
