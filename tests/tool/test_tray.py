"""The notification area, the way out, autostart, and the chooser that fills the address with
this machine's IP address or host name, which make the server count as this machine."""
import os
import unittest

from tool import SETTINGS, ToolTest, db, login_steps, server

RUN_KEY_VALUE = "tidewell.exe"


class Tray(ToolTest):
    def test_closing_hides_and_the_tray_shows_again(self):
        steps = [{"start": {}}, {"close": "main"}, {"snapshot": "closed"}, {"tray": "left"},
                 {"snapshot": "left"}, {"esc": "main"}, {"tray": "double"}, {"snapshot": "double"},
                 {"close": "main"}, {"menu": "显示主菜单"}, {"tray": "right"}, {"snapshot": "menu"}]
        t = self.run_tool({"steps": steps})
        closed = t.snapshots["closed"]
        self.assertEqual((closed["windows"]["main"]["open"], closed["windows"]["main"]["visible"]),
                         (True, False))
        self.assertEqual(closed["tray"], {"present": True, "tooltip": "Tidewell"})
        for snap in ("left", "double", "menu"):
            main = t.snapshots[snap]["windows"]["main"]
            self.assertEqual((main["visible"], main["display_state"]), (True, 0), snap)
        menu, = [e for e in t.events if e["type"] == "menu"]
        self.assertEqual((menu["items"], menu["choice"]), (["显示主菜单", "退出"], "显示主菜单"))
        self.assertNotIn("end", [e["type"] for e in t.events])

    def test_exit_asks_first(self):
        steps = [{"start": {}}, {"answer": ["No"]}, {"menu": "退出"}, {"tray": "right"},
                 {"snapshot": "still"}, {"answer": ["Yes"]}, {"menu": "退出"}, {"tray": "right"},
                 {"snapshot": "gone"}]
        t = self.run_tool({"steps": steps})
        asked = [b for b in t.boxes() if b["text"] == "是否退出程序?"]
        self.assertEqual([(b["style"], b["title"], b["answer"]) for b in asked],
                         [(4, "提示:", "No"), (4, "提示:", "Yes")])
        self.assertTrue(t.snapshots["still"]["windows"]["main"]["visible"])
        self.assertEqual(t.events[-1]["type"], "end")
        self.assertEqual(t.events[-1]["exit_code"], 0)
        self.assertFalse(t.snapshots["gone"]["windows"]["main"]["open"])

    def test_exit_during_a_single_cleanup_lets_it_finish(self):
        steps = [{"start": {}}] + login_steps() + [
            {"choose": ["组合框_库名", "sales"]}, {"click": "按钮_单独清理"}, {"answer": ["Yes"]},
            {"menu": "退出"}, {"tray": "right"}, {"wait": 5000}, {"snapshot": "s"}]
        t = self.run_tool({"servers": [server("10.0.0.5", db("sales"))], "steps": steps})
        self.assertEqual(t.statements("10.0.0.5")[-2:],
                         ["ALTER DATABASE sales SET RECOVERY FULL", "USE master"])
        self.assertEqual(t.events[-1]["exit_code"], 0)
        self.assertEqual(t.snapshots["s"]["servers"]["10.0.0.5"]["databases"]["sales"]["recovery"],
                         "FULL")


class Autostart(ToolTest):
    def toggle(self, **machine):
        steps = [{"start": {}}, {"click": "选择框_开机自启"}, {"snapshot": "on"},
                 {"click": "选择框_开机自启"}, {"snapshot": "off"}]
        return self.run_tool({"machine": machine, "steps": steps})

    def test_on_and_off(self):
        folder = os.path.join(self.dir, "tools")
        t = self.toggle(program_dir=folder)
        self.assertEqual(t.snapshots["on"]["registry"], {RUN_KEY_VALUE: folder + "\\tidewell.exe"})
        self.assertEqual(t.snapshots["on"]["settings"]["text"], "[配置]\r\n开机自启=true\r\n")
        self.assertEqual(t.snapshots["off"]["registry"], {})
        self.assertEqual(t.snapshots["off"]["settings"]["text"], "[配置]\r\n开机自启=false\r\n")

    def test_a_path_with_blanks_is_quoted(self):
        folder = os.path.join(self.dir, "Program Files", "Tidewell")
        t = self.toggle(program_dir=folder)
        self.assertEqual(t.snapshots["on"]["registry"][RUN_KEY_VALUE],
                         '"' + folder + '\\tidewell.exe"')

    def test_a_registry_that_refuses_is_told(self):
        t = self.run_tool({"machine": {"registry_writable": False},
                           "steps": [{"start": {}}, {"click": "选择框_开机自启"}, {"snapshot": "s"}]})
        box, = t.boxes()
        self.assertEqual((box["text"], box["style"], box["title"]), ("无法设置开机自启", 48, "警告"))
        self.assertFalse(t.unit("s", "选择框_开机自启")["checked"])
        self.assertEqual(t.snapshots["s"]["settings"]["text"], None)


class Chooser(ToolTest):
    def choose(self, button):
        steps = [{"start": {}}, {"click": "按钮_获取本机ip"}, {"snapshot": "open"}]
        steps += [{"click": button}] if button else [{"close": "chooser"}]
        return self.run_tool({"steps": steps + [{"snapshot": "s"}]})

    def test_the_buttons_fill_the_address_and_the_close_box_does_not(self):
        for button, text in (("按钮_IP", "192.168.1.20"), ("按钮_主机名", "WS01"), (None, "")):
            t = self.choose(button)
            opened = t.snapshots["open"]["windows"]["chooser"]
            self.assertEqual((opened["open"], opened["caption"]), (True, "请选择"))
            self.assertEqual(t.unit("s", "编辑框_IP")["text"], text, button)
            self.assertFalse(t.snapshots["s"]["windows"]["chooser"]["open"])

    def test_only_the_exact_texts_make_the_server_this_machine(self):
        # The same server under three names: only the host name as the chooser gives it counts
        # as this machine, whose disk then holds a log of a different length than the server says.
        fixture_db = db("sales", log_pages=128, log={"disk_bytes": 512 * 1024})
        for address, size in (("WS01", "512 KB"), ("ws01", "1.03 MB"), ("localhost", "1.03 MB")):
            steps = [{"start": {}}, {"click": "按钮_获取本机ip"}, {"click": "按钮_主机名"},
                     {"clear": "编辑框_IP"}] + login_steps(address) + [{"snapshot": "s"}]
            t = self.run_tool({"servers": [server(address, fixture_db)], "steps": steps})
            self.assertEqual(t.cells("s", 2)[-1], size, address)


if __name__ == "__main__":
    unittest.main()
