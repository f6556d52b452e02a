#!/bin/sh
# Installs the Debian package on this machine, checks it, and removes it:
#   sudo scripts/package-check.sh [talvek-mwl_<version>_<arch>.deb]
# (default: the package scripts/package.sh wrote). It changes the system:
# dpkg -i creates the user talvek and /var/lib/talvek; at the end the
# package is removed (the configuration must stay) and then purged. It runs
# the unit's ExecStart by hand as the service user, with the unit's
# capability, so it works on machines where systemd is not running.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="${1:-$(ls "$root"/build-package/package/talvek-mwl_*.deb 2>/dev/null | tail -n 1)}"
unit=/lib/systemd/system/talvek-mwl.service
home=/var/lib/talvek
settings="$home/.config/TALVEK/PACS.conf"

[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root" >&2; exit 2; }
[ -f "$deb" ] || { echo "package-check: no package; run scripts/package.sh" >&2; exit 2; }
if dpkg-query -W -f='${Status}' talvek-mwl 2>/dev/null | grep -q installed; then
  echo "package-check: talvek-mwl is installed already; remove it first" >&2
  exit 2
fi
for tool in findscu systemd-analyze setpriv python3; do
  command -v "$tool" >/dev/null || { echo "package-check: $tool is missing" >&2; exit 2; }
done

work="$(mktemp -d)"
chmod 755 "$work"
server=""
manager=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$manager" ] || kill "$manager" 2>/dev/null || true
  dpkg --purge talvek-mwl >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

step() { printf '\n== %s\n' "$*"; }
ok() { printf 'ok: %s\n' "$*"; }
fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

port_taken() {
  python3 -c 'import socket, sys; s = socket.socket(); sys.exit(s.connect_ex(("127.0.0.1", int(sys.argv[1]))) != 0)' "$1"
}

unit_value() { sed -n "s/^$1=//p" "$unit"; }

set_port() {
  runuser -u talvek -- sed -i "s/^WorklistPort=.*/WorklistPort=$1/" "$settings"
}

# Stands in for systemd's end of the notify protocol (Type=notify): a
# datagram socket the service user may write to; every message becomes a
# line of $notified.
start_manager() {
  notify="$work/notify-$1"
  notified="$work/notified-$1"
  : >"$notified"
  python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)
with open(sys.argv[2], "a", buffering=1) as out:
    while True:
        out.write(s.recv(4096).decode() + "\n")
' "$notify" "$notified" &
  manager=$!
  i=0
  until [ -S "$notify" ]; do
    i=$((i + 1))
    [ "$i" -lt 50 ] || fail "no notify socket"
    sleep 0.1
  done
}

# The unit's ExecStart as the unit's user, in its folder, with its
# environment, ambient capability, bounding set and no new privileges, and
# the notify socket systemd would give it.
start_service() {
  log="$work/service-$1.log"
  start_manager "$1"
  (
    cd "$(unit_value WorkingDirectory)"
    # shellcheck disable=SC2046
    exec setpriv --reuid="$(unit_value User)" --regid="$(unit_value Group)" --init-groups \
      --inh-caps=+net_bind_service --ambient-caps=+net_bind_service \
      --bounding-set=-all,+net_bind_service --no-new-privs \
      env -i PATH=/usr/bin:/bin "$(unit_value Environment)" NOTIFY_SOCKET="$notify" \
      $(unit_value ExecStart)
  ) >"$log" 2>&1 &
  server=$!
  i=0
  until grep -q "listening on port $1" "$log"; do
    i=$((i + 1))
    [ "$i" -lt 100 ] && kill -0 "$server" 2>/dev/null || { cat "$log"; fail "not listening on $1"; }
    sleep 0.1
  done
  ok "ExecStart as $(ps -o user= -p "$server") (pid $server) listens on port $1"
  i=0
  until grep -q "^READY=1$" "$notified" && grep -q "^STATUS=Listening on port $1 " "$notified"; do
    i=$((i + 1))
    [ "$i" -lt 50 ] || { cat "$notified"; fail "no READY=1 and STATUS from the service"; }
    sleep 0.1
  done
  ok "told the service manager: $(grep '^STATUS=' "$notified" | tail -n 1)"
}

stop_manager() {
  [ -z "$manager" ] || kill "$manager" 2>/dev/null || true
  manager=""
}

# The demo HIS answers twenty open x-ray orders.
query() {
  out="$work/find-$1"
  mkdir -p "$out"
  findscu -v -W -k PatientName= -k PatientID= -k "ScheduledProcedureStepSequence[0].Modality=CR" \
    127.0.0.1 "$1" -X -od "$out" >"$out/findscu.log" 2>&1 || { cat "$out/findscu.log"; fail "findscu"; }
  grep -q "Received Final Find Response (Success)" "$out/findscu.log" || fail "no success status"
  matches="$(ls "$out"/rsp*.dcm | wc -l)"
  [ "$matches" -eq 20 ] || fail "$matches matches instead of 20"
  ok "findscu on port $1: $matches matches, then success"
}

step "dpkg -i $(basename "$deb")"
dpkg -i "$deb"
dpkg-query -W -f='${Package} ${Version}\n' talvek-mwl

step "the program in /usr/bin"
[ "$(command -v talvek-mwl)" = /usr/bin/talvek-mwl ] || fail "talvek-mwl is not /usr/bin/talvek-mwl"
! ldd /usr/bin/talvek-mwl | grep "not found" || fail "unresolved libraries"
/usr/bin/talvek-mwl --help | head -n 1
ok "/usr/bin/talvek-mwl runs"

step "systemd-analyze verify $unit"
systemd-analyze verify "$unit"
ok "the unit verifies"
[ "$(unit_value Type)" = notify ] || fail "the unit is not Type=notify"
[ -n "$(unit_value WatchdogSec)" ] || fail "the unit keeps no watchdog"
ok "Type=notify with WatchdogSec=$(unit_value WatchdogSec)"
[ ! -e /etc/systemd/system/multi-user.target.wants/talvek-mwl.service ] || fail "the unit is enabled"
ok "the unit is not enabled"

step "the service user and its home folder"
getent passwd talvek
[ "$(getent passwd talvek | cut -d: -f6)" = "$home" ] || fail "home folder is not $home"
ls -la "$home" "$home/orders" "$home/.config/TALVEK"
ok "user talvek with $home"

step "ExecStart on a free loopback port"
port="$(free_port)"
set_port "$port"
start_service "$port"
query "$port"
started=$(date +%s%N)
kill -TERM "$server"
status=0
wait "$server" || status=$?
server=""
elapsed=$((($(date +%s%N) - started) / 1000000))
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
[ "$elapsed" -lt 5000 ] || fail "SIGTERM took $elapsed ms"
ok "SIGTERM: exit status 0 after $elapsed ms"
grep -q "^STOPPING=1$" "$notified" || fail "no STOPPING=1"
ok "told the service manager: STOPPING=1"
stop_manager

step "ExecStart on the default port 105 through the ambient capability"
set_port 105
if port_taken 105; then
  echo "port 105 is taken on this machine; the service stays on port $port"
  set_port "$port"
  start_service "$port"
else
  start_service 105
  query 105
fi

step "dpkg -r while the service runs"
running="$server"
dpkg -r talvek-mwl
server=""
# Ended, it is a zombie child of this script until it is waited for.
case "$(ps -o stat= -p "$running" || true)" in
  "" | Z*) wait "$running" || true ;;
  *) fail "pid $running still runs" ;;
esac
! pgrep -u talvek >/dev/null || fail "processes of talvek remain: $(pgrep -u talvek)"
ok "no process left"
[ -f "$settings" ] && [ -f "$home/CORVANTE.txt" ] && [ -f "$home/his.db" ] ||
  fail "the configuration went with the package"
getent passwd talvek >/dev/null || fail "the user went with the package"
ok "configuration kept: $(ls "$home" | tr '\n' ' ')"

step "dpkg --purge"
dpkg --purge talvek-mwl
[ ! -e "$home" ] || fail "$home is still there"
! getent passwd talvek >/dev/null || fail "the user talvek is still there"
ok "purged: no $home, no user talvek"

printf '\npackage check passed\n'
