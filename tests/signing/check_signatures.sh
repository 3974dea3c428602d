#!/usr/bin/env bash
# Every PE file and package of the unpacked bundle carries an Authenticode signature that
# osslsigncode verifies against the run's throwaway root, and one changed byte breaks it.
#   check_signatures.sh <unpacked bundle>
# The root is $ATOMTABLES_TEST_SIGNING_ROOT, which scripts/test.sh sets when it makes the identity
# the lanes' bundles are signed with.
set -euo pipefail
bundle=$1
root=${ATOMTABLES_TEST_SIGNING_ROOT:-}
if [ -z "$root" ] || [ ! -f "$root" ]; then
  echo "FAIL: no throwaway root (ATOMTABLES_TEST_SIGNING_ROOT): run the lane through scripts/test.sh, which signs its bundle"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shopt -s nullglob
files=("$bundle"/x64/*.dll "$bundle"/x64/*.exe "$bundle"/x86/*.dll "$bundle"/x86/*.exe "$bundle"/installers/*.msi)
failures=0 pe=0 packages=0
for file in "${files[@]}"; do
  name=${file#"$bundle"/}
  if osslsigncode verify -CAfile "$root" -in "$file" >"$work/log" 2>&1; then
    case $file in *.msi) packages=$((packages + 1)) ;; *) pe=$((pe + 1)) ;; esac
    grep -q 'Message digest algorithm *: SHA256' "$work/log" || { echo "FAIL $name: not a SHA-256 signature"; failures=$((failures + 1)); }
  else
    echo "FAIL $name: $(grep -m1 -iE 'fail|error|no signature' "$work/log" || tail -n1 "$work/log")"
    failures=$((failures + 1))
  fi
done
# A copy with one byte changed in its middle no longer verifies.
copy=$work/changed.dll
cp "$bundle/x64/AtomTables10.dll" "$copy"
size=$(stat -c %s "$copy")
byte=$(od -An -tu1 -j $((size / 2)) -N1 "$copy" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$copy" bs=1 seek=$((size / 2)) conv=notrunc status=none
if osslsigncode verify -CAfile "$root" -in "$copy" >/dev/null 2>&1; then
  echo "FAIL: a copy of x64/AtomTables10.dll with one byte changed still verifies"; failures=$((failures + 1))
fi
[ "$pe" -ge 4 ] || { echo "FAIL: only $pe signed PE files"; failures=$((failures + 1)); }
[ "$packages" -ge 4 ] || { echo "FAIL: only $packages signed packages"; failures=$((failures + 1)); }
echo "$pe PE files and $packages packages signed and verified against $(openssl x509 -in "$root" -noout -subject)"
exit "$failures"
