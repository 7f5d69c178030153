// The made-up machine around the program: the runner's work folder, the private ODBC
// registration of the driver, the registry stand-in, the program folder with the script's
// files, and one simulator per script server with its own folder.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/scenario/scenario.h"
#include "tests/support/simulator_process.h"

namespace tw::scenario {

// Creates `dir` (or, when empty, a fresh private folder under $TMPDIR or /tmp) and clears what
// an earlier run left in it. Empty on failure, with `error` set.
std::string PrepareWorkFolder(const std::string& dir, std::string& error);

// Registers the driver as "SQL Server" in `dir` and points this process's environment (and so
// every child's) at it: ODBCSYSINI, ODBCINSTINI, ODBCINI; TDSVER is removed. False with `error`
// set.
bool RegisterDriver(const std::string& dir, std::string& error);

// What a connection to `server` adds after its address: ";TDS_Version=7.x;Encryption=...".
std::string DriverKeywords(const ServerSpec& server);

// $TW_REGISTRY_FILE: a fresh file in the work folder, or a path no write can create.
std::string SetUpRegistry(const std::string& work, bool writable);

// Creates the program folder and writes (or removes) the script's files in it, contents as GBK.
bool WriteProgramFiles(const std::string& programDir, const std::vector<ProgramFile>& files,
                       std::string& error);

// Writes `text` to `path` through a file beside it, so that a reader sees the old or the new.
bool ReplaceFileAtomically(const std::string& path, const std::string& text);

struct ServerRun {
  std::string folder;
  std::string statePath;
  std::string logPath;
  std::string controlPath;
  std::unique_ptr<test::SimulatorProcess> process;
};

// Starts one simulator per server in work/servers/N. Empty on failure, naming the server.
std::vector<ServerRun> StartServers(const std::string& work, const std::vector<ServerSpec>& servers,
                                    std::string& error);

}  // namespace tw::scenario
