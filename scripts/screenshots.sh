#!/bin/sh
# Redraws the pictures of the main window in docs/: the window runs offscreen
# on the demo HIS (CORVANTE mode), answers one worklist query from findscu,
# and is drawn on its "Log" and "Options" tabs.
#   scripts/screenshots.sh [PORT]
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${1:-11113}"
"$root/scripts/build.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/config/TALVEK" "$work/home" "$root/docs"
"$root/examples/make-demo-his.sh" "$work/home/his.db" >/dev/null
sed "s|@PORT@|$port|" "$root/examples/demo-settings.conf" > "$work/config/TALVEK/PACS.conf"
echo "Driver=SQLite3;Database=$work/home/his.db" > "$work/home/CORVANTE.txt"
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen \
  "$root/build/tests/window_screenshots" --home "$work/home" "$root/docs"
