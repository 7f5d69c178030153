"""The log cleanups: the single cleanup of the chosen database and the batch cleanup of the
ticked rows; the statements the server receives, the result texts, the recovery model put back
as it was, refusals and lost connections reported, and the buttons held off meanwhile."""
import os
import re
import unittest

from tool import HISTORY, SETTINGS, ToolTest, db, is_query, login_steps, server, settings_file

ADDR = "10.0.0.5"
SALES = db("sales", log_pages=12800, log={"used": 11000, "active": 40})
STAMP = r"2020-10-8 9:\d+:\d+"
USE_MASTER = "USE master"


def cleanup_statements(name, log=None, model="FULL", quoted=None):
    ident = quoted or name
    return ["ALTER DATABASE %s SET RECOVERY SIMPLE " % ident, "USE %s" % ident,
            "DBCC SHRINKFILE (N'%s' , 0, TRUNCATEONLY)" % (log or name + "_log"),
            "ALTER DATABASE %s SET RECOVERY %s" % (ident, model), USE_MASTER]


class CleanupTest(ToolTest):
    def single(self, *databases, chosen="sales", address=ADDR, before=(), **srv):
        """Connects, chooses `chosen` in the combo and runs the single cleanup to its end."""
        steps = [{"start": {}}] + login_steps(address) + list(before) + [
            {"choose": ["组合框_库名", chosen]}, {"click": "按钮_单独清理"}, {"snapshot": "during"},
            # Four pauses of 200 ms and 160 progress steps of 10 ms, then "清理完成" for 500 ms.
            {"wait": 2500}, {"snapshot": "finishing"}, {"wait": 5000}, {"snapshot": "s"}]
        return self.run_tool({"servers": [server(address, *databases, **srv)], "steps": steps})

    def row(self, t, name, snapshot="s"):
        return next(r["cells"] for r in t.snapshots[snapshot]["list"] if r["cells"][1] == name)


class SingleCleanup(CleanupTest):
    def test_a_full_database_on_a_remote_server(self):
        t = self.single(SALES)
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales"))
        self.assertIn("select recovery_model_desc from sys.databases where name=N'sales'",
                      t.queries(ADDR))
        cells = self.row(t, "sales")
        self.assertEqual(cells[2], "516.13 KB")
        self.assertRegex(cells[3], "^" + STAMP + " 清理了 102.71 MB$")
        self.assertEqual(self.row(t, "sales", "during")[3], "正在清理...")
        during = t.snapshots["during"]["units"]
        self.assertEqual((during["按钮_单独清理"]["caption"], during["按钮_单独清理"]["enabled"]),
                         ("正在清理...", False))
        self.assertFalse(during["分组框_登陆"]["enabled"])
        self.assertTrue(during["透明标签_超级列表框"]["visible"])
        self.assertFalse(during["按钮_一键清理"]["enabled"])  # held off
        self.assertEqual(t.unit("finishing", "按钮_单独清理")["caption"], "清理完成")
        done = t.snapshots["s"]["units"]
        self.assertEqual((done["按钮_单独清理"]["caption"], done["按钮_单独清理"]["enabled"]),
                         ("清理", True))
        self.assertTrue(done["按钮_一键清理"]["enabled"] and done["分组框_登陆"]["enabled"])
        self.assertFalse(done["透明标签_超级列表框"]["visible"])
        self.assertEqual(done["进度条1"]["position"], 100)
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"],
                         {"recovery": "FULL", "log_pages": 64})
        self.assertRegex(t.snapshots["s"]["history"]["text"], "^" + STAMP + "\t手动\t10.0.0.5\t"
                         "sales\t103.23 MB\t516.13 KB\t清理了 102.71 MB\r\n$")
        self.assertEqual(t.notices(), [])

    def test_the_history_begins_anew_at_a_megabyte(self):
        old = "x" * (1024 * 1024 - 40) + "\r\n"
        steps = [{"start": {}}] + login_steps() + [
            {"choose": ["组合框_库名", "sales"]}, {"click": "按钮_单独清理"}, {"wait": 5000},
            {"snapshot": "s"}]
        t = self.run_tool({"files": {HISTORY: old, "清理记录.1.txt": "older\r\n"},
                           "servers": [server(ADDR, SALES)], "steps": steps})
        self.assertEqual([f[3] for f in t.history("s")], ["sales"])
        with open(os.path.join(self.dir, "work", "program", "清理记录.1.txt"), "rb") as f:
            self.assertEqual(f.read(), old.encode())

    def test_the_freed_amount_in_megabytes(self):
        # 1614 pages before and the 64-page floor after: 13.016 - 0.516 = 12.5 "MB".
        t = self.single(db("sales", log_pages=1614, log={"used": 1000, "active": 10}))
        self.assertRegex(self.row(t, "sales")[3], "^" + STAMP + " 清理了 12.5 MB$")

    def test_on_this_machine_sizes_are_the_files_on_disk(self):
        t = self.single(db("sales", log_pages=2048, log={"used": 1000, "active": 100}),
                        address="WS01")
        cells = self.row(t, "sales")
        # 2048 pages of 8 KB before, the 100 pages still active after.
        self.assertEqual(cells[2], "800 KB")
        self.assertRegex(cells[3], "^" + STAMP + " 清理了 15.584 MB$")

    def test_the_model_is_put_back_as_it_was(self):
        for recovery, expected in (("SIMPLE", ["USE sales", "DBCC SHRINKFILE (N'sales_log' , 0, "
                                                "TRUNCATEONLY)", USE_MASTER]),
                                   ("BULK_LOGGED", cleanup_statements("sales", model="BULK_LOGGED"))):
            t = self.single(db("sales", recovery=recovery))
            self.assertEqual(t.statements(ADDR), expected, recovery)
            self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"],
                             recovery)

    def test_system_databases_use_their_own_log_names(self):
        t = self.single(SALES, chosen="master")
        self.assertEqual(t.statements(ADDR),
                         ["USE master", "DBCC SHRINKFILE (N'mastlog' , 0, TRUNCATEONLY)", USE_MASTER])
        self.assertRegex(self.row(t, "master")[3], "^" + STAMP + " 清理了 ")
        t = self.single(SALES, chosen="tempdb")
        self.assertEqual(t.statements(ADDR)[1], "DBCC SHRINKFILE (N'templog' , 0, TRUNCATEONLY)")

    def test_a_log_in_use_at_its_end_is_checkpointed_and_shrunk_again(self):
        t = self.single(db("sales", recovery="SIMPLE", log={"active_at_end": True}))
        shrink = "DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)"
        self.assertEqual(t.statements(ADDR), ["USE sales", shrink, "CHECKPOINT", shrink, USE_MASTER])
        self.assertRegex(self.row(t, "sales")[3], "清理了 [1-9]")

    def test_refusals_are_reported_and_the_model_still_put_back(self):
        owner_less = {"name": "op", "password": "pw", "db_owner": False}
        steps = [{"start": {}}] + login_steps(user="op", password="pw") + [
            {"choose": ["组合框_库名", "sales"]}, {"click": "按钮_单独清理"}, {"wait": 5000},
            {"snapshot": "s"}]
        t = self.run_tool({"servers": [server(ADDR, SALES, logins=[owner_less])], "steps": steps})
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales"))
        cells = self.row(t, "sales")
        self.assertRegex(cells[3], "^" + STAMP + " 清理失败：User 'op' does not have permission to "
                         "run DBCC SHRINKFILE")
        self.assertNotIn("[", cells[3])
        self.assertEqual(cells[2], "103.23 MB")  # measured after, unchanged
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"], "FULL")

    def test_a_login_that_may_not_alter_stops_at_the_first_statement(self):
        reader = {"name": "reader", "password": "pw", "can_alter": False}
        steps = [{"start": {}}] + login_steps(user="reader", password="pw") + [
            {"choose": ["组合框_库名", "sales"]}, {"click": "按钮_单独清理"}, {"wait": 5000},
            {"snapshot": "s"}]
        t = self.run_tool({"servers": [server(ADDR, SALES, logins=[reader])], "steps": steps})
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales")[:1] + [USE_MASTER])
        self.assertRegex(self.row(t, "sales")[3], " 清理失败：User does not have permission to alter")

    def test_an_offline_database_is_refused(self):
        t = self.single(db("sales", state="offline"))
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales")[:1] + [USE_MASTER])
        self.assertIn("清理失败：", self.row(t, "sales")[3])
        self.assertEqual(self.row(t, "sales")[2], "8.26 MB")

    def test_hostile_names_are_quoted(self):
        t = self.single(db("x]y", log_name="x]y_log"), db("a'b"), chosen="x]y")
        self.assertEqual(t.statements(ADDR), cleanup_statements("x]y", quoted="[x]]y]"))
        t = self.single(db("a'b", log_name="a'b_log"), chosen="a'b")
        self.assertEqual(t.statements(ADDR),
                         cleanup_statements("a'b", log="a''b_log", quoted="[a'b]"))
        self.assertRegex(self.row(t, "a'b")[3], " 清理了 ")

    def test_sizes_that_cannot_be_had_give_no_freed_amount(self):
        hidden = {"name": "op", "password": "pw", "view_any_definition": False}
        steps = [{"start": {}}] + login_steps(user="op", password="pw") + [
            {"choose": ["组合框_库名", "sales"]}, {"click": "按钮_单独清理"}, {"wait": 5000},
            {"snapshot": "s"}]
        t = self.run_tool({"servers": [server(ADDR, SALES, logins=[hidden])], "steps": steps})
        cells = self.row(t, "sales")
        self.assertEqual(cells[2], "无法获取")
        self.assertRegex(cells[3], "^" + STAMP + " 清理完成$")
        # Without the log's row its name is taken to be the database's + "_log".
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales"))

    def test_nothing_chosen_sends_nothing(self):
        steps = [{"start": {}}] + login_steps() + [{"click": "按钮_单独清理"}, {"snapshot": "s"}]
        t = self.run_tool({"servers": [server(ADDR, SALES)], "steps": steps})
        self.assertEqual(t.box_texts(), ["连接成功", "请指定数据库"])
        self.assertEqual(t.statements(ADDR), [])
        self.assertTrue(t.unit("s", "按钮_一键清理")["enabled"])


class LostConnection(CleanupTest):
    def cleanup_with(self, faults):
        return self.single(SALES, before=[{"server": [ADDR, faults]}])

    def test_dropped_before_the_switch_to_simple(self):
        t = self.cleanup_with({"drop_once_matching": "SET RECOVERY SIMPLE"})
        self.assertRegex(self.row(t, "sales")[3], "^" + STAMP + " 清理失败：连接中断$")
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"], "FULL")

    def test_dropped_after_the_switch_the_model_goes_back(self):
        t = self.cleanup_with({"drop_once_matching": "USE sales"})
        self.assertRegex(self.row(t, "sales")[3], "^" + STAMP + " 清理失败：连接中断$")
        self.assertEqual(t.statements(ADDR)[-1], "ALTER DATABASE sales SET RECOVERY FULL")
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"], "FULL")

    def test_a_model_that_cannot_be_put_back_is_said(self):
        t = self.cleanup_with({"drop_once_matching": "USE sales", "drop_matching": "RECOVERY FULL"})
        self.assertRegex(self.row(t, "sales")[3], " 清理失败：连接中断，数据库仍为简单恢复模式$")
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"],
                         "SIMPLE")

    def test_a_server_restarted_since_the_listing_is_logged_in_again_first(self):
        # Every connection open at the time is dropped once at its next request.
        t = self.cleanup_with({"drop_once_matching": "recovery_model_desc"})
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales"))
        self.assertRegex(self.row(t, "sales")[3], " 清理了 102.71 MB$")


class BatchCleanup(CleanupTest):
    def batch(self, *databases, ticks=(), before=(), after=()):
        steps = [{"start": {}}] + login_steps() + [{"row": [i, "left"]} for i in ticks] + list(
            before) + [{"click": "按钮_一键清理"}, {"snapshot": "during"}] + list(after) + [
            {"wait": 10000}, {"snapshot": "s"}]
        return self.run_tool({"servers": [server(ADDR, *databases)], "steps": steps})

    def test_every_ticked_row_with_a_login_of_its_own(self):
        t = self.batch(SALES, db("skip"), db("simple", recovery="SIMPLE"), ticks=(4, 6))
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales") + [
            "USE simple", "DBCC SHRINKFILE (N'simple_log' , 0, TRUNCATEONLY)", USE_MASTER])
        self.assertRegex(self.row(t, "sales")[3], "^" + STAMP + " 清理了 102.71 MB$")
        self.assertEqual(self.row(t, "skip")[3], "")
        # A fresh main connection for each database.
        conns = [e["conn"] for e in t.sql[ADDR] if e["kind"] == "batch" and not is_query(e)]
        self.assertEqual(len(set(conns)), 2)
        during = t.snapshots["during"]["units"]
        self.assertEqual(during["按钮_一键清理"]["caption"], "正在清理...")
        self.assertFalse(during["按钮_单独清理"]["enabled"])
        done = t.snapshots["s"]["units"]
        self.assertEqual((done["按钮_一键清理"]["caption"], done["按钮_一键清理"]["enabled"]),
                         ("一键清理", True))
        self.assertTrue(done["按钮_单独清理"]["enabled"])  # given back after the hold-off
        self.assertEqual(done["进度条1"]["position"], 0)
        self.assertEqual([f[1:4] + f[6:] for f in t.history("s")],
                         [["手动", ADDR, "sales", "清理了 102.71 MB"],
                          ["手动", ADDR, "simple", "清理了 4.12903 MB"]])

    def test_no_ticked_row_sends_nothing(self):
        t = self.batch(SALES, after=[{"wait": 100}, {"snapshot": "finishing"}])
        self.assertEqual(t.statements(ADDR), [])
        self.assertEqual(t.unit("finishing", "按钮_一键清理")["caption"], "清理完成")
        self.assertEqual(t.unit("s", "按钮_一键清理")["caption"], "一键清理")

    def test_a_name_gbk_cannot_hold_is_never_cleaned_nor_another_databases(self):
        # "logs한" comes back as "logs?", the real name of another database.
        t = self.batch(db("logs한"), db("logs?"), ticks=(4, 5))
        states = t.cells("s", 3)[4:]
        self.assertRegex(states[0], "^" + STAMP + " 清理失败：数据库名称含有无法表示的字符$")
        self.assertRegex(states[1], "^" + STAMP + " 清理了 4.12903 MB$")
        self.assertEqual(t.cells("s", 2)[4:], ["无法获取", "4.13 MB"])
        self.assertEqual(t.statements(ADDR), cleanup_statements("logs?", quoted="[logs?]"))

    def test_exit_during_a_batch_finishes_the_database_it_is_on(self):
        t = self.batch(SALES, db("more"), ticks=(4, 5),
                       after=[{"answer": ["Yes"]}, {"menu": "退出"}, {"tray": "right"}])
        self.assertEqual(t.statements(ADDR), cleanup_statements("sales"))
        self.assertEqual(t.events[-1], {"at": t.events[-1]["at"], "type": "end", "exit_code": 0})
        self.assertEqual(t.snapshots["s"]["servers"][ADDR]["databases"]["sales"]["recovery"], "FULL")


if __name__ == "__main__":
    unittest.main()
