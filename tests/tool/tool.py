"""Runs the tool through tidewell-scenario and reads its trace: the shared pieces of the tool's
scenario tests (a script in, assertions over the trace out).

$TW_SCENARIO names the runner; default build/native/tidewell-scenario.
"""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.environ.get("TW_SCENARIO") or os.path.join(
    HERE, "..", "..", "build", "native", "tidewell-scenario")

LOGIN = {"name": "sa", "password": "Tidewell#1"}
SETTINGS = "配置文件.ini"
HISTORY = "清理记录.txt"


def is_query(entry):
    """Whether a logged request is one of the tool's queries: every table it opens is a SELECT,
    and none of its statements is."""
    return (entry.get("text") or "").lstrip()[:6].lower() == "select"


def db(name, recovery="FULL", log_pages=1024, log_name=None, **extra):
    """A database whose log has `log_pages` pages (named name + "_log" unless told)."""
    log = {"name": log_name or name + "_log", "type": "LOG", "size": log_pages}
    log.update(extra.pop("log", {}))
    return dict({"name": name, "recovery": recovery,
                 "files": [{"name": name, "size": 1024}, log]}, **extra)


def fixture(*databases, logins=None, **extra):
    return dict({"logins": logins or [LOGIN], "databases": list(databases)}, **extra)


def server(address, *databases, **extra):
    return {"address": address, "fixture": fixture(*databases, **extra)}


def login_steps(address="10.0.0.5", user="sa", password="Tidewell#1"):
    """Types the login, connects, answers "连接成功" and waits until the connect is done."""
    return [{"type": ["编辑框_IP", address]}, {"type": ["编辑框_用户名", user]},
            {"type": ["编辑框_密码", password]}, {"answer": ["OK"]}, {"click": "按钮_连接"},
            {"wait": 3000}]


def settings_file(**sections):
    """An INI text from {section: {key: value}} in the order given, CRLF line ends."""
    lines = []
    for section, keys in sections.items():
        lines.append("[%s]" % section)
        lines += ["%s=%s" % kv for kv in keys.items()]
    return "\r\n".join(lines) + "\r\n"


class Trace:
    def __init__(self, data):
        self.data = data
        self.events = data["events"]
        self.snapshots = data["snapshots"]
        self.sql = data["sql"]

    def boxes(self):
        return [e for e in self.events if e["type"] == "msgbox"]

    def box_texts(self):
        return [e["text"] for e in self.boxes()]

    def notices(self):
        return [e["text"] for e in self.events if e["type"] == "notice" and
                e["title"] == "Tidewell"]

    def history(self, snapshot):
        """The lines of 清理记录.txt, each split at its tabs; CRLF ends every line."""
        text = self.snapshots[snapshot]["history"]["text"] or ""
        assert text == "" or text.endswith("\r\n"), repr(text)
        return [line.split("\t") for line in text.split("\r\n")[:-1]]

    def refused(self):
        return [e["step"] for e in self.events if e["type"] == "refused"]

    def unit(self, snapshot, name):
        return self.snapshots[snapshot]["units"][name]

    def cells(self, snapshot, column):
        return [row["cells"][column] for row in self.snapshots[snapshot]["list"]]

    def statements(self, address, kind="batch"):
        """The texts the server received as plain batches that open no table (the cleanup's
        statements)."""
        return [e["text"] for e in self.sql[address] if e["kind"] == kind and not is_query(e)]

    def queries(self, address):
        """The texts of the result tables the tool opened (its catalogue queries)."""
        return [e["text"] for e in self.sql[address] if is_query(e)]

    def logins(self, address):
        return [e for e in self.sql[address] if e["kind"] == "login"]


class ToolTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tw-tool-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_tool(self, script):
        path = os.path.join(self.dir, "script.json")
        trace = os.path.join(self.dir, "trace.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(script, f, ensure_ascii=False)
        p = subprocess.run([RUNNER, path, "--trace", trace, "--work",
                            os.path.join(self.dir, "work")],
                           capture_output=True, text=True, timeout=600)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(trace, encoding="utf-8") as f:
            return Trace(json.load(f))
