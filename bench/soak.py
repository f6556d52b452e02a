#!/usr/bin/env python3
"""Soak test of talvek-mwl's association layer.

Starts talvek-mwl --headless in CORVANTE mode over a SQLite HIS of --orders
open orders, on a free loopback port (127.0.0.1 only), then:

  1. queries  --clients findscu clients query in a loop for --seconds
              seconds (every fourth run sends three queries on one
              association); every answer is checked match by match: the
              final status is success and the matches are exactly the open
              orders, each with its own patient ID and name.
  2. churn    --associations sequential associations from this script, each
              a C-ECHO and then, in turn, a release, an A-ABORT or a plain
              close of the connection; every 1,000th is an echoscu run.
  3. at last  echoscu and one more checked findscu query must still succeed.

The server's thread count, memory mappings (/proc/PID/maps) and resident
memory are shown after every worker has served once, after the queries and
after the churn (each time after a query, which starts a fresh activity log).
Exit status 0 when every answer was right, the port still answers and the
threads and mappings are back where they were; 1 when not; 2 when the soak
could not run.

Usage: bench/soak.py [--clients 16] [--seconds 60] [--associations 40000]
Python 3 standard library only; needs findscu and echoscu (package dcmtk).
"""

import argparse
import os
import re
import shutil
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
VERIFICATION = b"1.2.840.10008.1.1"
IMPLICIT_LE = b"1.2.840.10008.1.2"
KEYS = ["-k", "PatientName=", "-k", "PatientID=",
        "-k", "ScheduledProcedureStepSequence[0].Modality=CR"]


class SoakError(Exception):
    pass


def note(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- server


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def expected_orders(count):
    """Patient ID -> Patient's Name, as the server builds it (last^first^middle)."""
    return {f"P{i:07d}": f"LAST{i:07d}^FIRST{i % 100:02d}^M{i:07d}" for i in range(1, count + 1)}


def write_his(path, orders):
    db = sqlite3.connect(path)
    db.execute("""CREATE TABLE xray_worklist (
        worklistid INTEGER PRIMARY KEY, created TEXT NOT NULL, patientid TEXT NOT NULL,
        last_name TEXT, first_name TEXT, middle_name TEXT, birthdate TEXT, gender TEXT,
        is_done INTEGER NOT NULL DEFAULT 0, is_valid INTEGER NOT NULL DEFAULT 1)""")
    rows = []
    for number, (patient, name) in enumerate(sorted(orders.items()), 1):
        last, first, middle = name.split("^")
        rows.append((number, "2026-12-01 08:00:00", patient, last, first, middle,
                     "1970-01-01", "MF"[number % 2]))
    db.executemany("INSERT INTO xray_worklist VALUES (?, ?, ?, ?, ?, ?, ?, ?, 0, 1)", rows)
    db.commit()
    db.close()


class Server:
    def __init__(self, binary, work, orders):
        self.work, self.orders = work, orders
        config, home = work / "config" / "TALVEK", work / "home"
        config.mkdir(parents=True)
        home.mkdir()
        write_his(home / "his.db", orders)
        (home / "CORVANTE.txt").write_text(f"Driver=SQLite3;Database={home / 'his.db'}\n")
        self.port = free_port()
        (config / "PACS.conf").write_text(
            f"[Main]\noptTALVEK=False\noptCorvante=True\nWorklistPort={self.port}\n")
        env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"))
        self.log = work / "activity.log"
        errors = work / "server.err"
        with open(self.log, "w") as out, open(errors, "w") as err:
            self.proc = subprocess.Popen([str(binary), "--headless", "--home", str(home)],
                                         stdout=out, stderr=err, env=env)
        deadline = time.monotonic() + 15
        while f"listening on port {self.port}" not in errors.read_text(errors="replace"):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise SoakError("talvek-mwl did not start: " + errors.read_text(errors="replace"))
            time.sleep(0.05)

    def figures(self):
        """(threads, mappings, RSS in kB) from /proc."""
        status = Path(f"/proc/{self.proc.pid}/status").read_text()
        threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
        rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
        with open(f"/proc/{self.proc.pid}/maps") as maps:
            mappings = sum(1 for _ in maps)
        return threads, mappings, rss

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise SoakError("talvek-mwl did not stop within 10 s of SIGTERM")
        return self.proc.returncode


# ---------------------------------------------------------------- findscu


RESPONSE = re.compile(r"Find Response: \d+ \(Pending")
PATIENT_ID = re.compile(r"\(0010,0020\) LO \[([^\]]*)\]")
PATIENT_NAME = re.compile(r"\(0010,0010\) PN \[([^\]]*)\]")


def check_answers(output, orders, queries):
    """Checks findscu -v output holding `queries` answers; returns the
    problems found (empty when every answer is right)."""
    problems = []
    finals = output.count("Received Final Find Response (Success)")
    if finals != queries:
        problems.append(f"{finals} of {queries} queries ended in success")
    answers = output.split("Sending Find Request")[1:]
    if len(answers) != queries:
        problems.append(f"{len(answers)} answers for {queries} queries")
    for answer in answers:
        blocks = RESPONSE.split(answer)[1:]
        seen = {}
        for block in blocks:
            patient = PATIENT_ID.search(block)
            name = PATIENT_NAME.search(block)
            if not patient or not name:
                problems.append("a match without patient ID or name")
                continue
            seen.setdefault(patient.group(1), []).append(name.group(1).rstrip())
        if len(blocks) != len(orders):
            problems.append(f"{len(blocks)} matches instead of {len(orders)}")
        for patient, names in seen.items():
            if len(names) > 1:
                problems.append(f"{patient} came {len(names)} times")
            if orders.get(patient) != names[0]:
                problems.append(f"{patient}: {names[0]!r}, expected {orders.get(patient)!r}")
        missing = set(orders) - set(seen)
        if missing:
            problems.append(f"{len(missing)} orders missing, e.g. {sorted(missing)[0]}")
    return problems


def query(port, orders, repeat=1):
    command = ["findscu", "-W", "-v"] + (["--repeat", str(repeat)] if repeat > 1 else [])
    result = subprocess.run(command + KEYS + ["127.0.0.1", str(port)],
                            capture_output=True, text=True, errors="replace", timeout=120)
    problems = check_answers(result.stdout + result.stderr, orders, repeat)
    if result.returncode != 0:
        problems.append(f"findscu exit status {result.returncode}")
    return problems


def run_clients(port, orders, clients, seconds):
    deadline = time.monotonic() + seconds
    counts = {"runs": 0, "queries": 0, "bad": 0}
    failures = []
    lock = threading.Lock()

    def client(number):
        run = 0
        while time.monotonic() < deadline:
            repeat = 3 if run % 4 == 3 else 1
            problems = query(port, orders, repeat)
            with lock:
                counts["runs"] += 1
                counts["queries"] += repeat
                if problems:
                    counts["bad"] += 1
                    failures.append(f"client {number}, run {run}: " + "; ".join(problems[:3]))
            run += 1

    threads = [threading.Thread(target=client, args=(n,)) for n in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return counts, failures


# ---------------------------------------------------------------- raw associations


def item(kind, content):
    return bytes([kind, 0]) + struct.pack(">H", len(content)) + content


def associate_request():
    body = struct.pack(">HH", 1, 0) + b"ANY-SCP".ljust(16) + b"SOAK".ljust(16) + bytes(32)
    body += item(0x10, b"1.2.840.10008.3.1.1.1")
    body += item(0x20, bytes([1, 0, 0, 0]) + item(0x30, VERIFICATION) + item(0x40, IMPLICIT_LE))
    body += item(0x50, item(0x51, struct.pack(">I", 16384)))
    return b"\x01\x00" + struct.pack(">I", len(body)) + body


def element(group, number, value):
    return struct.pack("<HHI", group, number, len(value)) + value


def echo_command(message_id):
    body = (element(0, 0x0002, VERIFICATION + b"\0") + element(0, 0x0100, struct.pack("<H", 0x30))
            + element(0, 0x0110, struct.pack("<H", message_id))
            + element(0, 0x0800, struct.pack("<H", 0x0101)))
    command = element(0, 0x0000, struct.pack("<I", len(body))) + body
    pdv = struct.pack(">I", len(command) + 2) + bytes([1, 0x03]) + command
    return b"\x04\x00" + struct.pack(">I", len(pdv)) + pdv


def receive(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise SoakError("the server closed the connection")
        data += chunk
    return data


def read_pdu(sock):
    head = receive(sock, 6)
    return head[0], receive(sock, struct.unpack(">I", head[2:])[0])


def echo_status(pdu):
    command, at = pdu[6:], 0  # one PDV: length (4), context (1), header (1)
    while at + 8 <= len(command):
        group, number, length = struct.unpack("<HHI", command[at:at + 8])
        if (group, number) == (0, 0x0900):
            return struct.unpack("<H", command[at + 8:at + 10])[0]
        at += 8 + length
    return None


REQUEST = associate_request()


def one_association(port, ending):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.sendall(REQUEST)
        kind, _ = read_pdu(sock)
        if kind != 0x02:
            raise SoakError(f"association not accepted (PDU type {kind})")
        sock.sendall(echo_command(1))
        kind, pdu = read_pdu(sock)
        if kind != 0x04 or echo_status(pdu) != 0:
            raise SoakError("C-ECHO failed")
        if ending == 0:
            sock.sendall(b"\x05\x00\x00\x00\x00\x04\x00\x00\x00\x00")
            kind, _ = read_pdu(sock)
            if kind != 0x06:
                raise SoakError(f"release not confirmed (PDU type {kind})")
        elif ending == 1:
            sock.sendall(b"\x07\x00\x00\x00\x00\x04\x00\x00\x00\x00")


def echoscu(port):
    return subprocess.run(["echoscu", "127.0.0.1", str(port)], capture_output=True,
                          timeout=30).returncode == 0


def warm_up(port, workers=64):
    """Every worker serves one association at the same time, so that each
    has made its allocations before the first figures are taken."""
    sockets = []
    for _ in range(workers):
        sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        sock.sendall(REQUEST)
        sockets.append(sock)
    for sock in sockets:
        if read_pdu(sock)[0] != 0x02:
            raise SoakError("warm-up association not accepted")
        sock.sendall(echo_command(1))
        read_pdu(sock)
        sock.sendall(b"\x05\x00\x00\x00\x00\x04\x00\x00\x00\x00")
        read_pdu(sock)
        sock.close()


# ---------------------------------------------------------------- main


def binary_path(arguments):
    named = arguments.server or os.environ.get("TALVEK_MWL")
    binary = Path(named) if named else ROOT / "build" / "talvek-mwl"
    if not binary.exists() and not named:
        note("building talvek-mwl with scripts/build.sh ...")
        subprocess.run([str(ROOT / "scripts" / "build.sh")], check=True)
    if not binary.exists():
        raise SoakError(f"no server at {binary}")
    return binary


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--clients", type=int, default=16)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--associations", type=int, default=40000)
    parser.add_argument("--orders", type=int, default=200)
    parser.add_argument("--server", help="talvek-mwl to run (default build/talvek-mwl)")
    arguments = parser.parse_args()
    for tool in ("findscu", "echoscu"):
        if not shutil.which(tool):
            raise SoakError(f"{tool} is missing (package dcmtk)")

    orders = expected_orders(arguments.orders)
    with tempfile.TemporaryDirectory(prefix="talvek-soak-") as folder:
        work = Path(folder)
        private = work / "talvek-mwl"
        shutil.copy2(binary_path(arguments), private)
        server = Server(private, work, orders)
        failures = []
        figures = []
        try:
            warm_up(server.port)
            failures += query(server.port, orders)
            figures.append(("after every worker served once", server.figures()))

            note(f"{arguments.clients} clients querying for {arguments.seconds:g} s ...")
            started = time.monotonic()
            counts, bad = run_clients(server.port, orders, arguments.clients, arguments.seconds)
            failures += bad
            print(f"queries: {counts['queries']} in {counts['runs']} findscu runs over "
                  f"{time.monotonic() - started:.0f} s by {arguments.clients} clients, "
                  f"{counts['bad']} runs with a wrong answer")
            failures += query(server.port, orders)
            figures.append((f"after {counts['queries']} queries", server.figures()))

            note(f"{arguments.associations} sequential associations ...")
            started = time.monotonic()
            for number in range(arguments.associations):
                if number % 1000 == 999:
                    if not echoscu(server.port):
                        failures.append(f"echoscu failed at association {number + 1}")
                else:
                    one_association(server.port, number % 3)
            elapsed = time.monotonic() - started
            print(f"associations: {arguments.associations} in {elapsed:.1f} s "
                  f"({arguments.associations / elapsed:.0f} a second)")

            alive = echoscu(server.port)
            last = query(server.port, orders)
            failures += last
            if not alive:
                failures.append("echoscu failed at the end")
            figures.append((f"after {arguments.associations} associations", server.figures()))
            print("port still answering: " + ("yes" if alive and not last else "NO"))
        finally:
            status = server.stop()
        print(f"stopped with status {status}")
        print()
        print(f"| when | threads | mappings | RSS (kB) |")
        print(f"|---|---:|---:|---:|")
        for label, (threads, mappings, rss) in figures:
            print(f"| {label} | {threads} | {mappings} | {rss} |")
        log = server.log.read_text(errors="replace")
        counted = sum(int(n) for n in re.findall(
            r"Connections that ended without an association: (\d+)", log))
        print(f"\nassociations logged: {log.count(' ended after ')}; "
              f"connections counted without one: {counted}")

        (_, first), (_, last_figures) = figures[0], figures[-1]
        if last_figures[0] != first[0]:
            failures.append(f"threads {first[0]} -> {last_figures[0]}")
        if last_figures[1] > first[1] + 8:
            failures.append(f"mappings {first[1]} -> {last_figures[1]}")
        if status != 0:
            failures.append(f"exit status {status}")
    for failure in failures[:20]:
        print("FAIL: " + failure)
    print("PASS" if not failures else f"FAIL ({len(failures)} problems)")
    return 0 if not failures else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except SoakError as error:
        note(f"soak: {error}")
        sys.exit(2)
