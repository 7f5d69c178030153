"""Logins, the static-cursor and prepared paths, metadata, wide text and
concurrency, all through unixODBC + FreeTDS against the simulator; the
protocol's edges (TDS 7.1 and 7.4, encryption, cancel, transactions) checked
in the driver's own packet trace."""
import json
import os
import socket
import struct
import tempfile
import threading
import unittest

from simtest import (DEFAULT_FIXTURE, READER, SA, Simulator, dump_facts, dump_packets, gbk,
                     odbc_env)

LISTING_COUNT = "SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES"
LISTING_NAMES = "SELECT NAME FROM MASTER.DBO.SYSDATABASES"
COMBO_NAMES = "SELECT Name FROM Master..SysDatabases"
FILES = ("select database_id,name,physical_name AS CurrentLocation,state_desc,size "
         "from sys.master_files where database_id=db_id(N'%s');")
DEFAULT_NAMES = ["master", "tempdb", "model", "msdb", "sales", "archive", "销售库", "a'b", "x]y",
                 "has space", "semi;colon", "offline_db", "readonly_db", "restoring_db", "bulk_db"]


class Shared(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()


class LoginTest(Shared):
    def test_good_login_is_logged_with_its_messages(self):
        run = self.sim.client()
        self.assertEqual(run.connected, [True])
        entry = [e for e in self.sim.log(("login",)) if e["conn"] == max(
            x["conn"] for x in self.sim.log(("login",)))][0]
        self.assertEqual((entry["login"], entry["database"], entry["host"]), ("sa", "master", "h"))
        self.assertEqual(entry["infos"], [5701, 5703])

    def test_refused_logins_give_18456(self):
        for user in [("sa", "wrong"), ("sa", "tidewell#1"), ("nobody", "x")]:
            run = self.sim.client(user=user)
            self.assertEqual(run.connected, [False], user)
            self.assertIn(18456, [d[1] for d in run.connect_diags], user)
            self.assertNotIn(4060, [d[1] for d in run.connect_diags], user)

    def test_login_name_ignores_case(self):
        self.assertTrue(self.sim.client(user=("SA", SA[1])).ok)

    def test_database_that_cannot_be_opened_gives_4060_and_18456(self):
        for db in ["no_such_db", "offline_db", "restoring_db"]:
            run = self.sim.client(database=db)
            self.assertFalse(run.ok, db)
            natives = [d[1] for d in run.connect_diags]
            self.assertIn(4060, natives, db)
            self.assertIn(18456, natives, db)

    def test_login_database_becomes_current(self):
        run = self.sim.client("exec:SELECT db_name()", database="SALES")
        self.assertEqual(run[0].rows, [["sales"]])


class CursorTest(Shared):
    def test_listing_through_static_cursor_fetches_next_then_first(self):
        run = self.sim.client("open:" + LISTING_COUNT, "open:" + LISTING_NAMES)
        count, names = run[0], run[1]
        self.assertEqual(count.rows, [["16"]])
        self.assertEqual(count.cols, [("", 4, 10)])
        self.assertEqual(len(names.rows), 16)
        self.assertEqual(names.rows[0], ["master"])
        self.assertEqual(names.first, ["master"])
        self.assertEqual(names.cols, [("NAME", -9, 128)])
        calls = [(e["rpc"], e["params"][1] if e["rpc"] == "sp_cursorfetch" else None)
                 for e in self.sim.log() if e["conn"] == max(x["conn"] for x in self.sim.log())]
        names_calls = calls[calls.index(("sp_cursoropen", None), 1):]
        self.assertEqual(names_calls[:2], [("sp_cursoropen", None), ("sp_cursoroption", None)])
        fetches = [c[1] for c in names_calls if c[0] == "sp_cursorfetch"]
        self.assertEqual(fetches, [2] * 17 + [1])   # 16 rows, the empty fetch, then FIRST
        self.assertEqual(names_calls[-1], ("sp_cursorclose", None))

    def test_column_names_as_written_and_catalogue_types(self):
        run = self.sim.client("open:" + COMBO_NAMES, "open:" + FILES % "sales",
                              "open:SELECT db_id(N'sales') AS id, db_name(5), 1+2 FROM sys.databases WHERE name = 'master'")
        self.assertEqual(run[0].cols, [("Name", -9, 128)])
        self.assertEqual(run[1].cols, [("database_id", 4, 10), ("name", -9, 128),
                                       ("CurrentLocation", -9, 260), ("state_desc", -9, 60),
                                       ("size", 4, 10)])
        self.assertEqual([r[1] for r in run[1].rows], ["sales", "sales_log"])
        self.assertEqual(run[1].rows[1][4], "12800")
        self.assertEqual(run[2].cols, [("id", 4, 10), ("", -9, 128), ("", 4, 10)])
        self.assertEqual(run[2].rows, [["5", "sales", "3"]])

    def test_cursor_over_a_constant_select_and_over_other_statements(self):
        run = self.sim.client("open:SELECT 1 AS one, N'x'", "open:USE sales", "exec:SELECT db_name()")
        self.assertEqual((run[0].rows, run[0].first), ([["1", "x"]], ["1", "x"]))
        self.assertEqual(sorted(run[1].natives), [0, 5701])   # 0: invalid cursor state
        opened = [e for e in self.sim.log() if e["text"] == "USE sales"][-1]
        self.assertEqual(opened["infos"], [16954, 5701])   # no cursor; the driver hides it
        self.assertEqual(run[2].rows, [["master"]])

    def test_files_of_unknown_database_is_empty_without_error(self):
        run = self.sim.client("open:" + FILES % "nope")
        self.assertEqual(run[0].rows, [])
        self.assertEqual(run[0].diags, [])
        self.assertEqual(run[0].rc, 0)

    def test_prepared_forward_only_uses_prepexec_and_unprepare(self):
        run = self.sim.client("prep:SELECT name FROM sys.databases WHERE database_id <= 2 ORDER BY name DESC")
        self.assertEqual(run[0].rows, [["tempdb"], ["master"]])
        conn = max(e["conn"] for e in self.sim.log())
        self.assertEqual([e["rpc"] for e in self.sim.log() if e["conn"] == conn],
                         ["sp_prepexec", "sp_unprepare"])

    def test_prepare_then_reexecute_uses_sp_prepare_and_sp_execute(self):
        run = self.sim.client("bind:msdb", "twice:SELECT database_id FROM sys.databases WHERE name = ?")
        self.assertEqual(run[1].rows, [["4"], ["4"]])
        conn = max(e["conn"] for e in self.sim.log())
        entries = [e for e in self.sim.log() if e["conn"] == conn]
        self.assertEqual([(e["rpc"], e["errors"]) for e in entries],
                         [("sp_prepare", []), ("sp_execute", []), ("sp_execute", []), ("sp_unprepare", [])])
        self.assertEqual(entries[1]["params"][1:], ["msdb"])
        self.assertEqual(entries[1]["text"], "SELECT database_id FROM sys.databases WHERE name = @P1")

    def test_requests_and_replies_spanning_packets(self):
        long_batch = "SELECT name /* %s */ FROM sys.databases WHERE name = 'msdb'" % ("x" * 9000)
        run = self.sim.client("exec:" + long_batch, "exec:" + LISTING_NAMES)
        self.assertEqual(run[0].rows, [["msdb"]])
        self.assertEqual(len(run[1].rows), 16)
        self.assertEqual(self.sim.log()[-2]["text"], long_batch)

    def test_parameters_through_executesql_and_a_parameterized_cursor(self):
        run = self.sim.client("bind:archive", "exec:SELECT name, recovery_model_desc FROM sys.databases WHERE name = ?",
                              "bind:msdb", "open:SELECT database_id FROM sys.databases WHERE name = ?")
        self.assertEqual(run[1].rows, [["archive", "SIMPLE"]])
        self.assertEqual((run[3].rows, run[3].first), ([["4"]], ["4"]))
        conn = max(e["conn"] for e in self.sim.log())
        entries = {e["rpc"]: e for e in self.sim.log() if e["conn"] == conn}
        self.assertEqual(entries["sp_executesql"]["params"][2], "archive")
        self.assertEqual(entries["sp_cursoropen"]["params"][-1], "msdb")

    def test_chinese_name_round_trips_as_gbk_through_wide_calls(self):
        run = self.sim.client("open:" + LISTING_NAMES, wide=True)
        name = run[0].rows[6][0]
        self.assertEqual(name.encode("gbk"), gbk("销售库"))
        again = self.sim.client(b"open:" + (FILES % name).encode("gbk"),
                                b"exec:USE " + name.encode("gbk") + b"; SELECT db_name()", wide=True)
        self.assertEqual([r[1] for r in again[0].rows], ["销售库", "销售库_log"])
        self.assertEqual(again[1].rows, [["销售库"]])
        self.assertEqual(self.sim.log()[-1]["text"], "USE 销售库; SELECT db_name()")


def default_fixture(**fields):
    with open(DEFAULT_FIXTURE, encoding="utf-8") as f:
        return dict(json.load(f), **fields)


def replies_after_attention(packets):
    """The messages received after the driver's ATTENTION, each as its payload."""
    sent = [i for i, (d, p) in enumerate(packets) if d == "sent" and p[0] == 6]
    return [p[8:] for d, p in packets[sent[0] + 1:] if d == "received"] if sent else []


class EdgesTest(unittest.TestCase):
    """What a real server does at the protocol's edges, at the versions concerned."""

    def setUp(self):
        self.dump = os.path.join(tempfile.gettempdir(), "tw-dump-%d.txt" % os.getpid())

    def tearDown(self):
        if os.path.exists(self.dump):
            os.unlink(self.dump)

    def client(self, sim, *commands, **kw):
        if os.path.exists(self.dump):
            os.unlink(self.dump)
        return sim.client(*commands, dump=self.dump, **kw)

    def test_each_version_and_encryption_as_sql_server_negotiates_them(self):
        # (driver's Encryption=, server forces it, answer the driver sees, what is encrypted)
        cases = [("off", False, 2, "off"), ("request", False, 0, "login"),
                 ("require", False, 1, "all"), ("request", True, 3, "all"),
                 ("off", True, 3, None)]
        commands = [b"exec:SELECT '\xc3\xfb\xd7\xd6' AS v, N'x' AS n", b"bind:msdb",
                    b"prep:SELECT database_id FROM sys.databases WHERE name = ?",
                    b"open:SELECT name FROM sys.databases WHERE database_id <= 2"]
        for forced in (False, True):
            with Simulator(default_fixture(force_encryption=forced)) as sim:
                for tds in ("7.1", "7.4"):
                    for encryption, force, flag, encrypted in cases:
                        if force != forced:
                            continue
                        what = (tds, encryption, forced)
                        run = self.client(sim, *commands, tds=tds, encryption=encryption,
                                          wide=True)
                        self.assertEqual(dump_facts(self.dump)[1], flag, what)
                        if encrypted is None:
                            self.assertFalse(run.ok, what)
                            continue
                        self.assertEqual(dump_facts(self.dump)[0], tds.replace(".", ""), what)
                        # varchar counts bytes of the code page: 名字 is varchar(4)
                        self.assertEqual((run[0].cols[0][2], run[0].rows), (4, [["名字", "x"]]),
                                         what)
                        self.assertEqual(run[2].rows, [["4"]], what)
                        self.assertEqual((run[3].rows, run[3].first),
                                         ([["master"], ["tempdb"]], ["master"]), what)
                        entry = sim.log(("login",))[-1]
                        self.assertEqual((entry["tds_version"], entry["encryption"]),
                                         (tds, encrypted), what)

    def test_cancel_gets_the_reply_then_its_own_acknowledgement(self):
        with Simulator() as sim:
            for tds, count in (("7.1", 4), ("7.4", 8)):
                run = self.client(sim, "exec:SELECT 1; WAITFOR DELAY '00:00:08'",
                                  "exec:SELECT db_name()", tds=tds, query_timeout=1)
                self.assertIn("S1T00", run[0].states, tds)
                self.assertEqual(run[1].rows, [["master"]], tds)
                replies = replies_after_attention(dump_packets(self.dump))
                ack = bytes([0xFD, 0x20, 0, 0, 0]) + bytes(count)
                self.assertEqual(len(replies), 3, tds)   # the reply, the ack, the next query's
                self.assertTrue(replies[0].startswith(b"\x81"), tds)   # SELECT 1's result
                self.assertEqual(replies[0][-len(ack):][:2], b"\xfd\x00", tds)
                self.assertEqual(replies[1], ack, tds)

    def test_transactions_by_request_and_by_statement_tell_the_driver(self):
        with Simulator() as sim:
            for tds in ("7.1", "7.4"):
                run = self.client(sim, "tran:off", "exec:SELECT @@TRANCOUNT", "tran:commit",
                                  "exec:BEGIN TRAN; SELECT @@TRANCOUNT", "tran:rollback",
                                  "exec:SELECT @@TRANCOUNT", "tran:on", "exec:SELECT @@TRANCOUNT",
                                  tds=tds)
                self.assertEqual([r.rc for r in run.commands], [0] * 8, tds)
                self.assertEqual([run[i].rows for i in (1, 3, 5, 7)],
                                 [[["1"]], [["2"]], [["1"]], [["0"]]], tds)
                kinds = [e["kind"] for e in sim.log(("batch", "transaction"))[-8:]]
                # 7.2 on, the driver sends transaction manager requests; 7.1 SQL text
                self.assertEqual(kinds.count("transaction"), 4 if tds == "7.4" else 0, tds)
            # The descriptor of ENVCHANGE 8 comes back in every request's ALL_HEADERS.
            batches = [p for d, p in dump_packets(self.dump) if d == "sent" and p[0] == 1]
            descriptors = [struct.unpack_from("<Q", p, 18)[0] for p in batches]
            self.assertTrue(all(descriptors[:-1]), descriptors)
            self.assertEqual(len(set(descriptors[:-1])), 3)   # begun anew by commit, rollback
            self.assertEqual(descriptors[-1], 0)

    def test_shrinkfile_result_before_its_message_sysfiles_and_error_lines(self):
        with Simulator() as sim:
            run = self.client(sim, "exec:USE sales; DBCC SHRINKFILE (N'sales_log', 0, TRUNCATEONLY)",
                              "exec:SELECT fileid, name, size FROM sales.dbo.sysfiles",
                              "exec:SELECT 1\n\nSELECT nope FROM sys.databases", tds="7.1")
            self.assertEqual([c[:2] for c in run[0].cols][:2], [("DbId", 5), ("FileId", 4)])
            self.assertEqual(run[1].rows, [["1", "sales", "2560"], ["2", "sales_log", "12800"]])
            reply = [p for d, p in dump_packets(self.dump) if d == "received"]
            shrink = next(p for p in reply if b"\xe0\x09\x00\x00" in p)   # INFO 2528
            self.assertLess(shrink.index(b"\xfd\x11\x00\xc1\x00\x01\x00\x00\x00"),
                            shrink.index(b"\xe0\x09\x00\x00"))
            error = next(p for p in reply if b"\xcf\x00\x00\x00" in p)     # ERROR 207
            at = error.index(b"\xcf\x00\x00\x00") - 3
            end = at + 3 + struct.unpack_from("<H", error, at + 1)[0]
            self.assertEqual(struct.unpack_from("<H", error, end - 2)[0], 3)   # 2 bytes in 7.1

    def test_an_ignored_request_gets_one_done_with_the_error_bit(self):
        with Simulator() as sim:
            sock = socket.create_connection(("127.0.0.1", sim.port), timeout=10)
            packet = lambda kind, status, data: struct.pack(  # noqa: E731
                ">BBHHBB", kind, status, len(data) + 8, 0, 1, 0) + data

            def reply():
                head = sock.recv(8, socket.MSG_WAITALL)
                return sock.recv(struct.unpack(">H", head[2:4])[0] - 8, socket.MSG_WAITALL)
            sock.sendall(packet(18, 1, b"\x01\x00\x06\x00\x01\xff\x02"))   # no encryption
            reply()
            fields = [text.encode("utf-16-le") for text in ("h", "sa", "", "t", "", "", "", "")]
            fields[2] = bytes(((b << 4 | b >> 4) & 0xFF) ^ 0xA5 for b in SA[1].encode("utf-16-le"))
            data, offsets = b"", b""
            for raw in fields + ["master".encode("utf-16-le")]:
                offsets += struct.pack("<HH", 94 + len(data), len(raw) // 2)
                data += raw
            fixed = struct.pack("<IIIIIIBBBBiI", 94 + len(data), 0x74000004, 4096, 0, 1, 0,
                                0, 0, 0, 0, 0, 0) + offsets + bytes(94 - 72)
            sock.sendall(packet(16, 1, fixed + data))
            self.assertIn(b"\xad", reply())   # LOGINACK
            headers = struct.pack("<IIHQI", 22, 18, 2, 0, 1)
            sock.sendall(packet(1, 0, headers + "SELECT 1".encode("utf-16-le"))
                         + packet(1, 3, b""))   # the rest given up: EOM + IGNORE
            self.assertEqual(reply(), bytes([0xFD, 0x02, 0, 0, 0]) + bytes(8))
            sock.close()
            self.assertEqual(sim.log(), [])


class ScaleTest(unittest.TestCase):
    def test_thousand_databases_listed_by_many_concurrent_clients(self):
        fixture = {"logins": [{"name": "sa", "password": SA[1]}],
                   "databases": [{"name": "db%04d" % i} for i in range(1000)]}
        with Simulator(fixture) as sim:
            results = []

            def work():
                results.append(sim.client("open:" + LISTING_COUNT, "open:" + LISTING_NAMES,
                                          "open:" + FILES % "db0999", "exec:" + LISTING_NAMES))

            threads = [threading.Thread(target=work) for _ in range(6)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(timeout=90)
            self.assertEqual(len(results), 6)
            for run in results:
                self.assertEqual(run[0].rows, [["1004"]])
                self.assertEqual(len(run[1].rows), 1004)
                self.assertEqual(run[1].rows[-1], ["db0999"])
                self.assertEqual(run[2].rows[0][:2], ["1004", "db0999"])
                self.assertEqual(run[3].rows, run[1].rows)   # one reply of many packets
            conns = {e["conn"] for e in sim.log(("login",))}
            self.assertEqual(len(conns), 6)


class DefaultFixtureTest(Shared):
    def test_default_fixture_has_the_promised_databases_and_logins(self):
        run = self.sim.client("exec:SELECT name, state_desc, recovery_model_desc, is_read_only "
                              "FROM sys.databases ORDER BY database_id", wide=True)
        names = [r[0] for r in run[0].rows]
        self.assertEqual(names[:15], DEFAULT_NAMES)
        self.assertEqual(len(names[15]), 128)
        by_name = {r[0]: r[1:] for r in run[0].rows}
        self.assertEqual(by_name["offline_db"][0], "OFFLINE")
        self.assertEqual(by_name["readonly_db"][2], "1")
        self.assertEqual(by_name["model"][1], "FULL")
        self.assertTrue(self.sim.client(user=READER).ok)


if __name__ == "__main__":
    unittest.main()
