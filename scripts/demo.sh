#!/bin/sh
# Runs the server headless on a demo with settings in a temporary folder:
#   scripts/demo.sh [his|orders] [PORT]
#   his     (default) CORVANTE mode over a SQLite demo HIS made from examples/
#   orders  BRAMWOODS mode over the order files in examples/orders/
# Query it with:
#   findscu -W -k PatientName= -k "ScheduledProcedureStepSequence[0].Modality=CR" 127.0.0.1 11112
# Stop it with Ctrl+C.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
demo="${1:-his}"
port="${2:-11112}"
"$root/scripts/build.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/config/TALVEK" "$work/home"
case "$demo" in
  his)
    "$root/examples/make-demo-his.sh" "$work/home/his.db"
    sed "s|@PORT@|$port|" "$root/examples/demo-settings.conf" > "$work/config/TALVEK/PACS.conf"
    echo "Driver=SQLite3;Database=$work/home/his.db" > "$work/home/CORVANTE.txt"
    ;;
  orders)
    sed "s|@PORT@|$port|; s|@FOLDER@|$root/examples/orders/|" "$root/examples/demo-orders.conf" \
      > "$work/config/TALVEK/PACS.conf"
    ;;
  *)
    echo "usage: $0 [his|orders] [PORT]" >&2
    exit 2
    ;;
esac
XDG_CONFIG_HOME="$work/config" "$root/build/talvek-mwl" --headless --home "$work/home"
