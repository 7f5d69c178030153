// Starts the SQL Server simulator (tests/simulator/tds_sim.py) as a child
// process for a test, learns its port and stops it again. POSIX only.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace tw::test {

struct SimulatorOptions {
  std::string fixturePath;  // a fixture file, or
  std::string fixtureJson;  // fixture text, written to a temporary file
  std::string logPath;      // statement log; default: in the temporary directory
  std::string controlPath;  // fault control file; default: in the temporary directory
  std::string statePath;    // catalogue state JSON (--state); default: in the temporary directory
  std::string filesDir;     // empty: no database files on disk
  std::vector<std::string> extraArgs;
  int startTimeoutMs = 10000;
};

class SimulatorProcess {
 public:
  // Throws std::runtime_error when the server does not announce its port in time.
  explicit SimulatorProcess(const SimulatorOptions& options = {});
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  int port() const { return port_; }
  const std::string& logPath() const { return logPath_; }
  const std::string& controlPath() const { return controlPath_; }
  const std::string& statePath() const { return statePath_; }
  // The state file's JSON text: current as soon as the reply to a request arrived.
  std::string readState() const;
  // The statement log so far: one JSON object per line.
  std::vector<std::string> logLines() const;
  // Replaces the control file atomically; the server reads it on its next request.
  void writeControl(const std::string& json) const;
  // "DRIVER=SQL Server;SERVER=127.0.0.1,PORT;UID=..;PWD=..;DATABASE=..;WSID=test;"
  std::string connectionString(const std::string& user, const std::string& password,
                               const std::string& database = "master") const;
  void stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string tempDir_;
  std::string logPath_;
  std::string controlPath_;
  std::string statePath_;
};

}  // namespace tw::test
