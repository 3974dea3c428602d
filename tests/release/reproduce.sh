#!/usr/bin/env bash
# The same commit built a second time, in another folder and later, must give the same release byte
# for byte: the unsigned bundle (DLLs, type libraries, packages, everything in it) and the symbols
# archive. Only what the release needs is built (no tests), from a copy of the sources.
#   reproduce.sh <sources> <first build> <work folder> <SOURCE_DATE_EPOCH of the first build> <bundle name>
set -euo pipefail
sources=$1 first=$2 work=$3 epoch=$4 name=$5
start=$(date +%s)
rm -rf "$work"
mkdir -p "$work/sources"
tar -C "$sources" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$work/sources" -xf -
# The build folder where the first one is, relative to its sources.
relative=$(realpath --relative-to="$sources" "$first")
case $relative in ../*) second=$work/build ;; *) second=$work/sources/$relative ;; esac
env -u ATOMTABLES_SIGN_PKCS12 -u ATOMTABLES_SIGN_PASSWORD_FILE -u ATOMTABLES_SIGN_TIMESTAMP_URL \
  cmake -S "$work/sources" -B "$second" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/sources/cmake/toolchain-x86_64-w64-mingw32.cmake" \
        -DATOMTABLES_TESTS=OFF -DATOMTABLES_BUNDLE=ON -DATOMTABLES_SOURCE_DATE_EPOCH="$epoch" >"$work/configure.log"
env -u ATOMTABLES_SIGN_PKCS12 -u ATOMTABLES_SIGN_PASSWORD_FILE -u ATOMTABLES_SIGN_TIMESTAMP_URL \
  cmake --build "$second" --target bundle -j 2 >"$work/build.log" || { tail -n 30 "$work/build.log"; exit 1; }

status=0
for archive in "unsigned/$name.zip" "$name-symbols.zip"; do
  if cmp -s "$first/dist/$archive" "$second/dist/$archive"; then
    echo "same: $archive ($(stat -c %s "$first/dist/$archive") bytes, SHA-256 $(sha256sum "$first/dist/$archive" | cut -c1-16)...)"
    continue
  fi
  status=1
  echo "FAIL: $archive differs between $first and $second"
  mkdir -p "$work/a" "$work/b"
  (cd "$work/a" && rm -rf ./* && cmake -E tar xf "$first/dist/$archive")
  (cd "$work/b" && rm -rf ./* && cmake -E tar xf "$second/dist/$archive")
  diff -rq "$work/a" "$work/b" | sed 's/^/  /' || true
done
echo "reproducibility check: $(( $(date +%s) - start )) s"
# The second build is over a gigabyte: kept only to look into a difference.
[ "$status" -ne 0 ] || rm -rf "$work"
exit "$status"
