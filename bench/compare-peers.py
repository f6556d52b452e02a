#!/usr/bin/env python3
"""Compares talvek-mwl with DCMTK's file-based worklist server, wlmscpfs.

Both servers get the same orders: N order files (*.HL7) for talvek-mwl in
BRAMWOODS mode and N worklist files (*.wl, encoded by dump2dcm) for
wlmscpfs; same patient IDs, names, accession numbers, birth dates, sex and
study dates. Both listen on free loopback ports (127.0.0.1 only) and are asked
with DCMTK's findscu. Cells:

  broad/narrow  time per C-FIND on an open association: the time of
                `findscu --repeat 21` minus the time of one query, divided by
                20 (TCP_NODELAY=1 in the client's environment). Broad asks for
                every item, narrow for one exact patient ID.
  modality      as broad, with the 19 keys a modality's worklist screen asks
                for (the modality key set), at 1,000 and 5,000 orders and for
                CORVANTE.
  default run   one whole default findscu run (association, one broad query,
                release) over 100 orders; the client keeps Nagle's algorithm.
  corvante      talvek-mwl in CORVANTE mode over a SQLite table of 300 open
                orders against wlmscpfs answering 300 files (broad, per query).
  concurrent    16 findscu clients at once against 1,000 orders, each with the
                modality key set: every answer complete, the wall time against
                16 x one client alone, and against wlmscpfs's batch.
  peak RSS      VmHWM of each server after answering 5,000 matches.

Every cell also checks that both servers answered with the same number of
matches. talvek-mwl writes its activity log to a file, as under a service
manager. Per-query cells also give the client's own CPU time per query
(findscu's user + system time, the floor a server can approach) and
talvek-mwl's CPU time per query (from /proc/PID/stat), both computed like
the wall time. Prints a table and PASS/FAIL for each target; exits with 1 when a
target fails, 2 when the bench itself could not run.

Usage: bench/compare-peers.py [--sizes 100,1000,5000] [--runs 7]
Python 3 standard library only; needs findscu, echoscu, wlmscpfs and dump2dcm
(package dcmtk).
"""

import argparse
import os
import resource
import shutil
import signal
import socket
import sqlite3
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
REPEAT = 21
CONCURRENT_CLIENTS = 16
DEFAULT_RUN_ORDERS = 100
CORVANTE_ORDERS = 300
CONCURRENT_ORDERS = 1000
MEMORY_ORDERS = 5000
PEER_AE = "ANY-SCP"  # findscu's default called AE title

STEP_KEY = "ScheduledProcedureStepSequence[0].Modality="
BROAD_KEYS = ["-k", STEP_KEY, "-k", "PatientName=", "-k", "PatientID="]
# What a modality's worklist screen asks for: 12 keys at the top level and 7
# in the step item, every one a return key (all items match).
MODALITY_KEYS = [arg for key in [
    "SpecificCharacterSet=", "AccessionNumber=", "ReferringPhysicianName=", "PatientName=",
    "PatientID=", "PatientBirthDate=", "PatientSex=", "StudyInstanceUID=",
    "RequestedProcedureID=", "RequestedProcedureDescription=", "AdmissionID=",
    "CurrentPatientLocation="] + [
    "ScheduledProcedureStepSequence[0]." + step for step in (
        "Modality=", "ScheduledStationAETitle=", "ScheduledProcedureStepStartDate=",
        "ScheduledProcedureStepStartTime=", "ScheduledPerformingPhysicianName=",
        "ScheduledProcedureStepDescription=", "ScheduledProcedureStepID=")]
    for arg in ("-k", key)]
MODALITY_SIZES = (1000, 5000)


def narrow_keys(patient_id):
    return ["-k", STEP_KEY, "-k", "PatientName=", "-k", f"PatientID={patient_id}"]


class BenchError(Exception):
    pass


def note(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- orders


class Order:
    """One order; every value has a fixed width, so all worklist files have
    the same layout and differ only in their values."""

    def __init__(self, i):
        self.i = i
        self.patient_id = f"P{i:07d}"
        self.name = f"LAST{i:07d}^FIRST{i % 100:02d}^"
        self.last, self.first = f"LAST{i:07d}", f"FIRST{i % 100:02d}"
        self.birth = f"{1930 + i % 70}{1 + i % 12:02d}{1 + i % 28:02d}"
        self.sex = "MF"[i % 2]
        self.address = f"{i:07d} MAIN STREET"
        self.accession = f"A{i:07d}"
        self.exam = "CHEST PA AND LATERAL"
        self.study_date = f"202612{1 + i % 28:02d}"
        self.step_id = f"S{i:07d}"
        self.procedure_id = f"R{i:07d}"
        self.study_uid = f"2.25.{10000000 + i}"

    def hl7(self):
        fields = [""] * 30  # fields 1..29; index 0 unused
        fields[1], fields[2], fields[3] = "BWH", "ADT", "RAD"
        fields[8] = self.patient_id
        fields[10] = self.name
        fields[12] = self.birth
        fields[13] = self.sex
        fields[17] = self.address
        fields[20] = self.accession
        fields[22] = self.exam
        fields[24] = self.study_date
        return "|".join(fields[1:]) + "\r\n" + f"OBR|1|{self.accession}\r\n"

    def dump(self):
        return "\n".join([
            "(0008,0005) CS [ISO_IR 100]",
            f"(0008,0020) DA [{self.study_date}]",
            f"(0008,0050) SH [{self.accession}]",
            f"(0008,103e) LO [{self.exam}]",
            f"(0010,0010) PN [{self.name}]",
            f"(0010,0020) LO [{self.patient_id}]",
            f"(0010,0030) DA [{self.birth}]",
            f"(0010,0040) CS [{self.sex}]",
            f"(0010,1040) LO [{self.address}]",
            f"(0020,000d) UI [{self.study_uid}]",
            f"(0032,1060) LO [{self.exam}]",
            "(0040,0100) SQ (Sequence with undefined length)",
            "  (fffe,e000) na (Item with undefined length)",
            "    (0008,0060) CS [CR]",
            f"    (0040,0001) AE [{PEER_AE}]",
            f"    (0040,0002) DA [{self.study_date}]",
            "    (0040,0003) TM [080000]",
            "    (0040,0006) PN []",
            f"    (0040,0007) LO [{self.exam}]",
            f"    (0040,0009) SH [{self.step_id}]",
            "  (fffe,e00d) na (ItemDelimitationItem)",
            "(fffe,e0dd) na (SequenceDelimitationItem)",
            f"(0040,1001) SH [{self.procedure_id}]",
            "",
        ])

    # (group, element, VR, attribute): the per-order values of the file.
    VARYING = [
        (0x0008, 0x0020, b"DA", "study_date"),
        (0x0008, 0x0050, b"SH", "accession"),
        (0x0010, 0x0010, b"PN", "name"),
        (0x0010, 0x0020, b"LO", "patient_id"),
        (0x0010, 0x0030, b"DA", "birth"),
        (0x0010, 0x0040, b"CS", "sex"),
        (0x0010, 0x1040, b"LO", "address"),
        (0x0020, 0x000D, b"UI", "study_uid"),
        (0x0040, 0x0002, b"DA", "study_date"),
        (0x0040, 0x0009, b"SH", "step_id"),
        (0x0040, 0x1001, b"SH", "procedure_id"),
    ]


def padded(value, vr):
    raw = value.encode("latin-1")
    if len(raw) % 2:
        raw += b"\0" if vr == b"UI" else b" "
    return raw


def dump2dcm(dump_text, target):
    source = target.with_suffix(".dump")
    source.write_text(dump_text, encoding="latin-1")
    result = subprocess.run(["dump2dcm", "-q", "+te", str(source), str(target)],
                            capture_output=True, text=True)
    source.unlink()
    if result.returncode != 0 or not target.exists():
        raise BenchError(f"dump2dcm failed: {result.stdout}{result.stderr}")


def write_worklist_files(orders, folder, encode_each):
    """dump2dcm encodes one order (or every one with encode_each); the others
    are that file with their values written over the first order's, at the
    offsets of the (explicit VR little endian) elements that hold them."""
    folder.mkdir(parents=True, exist_ok=True)
    if encode_each:
        for order in orders:
            dump2dcm(order.dump(), folder / f"ORDER{order.i:07d}.wl")
        return
    first = orders[0]
    template_path = folder / f"ORDER{first.i:07d}.wl"
    dump2dcm(first.dump(), template_path)
    template = template_path.read_bytes()
    slots = []
    for group, element, vr, attribute in Order.VARYING:
        value = padded(getattr(first, attribute), vr)
        header = struct.pack("<HH", group, element) + vr + struct.pack("<H", len(value))
        at = template.find(header)
        if at < 0 or template.find(header, at + 1) >= 0:
            raise BenchError(f"({group:04x},{element:04x}) is not once in the template")
        start = at + len(header)
        if template[start:start + len(value)] != value:
            raise BenchError(f"({group:04x},{element:04x}) does not hold the expected value")
        slots.append((start, vr, attribute, len(value)))
    for order in orders[1:]:
        data = bytearray(template)
        for start, vr, attribute, length in slots:
            value = padded(getattr(order, attribute), vr)
            if len(value) != length:
                raise BenchError(f"{attribute} of order {order.i} changes the file layout")
            data[start:start + length] = value
        (folder / f"ORDER{order.i:07d}.wl").write_bytes(bytes(data))
    # Read the last file back: it must carry its own order's values.
    last = orders[-1]
    shown = subprocess.run(["dcmdump", "-q", str(folder / f"ORDER{last.i:07d}.wl")],
                           capture_output=True, text=True).stdout
    for value in (last.patient_id, last.name, last.accession, last.step_id):
        if f"[{value}]" not in shown:
            raise BenchError(f"the written worklist file lacks {value}:\n{shown}")


def write_order_files(orders, folder):
    folder.mkdir(parents=True, exist_ok=True)
    for order in orders:
        (folder / f"ORDER{order.i:07d}.HL7").write_bytes(order.hl7().encode("latin-1"))


class Data:
    """The orders of every size, copied (order files) or linked (worklist files)
    from one master copy of each kind."""

    def __init__(self, work, count, encode_each):
        self.work = work
        self.orders = [Order(i) for i in range(1, count + 1)]
        note(f"writing {count} order files and {count} worklist files ...")
        write_order_files(self.orders, work / "all-hl7")
        write_worklist_files(self.orders, work / "all-wl", encode_each)

    def folders(self, n):
        """(order-file folder, wlmscpfs data folder) holding the first n orders."""
        hl7, wl = self.work / f"hl7-{n}", self.work / f"wl-{n}"
        if not hl7.exists():
            hl7.mkdir()
            (wl / PEER_AE).mkdir(parents=True)
            (wl / PEER_AE / "lockfile").touch()
            for order in self.orders[:n]:
                stem = f"ORDER{order.i:07d}"
                # A copy, not a link: an HIS writes each order file on its
                # own, and files with other links are examined at every query.
                shutil.copyfile(self.work / "all-hl7" / f"{stem}.HL7", hl7 / f"{stem}.HL7")
                os.link(self.work / "all-wl" / f"{stem}.wl", wl / PEER_AE / f"{stem}.wl")
        return hl7, wl

    def his(self, n):
        """A SQLite HIS with the first n orders open."""
        path = self.work / f"his-{n}.db"
        if path.exists():
            return path
        db = sqlite3.connect(path)
        db.execute("""CREATE TABLE xray_worklist (
            worklistid INTEGER PRIMARY KEY, created TEXT NOT NULL, patientid TEXT NOT NULL,
            last_name TEXT, first_name TEXT, middle_name TEXT, birthdate TEXT, gender TEXT,
            is_done INTEGER NOT NULL DEFAULT 0, is_valid INTEGER NOT NULL DEFAULT 1)""")
        db.executemany(
            "INSERT INTO xray_worklist VALUES (?, ?, ?, ?, ?, '', ?, ?, 0, 1)",
            [(o.i, f"{o.study_date[:4]}-{o.study_date[4:6]}-{o.study_date[6:]} 08:00:00",
              o.patient_id, o.last, o.first,
              f"{o.birth[:4]}-{o.birth[4:6]}-{o.birth[6:]}", o.sex)
             for o in self.orders[:n]])
        db.commit()
        db.close()
        return path


# ---------------------------------------------------------------- servers


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def environment(nodelay):
    env = {k: v for k, v in os.environ.items() if k != "TCP_NODELAY"}
    if nodelay:
        env["TCP_NODELAY"] = "1"
    return env


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise BenchError(f"no VmHWM for process {pid}")


class Server:
    label = "?"

    def __init__(self):
        self.proc = None
        self.port = None

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def peak_rss_kib(self):
        return peak_rss_kib(self.proc.pid)

    def cpu_seconds(self):
        """User and system time of the server and of its children that it
        has reaped (wlmscpfs forks one per association)."""
        with open(f"/proc/{self.proc.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return sum(int(x) for x in fields[11:15]) / os.sysconf("SC_CLK_TCK")

    def settled_cpu_seconds(self):
        """cpu_seconds once the children of finished associations are reaped."""
        last = self.cpu_seconds()
        for _ in range(30):
            time.sleep(0.15)
            now = self.cpu_seconds()
            if now == last:
                return now
            last = now
        return last


class Ours(Server):
    """talvek-mwl --headless with its settings and home in a folder of its own."""

    label = "ours"

    def __init__(self, binary, work, main_settings, home_files=None):
        super().__init__()
        self.binary, self.work = binary, work
        self.settings, self.home_files = main_settings, home_files or {}

    def start(self):
        config, home = self.work / "config" / "TALVEK", self.work / "home"
        config.mkdir(parents=True, exist_ok=True)
        home.mkdir(parents=True, exist_ok=True)
        for name, text in self.home_files.items():
            (home / name).write_text(text)
        env = environment(False)
        env["XDG_CONFIG_HOME"] = str(self.work / "config")
        for _ in range(10):
            port = free_port()
            (config / "PACS.conf").write_text(
                "[Main]\n" + "".join(f"{k}={v}\n" for k, v in self.settings.items())
                + f"WorklistPort={port}\n")
            errors = self.work / "server.err"
            # The activity log goes to a file, as a service manager keeps it.
            with open(errors, "w") as err, open(self.work / "activity.log", "w") as out:
                self.proc = subprocess.Popen(
                    [str(self.binary), "--headless", "--home", str(home)],
                    stdout=out, stderr=err, env=env)
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                text = errors.read_text(errors="replace")
                if f"listening on port {port}" in text and "not listening" not in text:
                    self.port = port
                    return self
                if "not listening" in text or self.proc.poll() is not None:
                    break
                time.sleep(0.05)
            self.stop()
        raise BenchError(f"talvek-mwl did not start:\n{errors.read_text(errors='replace')}")


class Peer(Server):
    """wlmscpfs over a data folder; forks per association unless single."""

    label = "peer"

    def __init__(self, data_folder, work, single=False, nodelay=False):
        super().__init__()
        self.data, self.work = data_folder, work
        self.single, self.nodelay = single, nodelay

    def start(self):
        self.work.mkdir(parents=True, exist_ok=True)
        for _ in range(10):
            port = free_port()
            errors = self.work / "wlmscpfs.err"
            with open(errors, "w") as err:
                self.proc = subprocess.Popen(
                    ["wlmscpfs"] + (["-s"] if self.single else [])
                    + ["-dfp", str(self.data), str(port)],
                    stdout=subprocess.DEVNULL, stderr=err, env=environment(self.nodelay))
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline and self.proc.poll() is None:
                echo = subprocess.run(["echoscu", "-to", "2", "127.0.0.1", str(port)],
                                      capture_output=True)
                if echo.returncode == 0:
                    self.port = port
                    return self
                time.sleep(0.1)
            self.stop()
        raise BenchError(f"wlmscpfs did not start:\n{errors.read_text(errors='replace')}")


# ---------------------------------------------------------------- queries


def findscu(port, keys, repeat=1, verbose=False, show=False):
    """A findscu command line. Unless `show`, the responses are not printed:
    findscu prints every response dataset by default, and that work on the
    client side would blur the difference between the servers."""
    command = ["findscu", "-W"]
    if verbose:
        command += ["-v"]
    if not show:
        command += ["-sr"]
    if repeat > 1:
        command += ["--repeat", str(repeat)]
    return command + keys + ["127.0.0.1", str(port)]


def timed(command, env):
    """Wall seconds of the command and its own CPU seconds (user + system)."""
    with tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            errors.seek(0)
            raise BenchError(f"{' '.join(command)} failed: "
                             f"{errors.read().decode(errors='replace')}")
    return elapsed, usage.ru_utime + usage.ru_stime


def answers(log_text):
    """Matches per query of a `findscu -v -sr` log, or None for a query
    without a final success status."""
    counts = []
    for query in log_text.split("Sending Find Request")[1:]:
        complete = "Received Final Find Response (Success)" in query
        counts.append(query.count("Received Find Response ") if complete else None)
    return counts


def matches(port, keys, env, repeat=3):
    """The number of matches, asked `repeat` times on one association; every
    answer must be complete and the same."""
    result = subprocess.run(findscu(port, keys, repeat, verbose=True),
                            capture_output=True, text=True, env=env, errors="replace")
    counts = answers(result.stdout + result.stderr)
    if len(counts) != repeat or None in counts or len(set(counts)) != 1:
        raise BenchError(f"incomplete or unequal answers {counts} on port {port}")
    return counts[0]


class Cell:
    def __init__(self, name, ours, peer, ours_matches, peer_matches, unit="ms"):
        self.name, self.ours, self.peer = name, ours, peer
        self.ours_matches, self.peer_matches, self.unit = ours_matches, peer_matches, unit
        self.cpu = None  # (ours, peer) CPU milliseconds per query, where measured
        self.client_cpu = []  # findscu's own CPU ms per query, one value per run
        self.ours_cpu = []  # talvek-mwl's CPU ms per query, one value per run

    @property
    def ratio(self):
        peer = statistics.median(self.peer)
        return statistics.median(self.ours) / peer if peer > 0 else float("inf")

    @property
    def same_matches(self):
        return self.ours_matches == self.peer_matches


def per_query(name, servers, keys, runs, env):
    """Milliseconds per query on an open association, for each server; also
    each server's CPU time per query (both runs' queries, association set-up
    included), and per run the client's and our server's CPU time per query,
    computed like the wall time."""
    counts = {s.label: matches(s.port, keys, env) for s in servers}  # also warms up
    times = {s.label: [] for s in servers}
    client_cpu, ours_cpu = [], []
    cpu_before = {s.label: s.settled_cpu_seconds() for s in servers}
    for run in range(runs):
        for server in (servers if run % 2 == 0 else servers[::-1]):
            start_one = server.cpu_seconds()
            one, one_client = timed(findscu(server.port, keys, 1), env)
            start_many = server.cpu_seconds()
            many, many_client = timed(findscu(server.port, keys, REPEAT), env)
            end_many = server.cpu_seconds()
            times[server.label].append((many - one) / (REPEAT - 1) * 1000)
            if server.label == "ours":
                client_cpu.append((many_client - one_client) / (REPEAT - 1) * 1000)
                ours_cpu.append(((end_many - start_many) - (start_many - start_one))
                                / (REPEAT - 1) * 1000)
    cpu = {s.label: (s.settled_cpu_seconds() - cpu_before[s.label]) * 1000 / (runs * (1 + REPEAT))
           for s in servers}
    cell = Cell(name, times["ours"], times["peer"], counts["ours"], counts["peer"])
    cell.cpu = (cpu["ours"], cpu["peer"])
    cell.client_cpu, cell.ours_cpu = client_cpu, ours_cpu
    return cell


def whole_run(name, servers, keys, runs, env):
    """Milliseconds of a whole default findscu run with one query (it prints
    every response), for each server."""
    counts = {s.label: matches(s.port, keys, env) for s in servers}
    times = {s.label: [] for s in servers}
    for run in range(runs):
        for server in (servers if run % 2 == 0 else servers[::-1]):
            command = findscu(server.port, keys, 1, show=True)
            times[server.label].append(timed(command, env)[0] * 1000)
    return Cell(name, times["ours"], times["peer"], counts["ours"], counts["peer"])


def concurrent_round(server, keys, env, clients, folder):
    folder.mkdir(parents=True, exist_ok=True)
    outputs = [folder / f"client{k:02d}.log" for k in range(clients)]
    procs = []
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    for path in outputs:
        with open(path, "w") as out:
            procs.append(subprocess.Popen(findscu(server.port, keys, verbose=True),
                                          stdout=out, stderr=subprocess.STDOUT, env=env))
    for proc in procs:
        proc.wait()
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    client_cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    counts = []
    for proc, path in zip(procs, outputs):
        got = answers(path.read_text(errors="replace"))
        counts.append(got[0] if proc.returncode == 0 and len(got) == 1 else None)
    return elapsed * 1000, counts, client_cpu * 1000


class Concurrency:
    def __init__(self, label, totals, singles, counts, expected, clients, client_cpu):
        self.label, self.totals, self.singles = label, totals, singles
        self.counts, self.expected, self.clients = counts, expected, clients
        self.client_cpu = client_cpu  # the batch's findscu processes, CPU ms per batch

    @property
    def client_floor(self):
        """The clients' own CPU spread over every CPU: no server answers the
        batch faster than this on the same machine."""
        return statistics.median(self.client_cpu) / (os.cpu_count() or 1)

    @property
    def complete(self):
        return all(c == self.expected for c in self.counts)

    @property
    def serial(self):
        return self.clients * statistics.median(self.singles)

    @property
    def ratio(self):
        return statistics.median(self.totals) / self.serial


def concurrency(servers, keys, runs, env, clients, work):
    """16 clients at once against each server, against one client alone; the
    single runs and the batches alternate, so load from elsewhere on the
    machine affects both alike."""
    expected = {s.label: matches(s.port, keys, env, repeat=1) for s in servers}
    singles = {s.label: [] for s in servers}
    totals = {s.label: [] for s in servers}
    counts = {s.label: [] for s in servers}
    client_cpu = {s.label: [] for s in servers}
    for run in range(runs):
        for server in (servers if run % 2 == 0 else servers[::-1]):
            start = time.perf_counter()
            result = subprocess.run(findscu(server.port, keys, verbose=True),
                                    capture_output=True, text=True, env=env, errors="replace")
            singles[server.label].append((time.perf_counter() - start) * 1000)
            if answers(result.stdout + result.stderr) != [expected[server.label]]:
                raise BenchError(f"a single client got an incomplete answer from {server.label}")
            total, got, cpu = concurrent_round(server, keys, env, clients,
                                               work / f"concurrent-{server.label}")
            totals[server.label].append(total)
            client_cpu[server.label].append(cpu)
            counts[server.label] += got
    return {s.label: Concurrency(s.label, totals[s.label], singles[s.label], counts[s.label],
                                 expected[s.label], clients, client_cpu[s.label])
            for s in servers}


# ---------------------------------------------------------------- report


def spread(values):
    return (f"{statistics.median(values):9.2f} {min(values):9.2f} {max(values):9.2f}")


def print_report(cells, concurrent, memory, targets, args):
    print()
    print(f"talvek-mwl vs wlmscpfs  (runs={args.runs}; per-query cells: (time of "
          f"--repeat {REPEAT} - time of 1 query) / {REPEAT - 1}, TCP_NODELAY=1 in findscu; "
          f"wlmscpfs {'with TCP_NODELAY=1' if args.peer_nodelay else 'keeps Nagle'})")
    print()
    head = (f"{'cell':<40} {'ours med':>9} {'min':>9} {'max':>9}  "
            f"{'peer med':>9} {'min':>9} {'max':>9}  {'ours/peer':>9}  matches ours/peer")
    print(head)
    print("-" * len(head))
    for cell in cells:
        same = "" if cell.same_matches else "  DIFFERENT"
        print(f"{cell.name:<40} {spread(cell.ours)}  {spread(cell.peer)}  {cell.ratio:9.3f}  "
              f"{cell.ours_matches}/{cell.peer_matches}{same}")
    measured = [c for c in cells if c.cpu]
    if measured:
        print()
        print("server CPU per query, ms (user+system of the server and its reaped children, "
              f"over 1 + {REPEAT} queries a run, association set-up included)")
        for c in measured:
            ours, peer = c.cpu
            ratio = f"{ours / peer:9.3f}" if peer > 0 else "        -"
            print(f"  {c.name:<38} ours {ours:8.2f}   peer {peer:8.2f}   ours/peer {ratio}")
    floors = [c for c in cells if c.client_cpu]
    if floors:
        print()
        print("CPU per query on an open association, ms (medians; (CPU of --repeat "
              f"{REPEAT} - CPU of 1 query) / {REPEAT - 1}, like the wall times)")
        print(f"  {'cell':<40} {'client':>8} {'ours':>8} {'ours/client':>11} "
              f"{'ours wall':>10} {'wall/client':>11}")
        for c in floors:
            client, ours = statistics.median(c.client_cpu), statistics.median(c.ours_cpu)
            wall = statistics.median(c.ours)
            print(f"  {c.name:<40} {client:8.2f} {ours:8.2f} {ours / client:11.3f} "
                  f"{wall:10.2f} {wall / client:11.3f}")
    if concurrent:
        print()
        print(f"{CONCURRENT_CLIENTS} findscu clients at once, {CONCURRENT_ORDERS} orders, modality "
              "key set "
              "(wall ms of the whole batch; single = one client alone, whole findscu run)")
        for c in concurrent.values():
            got = sorted({x for x in c.counts}, key=lambda x: (x is None, x))
            print(f"  {c.label:<5} total med/min/max {spread(c.totals)}   single med "
                  f"{statistics.median(c.singles):8.2f}   {c.clients} x single {c.serial:9.2f}   "
                  f"total/(16 x single) {c.ratio:6.3f}   answers {len(c.counts)}, "
                  f"matches seen {got} (expected {c.expected})")
            print(f"        clients' own CPU per batch {statistics.median(c.client_cpu):8.2f}   "
                  f"over {os.cpu_count()} CPUs {c.client_floor:8.2f} (no server can finish "
                  "the batch sooner)")
    if memory:
        print()
        print("peak resident memory (VmHWM just before stopping)")
        for line in memory:
            print("  " + line)
    print()
    print(f"{'target':<66} {'value':>10} {'limit':>10}  result")
    for name, value, limit, result in targets:
        print(f"{name:<66} {value:>10} {limit:>10}  {result}")


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def describe(binary):
    stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(binary.stat().st_mtime))
    head = subprocess.run(["git", "-C", str(ROOT), "log", "-1", "--format=%h %s"],
                          capture_output=True, text=True).stdout.strip()
    return f"{binary} (built {stamp}; source tree at {head or 'unknown commit'})"


def verdict(ok):
    return "PASS" if ok else "FAIL"


# ---------------------------------------------------------------- main


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="100,1000,5000",
                        help="order counts for the broad and narrow cells (default 100,1000,5000)")
    parser.add_argument("--runs", type=int, default=7,
                        help="timed runs per cell and server (default 7)")
    parser.add_argument("--skip", default="",
                        help="comma-separated cells to leave out: default,corvante,concurrent,"
                             "memory")
    parser.add_argument("--server", default=os.environ.get("TALVEK_MWL",
                                                           str(ROOT / "build" / "talvek-mwl")),
                        help="talvek-mwl binary (default build/talvek-mwl or $TALVEK_MWL)")
    parser.add_argument("--peer-nodelay", action="store_true",
                        help="start wlmscpfs with TCP_NODELAY=1 (by default it keeps Nagle)")
    parser.add_argument("--encode-each", action="store_true",
                        help="encode every worklist file with dump2dcm (slow: ~50 ms a file)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    sizes = sorted({int(s) for s in args.sizes.split(",") if s.strip()})
    skip = {s.strip() for s in args.skip.split(",") if s.strip()}
    if args.runs < 1 or not sizes or min(sizes) < 1:
        parser.error("--runs and every size must be at least 1")

    for tool in ("findscu", "echoscu", "wlmscpfs", "dump2dcm", "dcmdump"):
        if not shutil.which(tool):
            raise BenchError(f"{tool} is missing (package dcmtk; scripts/setup.sh installs it)")
    binary = Path(args.server)
    if not binary.exists():
        note(f"{binary} is missing; building it with scripts/build.sh ...")
        subprocess.run([str(ROOT / "scripts" / "build.sh")], check=True)

    needed = set(sizes)
    if "default" not in skip:
        needed.add(DEFAULT_RUN_ORDERS)
    if "corvante" not in skip:
        needed.add(CORVANTE_ORDERS)
    if "concurrent" not in skip:
        needed.add(CONCURRENT_ORDERS)
    memory_orders = MEMORY_ORDERS if MEMORY_ORDERS in sizes else max(sizes)
    if "memory" not in skip:
        needed.add(memory_orders)

    work = Path(tempfile.mkdtemp(prefix="compare-peers-"))
    running = []
    identity = describe(binary)
    load_before = loadavg()

    def start(server):
        running.append(server)
        return server.start()

    def stop(*servers):
        for server in servers:
            server.stop()
            running.remove(server)

    def bramwoods(n, tag):
        folder = data.folders(n)[0]
        return Ours(binary, work / f"ours-{tag}",
                    {"optTALVEK": "False", "optBramwoods": "True", "txtHL7Folder": f"{folder}/"})

    def peer(n, tag, single=False):
        return Peer(data.folders(n)[1], work / f"peer-{tag}", single, args.peer_nodelay)

    client_nodelay, client_default = environment(True), environment(False)
    cells, concurrent, memory, targets = [], {}, [], []
    ours_rss_after_cells = None
    try:
        # A private copy: a rebuild during the run must not mix two programs.
        binary = Path(shutil.copy2(binary, work / "talvek-mwl"))
        data = Data(work, max(needed), args.encode_each)

        for n in sizes:
            note(f"broad and narrow per-query cells, {n} orders ...")
            ours, other = start(bramwoods(n, n)), start(peer(n, n))
            pair = [ours, other]
            cells.append(per_query(f"BRAMWOODS broad per query, {n}", pair, BROAD_KEYS,
                                   args.runs, client_nodelay))
            middle = data.orders[(n - 1) // 2].patient_id
            cells.append(per_query(f"BRAMWOODS narrow per query, {n}", pair,
                                   narrow_keys(middle), args.runs, client_nodelay))
            if n in MODALITY_SIZES:
                cells.append(per_query(f"BRAMWOODS modality keys per query, {n}", pair,
                                       MODALITY_KEYS, args.runs, client_nodelay))
            if n == memory_orders:
                ours_rss_after_cells = ours.peak_rss_kib()
            stop(ours, other)

        if "default" not in skip:
            note(f"default findscu runs, {DEFAULT_RUN_ORDERS} orders ...")
            ours = start(bramwoods(DEFAULT_RUN_ORDERS, "default"))
            other = start(peer(DEFAULT_RUN_ORDERS, "default"))
            cells.append(whole_run(f"default findscu run, broad, {DEFAULT_RUN_ORDERS}",
                                   [ours, other], BROAD_KEYS, args.runs, client_default))
            stop(ours, other)

        if "corvante" not in skip:
            note(f"CORVANTE over {CORVANTE_ORDERS} rows vs {CORVANTE_ORDERS} files ...")
            his = data.his(CORVANTE_ORDERS)
            ours = start(Ours(binary, work / "ours-corvante",
                              {"optTALVEK": "False", "optCorvante": "True"},
                              {"CORVANTE.txt": f"Driver=SQLite3;Database={his}\n"}))
            other = start(peer(CORVANTE_ORDERS, "corvante"))
            cells.append(per_query(f"CORVANTE broad per query, {CORVANTE_ORDERS} rows",
                                   [ours, other], BROAD_KEYS, args.runs, client_nodelay))
            cells.append(per_query(f"CORVANTE modality keys per query, {CORVANTE_ORDERS}",
                                   [ours, other], MODALITY_KEYS, args.runs, client_nodelay))
            stop(ours, other)

        if "concurrent" not in skip:
            note(f"{CONCURRENT_CLIENTS} concurrent clients, {CONCURRENT_ORDERS} orders ...")
            ours = start(bramwoods(CONCURRENT_ORDERS, "concurrent"))
            other = start(peer(CONCURRENT_ORDERS, "concurrent"))
            concurrent = concurrency([ours, other], MODALITY_KEYS, args.runs, client_nodelay,
                                     CONCURRENT_CLIENTS, work)
            stop(ours, other)

        if "memory" not in skip:
            note(f"peak memory, {memory_orders} matches ...")
            # Fresh processes answering the same three broad queries; wlmscpfs
            # in single-process mode, since its children would take the
            # matches with them when they exit.
            ours = start(bramwoods(memory_orders, "memory"))
            other = start(peer(memory_orders, "memory", single=True))
            for server in (ours, other):
                got = matches(server.port, BROAD_KEYS, client_nodelay, repeat=3)
                if got != memory_orders:
                    raise BenchError(f"{server.label} answered {got} of {memory_orders}")
            ours_fresh, peer_fresh = ours.peak_rss_kib(), other.peak_rss_kib()
            stop(ours, other)
            memory.append(f"ours, fresh, after 3 broad queries of {memory_orders} matches: "
                          f"{ours_fresh / 1024:7.1f} MB")
            if ours_rss_after_cells is not None:
                memory.append(f"ours, after every per-query cell at {memory_orders} orders:    "
                              f"{ours_rss_after_cells / 1024:7.1f} MB")
            memory.append(f"peer (wlmscpfs -s), after 3 broad queries of {memory_orders} "
                          f"matches: {peer_fresh / 1024:7.1f} MB")
            worst = max(ours_fresh, ours_rss_after_cells or 0)
            targets.append((f"peak RSS of ours with {memory_orders} matches answered",
                            f"{worst / 1024:.1f} MB", f"<= {peer_fresh / 1024:.1f} MB",
                            verdict(worst <= peer_fresh) if memory_orders == MEMORY_ORDERS
                            else "SKIP (no 5000)"))
    finally:
        for server in running:
            server.stop()
        if args.keep:
            note(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)

    def cell(name):
        return next((c for c in cells if c.name == name), None)

    goals = [(f"BRAMWOODS broad per query, {n}", 0.33) for n in (1000, 5000)]
    goals += [("BRAMWOODS narrow per query, 5000", 0.10),
              (f"default findscu run, broad, {DEFAULT_RUN_ORDERS}", 0.6),
              (f"CORVANTE broad per query, {CORVANTE_ORDERS} rows", 1.0)]
    goals += [(f"BRAMWOODS modality keys per query, {n}", 0.25) for n in MODALITY_SIZES]
    goals += [(f"CORVANTE modality keys per query, {CORVANTE_ORDERS}", 0.25)]
    checks = []
    for name, limit in goals:
        c = cell(name)
        if c is None:
            checks.append((f"{name}: ours/peer", "-", f"<= {limit}", "SKIP"))
        else:
            checks.append((f"{name}: ours/peer", f"{c.ratio:.3f}", f"<= {limit}",
                           verdict(c.ratio <= limit and c.same_matches)))
    for n in MODALITY_SIZES:
        name = f"BRAMWOODS modality keys per query, {n}"
        c = cell(name)
        if c is None:
            checks.append((f"{name}: ours wall / client CPU", "-", "<= 1.5", "SKIP"))
            continue
        client = statistics.median(c.client_cpu)
        ratio = statistics.median(c.ours) / client if client > 0 else float("inf")
        checks.append((f"{name}: ours wall / client CPU", f"{ratio:.3f}", "<= 1.5",
                       verdict(ratio <= 1.5)))
    if concurrent:
        c = concurrent["ours"]
        checks.append((f"{CONCURRENT_CLIENTS} concurrent, {CONCURRENT_ORDERS}: every answer "
                       "complete", f"{sum(x == c.expected for x in c.counts)}/{len(c.counts)}",
                       "all", verdict(c.complete)))
        checks.append((f"{CONCURRENT_CLIENTS} concurrent, {CONCURRENT_ORDERS}: total / "
                       f"({CONCURRENT_CLIENTS} x single)", f"{c.ratio:.3f}", "< 1",
                       verdict(c.ratio < 1)))
        p = concurrent["peer"]
        floor = statistics.median(c.totals) / c.client_floor
        checks.append((f"{CONCURRENT_CLIENTS} concurrent, {CONCURRENT_ORDERS}: batch / clients' "
                       "own CPU floor", f"{floor:.3f}", "<= 1.5", verdict(floor <= 1.5)))
        batch = statistics.median(c.totals) / statistics.median(p.totals)
        checks.append(("  (ours/peer batch: bounded below by the clients' floor, not a target)",
                       f"{batch:.3f}", "", "info"))
        checks.append(("  (same for peer: complete / ratio, not a target)",
                       f"{sum(x == p.expected for x in p.counts)}/{len(p.counts)}",
                       f"{p.ratio:.3f}", "info"))
        checks.append(("same matches from both servers, concurrent",
                       f"{c.expected}/{p.expected}", "equal", verdict(c.expected == p.expected)))
    checks.append(("same matches from both servers in every cell",
                   f"{sum(c.same_matches for c in cells)}/{len(cells)}", "all",
                   verdict(all(c.same_matches for c in cells))))
    targets = checks + targets
    print_report(cells, concurrent, memory, targets, args)
    print()
    print(f"server: {identity}")
    print(f"load average (1/5/15 min) before: {load_before}, after: {loadavg()}; "
          f"{os.cpu_count()} CPUs")
    return 1 if any(t[3] == "FAIL" for t in targets) else 0


if __name__ == "__main__":
    # Stopped from outside: still stop the servers and remove the work folder.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        sys.exit(main())
    except BenchError as error:
        print(f"compare-peers: {error}", file=sys.stderr)
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
