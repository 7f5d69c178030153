"""Where the tool's log cleanup meets SQL Server's rules, through the real
driver: the tool's texts for hostile names, the log's active part at the end
of the file, availability groups, transactions, the log chain, rights and a
case-sensitive server."""
import re
import unittest

from simtest import CS_FIXTURE, READER, STRICT_FIXTURE, Simulator
from tdssim.parser import RESERVED

OPERATOR = ("operator", "Operator#1")
FILES = ("select database_id,name,physical_name AS CurrentLocation,state_desc,size "
         "from sys.master_files where database_id=db_id(N'%s');")
LONG = "long ]'\"[;名" + "x" * 117
HOSTILE = ["a'b", "x]y", "a[b", 'q"d', "has space", "semi;colon", "销售库",
           "x'); DROP DATABASE y; --", LONG]


def quoted(name):
    """An ordinary name as it is, any other one bracketed with ] doubled."""
    if re.fullmatch(r"[A-Za-z_][A-Za-z0-9_@#$]*", name) and name.upper() not in RESERVED:
        return name
    return "[" + name.replace("]", "]]") + "]"


def literal(text):
    return text.replace("'", "''")


def natives(run):
    return [sorted(c.natives) for c in run.commands]


class HostileNamesTest(unittest.TestCase):
    def test_every_tool_text_treats_a_properly_quoted_name_as_just_a_name(self):
        with Simulator(STRICT_FIXTURE) as sim:
            listing = sim.client("open:SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES",
                                 "open:SELECT NAME FROM MASTER.DBO.SYSDATABASES",
                                 "open:SELECT Name FROM Master..SysDatabases", wide=True)
            count = int(listing[0].rows[0][0])
            self.assertEqual(len(listing[1].rows), count)
            self.assertEqual(listing[2].rows, listing[1].rows)
            self.assertTrue(set(HOSTILE) <= {r[0] for r in listing[1].rows})
            for name in HOSTILE:
                q, n = quoted(name), literal(name)
                run = sim.client("open:" + FILES % n,
                                 "exec:ALTER DATABASE %s SET RECOVERY SIMPLE " % q, "exec:USE " + q,
                                 "exec:DBCC SHRINKFILE (N'%s' , 0, TRUNCATEONLY)" % literal(name + "_log"),
                                 "exec:ALTER DATABASE %s SET RECOVERY FULL" % q,
                                 "open:select recovery_model_desc from sys.databases where name=N'%s'" % n,
                                 wide=True)
                self.assertEqual([r[1] for r in run[0].rows][0], name)
                # A 128-character name cannot have a log called name + "_log".
                shrink = [8985] if name == LONG else []
                self.assertEqual(natives(run)[1:5], [[], [5701], shrink, []], name)
                self.assertEqual(run[5].rows, [["FULL"]], name)
            self.assertIn("y", sim.state())
            # The same name inserted unquoted is an injection, and it works.
            run = sim.client("open:" + FILES % "x'); DROP DATABASE y; --")
            self.assertNotIn("y", sim.state())
            self.assertEqual(sim.client("exec:USE y")[0].natives, [911])

    def test_drop_database_rights_and_use(self):
        with Simulator(STRICT_FIXTURE) as sim:
            run = sim.client("exec:DROP DATABASE y", "exec:DROP DATABASE master", user=READER)
            self.assertEqual(natives(run), [[3701], [3701]])
            run = sim.client("exec:USE y", "exec:DROP DATABASE y", "exec:USE master",
                             "exec:DROP DATABASE master", "exec:DROP DATABASE ag_db",
                             "exec:DROP DATABASE IF EXISTS nosuch, y", "exec:DROP DATABASE y")
            self.assertEqual(natives(run), [[5701], [3702], [5701], [3708], [3752], [], [3701]])


class LogPositionTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(STRICT_FIXTURE)

    def tearDown(self):
        self.sim.stop()

    def shrink(self, db, *before):
        run = self.sim.client("exec:USE " + db, *["exec:" + s for s in before],
                              "exec:DBCC SHRINKFILE (N'%s_log' , 0, TRUNCATEONLY)" % db)
        return run[-1].natives, int(run[-1].rows[0][2])

    def test_active_part_at_the_end_holds_the_log_until_a_checkpoint_wraps_it(self):
        natives_, size = self.shrink("tail_simple")
        self.assertEqual((natives_, size), ([9008], 4096))
        text = self.sim.client("exec:USE tail_simple", "exec:DBCC SHRINKFILE (2, TRUNCATEONLY)")[1].diags
        self.assertIn("Cannot shrink log file 2 (tail_simple_log) because the logical log file located "
                      "at the end of the file is in use.", text[0][2])
        self.assertEqual(self.shrink("tail_simple", "CHECKPOINT"), ([], 100))

    def test_full_log_wraps_only_with_a_log_backup_and_frees_its_tail_meanwhile(self):
        self.assertEqual(self.shrink("tail_full", "CHECKPOINT"), ([9008], 4096))
        self.assertEqual(self.shrink("tail_full", "BACKUP LOG tail_full TO DISK = N'NUL'"), ([], 100))
        self.assertEqual(self.shrink("room_full"), ([], 300))
        self.assertEqual(self.sim.state()["room_full"]["recovery"], "FULL")

    def test_other_logical_names_and_a_second_log_file(self):
        run = self.sim.client("exec:USE erp", "exec:DBCC SHRINKFILE (N'erp_log' , 0, TRUNCATEONLY)")
        self.assertEqual(run[1].natives, [8985])
        run = self.sim.client("exec:ALTER DATABASE two_logs SET RECOVERY SIMPLE ", "exec:USE two_logs",
                              "exec:DBCC SHRINKFILE (N'two_logs_log' , 0, TRUNCATEONLY)")
        self.assertEqual(run[2].rows[0][2], "64")
        self.assertEqual(self.sim.state()["two_logs"]["log_pages"], 64 + 1024)


class RefusalsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator(STRICT_FIXTURE)

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def test_replicated_restoring_and_transactions(self):
        run = self.sim.client("exec:ALTER DATABASE ag_db SET RECOVERY SIMPLE ",
                              "exec:ALTER DATABASE mirror_db SET RECOVERY SIMPLE ",
                              "exec:ALTER DATABASE restoring_db SET RECOVERY SIMPLE ",
                              "exec:BEGIN TRANSACTION", "exec:ALTER DATABASE archive SET RECOVERY FULL",
                              "exec:SELECT @@TRANCOUNT", "exec:BACKUP DATABASE archive TO DISK = N'x'",
                              "exec:ROLLBACK", "exec:COMMIT TRAN",
                              "exec:BEGIN TRAN t1; ALTER DATABASE archive SET RECOVERY FULL; COMMIT",
                              "exec:SET IMPLICIT_TRANSACTIONS ON; SELECT name FROM sys.databases",
                              "exec:ALTER DATABASE archive SET RECOVERY FULL",
                              "exec:COMMIT; SET IMPLICIT_TRANSACTIONS OFF")
        self.assertEqual(natives(run), [[1468, 5069], [1468, 5069], [5052, 5069], [], [226], [],
                                        [3013, 3021], [], [3902], [226], [], [226], []])
        self.assertEqual(run[5].rows, [["1"]])
        self.assertEqual([self.sim.state()[d]["recovery"] for d in ("ag_db", "mirror_db", "archive")],
                         ["FULL", "FULL", "SIMPLE"])

    def test_log_chain_broken_by_simple_until_a_full_backup(self):
        run = self.sim.client("exec:BACKUP LOG sales TO DISK = N'C:\\b\\s.trn'",
                              "exec:ALTER DATABASE sales SET RECOVERY SIMPLE ",
                              "exec:ALTER DATABASE sales SET RECOVERY FULL",
                              "exec:BACKUP LOG sales TO DISK = N'C:\\b\\s.trn'",
                              "exec:BACKUP DATABASE sales TO DISK = N'C:\\b\\s.bak' WITH INIT, STATS = 10",
                              "exec:BACKUP LOG sales TO DISK = N'C:\\b\\s.trn'",
                              "exec:BACKUP LOG master TO DISK = N'x'")
        self.assertEqual(natives(run), [[3014, 4035], [], [], [3013, 4214], [3014, 4035, 4035],
                                        [3014, 4035], [3013, 4212]])
        self.assertIn("BACKUP LOG cannot be performed because there is no current database backup.",
                      [d[2] for d in run[3].diags][0] + [d[2] for d in run[3].diags][-1])

    def test_rights_of_a_login_with_a_few_users(self):
        run = self.sim.client("exec:USE tail_full", "exec:USE archive",
                              "exec:DBCC SHRINKFILE (N'archive_log' , 0, TRUNCATEONLY)",
                              "exec:USE guest_db", "exec:DBCC SHRINKFILE (2, TRUNCATEONLY)",
                              "exec:USE erp", "exec:DBCC SHRINKFILE (N'erp_log_file' , 0, TRUNCATEONLY)",
                              "exec:" + FILES % "erp", "exec:SELECT count(*) FROM sys.databases",
                              "exec:SELECT name FROM tail_full.sys.database_files", user=OPERATOR)
        self.assertEqual(natives(run), [[916], [5701], [7983], [5701], [7983], [5701], [9008], [],
                                        [], [916]])
        self.assertIn("User 'guest' does not have permission to run DBCC SHRINKFILE for database "
                      "'guest_db'.", run[4].diags[0][2])
        self.assertEqual(run[7].rows, [])
        self.assertEqual(run[8].rows, [[str(len(self.sim.state()))]])
        refused = self.sim.client(user=OPERATOR, database="tail_full")
        self.assertEqual(sorted(d[1] for d in refused.connect_diags if d[1]), [4060, 18456])


class CaseSensitiveTest(unittest.TestCase):
    def test_names_resolve_only_in_their_own_case(self):
        with Simulator(CS_FIXTURE) as sim:
            run = sim.client("open:SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES",
                             "open:SELECT NAME FROM master.dbo.sysdatabases",
                             "open:SELECT Name FROM Master..SysDatabases",
                             "open:SELECT count(name) FROM master.dbo.sysdatabases",
                             "open:SELECT name FROM master..sysdatabases",
                             "open:" + FILES % "SALES", "open:" + FILES % "Sales",
                             "exec:select recovery_model_desc from sys.databases where name=N'sales'",
                             "exec:SeLeCt COUNT(name) FROM sys.Databases",
                             "exec:select DB_ID(N'ARCHIVE'), db_id(N'archive') FROM sys.databases "
                             "WHERE name LIKE 'S%'")
            self.assertEqual([c.natives[:1] for c in run.commands],
                             [[208], [207], [208], [], [], [], [], [], [208], []])
            self.assertIn("Invalid object name 'MASTER.DBO.SYSDATABASES'.", run[0].diags[0][2])
            self.assertIn("Invalid column name 'NAME'.", run[1].diags[0][2])
            self.assertEqual(run[3].rows, [["7"]])
            self.assertEqual([r[0] for r in run[4].rows][4:], ["Sales", "sales", "ARCHIVE"])
            self.assertEqual((run[5].rows, [r[1] for r in run[6].rows]), ([], ["Sales", "Sales_log"]))
            self.assertEqual(run[7].rows, [["SIMPLE"]])
            self.assertEqual(run[9].rows, [["7", None]])
            run = sim.client("exec:USE SALES", "exec:USE Sales",
                             "exec:DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)",
                             "exec:ALTER DATABASE Sales SET RECOVERY SIMPLE ",
                             "exec:DBCC SHRINKFILE (N'Sales_log' , 0, TRUNCATEONLY)",
                             "exec:use ARCHIVE", "exec:DBCC SHRINKFILE (N'ARCHIVE_log' , 0, TRUNCATEONLY)")
            self.assertEqual(natives(run), [[911], [5701], [8985], [], [], [5701], [8985]])
            self.assertEqual(sim.state()["Sales"]["log_pages"], 64)


if __name__ == "__main__":
    unittest.main()
