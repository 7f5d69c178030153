#!/usr/bin/env python3
"""Operator stories on the real tidewell.exe under Wine, against the SQL Server simulator through
Wine's odbc32, unixODBC and FreeTDS. For one story: a private program folder holding a copy of
tidewell.exe (and a settings file where the story starts from one), a simulator with the
default fixture, the driver (tw_wine_driver.exe --story) acting through window messages; then
the rows, settings and timestamps the driver reports are checked against the simulator's
statement log and state file, with the texts the headless scenarios (tests/tool) show.

    stories.py <tw_wine_driver.exe> <tidewell.exe> <story> [--shots DIR] [--docs] [--tds 7.1]

--shots DIR: the driver saves its captures there (cleanup: screenshot.bmp, menus: chooser.bmp),
which are turned into PNG and checked not to be flat. --docs also puts them at
docs/screenshot.png and docs/chooser.png. --tds: the TDS version the driver asks for (as
Windows' own "SQL Server" driver speaks 7.1); every login must have used it, with the login
packet encrypted as the drivers do by default. Exit code 0 when the story passed.
"""
import argparse
import datetime
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FIXTURE = os.path.join(ROOT, "tests", "simulator", "fixtures", "default.json")
LOGIN, PASSWORD = "sa", "Tidewell#1"
STAMP = r"\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}"
SYSTEM = ["master", "tempdb", "model", "msdb"]
SHOTS = {"cleanup": "screenshot", "menus": "chooser", "demo": "demo"}


def is_query(entry):
    """Whether a logged request is one of the tool's queries: every table it opens is a SELECT,
    and none of its statements is."""
    return (entry.get("text") or "").lstrip()[:6].lower() == "select"


def single(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def number(x):
    return "%.13g" % x


def below(value, limit):
    return value - limit < -0.0000001


def size_text(pages):
    """A server-measured log size as the list shows it: pages / 124 in single precision."""
    m = single(pages / 124.0)
    text = number(round(m * 1000, 2)) + " KB" if below(m, 1.024) else number(round(m, 2)) + " MB"
    if not below(m, 1048.576):
        text = number(round(m / 1000, 2)) + " GB"
    return text


def freed_text(before_pages, after_pages):
    freed = single(single(before_pages / 124.0) - single(after_pages / 124.0))
    if below(freed, 1.024):
        return number(freed * 1000) + " KB"
    if below(freed, 1024):
        return "%.6g" % freed + " MB"
    return number(freed / 1000) + " GB"


def cleanup_statements(name):
    return ["ALTER DATABASE %s SET RECOVERY SIMPLE " % name, "USE %s" % name,
            "DBCC SHRINKFILE (N'%s_log' , 0, TRUNCATEONLY)" % name,
            "ALTER DATABASE %s SET RECOVERY FULL" % name, "USE master"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Story:
    def __init__(self, driver, exe, name, shots, tds="7.4"):
        self.driver, self.exe, self.name, self.shots, self.tds = driver, exe, name, shots, tds
        self.errors = []
        self.dir = tempfile.mkdtemp(prefix="tw-story-")
        self.program = os.path.join(self.dir, "program")
        os.makedirs(self.program)
        shutil.copy2(exe, os.path.join(self.program, "tidewell.exe"))
        self.log = os.path.join(self.dir, "sql.jsonl")
        self.state_path = os.path.join(self.dir, "state.json")
        self.sim = None
        if name == "late-server":
            self.port = free_port()  # the simulator starts later, on this port
            self.address = "127.0.0.1,%d" % self.port
        else:
            self.start_simulator(0)

    def start_simulator(self, port):
        self.sim = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests", "simulator", "tds_sim.py"), "--fixture",
             FIXTURE, "--port", str(port), "--wine-paths", "--log", self.log, "--state",
             self.state_path], stdout=subprocess.PIPE, text=True)
        line = self.sim.stdout.readline().split()
        if line[:2] != ["listening", "127.0.0.1"]:
            raise RuntimeError("the simulator did not start: %r" % line)
        self.address = "127.0.0.1," + line[2]
        self.initial = self.state()

    def close(self):
        if self.sim:
            self.sim.terminate()
            self.sim.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)

    def check(self, ok, what):
        if not ok:
            self.errors.append(what)

    def equal(self, got, want, what):
        self.check(got == want, "%s: %r, expected %r" % (what, got, want))

    def state(self):
        with open(self.state_path, encoding="utf-8") as f:
            return json.load(f)["databases"]

    def statements(self):
        with open(self.log, encoding="utf-8") as f:
            entries = [json.loads(line) for line in f if line.strip()]
        return entries

    def batches(self):
        """The statements sent as plain batches, the tool's queries (its SELECTs) left out."""
        return [e["text"] for e in self.statements() if e["kind"] == "batch" and not is_query(e)]

    def write_settings(self, text):
        with open(os.path.join(self.program, "配置文件.ini"), "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("gbk"))

    def run_driver(self):
        args = [os.path.join(ROOT, "scripts", "wine-run.sh"), self.driver, "--story", self.name,
                os.path.join(self.program, "tidewell.exe"), self.address, LOGIN, PASSWORD]
        if self.shots:
            args.append(self.shots)
        env = dict(os.environ, TW_WINE_TIMEOUT="150", TDSVER=self.tds)
        p = subprocess.run(args, capture_output=True, text=True, env=env, timeout=200)
        sys.stdout.write(p.stdout)
        sys.stderr.write(p.stderr)
        self.check(p.returncode == 0, "the driver exited with %d" % p.returncode)
        self.rows, self.out = {}, []
        for line in p.stdout.splitlines():
            fields = line.split("\t")
            if fields[0] == "row":
                self.rows.setdefault(fields[1], []).append(
                    {"checked": fields[3] == "1", "cells": fields[4:7]})
            else:
                self.out.append(fields)

    def listing(self):
        """Every database of the server, in its order, with its log size: the fresh list."""
        return [[name, size_text(db["log_pages"])] for name, db in self.initial.items()]

    def row(self, label, name):
        for r in self.rows.get(label, []):
            if r["cells"][0] == name:
                return r
        self.errors.append("no row %s in the list %s" % (name, label))
        return {"checked": None, "cells": [name, None, ""]}

    def expect_result(self, label, name, before, after, stamp=STAMP):
        r = self.row(label, name)
        self.equal(r["cells"][1], size_text(after), "%s Log_Size %s" % (label, name))
        want = "^%s 清理了 %s$" % (stamp, re.escape(freed_text(before, after)))
        self.check(re.match(want, r["cells"][2]) is not None,
                   "%s State %s: %r, expected /%s/" % (label, name, r["cells"][2], want))


def first_start(s):
    s.run_driver()
    fixture_names = [d["name"] for d in json.load(open(FIXTURE, encoding="utf-8"))["databases"]]
    listed = [r["cells"][:2] for r in s.rows.get("connected", [])]
    s.equal([n for n, _ in listed], SYSTEM + fixture_names, "the databases listed")
    s.equal(listed, s.listing(), "names and log sizes")
    s.equal([f[1] for f in s.out if f[0] == "combo"], SYSTEM + fixture_names, "the combo's items")
    s.check(all(not r["checked"] and r["cells"][2] == "" for r in s.rows.get("connected", [])),
            "a fresh list has ticks or states")
    s.equal(s.batches(), [], "statements sent by connecting")
    # The driver read the protected password back; the file holds it in no encoding.
    with open(os.path.join(s.program, "配置文件.ini"), "rb") as f:
        saved = f.read()
    for encoding in ("ascii", "gbk", "utf-16-le", "utf-8"):
        s.check(PASSWORD.encode(encoding) not in saved, "the settings file holds the password in "
                + encoding)
    s.check(b"\n" + "密码=".encode("gbk") not in saved, "the settings file keeps a plain 密码")


def cleanup(s):
    s.run_driver()
    pages = {name: db["log_pages"] for name, db in s.state().items()}
    sales, chinese = s.initial["sales"]["log_pages"], s.initial["销售库"]["log_pages"]
    s.expect_result("single", "sales", sales, pages["sales"])
    s.equal(s.row("single", "销售库")["cells"][2], "", "销售库 after the single cleanup")
    # The batch: sales, already shrunk, frees nothing; 销售库 its whole inactive log.
    s.expect_result("batch", "sales", pages["sales"], pages["sales"])
    s.expect_result("batch", "销售库", chinese, pages["销售库"])
    ticked = [r["cells"][0] for r in s.rows.get("batch", []) if r["checked"]]
    s.equal(ticked, ["sales", "销售库"], "the ticked rows")
    s.equal(s.batches(), cleanup_statements("sales") * 2 + cleanup_statements("销售库"),
            "the statements of the single and the batch cleanup")
    for name in ("sales", "销售库"):
        s.equal(s.state()[name]["recovery"], "FULL", "recovery model of %s" % name)
    s.check(pages["sales"] < sales and pages["销售库"] < chinese, "the logs did not shrink")


def menus(s):
    s.run_driver()
    refresh = [f for f in s.out if f[0] == "refresh"]
    s.equal(len(refresh), 1, "refresh reports")
    if refresh:
        listed, refreshed = refresh[0][2], refresh[0][3]
        s.equal(refreshed, size_text(s.initial["archive"]["log_pages"]), "archive refreshed")
        s.equal(refreshed, listed, "archive refreshed against listed")
    # The listing asks once for archive's files, 刷新 once more.
    asked = [e for e in s.statements() if is_query(e) and
             "sys.master_files where database_id=db_id(N'archive')" in (e.get("text") or "")]
    s.equal(len(asked), 2, "files queries for archive")
    s.equal(s.batches(), [], "statements sent")


def tray(s):
    s.run_driver()
    s.equal(s.batches(), [], "statements sent")


def unattended(s):
    s.write_settings("[配置]\nip=%s\n用户名=%s\n密码=%s\n是否挂机=是\n指定库=sales\n"
                     % (s.address, LOGIN, PASSWORD))
    s.run_driver()
    listed = [r["cells"][:2] for r in s.rows.get("unattended", [])]
    s.equal(listed, s.listing(), "the list of the automatic connection")
    schedule = [f[1] for f in s.out if f[0] == "schedule"]
    s.equal(len(schedule), 1, "schedule reports")
    if schedule:
        # The cleanup is stamped with the second the schedule fired at.
        s.expect_result("scheduled", "sales", s.initial["sales"]["log_pages"],
                        s.state()["sales"]["log_pages"], re.escape(schedule[0]))
    s.equal(s.batches(), cleanup_statements("sales"), "statements of the scheduled cleanup")


def late_server(s):
    """Logon before the server is up: the due cleanup connects first, and the history says so."""
    s.write_settings("[配置]\nip=%s\n用户名=%s\n密码=%s\n是否挂机=是\n指定库=sales\n定时清理模式=1\n"
                     "[定时配置]\n模式=每天一次\n时=0\n分=0\n秒=0\n" % (s.address, LOGIN, PASSWORD))

    def serve():
        # The driver asks for the simulator once the tool has failed to connect.
        while not os.path.exists(os.path.join(s.program, "start-server")):
            if driver_done.wait(0.1):
                return
        s.start_simulator(s.port)
        open(os.path.join(s.program, "server-up"), "w").close()

    driver_done = threading.Event()
    helper = threading.Thread(target=serve)
    helper.start()
    s.run_driver()
    driver_done.set()
    helper.join()
    if not s.sim:
        return s.check(False, "the driver never asked for the simulator")
    schedule = [f[1] for f in s.out if f[0] == "schedule"]
    s.equal(s.batches(), cleanup_statements("sales"), "statements of the due cleanup")
    before, after = s.initial["sales"]["log_pages"], s.state()["sales"]["log_pages"]
    # The login and the listing come first: the cleanup's stamp may be a second or two later.
    stamp = " ".join(s.row("scheduled", "sales")["cells"][2].split(" ")[:2])
    history = os.path.join(s.program, "清理记录.txt")
    text = open(history, "rb").read().decode("gbk") if os.path.exists(history) else None
    if schedule and re.match("^%s$" % STAMP, stamp):
        due = datetime.datetime.strptime(schedule[0], "%Y-%m-%d %H:%M:%S")
        late = datetime.datetime.strptime(stamp, "%Y-%m-%d %H:%M:%S") - due
        s.check(0 <= late.total_seconds() <= 5, "cleaned at %s, due at %s" % (stamp, schedule[0]))
        s.expect_result("scheduled", "sales", before, after, re.escape(stamp))
        s.equal(text, "\t".join([stamp, "定时", s.address, "sales", size_text(before),
                                 size_text(after), "清理了 " + freed_text(before, after)]) + "\r\n",
                "清理记录.txt")
    else:
        s.check(False, "no cleanup stamp; 清理记录.txt holds %r" % text)


def demo(s):
    """The run command's tour (tw_wine_driver --demo): one single cleanup, captured."""
    shot = os.path.join(s.shots or s.dir, "demo.bmp")
    args = [os.path.join(ROOT, "scripts", "wine-run.sh"), s.driver, "--demo",
            os.path.join(s.program, "tidewell.exe"), shot, s.address, LOGIN]
    # The password goes through a pipe, as the run command gives it.
    p = subprocess.run(args, input=PASSWORD + "\n", capture_output=True, text=True, timeout=200,
                       env=dict(os.environ, TW_WINE_TIMEOUT="150", TW_WINE_STDIN="1"))
    sys.stdout.write(p.stdout + p.stderr)
    s.equal(p.returncode, 0, "the demo's exit code")
    # The first database with a log of at least 10 MB.
    s.equal(s.batches(), cleanup_statements("sales"), "the demo's statements")
    s.check(re.search(r"cleaned sales: 516\.13 KB, %s 清理了 102\.71 MB" % STAMP, p.stdout),
            "the demo did not report the cleaned row")
    s.check(os.path.getsize(shot) > 100000 if os.path.exists(shot) else False,
            "the demo wrote no capture")


STORIES = {"demo": demo, "first-start": first_start, "cleanup": cleanup, "menus": menus, "tray": tray,
           "unattended": unattended, "late-server": late_server}


def keep_shot(story, shots, docs):
    """The capture as PNG, refused when it is flat (black or blank)."""
    name = SHOTS.get(story)
    if not name:
        return []
    bmp, png = os.path.join(shots, name + ".bmp"), os.path.join(shots, name + ".png")
    if not os.path.exists(bmp):
        return ["the driver wrote no %s" % bmp]
    subprocess.run(["convert", bmp, png], check=True)
    spread = subprocess.run(["convert", png, "-colorspace", "gray", "-format",
                             "%[fx:mean] %[fx:standard_deviation]", "info:"],
                            capture_output=True, text=True, check=True).stdout.split()
    mean, deviation = float(spread[0]), float(spread[1])
    if deviation < 0.03 or mean < 0.05:
        return ["%s is flat (mean %.3f, deviation %.3f)" % (png, mean, deviation)]
    print("screenshot %s: mean %.3f, deviation %.3f" % (png, mean, deviation))
    if docs and story in ("cleanup", "menus"):
        shutil.copy2(png, os.path.join(ROOT, "docs", name + ".png"))
    return []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("driver")
    ap.add_argument("exe")
    ap.add_argument("story", choices=sorted(STORIES))
    ap.add_argument("--shots")
    ap.add_argument("--docs", action="store_true")
    ap.add_argument("--tds", default="7.4", choices=["7.1", "7.2", "7.3", "7.4"])
    args = ap.parse_args()
    shots = os.path.abspath(args.shots) if args.shots else None
    if shots:
        os.makedirs(shots, exist_ok=True)
    started = time.monotonic()
    s = Story(args.driver, args.exe, args.story, shots, args.tds)
    try:
        STORIES[args.story](s)
        logins = {(e["tds_version"], e["encryption"]) for e in s.statements()
                  if e["kind"] == "login"}
        if logins or args.tds != "7.4":   # the tray story never logs in
            s.equal(logins, {(args.tds, "login")}, "the logins' TDS version and encryption")
        if shots:
            s.errors += keep_shot(args.story, shots, args.docs)
    finally:
        s.close()
    for e in s.errors:
        print("FAIL: " + e)
    print("story %s: %s in %.1f s" % (args.story, "failed" if s.errors else "passed",
                                      time.monotonic() - started))
    return 1 if s.errors else 0


if __name__ == "__main__":
    sys.exit(main())
