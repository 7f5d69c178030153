"""The database list and combo: log sizes measured on this machine's disk or asked of the
server, the size texts, ticks kept in the settings file, the refresh from the list's menu, the
chosen database, hostile names, and servers that drop or never answer."""
import time
import unittest

from tool import SETTINGS, ToolTest, db, login_steps, server, settings_file


def local_db(name, disk_bytes, **extra):
    return db(name, log={"disk_bytes": disk_bytes}, **extra)


def single_file_db(name):
    return {"name": name, "files": [{"name": name, "size": 1024}]}


class Listings(ToolTest):
    def test_local_sizes_come_from_the_files_on_disk(self):
        srv = server("WS01", local_db("kb", 512 * 1024), local_db("mb", 1536 * 1024),
                     local_db("gb", 2147483647), local_db("gone", None), local_db("odd", 1500),
                     single_file_db("snap"))
        steps = [{"start": {}}] + login_steps("WS01") + [{"snapshot": "s"}]
        for row in (8, 7):  # "odd", then "gone", refreshed from the list's menu
            steps += [{"menu": "刷新"}, {"right_click_list": row}, {"snapshot": "fetching%d" % row},
                      {"wait": 300}]
        steps.append({"snapshot": "refreshed"})
        t = self.run_tool({"servers": [srv], "steps": steps})
        sizes = dict(zip(t.cells("s", 1), t.cells("s", 2)))
        self.assertEqual([sizes[n] for n in ("kb", "mb", "gb", "gone", "odd", "snap")],
                         ["512 KB", "1.536 MB", "2.097151 GB", "0 KB", "1 KB", "无法获取"])
        self.assertEqual(t.cells("fetching8", 2)[8], "正在获取...")
        after = t.cells("refreshed", 2)
        self.assertEqual((after[8], after[7]), ("1.46484 KB", "0 KB"))
        menus = [e for e in t.events if e["type"] == "menu"]
        self.assertEqual([(m["items"], m["choice"]) for m in menus], [(["刷新"], "刷新")] * 2)

    def test_server_sizes_are_pages_divided_by_124(self):
        srv = server("10.0.0.5", db("p128", log_pages=128), db("p64", log_pages=64),
                     db("p1024", log_pages=1024), single_file_db("one"))
        t = self.run_tool({"servers": [srv], "steps": [{"start": {}}] + login_steps() +
                           [{"snapshot": "s"}]})
        self.assertEqual(t.cells("s", 2)[4:], ["1.03 MB", "516.13 KB", "8.26 MB", "无法获取"])
        self.assertEqual(t.queries("10.0.0.5")[:2], ["SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES",
                                                     "SELECT NAME FROM MASTER.DBO.SYSDATABASES"])
        self.assertEqual(t.queries("10.0.0.5")[-2:], ["SELECT count(name) FROM master.dbo.sysdatabases",
                                                      "SELECT Name FROM Master..SysDatabases"])
        self.assertEqual(t.unit("s", "组合框_库名")["items"][4:], ["p128", "p64", "p1024", "one"])

    def test_a_case_sensitive_server_is_listed_in_its_own_case(self):
        srv = server("10.0.0.5", db("Sales", log_pages=128), collation="SQL_Latin1_General_CP1_CS_AS")
        t = self.run_tool({"servers": [srv], "steps": [{"start": {}}] + login_steps() +
                           [{"snapshot": "s"}]})
        self.assertEqual(t.cells("s", 1)[-1], "Sales")
        self.assertEqual(t.cells("s", 2)[-1], "1.03 MB")
        self.assertEqual(t.unit("s", "组合框_库名")["items"][-1], "Sales")

    def test_refreshes_never_run_out_of_open_tables(self):
        srv = server("10.0.0.5", db("sales", log_pages=128))
        steps = [{"start": {}}] + login_steps()
        for _ in range(40):
            steps += [{"menu": "刷新"}, {"right_click_list": 4}, {"wait": 300}]
        t = self.run_tool({"servers": [srv], "steps": steps + [{"snapshot": "s"}]})
        self.assertEqual(t.cells("s", 2)[4], "1.03 MB")
        self.assertEqual(t.sql["10.0.0.5"][-1]["errors"], [])

    def test_a_right_click_without_a_current_row_opens_no_menu(self):
        t = self.run_tool({"steps": [{"start": {}}, {"right_click_list": None}]})
        self.assertEqual([e for e in t.events if e["type"] == "menu"], [])


class TicksAndChoice(ToolTest):
    def test_ticks_are_written_by_the_user_and_read_back_by_every_listing(self):
        srv = server("10.0.0.5", db("sales"), db("archive"), db("hr"))
        text = settings_file(欲清理的库={"SALES": "1", "archive": "0"})
        steps = [{"start": {}}, {"tray": "left"}] + login_steps() + [
            {"snapshot": "listed"}, {"row": [5, "left"]}, {"row": [6, "space"]},
            {"row": [4, "left"]}, {"choose": ["组合框_库名", "hr"]}, {"snapshot": "s"}]
        t = self.run_tool({"files": {SETTINGS: text}, "servers": [srv], "steps": steps})
        self.assertEqual([r["checked"] for r in t.snapshots["listed"]["list"]][4:],
                         [True, False, False])
        self.assertEqual([r["checked"] for r in t.snapshots["s"]["list"]][4:], [False, True, True])
        text = t.snapshots["s"]["settings"]["text"]
        self.assertIn("[欲清理的库]\r\nSALES=0\r\narchive=1\r\nhr=1\r\n", text)
        self.assertIn("指定库=hr", text)
        # A listing that ticks rows writes nothing: only the three toggles changed the section.
        self.assertEqual(t.snapshots["listed"]["settings"]["text"].count("="), 5)


class HostileNames(ToolTest):
    NAMES = ["a'b", "x]y", "[q]", 'd"q', "has space", "semi;colon", "销售库", "'", "a''", "y",
             "x'); DROP DATABASE y; --", "n" * 128]

    def test_every_name_is_measured_and_nothing_else_runs(self):
        srv = server("10.0.0.5", *[db(n, log_pages=128, log_name="L") for n in self.NAMES],
                     db("한국", log_pages=64))
        t = self.run_tool({"servers": [srv], "steps": [{"start": {}}] + login_steps() +
                           [{"snapshot": "s"}]})
        sizes = dict(zip(t.cells("s", 1), t.cells("s", 2)))
        for name in self.NAMES:
            self.assertEqual(sizes[name], "1.03 MB", name)
        # GBK cannot hold the Hangul name: it shows as "??" and measures nothing.
        self.assertEqual(sizes["??"], "无法获取")
        self.assertIn("y", t.snapshots["s"]["servers"]["10.0.0.5"]["databases"])
        files = [q for q in t.queries("10.0.0.5") if "sys.master_files" in q]
        self.assertEqual(len(files), len(self.NAMES) + 4)
        self.assertIn("db_id(N'x''); DROP DATABASE y; --');", " ".join(files))
        self.assertFalse(any("??" in q for q in files))


class Faults(ToolTest):
    def test_a_dropped_secondary_connection_is_reopened_for_the_rest(self):
        srv = server("10.0.0.5", *[db("db%02d" % i, log_pages=128) for i in range(12)])
        steps = [{"start": {}}, {"type": ["编辑框_IP", "10.0.0.5"]}, {"type": ["编辑框_用户名", "sa"]},
                 {"type": ["编辑框_密码", "Tidewell#1"]},
                 # The secondary connection dies when the listing asks for db05's files.
                 {"server": ["10.0.0.5", {"drop_once_matching": "db_id(N'db05')"}]},
                 {"answer": ["OK"]},
                 {"click": "按钮_连接"}, {"wait": 3000}, {"snapshot": "s"}]
        t = self.run_tool({"servers": [srv], "steps": steps})
        self.assertEqual(t.box_texts(), ["连接成功"])
        self.assertEqual(t.cells("s", 2)[4:], ["1.03 MB"] * 12)
        self.assertTrue(any(e.get("dropped") for e in t.sql["10.0.0.5"]))

    def test_a_server_that_never_answers_fails_after_the_login_timeout(self):
        srv = server("10.0.0.5", db("sales"), faults={"hang": True})
        started = time.monotonic()
        t = self.run_tool({"servers": [srv], "steps": [{"start": {}}] + login_steps()})
        elapsed = time.monotonic() - started
        self.assertEqual(t.box_texts(), ["连接失败"])
        self.assertGreaterEqual(elapsed, 14)
        self.assertLess(elapsed, 40)


if __name__ == "__main__":
    unittest.main()
