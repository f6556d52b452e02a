#!/bin/sh
# Checks the client caveat of docs/conformance-statement.md that needs a
# client other than DCMTK's: dcmjs-dimse 0.3.3 (npm) takes the pending status
# FF01 for a final one. The server runs headless on 150 copies of the demo
# HIS's open orders (3,000) on a free loopback port, first with the default
# pending status FF01, then with [Network] PendingStatus=FF00; findscu and
# dcmjs-dimse ask it the same worklist query each time, and the matches each
# received are counted.
#   scripts/client-caveats.sh
# Needs node and npm; dcmjs-dimse is installed into a temporary folder.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" >/dev/null
work="$(mktemp -d)"
server=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/config/TALVEK" "$work/home" "$work/node"
"$root/examples/make-demo-his.sh" "$work/home/his.db" >/dev/null
# 150 times the demo's open orders: an answer that takes a while to send.
sqlite3 "$work/home/his.db" "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 149)
  INSERT INTO xray_worklist SELECT worklistid + 100000 * k, created, patientid || '-' || k, last_name,
  first_name, middle_name, birthdate, gender, is_done, is_valid FROM xray_worklist, n
  WHERE worklistid < 100000 AND is_done = 0 AND is_valid = 1;"
echo "Driver=SQLite3;Database=$work/home/his.db" >"$work/home/CORVANTE.txt"
printf '[Settings]\nResultQueryNumber=3000\n' >"$work/config/TALVEK/Modality WorkList.conf"

(cd "$work/node" && npm install --silent --no-audit --no-fund dcmjs-dimse@0.3.3 >/dev/null)
cat >"$work/node/find.js" <<'EOF'
const { Client, constants, requests } = require('dcmjs-dimse');
const client = new Client();
const request = requests.CFindRequest.createWorklistFindRequest({ PatientName: '', PatientID: '' });
let matches = 0;
let final = 'none';
request.on('response', (response) => {
  if (response.hasDataset()) matches += 1;
  else final = response.getStatus().toString(16).toUpperCase().padStart(4, '0');
});
client.on('networkError', (e) => console.log('network error:', e.message));
client.on('closed', () => {
  const pending = constants.Status.Pending.toString(16).toUpperCase();
  console.log(`dcmjs-dimse 0.3.3: ${matches} matches, final status ${final}` +
              ` (it takes only ${pending} for pending)`);
});
client.addRequest(request);
client.send('127.0.0.1', Number(process.argv[2]), 'DCMJS', 'TALVEK');
EOF

# One server run with the pending status given ("" for the default), asked by
# findscu and by dcmjs-dimse.
ask() {
  port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  sed "s|@PORT@|$port|" "$root/examples/demo-settings.conf" >"$work/config/TALVEK/PACS.conf"
  [ -z "$1" ] || printf '[Network]\nPendingStatus=%s\n' "$1" >>"$work/config/TALVEK/PACS.conf"
  XDG_CONFIG_HOME="$work/config" "$root/build/talvek-mwl" --headless --home "$work/home" \
    >"$work/server.log" 2>&1 &
  server=$!
  until grep -q "listening on port $port" "$work/server.log"; do
    kill -0 "$server" 2>/dev/null || { cat "$work/server.log"; exit 1; }
    sleep 0.1
  done
  echo "== pending status ${1:-FF01 (the default)}"
  findscu -v -W -k PatientName= -k PatientID= -k "ScheduledProcedureStepSequence[0].Modality=CR" \
    127.0.0.1 "$port" >"$work/findscu.log" 2>&1
  echo "findscu: $(grep -c 'Find Response: ' "$work/findscu.log") matches," \
    "$(grep -o 'Received Final Find Response.*' "$work/findscu.log")"
  # Its log narrates every PDU; keep the errors and the count.
  (cd "$work/node" && timeout 60 node find.js "$port") | grep -v -e '-- INFO --' -e '^[A-Z ].*:  ' \
    -e '^ ' -e '^$' || true
  grep -i "abort\|release" "$work/server.log" | head -n 3 || true
  kill "$server"
  wait "$server" || true
  server=""
}

ask ""
ask FF00
