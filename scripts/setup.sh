#!/usr/bin/env bash
# Installs the Debian packages the project needs, when they are missing.
#
#   setup.sh run    what building and running the program needs: the build
#                   tools, Qt 6, the libraries, the Japanese fonts, Xvfb
#   setup.sh        all of it: also what the tests, the benchmarks and the
#                   package check need (CUPS with cups-pdf, poppler, sqlite3,
#                   the PostgreSQL server and Qt's driver for it, dpkg-dev,
#                   lintian, desktop-file-utils, LibreOffice Calc for the
#                   spreadsheet round trip of CSV取込, the ja_JP.UTF-8 locale)
#
# Idempotent: packages already present are not asked for again.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6sql6-sqlite qt6-qpa-plugins libgl1-mesa-dev
  libicu-dev libsqlite3-dev libpq-dev fonts-noto-cjk libharfbuzz-dev zlib1g-dev qt6-translations-l10n
  xvfb xauth
)
if [ "${1:-all}" != run ]; then
  packages+=(
    cups printer-driver-cups-pdf poppler-utils sqlite3
    dpkg-dev file lintian desktop-file-utils
    postgresql libqt6sql6-psql
    libreoffice-calc-nogui locales
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
# The tests run the program and LibreOffice Calc under a Japanese locale too.
if [ "${1:-all}" != run ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if [ -f /etc/locale.gen ]; then
    $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null || true
  fi
fi
