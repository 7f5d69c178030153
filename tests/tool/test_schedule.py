"""The schedule: mode boxes and their fields, the validation and saving of 按钮_确定, the choice
of the cleanup, unattended mode, and the tick that starts the cleanup at the saved second: by
day, week and month, across clock changes, and held off by a cleanup in progress."""
import unittest

from tool import SETTINGS, ToolTest, db, login_steps, server, settings_file

ADDR = "10.0.0.5"
SHRINK = "DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)"


def unattended(clock, schedule, mode="1", **extra):
    """A machine that starts the tool unattended with the schedule saved."""
    config = {"ip": ADDR, "用户名": "sa", "密码": "Tidewell#1", "是否挂机": "是",
              "指定库": "sales"}
    if mode:
        config["定时清理模式"] = mode
    text = settings_file(配置=config, 定时配置=schedule, **extra)
    return {"machine": {"clock": clock}, "files": {SETTINGS: text},
            "servers": [server(ADDR, db("sales"), db("hr"))]}


def daily(h, m="0", s="0"):
    return {"模式": "每天一次", "时": h, "分": m, "秒": s}


class Editing(ToolTest):
    def edit(self, steps):
        return self.run_tool({"servers": [server(ADDR, db("sales"))],
                              "steps": [{"start": {}}] + login_steps() + steps + [
                                  {"snapshot": "s"}]})

    def test_every_validation_message_leaves_the_file_alone(self):
        cases = [([{"click": "选择框_每月"}, {"type": ["编辑框_时", "1"]}], "日期不能为空"),
                 ([{"click": "选择框_每月"}, {"type": ["编辑框_日", "5"]}], "时间不能为空"),
                 ([{"click": "选择框_每周"}, {"type": ["编辑框_时", "1"]}], "请选择星期"),
                 ([{"click": "选择框_每周"}, {"choose": ["组合框_星期", "星期一"]}], "时间不能为空"),
                 ([{"click": "选择框_每天"}, {"type": ["编辑框_时", "1"]}, {"type": ["编辑框_分", "1"]}],
                  "时间不能为空")]
        for steps, message in cases:
            t = self.edit(steps + [{"click": "按钮_确定"}])
            self.assertEqual(t.box_texts()[1:], [message])
            self.assertNotIn("定时配置", t.snapshots["s"]["settings"]["text"])

    def test_saving_writes_as_typed_with_the_limits_applied(self):
        t = self.edit([{"click": "选择框_每月"}, {"type": ["编辑框_日", "32"]},
                       {"type": ["编辑框_时", "25"]}, {"type": ["编辑框_分", "60"]},
                       {"type": ["编辑框_秒", "61"]}, {"click": "按钮_确定"}])
        u = t.snapshots["s"]["units"]
        self.assertEqual([u[f]["text"] for f in ["编辑框_日", "编辑框_时", "编辑框_分", "编辑框_秒"]],
                         ["1", "0", "60", "0"])
        self.assertTrue(t.snapshots["s"]["settings"]["text"].endswith(
            "[定时配置]\r\n模式=每月一次\r\n日期=1\r\n时=0\r\n分=60\r\n秒=0\r\n"))
        for f in ["按钮_确定", "编辑框_日", "编辑框_时", "编辑框_分", "编辑框_秒"]:
            self.assertFalse(u[f]["enabled"], f)
        self.assertEqual((u["选择框_每周"]["enabled"], u["选择框_每天"]["enabled"]), (False, False))

    def test_weekly_saves_the_weekday_and_unticking_unlocks(self):
        t = self.edit([{"click": "选择框_每周"}, {"choose": ["组合框_星期", "星期六"]},
                       {"type": ["编辑框_时", "07"]}, {"type": ["编辑框_分", "5"]},
                       {"type": ["编辑框_秒", "0"]}, {"click": "按钮_确定"}, {"snapshot": "saved"},
                       {"click": "选择框_每周"}])
        self.assertIn("模式=每周一次\r\n星期=星期六\r\n时=07\r\n分=5\r\n秒=0\r\n",
                      t.snapshots["saved"]["settings"]["text"])
        self.assertFalse(t.unit("saved", "组合框_星期")["enabled"])
        u = t.snapshots["s"]["units"]
        self.assertFalse(u["组合框_星期"]["visible"] or u["组合框_星期"]["enabled"])
        self.assertTrue(all(u[f]["enabled"] and not u[f]["visible"]
                            for f in ["按钮_确定", "编辑框_时", "编辑框_分", "编辑框_秒"]))
        self.assertTrue(u["选择框_每月"]["enabled"] and u["选择框_每天"]["enabled"])

    def test_the_radio_buttons_need_a_database(self):
        t = self.edit([{"click": "单选框_单独"}, {"snapshot": "single"}, {"click": "单选框_批量"},
                       {"snapshot": "batch"}, {"choose": ["组合框_库名", "sales"]},
                       {"click": "单选框_单独"}, {"snapshot": "chosen"}, {"row": [4, "left"]},
                       {"click": "单选框_批量"}])
        self.assertEqual(t.box_texts()[1:], ["请先指定数据库", "请先选定数据库"])
        for snap in ("single", "batch"):
            self.assertFalse(t.unit(snap, "单选框_单独")["checked"] or
                             t.unit(snap, "单选框_批量")["checked"])
        self.assertIn("定时清理模式=1", t.snapshots["chosen"]["settings"]["text"])
        self.assertIn("定时清理模式=2", t.snapshots["s"]["settings"]["text"])

    def test_unattended_mode_switches_the_timer(self):
        t = self.edit([{"click": "选择框_挂机"}, {"snapshot": "on"}, {"click": "选择框_挂机"}])
        self.assertEqual(t.unit("on", "时钟1")["interval"], 1000)
        self.assertIn("是否挂机=是", t.snapshots["on"]["settings"]["text"])
        self.assertEqual(t.unit("s", "时钟1")["interval"], 0)
        self.assertIn("是否挂机=否", t.snapshots["s"]["settings"]["text"])


class Firing(ToolTest):
    def fired(self, script, *steps):
        script["steps"] = [{"start": {}}] + list(steps) + [{"snapshot": "s"}]
        t = self.run_tool(script)
        return t, t.statements(ADDR).count(SHRINK)

    def test_daily_at_the_exact_second_typed_with_a_leading_zero(self):
        t, n = self.fired(unattended("2020-10-08 06:59:50", daily("07")),
                          {"until": "2020-10-09 06:59:00"})
        self.assertEqual(n, 1)
        self.assertRegex(t.cells("s", 3)[4], "^2020-10-8 7:0:0 清理了 ")

    def test_times_that_do_not_exist_never_fire(self):
        for schedule in (daily("24"), daily("3", m="60"), daily("3", s="60")):
            _, n = self.fired(unattended("2020-10-08 00:00:00", schedule),
                              {"until": "2020-10-09 01:00:00"})
            self.assertEqual(n, 0, schedule)

    def test_monthly_on_its_day_only(self):
        month = {"模式": "每月一次", "日期": "31", "时": "0", "分": "0", "秒": "5"}
        _, n = self.fired(unattended("2020-11-29 23:59:00", month), {"until": "2020-12-01 01:00:00"})
        self.assertEqual(n, 0)  # November has no 31st
        _, n = self.fired(unattended("2020-12-30 23:59:00", month), {"until": "2021-01-01 01:00:00"})
        self.assertEqual(n, 1)

    def test_weekly_on_saturday_and_on_wednesday(self):
        for weekday, day in (("星期六", "10"), ("星期三", "14")):
            week = {"模式": "每周一次", "星期": weekday, "时": "10", "分": "0", "秒": "0"}
            t, n = self.fired(unattended("2020-10-08 09:00:00", week),
                              {"until": "2020-10-15 09:00:00"})
            self.assertEqual(n, 1, weekday)
            self.assertRegex(t.cells("s", 3)[4], "^2020-10-%s 10:0:0 " % day)

    def test_neither_radio_ticked_runs_the_batch_cleanup(self):
        script = unattended("2020-10-08 06:59:50", daily("7"), mode=None,
                            欲清理的库={"hr": "1"})
        t, n = self.fired(script, {"until": "2020-10-08 07:01:00"})
        self.assertEqual(t.statements(ADDR)[2], "DBCC SHRINKFILE (N'hr_log' , 0, TRUNCATEONLY)")
        self.assertEqual(n, 0)

    def test_unattended_off_does_nothing(self):
        script = unattended("2020-10-08 06:59:50", daily("7"))
        script["files"][SETTINGS] = script["files"][SETTINGS].replace("是否挂机=是", "是否挂机=否")
        _, n = self.fired(script, {"until": "2020-10-08 07:01:00"})
        self.assertEqual(n, 0)

    def test_clock_changes(self):
        script = unattended("2020-10-08 06:59:50", daily("7"))
        # Set back across a second that fired: not again. Forward within a minute: the second
        # passed over still fires once. Forward by more than a minute: nothing.
        _, n = self.fired(dict(script), {"until": "2020-10-08 07:00:30"},
                          {"set_clock": "2020-10-08 06:59:55"}, {"wait": 60000})
        self.assertEqual(n, 1)
        _, n = self.fired(dict(script), {"wait": 2000}, {"set_clock": "2020-10-08 07:00:20"},
                          {"wait": 5000})
        self.assertEqual(n, 1)
        _, n = self.fired(dict(script), {"wait": 2000}, {"set_clock": "2020-10-08 07:01:00"},
                          {"wait": 5000})
        self.assertEqual(n, 0)

    def test_a_cleanup_in_progress_holds_the_schedule_off(self):
        # A batch cleanup started by hand a second before the scheduled one runs over it.
        script = unattended("2020-10-08 06:59:59", daily("7"), mode="2",
                            欲清理的库={"sales": "1", "hr": "1"})
        t, _ = self.fired(script, {"tray": "left"}, {"click": "按钮_一键清理"},
                          {"until": "2020-10-08 07:02:00"})
        self.assertEqual(t.statements(ADDR).count("USE sales"), 1)


class LeftAlone(ToolTest):
    """Nobody watches: a due cleanup logs in first when it must, opens no message box, cleans no
    other database, and leaves a history line and, when it failed, a balloon."""

    def run_due(self, script, *before, password=None):
        if password:
            script["servers"][0]["fixture"]["logins"] = [{"name": "sa", "password": password}]
        script["steps"] = list(before) + [{"start": {}}, {"wait": 2000}, {"snapshot": "down"},
                                          {"server": [ADDR, {}]},
                                          {"until": "2020-10-08 07:01:00"}, {"snapshot": "s"}]
        t = self.run_tool(script)
        self.assertEqual(t.boxes(), [])
        return t

    def test_a_logon_without_the_server_cleans_once_it_is_up(self):
        for mode, name in (("2", "hr"), ("1", "sales")):
            script = unattended("2020-10-08 06:59:50", daily("7"), mode=mode, 欲清理的库={"hr": "1"})
            t = self.run_due(script, {"server": [ADDR, {"refuse_logins": True}]})
            self.assertEqual(t.unit("down", "按钮_连接")["caption"], "连接")
            self.assertEqual(t.unit("s", "按钮_连接")["caption"], "已连接")
            self.assertEqual(t.statements(ADDR)[1], "USE %s" % name)
            line = t.history("s")
            self.assertEqual([f[:6] for f in line],
                             [["2020-10-8 7:0:0", "定时", ADDR, name, "8.26 MB", "4.13 MB"]])
            self.assertEqual(line[0][6], "清理了 4.12903 MB")
            self.assertEqual(t.notices(), [])
        self.assertEqual(t.unit("s", "组合框_库名")["text"], "sales")

    def test_a_wrong_saved_password_logs_in_once_per_due_second(self):
        t = self.run_due(unattended("2020-10-08 06:59:50", daily("7")), password="changed")
        self.assertEqual(len(t.logins(ADDR)), 2)  # at the start and at the due second
        self.assertEqual(t.history("s"), [["2020-10-8 7:0:0", "定时", ADDR, "sales", "", "",
                                           "连接失败"]])
        self.assertEqual(t.notices(), ["sales 连接失败"])
        self.assertEqual(t.statements(ADDR), [])

    def test_the_chosen_database_must_be_on_the_server(self):
        # "sale" merely begins "sales": the automatic connection selects nothing, the schedule
        # cleans nothing.
        script = unattended("2020-10-08 06:59:50", daily("7"))
        script["files"][SETTINGS] = script["files"][SETTINGS].replace("指定库=sales", "指定库=sale")
        t = self.run_due(script)
        self.assertEqual(t.unit("down", "组合框_库名")["selection"], -1)
        self.assertEqual(t.statements(ADDR), [])
        self.assertEqual(t.history("s"), [["2020-10-8 7:0:0", "定时", ADDR, "sale", "", "",
                                           "指定的数据库不存在：sale"]])
        self.assertEqual(t.notices(), ["sale 指定的数据库不存在：sale"])

    def test_a_manual_connect_leaves_no_selection_and_the_schedule_still_cleans(self):
        script = unattended("2020-10-08 06:59:50", daily("7"))
        script["files"][SETTINGS] = script["files"][SETTINGS].replace("是否挂机=是", "是否挂机=否")
        script["steps"] = [{"start": {}}, {"tray": "left"}, {"answer": ["OK"]},
                           {"click": "按钮_连接"}, {"wait": 3000},
                           {"click": "选择框_挂机"}, {"snapshot": "connected"}, {"until": "2020-10-08 07:01:00"},
            {"snapshot": "s"}]
        t = self.run_tool(script)
        self.assertEqual(t.unit("connected", "组合框_库名")["selection"], -1)
        self.assertEqual(t.statements(ADDR)[1], "USE sales")
        self.assertEqual(t.box_texts(), ["连接成功"])
        self.assertEqual(t.history("s")[0][:4], ["2020-10-8 7:0:0", "定时", ADDR, "sales"])


if __name__ == "__main__":
    unittest.main()
