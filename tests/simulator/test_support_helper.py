"""The C++ helper other tests use to run the simulator: builds a small program
against tests/support/simulator_process.cpp and checks it starts the server
from fixture text, logs in through ODBC, reads the statement log and the
state file, switches a fault and stops the child."""
import os
import shutil
import subprocess
import tempfile
import unittest

from simtest import HERE, odbc_env

ROOT = os.path.dirname(os.path.dirname(HERE))

PROGRAM = r'''
#include "tests/support/simulator_process.h"
#include <cstdio>
#include <sql.h>
#include <sqlext.h>
#include <string>

static bool login(SQLHENV env, const std::string& conn, const char* sql) {
    SQLHDBC dbc;
    SQLAllocConnect(env, &dbc);
    SQLSetConnectOption(dbc, SQL_LOGIN_TIMEOUT, 5);
    SQLCHAR out[512];
    SQLSMALLINT len;
    SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)conn.c_str(), SQL_NTS, out,
                                    sizeof out, &len, SQL_DRIVER_NOPROMPT);
    bool ok = SQL_SUCCEEDED(rc);
    if (ok && sql) {
        SQLHSTMT st;
        SQLAllocStmt(dbc, &st);
        ok = SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS));
        SQLFreeStmt(st, SQL_DROP);
        SQLDisconnect(dbc);
    }
    SQLFreeConnect(dbc);
    return ok;
}

int main() {
    SQLHENV env;
    SQLAllocEnv(&env);
    {
        tw::test::SimulatorOptions o;
        o.fixtureJson = R"({"logins":[{"name":"u","password":"p"}],"databases":[{"name":"only_db"},{"name":"spare_db"}]})";
        tw::test::SimulatorProcess sim(o);
        std::printf("PORT %d\n", sim.port());
        std::printf("LOGIN %d\n", login(env, sim.connectionString("u", "p", "only_db"),
                                        "SELECT name FROM sys.database_files"));
        std::printf("STATE %d\n", sim.readState().find("\"spare_db\"") != std::string::npos);
        login(env, sim.connectionString("u", "p"), "DROP DATABASE spare_db");
        std::printf("DROPPED %d\n", sim.readState().find("spare_db") == std::string::npos);
        for (const auto& line : sim.logLines()) std::printf("LOG %s\n", line.c_str());
        sim.writeControl(R"({"refuse_logins": true})");
        std::printf("REFUSED %d\n", !login(env, sim.connectionString("u", "p"), nullptr));
    }
    std::printf("DONE\n");
    return 0;
}
'''


class SupportHelperTest(unittest.TestCase):
    def test_helper_starts_logs_controls_and_stops_the_simulator(self):
        cxx = shutil.which("g++") or shutil.which("c++")
        if cxx is None:
            self.skipTest("no C++ compiler")
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "main.cpp")
            with open(src, "w") as f:
                f.write(PROGRAM)
            exe = os.path.join(tmp, "helper_check")
            subprocess.run([cxx, "-std=c++17", "-Wall", "-Wextra", "-Werror", "-I", ROOT,
                            '-DTW_SOURCE_DIR="%s"' % ROOT, src,
                            os.path.join(ROOT, "tests", "support", "simulator_process.cpp"),
                            "-o", exe, "-lodbc"], check=True, timeout=180)
            out = subprocess.run([exe], capture_output=True, timeout=60, env=odbc_env(),
                                 text=True).stdout.splitlines()
        port = int(out[0].split()[1])
        self.assertGreater(port, 0)
        self.assertEqual(out[1:4], ["LOGIN 1", "STATE 1", "DROPPED 1"])
        logs = [l for l in out if l.startswith("LOG ")]
        self.assertIn('"kind": "login"', logs[0])
        self.assertIn('"text": "SELECT name FROM sys.database_files"', logs[1])
        self.assertEqual(out[-2:], ["REFUSED 1", "DONE"])
        probe = subprocess.run(["python3", "-c", "import socket,sys; s=socket.socket(); "
                                "sys.exit(s.connect_ex(('127.0.0.1', %d)))" % port], timeout=10)
        self.assertNotEqual(probe.returncode, 0, "the server still listens after the helper went")


if __name__ == "__main__":
    unittest.main()
