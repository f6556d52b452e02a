#!/bin/sh
# Installs, builds and runs every test (unit, end-to-end, window).
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
