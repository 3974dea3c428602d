#!/usr/bin/env bash
# What can be checked of the packages without installing them, from their tables (msiinfo):
# per-machine, the right platform and launch condition, a major upgrade, every registry row owned by
# a component of the package, and no path of the build machine anywhere.
#   check_packages.sh <folder with the .msi files>
set -euo pipefail
folder=$1
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }

shopt -s nullglob
packages=("$folder"/*.msi)
[ ${#packages[@]} -eq 4 ] || fail "expected 4 packages in $folder, found ${#packages[@]}"
for msi in "${packages[@]}"; do
  name=$(basename "$msi")
  arch=${name##*-}; arch=${arch%.msi}
  suminfo=$(msiinfo suminfo "$msi")
  case $arch in
    x64) grep -q '^Template: x64;1033' <<<"$suminfo" || fail "$name: not a 64-bit package" ;;
    x86) grep -q '^Template: Intel;1033' <<<"$suminfo" || fail "$name: not a 32-bit package" ;;
  esac
  table "$msi" Property | grep -q '^ALLUSERS	1' || fail "$name: not per-machine"
  conditions=$(table "$msi" LaunchCondition | cut -f1)
  case $arch in
    x64) grep -qx VersionNT64 <<<"$conditions" || fail "$name: installs on 32-bit Windows" ;;
    x86) grep -qx "NOT VersionNT64" <<<"$conditions" || fail "$name: installs on 64-bit Windows" ;;
  esac
  table "$msi" Upgrade | grep -q 'WIX_UPGRADE_DETECTED' || fail "$name: no major upgrade"
  table "$msi" InstallExecuteSequence | grep -q '^RemoveExistingProducts' || fail "$name: old versions are not removed"
  components=$(table "$msi" Component | cut -f1)
  rows=$(table "$msi" Registry)
  [ -n "$rows" ] || fail "$name: no registry rows"
  unknown=$(cut -f6 <<<"$rows" | sort -u | grep -vxF -f <(printf '%s\n' "$components") || true)
  [ -z "$unknown" ] || fail "$name: registry rows of unknown components: $unknown"
  if grep -qiE 'Z:\\|/work/|/build/' <<<"$rows"; then fail "$name: a build path in the registry rows"; fi
  table "$msi" CustomAction | grep -q . && fail "$name: custom actions (registration must come from the tables)"
  echo "$name: $(wc -l <<<"$rows") registry rows, $(wc -l <<<"$components") components"
done
[ "$failures" -eq 0 ] && echo "all packages checked" || exit 1
