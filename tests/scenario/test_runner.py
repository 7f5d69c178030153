"""Tests of tidewell-scenario run as other suites run it: a script in, a trace out.

They look at what the runner itself promises (script checking, $SIM tokens, the process
and clock across start/kill/start, refused actions, the shape of snapshots), not at what the
tool's handlers do. $TW_SCENARIO names the runner; default build/native/tidewell-scenario.
"""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.environ.get("TW_SCENARIO") or os.path.join(
    HERE, "..", "..", "build", "native", "tidewell-scenario")

FIXTURE = {"logins": [{"name": "sa", "password": "pw"}],
           "databases": [{"name": "sales", "recovery": "FULL", "files": [
               {"name": "sales"}, {"name": "sales_log", "type": "LOG", "size": 4096}]}]}


class RunnerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tw-scenario-test-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_script(self, script, *extra):
        path = os.path.join(self.dir, "script.json")
        trace = os.path.join(self.dir, "trace.json")
        if os.path.exists(trace):
            os.unlink(trace)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(script, f, ensure_ascii=False)
        p = subprocess.run([RUNNER, path, "--trace", trace, *extra], capture_output=True,
                           text=True, timeout=120)
        result = None
        if os.path.exists(trace):
            with open(trace, encoding="utf-8") as f:
                result = json.load(f)
        return p.returncode, p.stderr, result

    def trace_of(self, script, *extra):
        rc, err, trace = self.run_script(script, *extra)
        self.assertEqual(rc, 0, err)
        return trace

    def test_a_script_that_cannot_run_exits_2_with_one_line_naming_the_step(self):
        server = [{"address": "10.0.0.5", "fixture": FIXTURE}]
        cases = [
            ({"steps": [{"start": {}}, {"fly": {}}]}, "step 1: unknown step"),
            ({"steps": [{"click": 3}]}, "step 0 (click): expected a text"),
            ({"steps": [{"click": "按钮_飞"}]}, "step 0 (click): unknown unit"),
            ({"steps": [{"close": "settings"}]}, "step 0 (close): unknown window"),
            ({"steps": [{"until": "2020-10-08 9:00"}]}, "step 0 (until): expected a date"),
            ({"servers": server, "steps": [{"server": ["10.0.0.6", {}]}]},
             "step 0 (server): unknown server address"),
            ({"servers": server, "steps": [{"type": ["编辑框_IP", "$SIM2"]}]},
             "step 0: $SIM2 names no server"),
            # Found only while running: the program has not ended when the second start comes.
            ({"steps": [{"start": {}}, {"wait": 1000}, {"start": {}}]},
             "step 2 (start): the program is still running"),
            ({"servers": [{"address": "x", "fixture": {"databases": [{"name": ""}]}}]},
             "servers[0]: the simulator did not start"),
            ({"servers": [dict(server[0], tds_version="8.0")]}, "servers[0].tds_version"),
            ({"servers": [dict(server[0], encryption="yes")]}, "servers[0].encryption"),
        ]
        for script, message in cases:
            with self.subTest(message=message):
                rc, err, trace = self.run_script(script)
                self.assertEqual(rc, 2, err)
                lines = [l for l in err.splitlines() if l.startswith("tidewell-scenario:")]
                self.assertEqual(len(lines), 1, err)
                self.assertIn(message, lines[0])
                self.assertIsNone(trace)

    def test_sim_tokens_name_each_simulator_and_server_steps_replace_its_control(self):
        work = os.path.join(self.dir, "work")
        script = {
            "servers": [{"address": "10.0.0.5", "fixture": FIXTURE},
                        {"address": "WS01", "fixture": FIXTURE}],
            "files": {"说明.txt": "ip=$SIM2\r\n"},
            "steps": [{"start": {}},
                      {"type": ["编辑框_用户名", "$SIM1"]},
                      {"server": ["WS01", {"offline": ["sales"], "note": "$SIM1"}]},
                      {"snapshot": "s"}]}
        trace = self.trace_of(script, "--work", work)
        snap = trace["snapshots"]["s"]
        first = re.fullmatch(r"127\.0\.0\.1,(\d+)", snap["units"]["编辑框_用户名"]["text"])
        with open(os.path.join(work, "program", "说明.txt"), "rb") as f:
            second = re.fullmatch(rb"ip=127\.0\.0\.1,(\d+)\r\n", f.read())
        self.assertTrue(first and second, snap)
        self.assertNotEqual(first.group(1).encode(), second.group(1))
        with open(os.path.join(work, "servers", "2", "control.json"), encoding="utf-8") as f:
            control = json.load(f)
        self.assertEqual(control, {"offline": ["sales"], "note": first.group(0)})
        self.assertFalse(os.path.exists(os.path.join(work, "servers", "1", "control.json")))
        self.assertEqual(sorted(trace["sql"]), ["10.0.0.5", "WS01"])
        # The simulators' own state, under the scripts' addresses.
        sales = snap["servers"]["WS01"]["databases"]["sales"]
        self.assertEqual(sales, {"recovery": "FULL", "log_pages": 4096})

    def test_each_server_gets_the_protocol_version_and_encryption_the_script_names(self):
        work = os.path.join(self.dir, "work")
        fixture = dict(FIXTURE, logins=[{"name": "sa", "password": "Tidewell#1"}])
        cases = [({}, "7.4", "login"), ({"tds_version": "7.1"}, "7.1", "login"),
                 ({"tds_version": "7.2", "encryption": "off"}, "7.2", "off"),
                 ({"encryption": "on"}, "7.4", "all"),
                 ({"tds_version": "7.1", "encryption": "require"}, "7.1", "all")]
        servers = [dict({"address": "10.0.0.%d" % i, "fixture": fixture}, **fields)
                   for i, (fields, _, _) in enumerate(cases)]
        steps = [{"start": {}}, {"type": ["编辑框_用户名", "sa"]},
                 {"type": ["编辑框_密码", "Tidewell#1"]}]
        for i in range(len(cases)):   # the last one typed as its plain address
            steps += [{"type": ["编辑框_IP", "$SIM%d" % (i + 1) if i == 4 else "10.0.0.%d" % i]},
                      {"answer": ["OK"]}, {"click": "按钮_连接"}, {"wait": 3000},
                      {"click": "按钮_断开"}, {"clear": "编辑框_IP"}]
        self.trace_of({"servers": servers, "steps": steps}, "--work", work)
        for i, (_, tds, encrypted) in enumerate(cases):
            with open(os.path.join(work, "servers", str(i + 1), "statements.jsonl"),
                      encoding="utf-8") as f:
                logins = [e for e in map(json.loads, f) if e["kind"] == "login"]
            self.assertTrue(logins, cases[i])
            self.assertEqual({(e["tds_version"], e["encryption"]) for e in logins},
                             {(tds, encrypted)}, cases[i])

    def test_start_kill_start_keeps_files_and_clock(self):
        settings = "[配置]\r\nip=10.0.0.5\r\n[留着]\r\n键=值\r\n"
        script = {
            "files": {"配置文件.ini": settings, "other.txt": None},
            "steps": [{"start": {}}, {"wait": 5000}, {"kill": {}},
                      {"wait": 3000}, {"snapshot": "between"},
                      {"start": {}}, {"set_clock": "2021-01-01 00:00:00"}, {"wait": 2500},
                      {"kill": {}}, {"until": "2021-01-01 08:00:00"}, {"until": "2021-01-01 07:00:00"},
                      {"start": {}}, {"snapshot": "third"}]}
        trace = self.trace_of(script)
        runs = [(e["type"], e["at"], e.get("exit_code")) for e in trace["events"]
                if e["type"] in ("start", "end")]
        self.assertEqual(runs, [
            ("start", "2020-10-08 09:00:00", None), ("end", "2020-10-08 09:00:05", 1),
            ("start", "2020-10-08 09:00:08", None), ("end", "2021-01-01 00:00:02", 1),
            ("start", "2021-01-01 08:00:00", None)])
        for name in ("between", "third"):
            self.assertIn("[留着]\r\n键=值\r\n", trace["snapshots"][name]["settings"]["text"])
        # The script's last step leaves the program running: no end event after it.
        self.assertEqual(trace["events"][-1]["type"], "start")

    def test_actions_a_user_could_not_take_are_recorded_as_refused(self):
        script = {"steps": [
            {"click": "按钮_连接"},                    # 0: no program yet
            {"start": {}},
            {"click": "按钮_断开"},                    # 2: disabled until connected
            {"choose": ["组合框_库名", 0]},            # 3: disabled, and empty
            {"row": [0, "left"]},                      # 4: the list has no rows
            {"close": "chooser"},                      # 5: not open
            {"type": ["编辑框_用户名", "sa"]},         # accepted
            {"right_click_list": 3},                   # 7: no such row
            {"kill": {}},
            {"tray": "left"},                          # 9: no program
            {"kill": {}},                              # 10: nothing to end
        ]}
        trace = self.trace_of(script)
        refused = [(e["step"], e["action"]) for e in trace["events"] if e["type"] == "refused"]
        self.assertEqual(refused, [(0, "click"), (2, "click"), (3, "choose"), (4, "row"),
                                   (5, "close"), (7, "right_click_list"), (9, "tray"),
                                   (10, "kill")])
        for e in trace["events"]:
            self.assertRegex(e["at"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")

    def test_snapshots_show_each_unit_with_the_fields_of_its_kind(self):
        script = {"servers": [{"address": "10.0.0.5", "fixture": FIXTURE}],
                  "steps": [{"start": {}}, {"type": ["编辑框_用户名", "ab\bc"]},
                            {"snapshot": "on"}, {"kill": {}}, {"snapshot": "off"}]}
        trace = self.trace_of(script)
        on = trace["snapshots"]["on"]
        self.assertEqual(set(on), {"windows", "units", "list", "tray", "settings", "history",
                                   "registry", "servers"})
        self.assertEqual(set(on["windows"]), {"main", "chooser"})
        self.assertEqual(set(on["windows"]["main"]), {"open", "visible", "display_state",
                                                      "caption"})
        self.assertTrue(on["windows"]["main"]["open"])
        self.assertFalse(on["windows"]["chooser"]["open"])
        units = on["units"]
        kinds = {
            "编辑框_用户名": {"text"}, "按钮_连接": {"caption"}, "标签1": {"caption"},
            "分组框_登陆": {"caption"}, "选择框_挂机": {"caption", "checked"},
            "单选框_单独": {"caption", "checked"},
            "组合框_库名": {"items", "selection", "text"}, "进度条1": {"position"},
            "时钟1": {"interval"}, "超级列表框1": set(), "透明标签1": set(),
        }
        for name, fields in kinds.items():
            self.assertEqual(set(units[name]), {"visible", "enabled"} | fields, name)
        self.assertEqual(units["编辑框_用户名"]["text"], "ac")
        self.assertEqual(units["标签1"]["caption"], "数据库IP：")
        self.assertFalse(units["按钮_断开"]["enabled"])
        for absent in ("外部数据库_主", "外部数据库_辅", "按钮_IP"):
            self.assertNotIn(absent, units)
        self.assertEqual(set(on["tray"]), {"present", "tooltip"})
        self.assertIsInstance(on["list"], list)
        self.assertEqual(on["settings"]["hidden"] in (True, False), True)
        self.assertEqual(on["registry"], {})
        self.assertIn("master", on["servers"]["10.0.0.5"]["databases"])

        off = trace["snapshots"]["off"]
        self.assertEqual(off["units"], {})
        self.assertEqual(off["list"], [])
        self.assertEqual(off["tray"], {"present": False, "tooltip": ""})
        self.assertFalse(off["windows"]["main"]["open"] or off["windows"]["chooser"]["open"])

    def test_a_work_folder_used_again_starts_afresh(self):
        work = os.path.join(self.dir, "work")
        self.trace_of({"files": {"a.txt": "x"},
                       "servers": [{"address": "a", "fixture": FIXTURE}],
                       "steps": [{"server": ["a", {"hang": True}]}]}, "--work", work)
        self.assertTrue(os.path.exists(os.path.join(work, "servers", "1", "control.json")))
        trace = self.trace_of({"steps": [{"snapshot": "s"}]}, "--work", work)
        self.assertEqual(os.listdir(os.path.join(work, "program")), [])
        self.assertFalse(os.path.exists(os.path.join(work, "servers")))
        self.assertIsNone(trace["snapshots"]["s"]["settings"]["text"])

    def test_the_default_work_folder_goes_unless_kept(self):
        env = dict(os.environ, TMPDIR=self.dir)
        script = os.path.join(self.dir, "s.json")
        with open(script, "w") as f:
            json.dump({"steps": []}, f)
        trace = os.path.join(self.dir, "t.json")
        base = set(os.listdir(self.dir))
        subprocess.run([RUNNER, script, "--trace", trace], check=True, env=env, timeout=60)
        self.assertEqual(set(os.listdir(self.dir)) - base, {"t.json"})
        p = subprocess.run([RUNNER, script, "--trace", trace, "--keep"], check=True, env=env,
                           capture_output=True, text=True, timeout=60)
        kept = re.search(r"work folder: (.*)", p.stderr).group(1)
        self.assertTrue(os.path.isdir(os.path.join(kept, "program")))


if __name__ == "__main__":
    unittest.main()
