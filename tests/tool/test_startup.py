"""Start-up and the settings file: the single-instance rule, the window shown on a first run
only, the tray icon, the login fields and schedule controls filled from the file, and the
automatic connection of an unattended start."""
import unittest

from tool import SETTINGS, ToolTest, db, login_steps, server, settings_file

SCHEDULE_FIELDS = ["标签_日", "编辑框_日", "组合框_星期", "标签_时", "编辑框_时", "标签_分", "编辑框_分",
                   "标签_秒", "编辑框_秒", "按钮_确定"]


class StartUp(ToolTest):
    def test_first_start_shows_the_window_and_creates_nothing(self):
        t = self.run_tool({"steps": [{"start": {}}, {"snapshot": "s"}]})
        s = t.snapshots["s"]
        self.assertEqual(s["windows"]["main"]["visible"], True)
        self.assertEqual(s["windows"]["main"]["caption"], "Tidewell v2.12   编译日期：2020.10.8")
        self.assertEqual(s["tray"], {"present": True, "tooltip": "Tidewell"})
        self.assertEqual(s["settings"]["text"], None)
        for field in ["编辑框_IP", "编辑框_用户名", "编辑框_密码"]:
            self.assertEqual(s["units"][field]["text"], "")
        self.assertFalse(any(s["units"][u]["visible"] for u in SCHEDULE_FIELDS))
        self.assertEqual(s["units"]["时钟1"]["interval"], 0)
        self.assertEqual(t.boxes(), [])

    def test_a_second_copy_warns_and_ends_reading_and_writing_nothing(self):
        text = settings_file(配置={"ip": "10.0.0.5", "是否挂机": "是"})
        t = self.run_tool({"machine": {"other_processes": ["[System Process]", "tidewell.exe"]},
                           "files": {SETTINGS: text},
                           "steps": [{"start": {}}, {"snapshot": "after"}]})
        box, = t.boxes()
        self.assertEqual((box["text"], box["style"], box["title"]), ("程序已在运行！", 48, "警告"))
        self.assertEqual([e["type"] for e in t.events], ["start", "msgbox", "end"])
        self.assertEqual(t.events[-1]["exit_code"], 0)
        self.assertEqual(t.snapshots["after"]["settings"]["text"], text)
        self.assertEqual(t.snapshots["after"]["tray"]["present"], False)

    def test_only_copies_of_the_exact_file_name_count(self):
        for others in (["tidewell.exe", "System"], ["[System Process]", "TIDEWELL.EXE"],
                       ["[System Process]", "tidewell2.exe"]):
            # The first entry (the idle process) is never examined.
            t = self.run_tool({"machine": {"other_processes": others},
                               "steps": [{"start": {}}, {"snapshot": "s"}]})
            self.assertEqual(t.box_texts(), [], others)
            self.assertTrue(t.snapshots["s"]["windows"]["main"]["visible"])

    def test_an_empty_settings_file_keeps_the_window_in_the_tray(self):
        t = self.run_tool({"files": {SETTINGS: ""}, "steps": [{"start": {}}, {"snapshot": "s"}]})
        s = t.snapshots["s"]
        self.assertFalse(s["windows"]["main"]["visible"])
        self.assertTrue(s["tray"]["present"])
        self.assertEqual(s["units"]["编辑框_IP"]["text"], "")
        self.assertEqual(s["units"]["时钟1"]["interval"], 0)

    def test_saved_values_are_applied_exactly_as_stored(self):
        text = settings_file(
            配置={"ip": " 10.0.0.5", "用户名": "sa", "密码": "pw", "是否挂机": "是 ",
                "定时清理模式": "1", "开机自启": "true"},
            定时配置={"模式": "每周一次", "星期": "星期三", "时": "07", "分": "5", "秒": "60"})
        t = self.run_tool({"files": {SETTINGS: text}, "steps": [{"start": {}}, {"snapshot": "s"}]})
        u = t.snapshots["s"]["units"]
        self.assertEqual(u["编辑框_IP"]["text"], " 10.0.0.5")
        self.assertEqual(u["编辑框_密码"]["text"], "pw")
        # "是 " is not "是": no automatic connection, unattended mode off.
        self.assertEqual((u["选择框_挂机"]["checked"], u["时钟1"]["interval"]), (False, 0))
        self.assertEqual(u["按钮_连接"]["caption"], "连接")
        self.assertTrue(u["单选框_单独"]["checked"])
        self.assertFalse(u["单选框_批量"]["checked"])
        self.assertTrue(u["选择框_开机自启"]["checked"])
        self.assertEqual((u["选择框_每周"]["checked"], u["选择框_每月"]["enabled"],
                          u["选择框_每天"]["enabled"]), (True, False, False))
        self.assertEqual((u["组合框_星期"]["visible"], u["组合框_星期"]["selection"],
                          u["组合框_星期"]["text"]), (True, 2, "星期三"))
        self.assertEqual([u[f]["text"] for f in ["编辑框_时", "编辑框_分", "编辑框_秒"]],
                         ["07", "5", "60"])
        self.assertTrue(u["按钮_确定"]["visible"])
        self.assertFalse(u["编辑框_日"]["visible"])

    def test_unrecognised_modes_and_an_empty_weekday_set_nothing(self):
        text = settings_file(配置={"定时清理模式": "3", "开机自启": "True"},
                             定时配置={"模式": "每周一次", "时": "1", "分": "2", "秒": "3"})
        t = self.run_tool({"files": {SETTINGS: text}, "steps": [{"start": {}}, {"snapshot": "s"}]})
        u = t.snapshots["s"]["units"]
        self.assertFalse(u["单选框_单独"]["checked"] or u["单选框_批量"]["checked"])
        self.assertFalse(u["选择框_开机自启"]["checked"])
        self.assertEqual(u["组合框_星期"]["selection"], -1)


class UnattendedStart(ToolTest):
    SERVER = server("10.0.0.5", db("salesarchive"), db("sales", log_pages=128), db("Other"))

    def script(self, chosen, password="Tidewell#1", **machine):
        text = settings_file(配置={"ip": "10.0.0.5", "用户名": "sa", "密码": password,
                                 "是否挂机": "是", "指定库": chosen})
        return {"machine": machine, "files": {SETTINGS: text}, "servers": [self.SERVER],
                "steps": [{"start": {}}, {"snapshot": "s"}]}

    def test_connects_hidden_lists_and_selects_the_chosen_database(self):
        t = self.run_tool(self.script("SALES"))
        s = t.snapshots["s"]
        u = s["units"]
        self.assertFalse(s["windows"]["main"]["visible"])
        self.assertEqual((u["按钮_连接"]["caption"], u["按钮_连接"]["enabled"]), ("已连接", False))
        self.assertEqual(u["时钟1"]["interval"], 1000)
        self.assertTrue(u["选择框_挂机"]["checked"] and u["选择框_挂机"]["enabled"])
        self.assertTrue(u["分组框_定时"]["enabled"])
        # The item equal to the saved name wins over the first one that begins with it.
        self.assertEqual(u["组合框_库名"]["text"], "sales")
        self.assertEqual(t.cells("s", 1)[-3:], ["salesarchive", "sales", "Other"])
        # A remote server is asked for its sizes: 128 pages / 124.
        self.assertEqual(t.cells("s", 2)[-2], "1.03 MB")
        self.assertEqual(t.boxes(), [])

    def test_only_the_item_equal_to_the_name_is_selected(self):
        for saved in ("oth", ""):
            t = self.run_tool(self.script(saved))
            self.assertEqual(t.unit("s", "组合框_库名")["selection"], -1, saved)

    def test_a_failed_automatic_connection_is_silent(self):
        t = self.run_tool(self.script("sales", password="wrong"))
        u = t.snapshots["s"]["units"]
        self.assertEqual(t.boxes(), [])
        self.assertEqual((u["按钮_连接"]["caption"], u["按钮_连接"]["enabled"]), ("连接", True))
        self.assertEqual(t.snapshots["s"]["list"], [])
        self.assertEqual(u["时钟1"]["interval"], 1000)


if __name__ == "__main__":
    unittest.main()
