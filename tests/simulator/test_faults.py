"""Faults on demand: cancel by query timeout, dropped and silent connections,
refused logins and databases going offline, switched by the control file
while the server runs."""
import threading
import time
import unittest

from simtest import READER, Simulator


def link_lost(result):
    # FreeTDS reports the EOF itself (20017), later calls the lost link (08S01).
    return result.rc == -1 and (20017 in result.natives or "08S01" in result.states)


class FaultsTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator()

    def tearDown(self):
        self.sim.stop()

    def wait_for_log(self, entries):
        for _ in range(100):   # at most 10 s
            if len(self.sim.log()) >= entries:
                return
            time.sleep(0.1)
        self.fail("the server logged fewer than %d requests" % entries)

    def test_query_timeout_cancels_a_delayed_answer_and_the_connection_goes_on(self):
        self.sim.control({"delay_seconds": 8, "delay_matching": "archive"})
        run = self.sim.client("exec:SELECT name FROM sys.databases WHERE name = 'archive'",
                              "exec:SELECT db_name()", query_timeout=1, limit=30)
        self.assertEqual(run[0].states[:1], ["S1T00"])
        self.assertEqual(run[1].rows, [["master"]])
        self.assertLess(run.elapsed, 7)   # the attention was answered, not the delay waited out
        cancelled = self.sim.log()[0]
        self.assertTrue(cancelled["cancelled"])

    def test_cancelled_waitfor_leaves_earlier_statements_done(self):
        run = self.sim.client("exec:ALTER DATABASE archive SET RECOVERY FULL; "
                              "WAITFOR DELAY '00:00:08'; ALTER DATABASE archive SET RECOVERY BULK_LOGGED",
                              "exec:SELECT recovery_model_desc FROM sys.databases WHERE name = 'archive'",
                              query_timeout=1, limit=30)
        self.assertIn("S1T00", run[0].states)
        self.assertEqual(run[1].rows, [["FULL"]])
        self.assertTrue(self.sim.log()[0]["cancelled"])

    def test_connection_dropped_after_n_requests(self):
        self.sim.control({"drop_after_requests": 2})
        run = self.sim.client("exec:SELECT 1", "exec:SELECT 2", "exec:SELECT 3", limit=30)
        self.assertEqual([c.rows for c in run.commands[:2]], [[["1"]], [["2"]]])
        self.assertTrue(link_lost(run[2]))
        self.assertEqual([e.get("dropped", False) for e in self.sim.log()], [False, False, True])

    def test_drop_on_matching_statement_spares_others(self):
        self.sim.control({"drop_matching": "shrinkfile"})
        run = self.sim.client("exec:USE archive", "exec:DBCC SHRINKFILE (2)", limit=30)
        self.assertEqual(run[0].natives, [5701])
        self.assertTrue(link_lost(run[1]))

    def test_drop_once_takes_only_the_first_matching_request(self):
        self.sim.control({"drop_once_matching": ["SELECT 2"]})
        first = self.sim.client("exec:SELECT 2", limit=30)
        self.assertTrue(link_lost(first[0]))
        again = self.sim.client("exec:SELECT 2", limit=30)
        self.assertEqual(again[0].rows, [["2"]])

    def test_server_that_never_answers_fails_the_login_in_time(self):
        self.sim.control({"hang": True})
        run = self.sim.client(login_timeout=2, limit=30)
        self.assertEqual(run.connected, [False])
        self.assertLess(run.elapsed, 15)
        self.sim.control({})
        self.assertTrue(self.sim.client().ok)

    def test_server_falling_silent_mid_session_times_out_and_loses_the_link(self):
        results = []
        worker = threading.Thread(target=lambda: results.append(self.sim.client(
            "exec:SELECT 1", "sleep:1500", "exec:SELECT 2", "exec:SELECT 3",
            query_timeout=1, limit=30)))
        worker.start()
        self.wait_for_log(1)
        self.sim.control({"hang": True})
        worker.join(timeout=40)
        run = results[0]
        self.assertEqual(run[0].rows, [["1"]])
        self.assertEqual(run[2].states, ["S1T00"])   # not even the ATTENTION is answered
        self.assertTrue(link_lost(run[3]))
        self.assertTrue(self.sim.log()[-1]["unanswered"])

    def test_refused_logins_switch_on_and_off(self):
        self.sim.control({"refuse_logins": ["reader"]})
        self.assertTrue(self.sim.client().ok)
        refused = self.sim.client(user=READER)
        self.assertIn(18456, [d[1] for d in refused.connect_diags])
        self.sim.control({"refuse_logins": True})
        self.assertFalse(self.sim.client().ok)
        self.sim.control({})
        self.assertTrue(self.sim.client(user=READER).ok)

    def test_database_going_offline(self):
        self.sim.control({"offline": ["SALES"]})
        run = self.sim.client("exec:USE sales", "exec:SELECT state_desc FROM sys.databases "
                              "WHERE name = 'sales'", "exec:ALTER DATABASE sales SET RECOVERY SIMPLE")
        self.assertEqual(run[0].natives, [942])
        self.assertEqual(run[1].rows, [["OFFLINE"]])
        self.assertEqual(sorted(run[2].natives), [5011, 5069])
        self.assertIn(4060, [d[1] for d in self.sim.client(database="sales").connect_diags])
        self.sim.control({})
        self.assertEqual(self.sim.client("exec:USE sales")[0].natives, [5701])

    def test_sessions_inside_a_database_taken_offline_are_ended(self):
        results = []
        worker = threading.Thread(target=lambda: results.append(self.sim.client(
            "exec:USE sales", "sleep:1500", "exec:SELECT db_name()", limit=30)))
        worker.start()
        self.wait_for_log(1)
        self.sim.control({"offline": ["sales"]})
        worker.join(timeout=40)
        run = results[0]
        self.assertEqual(run[0].natives, [5701])
        self.assertTrue(link_lost(run[2]))
        self.assertTrue(self.sim.log()[-1]["dropped"])


if __name__ == "__main__":
    unittest.main()
