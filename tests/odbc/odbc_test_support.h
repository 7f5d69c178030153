// Test support for the database object: a private ODBC registration of FreeTDS as "SQL Server"
// with a scratch temporary folder, a TCP listener that accepts logins and never answers, the
// simulator with its statement log, and values printed in failure messages.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/value.h"
#include "tests/support/simulator_process.h"

namespace tw::odbctest {

// Registers the driver for this process (ODBCSYSINI, ODBCINSTINI, TDSVER) and points TMPDIR
// at a fresh folder; the folder is removed again on destruction.
class OdbcEnvironment {
 public:
  OdbcEnvironment();
  ~OdbcEnvironment();
  OdbcEnvironment(const OdbcEnvironment&) = delete;
  OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;

  // The temporary folder as the object sees it, ending in '/'.
  const std::string& tempFolder() const { return temp_; }
  std::string dsnPath() const { return temp_ + "~sqlsrv.dsn"; }

 private:
  std::string root_;
  std::string temp_;
};

// Accepts connections on 127.0.0.1 and reads what arrives without ever answering. On each
// accepted connection it copies the file data source at `watchPath` (if given), so a test can
// see the file as it was during the login.
class SilentServer {
 public:
  explicit SilentServer(std::string watchPath = {});
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int port() const { return port_; }
  int accepted() const { return accepted_.load(); }
  // The watched file's bytes at the first accepted connection; "<missing>" when absent.
  std::string fileSeen() const;

 private:
  void Serve();

  int listenFd_ = -1;
  int port_ = 0;
  std::string watch_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  mutable std::mutex mutex_;
  std::string fileSeen_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort();

std::string ReadFileOr(const std::string& path, const std::string& otherwise);
bool FileExists(const std::string& path);

// The environment of this test process, made on first use and removed at exit.
OdbcEnvironment& SharedEnvironment();

// One line of the simulator's statement log, with the fields the tests look at.
struct LogEntry {
  std::string kind;  // "login", "batch" or "rpc"
  std::string rpc;   // procedure name of an RPC
  std::string text;  // statement text (UTF-8)
  std::string login;
  std::string database;
  std::string host;
  std::string app;
  std::string params;  // the raw JSON of the parameter values
  bool cancelled = false;
  bool dropped = false;
  std::string raw;
};
// One line of the statement log read into its fields.
LogEntry ParseLogLine(const std::string& line);

// The simulator with the database object's fixture, optionally with the table of every column
// type (tw_types).
class Sim {
 public:
  explicit Sim(bool typed = false);
  // "127.0.0.1,PORT" as the server text of a login.
  std::string server() const;
  std::vector<LogEntry> Log() const;
  std::vector<LogEntry> LogOf(const std::string& kind) const;
  void Control(const std::string& json) const { process_->writeControl(json); }
  tw::test::SimulatorProcess& process() { return *process_; }

 private:
  std::unique_ptr<tw::test::SimulatorProcess> process_;
};

inline const char* kSaPassword = "Tidewell#1";

}  // namespace tw::odbctest

namespace tw {
// Values in failure messages: kind code and payload.
void PrintTo(const Value& v, std::ostream* os);
}  // namespace tw
