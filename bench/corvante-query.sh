#!/bin/bash
# Times repeated worklist queries against the headless server in CORVANTE mode:
# a SQLite HIS with 450 open orders, so each query returns the default limit
# of 300 matches. Prints every query's time and the median in milliseconds.
#
# Usage: bench/corvante-query.sh [QUERIES]   (default 30)
# Environment: TALVEK_MWL=/path/to/talvek-mwl uses that binary instead of
# building build/talvek-mwl with scripts/build.sh.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
queries="${1:-30}"
orders=450
expected=300

if [ -n "${TALVEK_MWL:-}" ]; then
  server="$TALVEK_MWL"
else
  "$root/scripts/build.sh" >/dev/null
  server="$root/build/talvek-mwl"
fi
for tool in sqlite3 findscu; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid"
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/config/TALVEK" "$work/home"
sqlite3 "$work/home/his.db" <<SQL
CREATE TABLE xray_worklist (
  worklistid INTEGER PRIMARY KEY, created TEXT NOT NULL, patientid TEXT NOT NULL,
  last_name TEXT, first_name TEXT, middle_name TEXT, birthdate TEXT, gender TEXT,
  is_done INTEGER NOT NULL DEFAULT 0, is_valid INTEGER NOT NULL DEFAULT 1);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $orders)
INSERT INTO xray_worklist
SELECT i, printf('2024-05-%02d 08:%02d:00', 1 + i % 28, i % 60), 'P' || i,
       'LAST' || i, 'FIRST' || i, 'MIDDLE', '1970-01-01', 'M', 0, 1 FROM n;
SQL
echo "Driver=SQLite3;Database=$work/home/his.db" > "$work/home/CORVANTE.txt"

# Loopback port: a random high port that nothing answers on; the server's own
# bind is the final word, so a lost race only means trying another port.
start_server() {
  local attempt port
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + RANDOM % 40000))
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    printf '[Main]\noptTALVEK=False\noptCorvante=True\nWorklistPort=%s\n' "$port" \
      > "$work/config/TALVEK/PACS.conf"
    XDG_CONFIG_HOME="$work/config" "$server" --headless --home "$work/home" \
      > "$work/activity.log" 2> "$work/server.err" &
    server_pid=$!
    for _ in $(seq 1 100); do
      if grep -q "listening on port $port" "$work/server.err"; then
        PORT=$port
        return 0
      fi
      if grep -q "not listening" "$work/server.err" || ! kill -0 "$server_pid" 2>/dev/null; then
        break
      fi
      sleep 0.1
    done
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  done
  echo "the server did not start listening" >&2
  cat "$work/server.err" >&2
  return 1
}
start_server

# Timed queries run with -q: printing 300 datasets (as findscu does by
# default) would cost it more than the server spends. Verbose queries before
# and after the timed ones check the answer: 300 matches, then success.
query() {
  findscu -W "$@" -k PatientName= -k PatientID= \
    -k "ScheduledProcedureStepSequence[0].Modality=CR" \
    -k "ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate=" \
    127.0.0.1 "$PORT" > "$work/findscu.txt" 2>&1
}

verify() {
  local matches
  query -v
  matches=$(grep -c "Find Response.*(Pending" "$work/findscu.txt" || true)
  if [ "$matches" -ne "$expected" ] ||
     ! grep -q "Received Final Find Response (Success)" "$work/findscu.txt"; then
    echo "$1 query: $matches matches instead of $expected, or no success" >&2
    tail -5 "$work/findscu.txt" >&2
    exit 1
  fi
}

echo "talvek-mwl on 127.0.0.1:$PORT, $orders open orders, $queries queries of $expected matches"
verify warm-up
: > "$work/times"
for i in $(seq 1 "$queries"); do
  begin=$(date +%s%N)
  if ! query -q; then
    echo "query $i failed:" >&2
    cat "$work/findscu.txt" >&2
    exit 1
  fi
  end=$(date +%s%N)
  ms=$(awk -v ns=$((end - begin)) 'BEGIN { printf "%.1f", ns / 1e6 }')
  echo "$ms" >> "$work/times"
  printf 'query %2d: %s ms\n' "$i" "$ms"
done
verify last
sort -n "$work/times" | awk '
  { t[NR] = $1 }
  END {
    median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "median: %.1f ms per query (min %.1f, max %.1f, %d queries)\n", median, t[1], t[NR], NR
  }'
