#!/usr/bin/env bash
# Generates the Unix locales that give the code-page prefixes their ANSI code page: Wine takes it
# from the locale it runs in (ja_JP.UTF-8: 932, zh_CN.UTF-8: 936, ko_KR.UTF-8: 949), but only when
# that locale exists on the machine; a missing one silently gives 1252. Debian's `locales` ships
# them ungenerated. Idempotent: a fast no-op when `locale -a` lists them all.
#
#   scripts/setup-locales.sh [LOCALE...]     default: ja_JP.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8
#
# Changes the system: enables the locales in /etc/locale.gen and runs locale-gen, as root (through
# sudo when not root), and says so.
set -euo pipefail

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=(ja_JP.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8)

# shellcheck source=scripts/apt-lib.sh
. "$(dirname "$0")/apt-lib.sh"

# `locale -a` spells them ja_JP.utf8.
have() { locale -a 2>/dev/null | grep -qix "${1%%.*}.utf-\?8"; }

missing=()
for l in "${wanted[@]}"; do have "$l" || missing+=("$l"); done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! dpkg-query -W -f='${Status}' locales 2>/dev/null | grep -q 'install ok installed'; then
  echo "setup-locales: installing locales"
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  as_root apt-get install -y -qq --no-install-recommends locales
fi
echo "setup-locales: generating ${missing[*]} (system-wide: /etc/locale.gen, locale-gen, as root)"
for l in "${missing[@]}"; do
  line="$l ${l#*.}"
  if grep -qx "# *$line" /etc/locale.gen; then
    as_root sed -i "s/^# *$line\$/$line/" /etc/locale.gen
  elif ! grep -qx "$line" /etc/locale.gen; then
    echo "$line" | as_root tee -a /etc/locale.gen >/dev/null
  fi
done
as_root locale-gen --keep-existing >/dev/null
for l in "${missing[@]}"; do
  have "$l" || { echo "setup-locales: error: $l is still missing after locale-gen" >&2; exit 1; }
done
