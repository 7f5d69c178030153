"""Statement semantics: errors SQL Server gives, USE scoping, ALTER DATABASE,
DBCC SHRINKFILE in SIMPLE and FULL, quoting of hostile names, files on disk."""
import os
import unittest

from simtest import READER, Simulator

TOOL_STEPS = ["ALTER DATABASE {0} SET RECOVERY SIMPLE ", "USE {0}",
              "DBCC SHRINKFILE (N'{0}_log' , 0, TRUNCATEONLY)", "ALTER DATABASE {0} SET RECOVERY FULL"]


def model_of(sim, db):
    run = sim.client("exec:SELECT recovery_model_desc FROM sys.databases WHERE name = N'%s'"
                     % db.replace("'", "''"))
    return run[0].rows[0][0]


class ErrorsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def natives(self, *sql, **kw):
        run = self.sim.client(*["exec:" + s for s in sql], **kw)
        self.assertTrue(run.ok)
        return [sorted(c.natives) for c in run.commands]

    def test_syntax_errors(self):
        self.assertEqual(self.natives("SELECT name FROM", "USE has space", "select 'abc",
                                      "ALTER DATABASE a'b SET RECOVERY SIMPLE ",
                                      "ALTER DATABASE x\"y SET RECOVERY FULL", "SELECT 1 SELECT",
                                      "CREATE DATABASE sales", "SELECT [" + "n" * 129 + "]"),
                         [[102], [102], [102, 105], [102, 105], [102, 105], [102], [102], [103]])

    def test_syntax_error_runs_nothing_of_the_batch(self):
        self.natives("USE sales; SELECT FROM x")
        self.assertEqual(self.sim.client("exec:SELECT db_name()")[0].rows, [["master"]])
        self.assertEqual(self.sim.log()[-2]["infos"], [])

    def test_use_errors(self):
        run = self.sim.client("exec:USE nosuch", "exec:USE offline_db", "exec:USE restoring_db",
                              "exec:USE [SALES]")
        self.assertEqual([c.natives for c in run.commands], [[911], [942], [927], [5701]])
        self.assertEqual(run[3].states, ["01000"])
        self.assertEqual(run[0].states, ["08004"])

    def test_alter_database_refusals(self):
        self.assertEqual(self.natives("ALTER DATABASE tempdb SET RECOVERY SIMPLE",
                                      "ALTER DATABASE nosuch SET RECOVERY SIMPLE",
                                      "ALTER DATABASE offline_db SET RECOVERY SIMPLE",
                                      "ALTER DATABASE readonly_db SET RECOVERY FULL",
                                      "ALTER DATABASE master SET OFFLINE"),
                         [[5058, 5069], [5011, 5069], [5011, 5069], [5004, 5069], [5058, 5069]])
        self.assertEqual(self.natives("ALTER DATABASE archive SET RECOVERY FULL", user=READER),
                         [[5011, 5069]])
        self.assertEqual(model_of(self.sim, "archive"), "SIMPLE")

    def test_alter_database_changes_model_and_master_accepts_any(self):
        self.assertEqual(self.natives("ALTER DATABASE master SET RECOVERY FULL",
                                      "alter database [BULK_DB] set recovery simple"), [[], []])
        self.assertEqual(model_of(self.sim, "master"), "FULL")
        self.assertEqual(model_of(self.sim, "bulk_db"), "SIMPLE")

    def test_hostile_names_reachable_when_quoted(self):
        run = self.sim.client("exec:USE [x]]y]", "exec:USE \"has space\"",
                              "exec:ALTER DATABASE [semi;colon] SET RECOVERY SIMPLE",
                              "exec:SELECT db_id(N'a''b'), db_name()",
                              "exec:SELECT name FROM sys.databases WHERE name LIKE '%;%' OR name = N'x]y'")
        self.assertEqual([c.natives for c in run.commands[:3]], [[5701], [5701], []])
        self.assertEqual(run[3].rows, [["8", "has space"]])
        self.assertEqual(run[4].rows, [["x]y"], ["semi;colon"]])
        self.assertEqual(model_of(self.sim, "semi;colon"), "SIMPLE")

    def test_longest_name_and_multi_statement_batch(self):
        long = [r[0] for r in self.sim.client("exec:SELECT name FROM sys.databases")[0].rows
                if len(r[0]) == 128][0]
        run = self.sim.client("exec:USE [%s]\nSELECT count(*) AS n FROM sys.database_files;"
                              "SELECT db_name()" % long)
        self.assertEqual(run[0].rows, [["2"], [long]])
        self.assertEqual(run[0].natives, [5701])

    def test_select_errors_and_variants(self):
        run = self.sim.client("exec:SELECT nosuch FROM sys.databases",
                              "exec:SELECT name FROM sys.nosuch",
                              "exec:SELECT name, count(*) FROM sys.databases",
                              "exec:SELECT TOP 2 name FROM sys.databases WHERE database_id > 4 AND "
                              "name LIKE '%[_]db' ORDER BY name DESC",
                              "exec:SELECT name FROM databases",
                              "exec:SELEC name FROM sys.databases",
                              "exec:sp_nothing 1, N'x'")
        self.assertEqual([c.natives for c in run.commands],
                         [[207], [208], [8120], [], [208], [102], [2812]])
        self.assertIn("near 'FROM'", run[5].diags[0][2])
        self.assertEqual(run[3].rows, [["restoring_db"], ["readonly_db"]])


class ScopeAndShrinkTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(files=True)

    def tearDown(self):
        self.sim.stop()

    def log_file(self, db):
        run = self.sim.client("exec:SELECT physical_name, size FROM sys.master_files "
                              "WHERE database_id = db_id(N'%s') AND type = 1" % db)
        path, size = run[0].rows[0]
        return path, int(size)

    def test_every_file_exists_on_disk_with_the_size_the_server_reports(self):
        run = self.sim.client("exec:SELECT physical_name, size FROM sys.master_files", wide=True)
        self.assertEqual(len(run[0].rows), 2 * 16)
        for path, size in run[0].rows:
            self.assertEqual(os.path.dirname(path), self.sim.files_dir)
            self.assertEqual(os.path.getsize(path), int(size) * 8192, path)

    def test_wine_paths_name_the_same_files_through_drive_z(self):
        with Simulator(files=True, extra=["--wine-paths"]) as sim:
            path = sim.client("exec:SELECT physical_name FROM sys.master_files WHERE file_id = 2 "
                              "AND database_id = db_id(N'archive')")[0].rows[0][0]
        self.assertEqual(path, "Z:" + os.path.join(sim.files_dir, "archive_log.ldf").replace("/", "\\"))

    def test_use_lasts_for_a_batch_but_not_past_an_rpc(self):
        run = self.sim.client("prep:USE sales", "exec:SELECT db_name()",
                              "bind:x", "exec:USE archive; SELECT db_name(), ?",
                              "exec:SELECT db_name()", "exec:USE sales", "prep:SELECT db_name()",
                              "exec:SELECT name FROM sys.database_files")
        self.assertEqual(run[0].natives, [5701])
        self.assertEqual(run[1].rows, [["master"]])
        self.assertEqual(run[3].rows, [["archive", "x"]])
        self.assertEqual(run[4].rows, [["master"]])
        self.assertEqual(run[6].rows, [["sales"]])
        self.assertEqual(run[7].rows, [["sales"], ["sales_log"]])

    def test_tool_steps_through_prepared_statements_shrink_nothing(self):
        run = self.sim.client(*["prep:" + s.format("sales") for s in TOOL_STEPS])
        self.assertEqual([c.natives for c in run.commands], [[], [5701], [8985], []])
        self.assertIn("for database 'master'", run[2].diags[0][2])
        shrink = [e for e in self.sim.log() if e["text"] and e["text"].startswith("DBCC")][0]
        self.assertEqual((shrink["rpc"], shrink["database"], shrink["errors"]),
                         ("sp_prepexec", "master", [8985]))
        self.assertEqual(self.log_file("sales")[1], 12800)

    def test_tool_steps_as_batches_shrink_the_log_on_disk(self):
        path, size = self.log_file("sales")
        self.assertTrue(path.startswith(self.sim.files_dir))
        self.assertEqual(os.path.getsize(path), 12800 * 8192)
        run = self.sim.client(*["exec:" + s.format("sales") for s in TOOL_STEPS])
        self.assertEqual([c.natives for c in run.commands], [[], [5701], [], []])
        # the driver drops the message that follows the rows; the server did send it
        self.assertEqual(self.sim.log()[-2]["infos"], [2528])
        self.assertEqual(run[2].cols[0], ("DbId", 5, 5))
        self.assertEqual(run[2].rows, [["5", "2", "64", "64", "40", "40"]])
        self.assertEqual(self.log_file("sales"), (path, 64))
        self.assertEqual(os.path.getsize(path), 64 * 8192)
        self.assertEqual(model_of(self.sim, "sales"), "FULL")
        # Back in FULL the chain stays broken until a full backup: still truncatable.
        again = self.sim.client("exec:USE sales", "exec:DBCC SHRINKFILE (2, TRUNCATEONLY)")
        self.assertEqual((again[1].rows[0][2], again[1].natives), ("64", []))

    def test_full_model_with_pending_log_backup_keeps_its_log(self):
        run = self.sim.client("exec:USE sales", "exec:DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)",
                              "exec:DBCC SHRINKFILE (sales_log, 1) WITH NO_INFOMSGS",
                              "exec:SELECT log_reuse_wait_desc FROM sys.databases WHERE name = 'sales'",
                              "exec:BACKUP LOG sales TO DISK = 'NUL'",
                              "exec:DBCC SHRINKFILE (N'sales_log', 0, TRUNCATEONLY)")
        self.assertEqual(run[1].natives, [9008])
        self.assertEqual(self.sim.log()[-5]["infos"], [9008, 2528])
        self.assertEqual(run[1].rows, [["5", "2", "12800", "64", "11000", "11000"]])
        self.assertEqual(run[2].natives, [9008])
        self.assertEqual(run[3].rows, [["LOG_BACKUP"]])
        self.assertEqual(sorted(run[4].natives), [3014, 4035])
        self.assertEqual(run[5].rows[0][2], "64")

    def test_simple_model_releases_all_but_the_used_part(self):
        run = self.sim.client("exec:USE archive", "exec:DBCC SHRINKFILE (N'archive_log', 0, TRUNCATEONLY)",
                              "exec:DBCC SHRINKFILE (N'archive', 1)",
                              "exec:DBCC SHRINKFILE (N'nosuch', 0, TRUNCATEONLY)")
        self.assertEqual(run[1].rows, [["6", "2", "120", "64", "120", "120"]])
        self.assertEqual(run[2].rows, [["6", "1", "700", "0", "700", "700"]])
        self.assertEqual(run[3].natives, [8985])
        self.assertEqual(self.log_file("archive")[1], 120)

    def test_shrink_needs_rights_and_a_writable_database(self):
        run = self.sim.client("exec:USE archive", "exec:DBCC SHRINKFILE (2)", user=READER)
        self.assertEqual(run[1].natives, [2571])
        run = self.sim.client("exec:USE readonly_db", "exec:DBCC SHRINKFILE (N'readonly_db_log', 0, TRUNCATEONLY)")
        self.assertEqual(run[1].natives, [3906])


if __name__ == "__main__":
    unittest.main()
