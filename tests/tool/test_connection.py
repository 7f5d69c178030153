"""Logging in and out: the field checks and their messages, the connect click and what it
saves (the password protected for this user), the disconnect click, and the window states
before, after a connect (by hand and automatic) and after a disconnect, control by control."""
import re
import unittest

from tool import SETTINGS, ToolTest, db, login_steps, server, settings_file

SERVER = server("10.0.0.5", db("sales"), db("archive"),
                logins=[{"name": "sa", "password": "Tidewell#1"}, {"name": "blank", "password": ""}])
LOGIN_FIELDS = ["编辑框_IP", "编辑框_用户名", "编辑框_密码", "按钮_获取本机ip"]
CLEAN_BUTTONS = ["按钮_单独清理", "按钮_一键清理"]
MODE_BOXES = ["选择框_每月", "选择框_每周", "选择框_每天"]
DAILY_FIELDS = ["标签_时", "编辑框_时", "标签_分", "编辑框_分", "标签_秒", "编辑框_秒", "按钮_确定"]
OTHER_FIELDS = ["标签_日", "编辑框_日", "组合框_星期"]
RADIOS = ["单选框_单独", "单选框_批量"]
SCHEDULE = {"模式": "每天一次", "时": "3", "分": "0", "秒": "0"}
SAVED = settings_file(配置={"是否挂机": "否", "定时清理模式": "2"}, 定时配置=SCHEDULE)
SHOW = {"tray": "left"}  # a start with a settings file stays in the notification area


class FieldChecks(ToolTest):
    def test_only_the_first_empty_field_is_reported(self):
        cases = [([], "数据库IP不能为空！"), ([("编辑框_IP", " ")], "用户名不能为空！"),
                 ([("编辑框_IP", "x"), ("编辑框_用户名", "u")], "密码不能为空！")]
        for typed, message in cases:
            steps = [{"start": {}}] + [{"type": list(t)} for t in typed]
            steps += [{"click": "按钮_连接"}, {"wait": 2000}, {"snapshot": "s"}]
            t = self.run_tool({"steps": steps})
            box, = t.boxes()
            self.assertEqual((box["text"], box["style"], box["title"]), (message, 0, "提示"))
            u = t.snapshots["s"]["units"]["按钮_连接"]
            self.assertEqual((u["caption"], u["enabled"]), ("连接", True))
            self.assertEqual(t.snapshots["s"]["settings"]["text"], None)

    def test_a_refused_login_says_so_and_saves_nothing(self):
        t = self.run_tool({"servers": [SERVER], "steps": [{"start": {}}] + login_steps(
            password="wrong") + [{"snapshot": "s"}]})
        box, = t.boxes()
        self.assertEqual((box["text"], box["style"], box["title"]), ("连接失败", 0, "信息："))
        u = t.snapshots["s"]["units"]["按钮_连接"]
        self.assertEqual((u["caption"], u["enabled"]), ("连接", True))
        self.assertEqual(t.snapshots["s"]["settings"]["text"], None)

    def test_blanks_are_trimmed_and_a_blank_password_is_sent_as_none(self):
        steps = [{"start": {}}] + login_steps(address=" 10.0.0.5　", user=" blank ",
                                              password="   ") + [{"snapshot": "s"}]
        t = self.run_tool({"servers": [SERVER], "steps": steps})
        self.assertEqual(t.box_texts(), ["连接成功"])
        text = t.snapshots["s"]["settings"]["text"]
        self.assertEqual(text, "[配置]\r\nip=10.0.0.5\r\n用户名=blank\r\n密码密文=%s\r\n"
                         % cipher(text))
        self.assertTrue(all(e["login"] == "blank" for e in t.logins("10.0.0.5")))


def cipher(text):
    """The saved 密码密文: base64, the password nowhere in the file."""
    found = re.search(r"^密码密文=([A-Za-z0-9+/]+=*)\r$", text, re.M)
    assert found and "Tidewell#1" not in text and "\n密码=" not in text, text
    return found.group(1)


class SavedPassword(ToolTest):
    UNATTENDED_RESTART = [{"click": "选择框_挂机"}, {"kill": {}}, {"start": {}}, {"snapshot": "again"}]

    def assert_logged_in_again(self, t):
        self.assertEqual(t.unit("again", "按钮_连接")["caption"], "已连接")
        self.assertEqual(t.unit("again", "编辑框_密码")["text"], "Tidewell#1")
        self.assertEqual({str(e["errors"]) for e in t.logins("10.0.0.5")}, {"[]"})

    def test_a_connect_protects_it_and_an_unattended_restart_logs_in_with_it(self):
        steps = [{"start": {}}] + login_steps() + [{"snapshot": "saved"}] + self.UNATTENDED_RESTART
        t = self.run_tool({"servers": [SERVER], "steps": steps})
        self.assertEqual(t.snapshots["saved"]["settings"]["text"], settings_file(
            配置={"ip": "10.0.0.5", "用户名": "sa",
                "密码密文": cipher(t.snapshots["saved"]["settings"]["text"])}))
        self.assert_logged_in_again(t)

    def test_a_plain_password_of_an_older_file_logs_in_and_goes_at_the_next_connect(self):
        text = settings_file(配置={"ip": "10.0.0.5", "用户名": "sa", "密码": "Tidewell#1",
                                 "是否挂机": "是"})
        steps = [{"start": {}}, SHOW, {"snapshot": "auto"}, {"answer": ["OK", "OK", "OK"]},
                 {"click": "按钮_断开"}, {"click": "按钮_连接"}, {"wait": 3000}, {"snapshot": "s"}]
        t = self.run_tool({"files": {SETTINGS: text}, "servers": [SERVER], "steps": steps})
        self.assertEqual(t.unit("auto", "按钮_连接")["caption"], "已连接")
        self.assertEqual(t.box_texts(), ["是否断开连接？", "已断开连接", "连接成功"])
        after = t.snapshots["s"]["settings"]["text"]
        self.assertEqual(after, settings_file(配置={"ip": "10.0.0.5", "用户名": "sa",
                                                  "是否挂机": "是", "密码密文": cipher(after)}))

    def test_a_file_from_another_user_or_machine_gives_an_empty_password(self):
        first = self.run_tool({"servers": [SERVER], "steps": [{"start": {}}] + login_steps() + [
            {"click": "选择框_挂机"}, {"snapshot": "s"}]})
        # A new run of the runner is another user: its key is not the one that made the blob.
        copied = first.snapshots["s"]["settings"]["text"]
        for text in (copied, copied.replace("密码密文=", "密码密文=!")):
            t = self.run_tool({"files": {SETTINGS: text}, "servers": [SERVER],
                               "steps": [{"start": {}}, {"snapshot": "s"}]})
            u = t.snapshots["s"]["units"]
            self.assertEqual((u["编辑框_密码"]["text"], u["按钮_连接"]["caption"]), ("", "连接"))
            self.assertEqual(t.boxes(), [])
            # The automatic connection tried the login without a password, and was refused.
            login, = t.logins("10.0.0.5")
            self.assertEqual((login["login"], login["errors"]), ("sa", [18456]))

    def test_without_protection_it_is_saved_plain_as_before(self):
        steps = [{"start": {}}] + login_steps() + [{"snapshot": "saved"}] + self.UNATTENDED_RESTART
        t = self.run_tool({"machine": {"data_protection": False}, "servers": [SERVER],
                           "steps": steps})
        self.assertEqual(t.snapshots["saved"]["settings"]["text"], settings_file(
            配置={"ip": "10.0.0.5", "用户名": "sa", "密码": "Tidewell#1"}))
        self.assert_logged_in_again(t)


class WindowStates(ToolTest):
    def assert_state(self, units, column):
        connected = column in ("manual", "auto")
        for name in ["按钮_连接"]:
            self.assertEqual((units[name]["enabled"], units[name]["caption"]),
                             (not connected, "已连接" if connected else "连接"), column)
        self.assertEqual(units["按钮_断开"]["enabled"], connected, column)
        for name in LOGIN_FIELDS:
            self.assertEqual(units[name]["enabled"], not connected, (column, name))
        for name in CLEAN_BUTTONS:
            self.assertEqual(units[name]["enabled"], connected, (column, name))
        combo = units["组合框_库名"]
        self.assertEqual(combo["enabled"], connected, column)
        self.assertEqual(len(combo["items"]), 6 if connected else 0, column)
        self.assertEqual(combo["selection"], {"auto": 5}.get(column, -1), column)
        box = units["选择框_挂机"]
        self.assertEqual((box["enabled"], box["checked"]), (connected, column == "auto"), column)
        # Saved: daily mode; batch cleanup.
        for name in MODE_BOXES:
            ticked = connected and name == "选择框_每天"
            self.assertEqual(units[name]["checked"], ticked, (column, name))
            self.assertEqual(units[name]["enabled"],
                             column == "initial" or (connected and ticked), (column, name))
        if column == "initial":
            self.assertFalse(any(units[n]["visible"] for n in DAILY_FIELDS + OTHER_FIELDS))
            self.assertFalse(any(units[n]["checked"] for n in RADIOS))
            self.assertEqual(units["组合框_库名"]["items"], [])
            return
        for name in DAILY_FIELDS:
            self.assertEqual(units[name]["visible"], connected, (column, name))
        for name in OTHER_FIELDS:
            self.assertFalse(units[name]["visible"], (column, name))
        for name in RADIOS:
            self.assertEqual(units[name]["visible"], column != "after disconnect", (column, name))
        self.assertTrue(units["单选框_批量"]["checked"], column)  # hiding leaves the mark
        self.assertEqual(units["进度条1"]["position"], 0, column)
        self.assertTrue(units["分组框_定时"]["enabled"], column)

    def test_the_four_columns_control_by_control(self):
        first = self.run_tool({"steps": [{"start": {}}, {"snapshot": "initial"}]})
        self.assert_state(first.snapshots["initial"]["units"], "initial")
        steps = [{"start": {}}, SHOW] + login_steps() + [
            {"snapshot": "manual"}, {"answer": ["Cancel"]}, {"click": "按钮_断开"},
            {"snapshot": "cancelled"}, {"answer": ["OK", "OK"]}, {"click": "按钮_断开"},
            {"snapshot": "after disconnect"}]
        t = self.run_tool({"files": {SETTINGS: SAVED}, "servers": [SERVER], "steps": steps})
        for column in ("manual", "after disconnect"):
            self.assert_state(t.snapshots[column]["units"], column)
        self.assertEqual(t.snapshots["cancelled"]["units"], t.snapshots["manual"]["units"])
        self.assertEqual(len(t.snapshots["manual"]["list"]), 6)
        self.assertEqual(t.snapshots["after disconnect"]["list"], [])
        self.assertEqual(t.unit("after disconnect", "按钮_断开")["caption"], "断开")
        self.assertEqual(t.box_texts(), ["连接成功", "是否断开连接？", "是否断开连接？", "已断开连接"])
        confirm = t.boxes()[1]
        self.assertEqual((confirm["style"], confirm["title"]), (1, "确认断开"))
        # The login is saved in this order, and the file hidden.
        saved = t.snapshots["manual"]["settings"]
        self.assertEqual(saved, {"hidden": True, "text": settings_file(
            配置={"是否挂机": "否", "定时清理模式": "2", "ip": "10.0.0.5", "用户名": "sa",
                "密码密文": cipher(saved["text"])}, 定时配置=SCHEDULE)})

    def test_the_automatic_connection_column(self):
        text = settings_file(配置={"是否挂机": "是", "定时清理模式": "2", "ip": "10.0.0.5",
                                 "用户名": "sa", "密码": "Tidewell#1", "指定库": "archive"},
                             定时配置=SCHEDULE)
        t = self.run_tool({"files": {SETTINGS: text}, "servers": [SERVER],
                           "steps": [{"start": {}}, {"snapshot": "auto"}]})
        self.assert_state(t.snapshots["auto"]["units"], "auto")
        self.assertEqual(t.unit("auto", "时钟1")["interval"], 1000)

    def test_disconnecting_keeps_unattended_mode_saved_and_radios_stay_hidden(self):
        text = settings_file(配置={"ip": "10.0.0.5", "用户名": "sa", "密码": "Tidewell#1",
                                 "是否挂机": "是", "定时清理模式": "1"})
        steps = [{"start": {}}, SHOW, {"answer": ["OK", "OK"]}, {"click": "按钮_断开"},
                 {"snapshot": "off"}] + login_steps() + [{"snapshot": "again"}]
        t = self.run_tool({"files": {SETTINGS: text}, "servers": [SERVER], "steps": steps})
        off = t.snapshots["off"]
        self.assertEqual(off["units"]["时钟1"]["interval"], 1000)
        self.assertIn("是否挂机=是", off["settings"]["text"])
        again = t.snapshots["again"]["units"]
        self.assertFalse(again["单选框_单独"]["visible"] or again["单选框_批量"]["visible"])
        self.assertTrue(again["单选框_单独"]["checked"])
        # A connect by hand selects nothing, whatever 指定库 says.
        self.assertEqual(again["组合框_库名"]["selection"], -1)

    def test_a_connect_leaves_one_mode_box_ticked(self):
        # The saved mode is ticked again after the connect; the one the user ticked meanwhile
        # without saving goes, so the schedule cannot start two cleanups.
        text = settings_file(定时配置={"模式": "每月一次", "日期": "1", "时": "1", "分": "0", "秒": "0"})
        steps = [{"start": {}}, SHOW, {"click": "选择框_每月"}, {"click": "选择框_每天"},
                 {"snapshot": "edited"}] + login_steps() + [{"snapshot": "s"}]
        t = self.run_tool({"files": {SETTINGS: text}, "servers": [SERVER], "steps": steps})
        self.assertTrue(t.unit("edited", "选择框_每天")["checked"])
        u = t.snapshots["s"]["units"]
        self.assertEqual([u[b]["checked"] for b in MODE_BOXES], [True, False, False])
        self.assertEqual([u[b]["enabled"] for b in MODE_BOXES], [True, False, False])

    def test_progress_dots_follow_the_attempt(self):
        steps = [{"start": {}}] + login_steps()[:-1] + [
            {"snapshot": "d0"}, {"wait": 600}, {"snapshot": "d1"}, {"wait": 500},
            {"snapshot": "d2"}]
        t = self.run_tool({"servers": [SERVER], "steps": steps})
        self.assertEqual([t.unit(s, "按钮_连接")["caption"] for s in ("d0", "d1", "d2")],
                         ["正在连接", "正在连接.", "正在连接.."])
        self.assertFalse(t.unit("d1", "按钮_连接")["enabled"])


if __name__ == "__main__":
    unittest.main()
