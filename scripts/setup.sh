#!/bin/sh
# Installs every Debian package that building, running and testing the server
# needs, and the further ones named as arguments (the tools of scripts/package.sh
# and scripts/fuzz.sh).
set -e
PACKAGES="g++ cmake ninja-build pkg-config libgtest-dev \
  libdcmtk-dev dcmtk libssl-dev \
  qt6-base-dev libqt6sql6-odbc \
  unixodbc unixodbc-dev libsqliteodbc tdsodbc odbc-mariadb sqlite3 openssl \
  mariadb-server mariadb-client haproxy dicom3tools $*"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
