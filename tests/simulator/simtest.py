"""Shared fixtures of the simulator's tests: start a simulator, build and run
the ODBC client through unixODBC + FreeTDS, parse what it prints.

Every wait is bounded: the server must announce its port within 10 s and
each client run has a wall-clock limit.
"""
import atexit
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(HERE, "tds_sim.py")
DEFAULT_FIXTURE = os.path.join(HERE, "fixtures", "default.json")
STRICT_FIXTURE = os.path.join(HERE, "fixtures", "strict.json")
CS_FIXTURE = os.path.join(HERE, "fixtures", "case_sensitive.json")
SA = ("sa", "Tidewell#1")
READER = ("reader", "Reader#1")

_work = tempfile.mkdtemp(prefix="tw-simtest-")
atexit.register(shutil.rmtree, _work, ignore_errors=True)
_client = None
_env = None
_setup_lock = threading.Lock()


def client_path():
    """The C client: from the build (TW_ODBC_CLIENT) or compiled here once."""
    global _client
    with _setup_lock:
        if _client is None:
            built = os.environ.get("TW_ODBC_CLIENT")
            if built and os.path.exists(built):
                _client = built
            else:
                out = os.path.join(_work, "odbc_client")
                subprocess.run(["cc", "-O1", "-o", out, os.path.join(HERE, "odbc_client.c"),
                                "-lodbc"], check=True, timeout=120)
                _client = out
        return _client


def odbc_env():
    """The environment odbc-env.sh sets up, captured by running it."""
    global _env
    with _setup_lock:
        if _env is None:
            d = os.path.join(_work, "odbc")
            out = subprocess.run(["sh", os.path.join(HERE, "odbc-env.sh"), "--dir", d, "env", "-0"],
                                 check=True, capture_output=True, timeout=30).stdout
            _env = dict(kv.split("=", 1) for kv in out.decode().split("\0") if "=" in kv)
            _env["LANG"] = _env["LC_ALL"] = "C"
            _env.setdefault("ASAN_OPTIONS", "detect_leaks=0")   # the driver's leaks are not ours
        return _env


class Simulator:
    """A simulator child process with its own log, control file and files dir."""

    def __init__(self, fixture=None, files=False, control=None, extra=()):
        self.dir = tempfile.mkdtemp(dir=_work)
        if isinstance(fixture, dict):
            path = os.path.join(self.dir, "fixture.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(fixture, f, ensure_ascii=False)
            fixture = path
        self.log_path = os.path.join(self.dir, "statements.jsonl")
        self.control_path = os.path.join(self.dir, "control.json")
        self.state_path = os.path.join(self.dir, "state.json")
        self.files_dir = os.path.join(self.dir, "files") if files else None
        if control is not None:
            self.control(control)
        args = [sys.executable, SIM, "--fixture", fixture or DEFAULT_FIXTURE, "--port", "0",
                "--log", self.log_path, "--control", self.control_path,
                "--state", self.state_path] + list(extra)
        if self.files_dir:
            args += ["--files-dir", self.files_dir]
        # stderr goes to a file: a pipe nobody reads could fill up and stall the server
        self.stderr_path = os.path.join(self.dir, "stderr.txt")
        with open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=err)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline().decode() if ready else ""
        m = re.fullmatch(r"listening 127\.0\.0\.1 (\d+)\n", line)
        if not m:
            self.proc.kill()
            self.proc.wait(timeout=10)
            with open(self.stderr_path, errors="replace") as f:
                raise RuntimeError("simulator did not start: %r %s" % (line, f.read()))
        self.port = int(m.group(1))

    def control(self, faults):
        tmp = self.control_path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(faults, f, ensure_ascii=False)
        os.replace(tmp, self.control_path)

    def log(self, kinds=("batch", "rpc")):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as f:
            entries = [json.loads(line) for line in f if line.strip()]
        return [e for e in entries if e["kind"] in kinds]

    def state(self):
        """The databases of the state file, by name."""
        with open(self.state_path, encoding="utf-8") as f:
            return json.load(f)["databases"]

    def conn_str(self, user=SA, database="master"):
        return ("DRIVER=SQL Server;SERVER=127.0.0.1,%d;UID=%s;PWD=%s;DATABASE=%s;WSID=h;"
                % (self.port, user[0], user[1], database))

    def client(self, *commands, user=SA, database="master", wide=False, query_timeout=None,
               login_timeout=5, limit=60, tds=None, encryption=None, dump=None):
        """tds: the TDS version the driver asks for ("7.1" ...); encryption: FreeTDS's
        Encryption= (off, request, require); dump: a file for FreeTDS's packet trace."""
        conn = self.conn_str(user, database) + ("Encryption=%s;" % encryption if encryption else "")
        env = {}
        if tds:
            env["TDSVER"] = tds
        if dump:
            env["TDSDUMP"] = dump
        return run_client(conn, commands, wide, query_timeout, login_timeout, limit, env)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        with open(self.stderr_path, errors="replace") as f:
            problems = f.read()
        if "connection error" in problems:   # a request the server could not handle
            raise AssertionError("simulator reported: " + problems[-2000:])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def dump_packets(path):
    """FreeTDS's packet trace (TDSDUMP) as [(\"sent\" | \"received\", bytes)], in clear even
    when the link is encrypted; the login packet itself is left out of it."""
    packets, cur = [], None
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.rstrip().endswith(("Sending packet", "Received packet")):
                cur = bytearray()
                packets.append(("sent" if "Sending" in line else "received", cur))
            elif cur is not None and re.match(r"[0-9a-f]{4} [0-9a-f]{2}[ -]", line):
                cur += bytes.fromhex(line.split("|")[0][5:].replace("-", " "))
            else:
                cur = None
    return [(d, bytes(p)) for d, p in packets]


def dump_facts(path):
    """What the driver made of the server: the TDS version it reports and the PRELOGIN
    encryption answer ("crypt flag"), from the trace's own lines."""
    with open(path, encoding="latin-1") as f:
        text = f.read()
    version = re.search(r"server reports TDS version (\d+)\.", text)
    flag = re.search(r"detected crypt flag (\d+)", text)
    return version and version.group(1), flag and int(flag.group(1))


def gbk(text):
    return text.encode("gbk")


def _unescape(data):
    return re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), data)


class Result:
    """One command's output: columns, rows, FIRST row, diagnostics, return code."""

    def __init__(self, name):
        self.name = name
        self.cols, self.rows, self.diags, self.results = [], [], [], []
        self.first = None
        self.rc = None

    @property
    def natives(self):
        return [d[1] for d in self.diags]

    @property
    def states(self):
        return [d[0] for d in self.diags]


class Run:
    def __init__(self, raw, encoding):
        self.raw = raw
        self.connected = []
        self.connect_diags = []
        self.commands = []
        cur, pending = None, []
        for line in raw.split(b"\n"):
            if not line:
                continue
            word, _, rest = line.partition(b" ")
            word = word.decode()
            text = lambda b: _unescape(b).decode(encoding, errors="replace")  # noqa: E731
            if word == "DIAG":
                if rest != b"-":
                    state, native, msg = (rest.split(b" ", 2) + [b"", b""])[:3]
                    pending.append((text(state), int(native), text(msg)))
                continue
            if word == "CONNECT":
                self.connected.append(rest == b"OK")
                self.connect_diags += pending
                pending = []
                continue
            if cur is None:
                cur = Result(None)
                self.commands.append(cur)
            if word == "COL":
                head, sqltype, size = rest.rsplit(b" ", 2)
                cur.cols.append((text(head.split(b" ", 1)[1]), int(sqltype), int(size)))
            elif word == "ROW":
                cur.rows.append([None if c == b"\\N" else text(c) for c in rest.split(b"\t")])
            elif word == "FIRST":
                cur.first = [text(c) for c in rest.split(b"\t")]
            elif word == "RESULT":
                cur.results.append(int(rest))
            elif word == "END":
                name, rc = rest.split(b" ")
                cur.name, cur.rc, cur.diags = name.decode(), int(rc), pending
                cur, pending = None, []

    def __getitem__(self, i):
        return self.commands[i]

    @property
    def ok(self):
        return bool(self.connected) and self.connected[0]


def run_client(conn, commands, wide=False, query_timeout=None, login_timeout=5, limit=60,
               env=None):
    enc = "gbk" if wide else "latin-1"
    args = [client_path(), "-l", str(login_timeout), "-c", conn]
    if wide:
        args.append("-w")
    if query_timeout is not None:
        args += ["-t", str(query_timeout)]
    args += [c if isinstance(c, bytes) else c.encode(enc) for c in commands]
    started = time.monotonic()
    p = subprocess.run(args, capture_output=True, timeout=limit, env=dict(odbc_env(), **(env or {})))
    run = Run(p.stdout, enc)
    run.elapsed = time.monotonic() - started
    run.stderr = p.stderr
    return run

