#!/usr/bin/env bash
# Installs the Debian packages the project needs; apt-get runs only when one is missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
      sqlite3 libsqlite3-dev libpq-dev nlohmann-json3-dev lighttpd
      unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql clang
      snmpd snmp libsnmp-dev desktop-file-utils freetds-dev freetds-bin ccache)
# Winelib (the GUI class library's Win32 half) and the X server its tests run on.
pkgs+=(wine64 wine64-tools libwine-dev xvfb x11-apps imagemagick xauth)
# The face the font tests ask for by name.
pkgs+=(fonts-dejavu-core)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
