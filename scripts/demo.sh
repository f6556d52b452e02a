#!/bin/sh
# Runs the server headless on the demo HIS (a SQLite database made from
# examples/) in CORVANTE mode on port 11112, with settings in a temporary
# folder. Query it with:
#   findscu -W -k PatientName= -k "ScheduledProcedureStepSequence[0].Modality=CR" 127.0.0.1 11112
# Stop it with Ctrl+C.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${1:-11112}"
"$root/scripts/build.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/config/TALVEK" "$work/home"
"$root/examples/make-demo-his.sh" "$work/home/his.db"
sed "s/@PORT@/$port/" "$root/examples/demo-settings.conf" > "$work/config/TALVEK/PACS.conf"
echo "Driver=SQLite3;Database=$work/home/his.db" > "$work/home/CORVANTE.txt"
XDG_CONFIG_HOME="$work/config" "$root/build/talvek-mwl" --headless --home "$work/home"
