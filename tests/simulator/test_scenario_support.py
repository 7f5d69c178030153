"""What scenario runners read besides the replies: the state file, current
before a reply leaves, and database files on disk with fixture lengths."""
import json
import os
import socket
import tempfile
import unittest

from simtest import STRICT_FIXTURE, Simulator
from tdssim import wire
from tdssim.catalog import Catalog
from tdssim.control import FaultSource, StatementLog
from tdssim.session import Session
from tdssim.statefile import StateFile
import tds_sim

TOOL_STEPS = ["ALTER DATABASE {0} SET RECOVERY SIMPLE ", "USE {0}",
              "DBCC SHRINKFILE (N'{0}_log' , 0, TRUNCATEONLY)", "ALTER DATABASE {0} SET RECOVERY FULL"]


class StateBeforeReplyTest(unittest.TestCase):
    def test_state_on_disk_when_the_reply_is_sent_and_not_rewritten_by_reads(self):
        with tempfile.TemporaryDirectory() as tmp:
            cat = Catalog.from_file(STRICT_FIXTURE)
            state = StateFile(os.path.join(tmp, "state.json"), cat)
            server = tds_sim.Server(cat, StatementLog(None), FaultSource({}, None), state)
            state.publish()
            mine, peer = socket.socketpair()
            session = Session(server, mine)
            session.login = cat.find_login("sa")
            seen = []

            def send(data, ptype=wire.PKT_REPLY):
                with open(state.path, encoding="utf-8") as f:
                    seen.append(f.read())

            session.io.send = send

            def batch(sql):
                session._request(wire.PKT_BATCH, wire.STATUS_EOM,
                                 (4).to_bytes(4, "little") + sql.encode("utf-16-le"))

            batch("ALTER DATABASE sales SET RECOVERY SIMPLE ")
            self.assertEqual(json.loads(seen[-1])["databases"]["sales"]["recovery"], "SIMPLE")
            written = state.serial
            batch("SELECT name FROM sys.databases; USE archive")
            self.assertEqual(state.serial, written)
            batch("DROP DATABASE y")
            self.assertNotIn("y", json.loads(seen[-1])["databases"])
            self.assertEqual([n for n in os.listdir(tmp)], ["state.json"])   # no temp files left
            mine.close()
            peer.close()


class StateAndDiskTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(STRICT_FIXTURE, files=True)

    def tearDown(self):
        self.sim.stop()

    def test_tool_cleanup_shows_in_the_state_at_once(self):
        before = self.sim.state()
        self.assertEqual((before["sales"]["id"], before["sales"]["state"], before["sales"]["recovery"],
                          before["sales"]["log_pages"]), (5, "online", "FULL", 12800))
        self.assertEqual(before["two_logs"]["log_pages"], 2048 + 1024)
        self.assertEqual(before["restoring_db"]["state"], "restoring")
        self.assertEqual([(f["name"], f["type"], f["size"], f["used"]) for f in before["sales"]["files"]],
                         [("sales", "ROWS", 2560, 1900), ("sales_log", "LOG", 12800, 11000)])
        run = self.sim.client(*["exec:" + s.format("sales") for s in TOOL_STEPS[:3]])
        self.assertEqual(run[2].rows[0][2], "64")
        after = self.sim.state()["sales"]
        self.assertEqual((after["recovery"], after["log_pages"]), ("SIMPLE", 64))
        self.assertEqual(after["files"][1]["disk_bytes"], 64 * 8192)

    def test_fixture_disk_lengths_and_what_a_shrink_leaves_on_disk(self):
        paths = {r[0]: r[1] for r in self.sim.client(
            "exec:SELECT name, physical_name FROM sys.master_files WHERE type = 1")[0].rows}
        odd, missing, huge = (paths[n + "_log"] for n in ("disk_odd", "disk_missing", "disk_huge"))
        self.assertEqual(os.path.dirname(missing), self.sim.files_dir)
        self.assertFalse(os.path.exists(missing))
        self.assertEqual((os.path.getsize(odd), os.path.getsize(huge)), (1500, 3221225472))
        self.assertEqual(os.path.getsize(paths["sales_log"]), 12800 * 8192)
        state = self.sim.state()
        self.assertEqual([f["disk_bytes"] for f in state["disk_missing"]["files"]], [1024 * 8192, None])
        # A shrink that leaves the size alone leaves the odd length alone.
        self.sim.client("exec:USE disk_odd", "exec:DBCC SHRINKFILE (N'disk_odd_log', NOTRUNCATE)")
        self.assertEqual(os.path.getsize(odd), 1500)
        for db in ("disk_odd", "disk_missing", "disk_huge"):
            run = self.sim.client("exec:USE " + db, "exec:DBCC SHRINKFILE (N'%s_log' , 0, TRUNCATEONLY)" % db)
            self.assertEqual(run[1].rows[0][2], "100", db)
        self.assertEqual((os.path.getsize(odd), os.path.getsize(huge)), (819200, 819200))
        self.assertFalse(os.path.exists(missing))
        self.assertIsNone(self.sim.state()["disk_missing"]["files"][1]["disk_bytes"])


if __name__ == "__main__":
    unittest.main()
