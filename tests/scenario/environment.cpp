// Setting up the made-up machine: work folder, driver registration, registry stand-in,
// program folder and simulators. Runs in the runner's own process, before the program starts.
#include "tests/scenario/environment.h"

#include <glob.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "runtime/gbk.h"

namespace tw::scenario {
namespace fs = std::filesystem;

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

std::string FindDriver() {
  if (const char* p = std::getenv("TW_TDSODBC"); p != nullptr && fs::is_regular_file(p)) return p;
  for (const char* pattern :
       {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "/usr/lib/*/odbc/libtdsodbc.so",
        "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so"}) {
    glob_t g{};
    std::string found;
    if (::glob(pattern, 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
    ::globfree(&g);
    if (!found.empty()) return found;
  }
  return {};
}

// The simulator keeps its databases' state in a file only in trees that have the option; the
// snapshots then show no databases.
bool SimulatorKeepsState() {
  std::ifstream in(TW_SOURCE_DIR "/tests/simulator/tds_sim.py");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.find("\"--state\"") != std::string::npos;
}

}  // namespace

std::string PrepareWorkFolder(const std::string& dir, std::string& error) {
  std::error_code ec;
  std::string work = dir;
  if (work.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/tidewell-scenario-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      error = "cannot create a work folder in " + pattern;
      return {};
    }
    work = pattern;
  } else {
    fs::create_directories(work, ec);
    if (!fs::is_directory(work)) {
      error = "cannot create the work folder " + work;
      return {};
    }
    // What an earlier run left here would make this one start from its state.
    for (const char* name : {"program", "tmp", "odbc", "registry", "registry.lock",
                             "registry-blocker", "servers", "program.jsonl"}) {
      fs::remove_all(fs::path(work) / name, ec);
    }
  }
  work = fs::absolute(work, ec).lexically_normal().string();
  if (!work.empty() && work.back() == '/') work.pop_back();
  fs::create_directories(work + "/tmp", ec);
  return work;
}

bool RegisterDriver(const std::string& dir, std::string& error) {
  const std::string driver = FindDriver();
  if (driver.empty()) {
    error = "the FreeTDS ODBC driver libtdsodbc.so is not installed (Debian package tdsodbc)";
    return false;
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string ini =
      "[SQL Server]\nDescription=FreeTDS registered as the SQL Server driver\n"
      "Driver=" +
      driver + "\nSetup=" + driver + "\nUsageCount=1\n";
  if (!WriteFile(dir + "/odbcinst.ini", ini) || !WriteFile(dir + "/odbc.ini", "")) {
    error = "cannot write the driver registration in " + dir;
    return false;
  }
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
  ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
  // FreeTDS lets $TDSVER override the connection's TDS_Version: each server's own version
  // travels in its connections instead (DriverKeywords).
  ::unsetenv("TDSVER");
  return true;
}

std::string DriverKeywords(const ServerSpec& server) {
  // "require" is the server's doing (its fixture forces encryption); the driver then offers
  // encryption as it does by default, and "login" is that default.
  const char* encryption = server.encryption == "off"  ? "off"
                           : server.encryption == "on" ? "require"
                                                       : "request";
  return ";TDS_Version=" + server.tdsVersion + ";Encryption=" + encryption;
}

std::string SetUpRegistry(const std::string& work, bool writable) {
  std::string path = work + "/registry";
  if (!writable) {
    // A regular file where the store's folder would have to be: nothing can be created below
    // it, whoever runs the program.
    WriteFile(work + "/registry-blocker", "");
    path = work + "/registry-blocker/registry";
  }
  ::setenv("TW_REGISTRY_FILE", path.c_str(), 1);
  return path;
}

bool WriteProgramFiles(const std::string& programDir, const std::vector<ProgramFile>& files,
                       std::string& error) {
  std::error_code ec;
  fs::create_directories(programDir, ec);
  if (!fs::is_directory(programDir)) {
    error = "machine.program_dir: cannot create " + programDir;
    return false;
  }
  for (const ProgramFile& f : files) {
    const std::string path = programDir + "/" + f.name;
    if (!f.content) {
      fs::remove(path, ec);
      if (fs::exists(fs::symlink_status(path))) {
        error = "files." + f.name + ": cannot remove " + path;
        return false;
      }
    } else if (!WriteFile(path, Utf8ToGbk(*f.content))) {
      error = "files." + f.name + ": cannot write " + path;
      return false;
    }
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text) {
  const std::string aside = path + ".new";
  return WriteFile(aside, text) && ::rename(aside.c_str(), path.c_str()) == 0;
}

std::vector<ServerRun> StartServers(const std::string& work, const std::vector<ServerSpec>& servers,
                                    std::string& error) {
  std::vector<ServerRun> runs;
  const bool keepsState = SimulatorKeepsState();
  for (std::size_t i = 0; i < servers.size(); ++i) {
    ServerRun run;
    run.folder = work + "/servers/" + std::to_string(i + 1);
    std::error_code ec;
    fs::create_directories(run.folder + "/files", ec);
    run.statePath = run.folder + "/state.json";
    run.logPath = run.folder + "/statements.jsonl";
    run.controlPath = run.folder + "/control.json";
    test::SimulatorOptions options;
    options.fixturePath = run.folder + "/fixture.json";
    options.logPath = run.logPath;
    options.controlPath = run.controlPath;
    options.filesDir = run.folder + "/files";
    if (keepsState) options.extraArgs = {"--state", run.statePath};
    const std::string where = "servers[" + std::to_string(i) + "]";
    Json fixture = servers[i].fixture;
    if (servers[i].encryption == "require" && !fixture.contains("force_encryption"))
      fixture["force_encryption"] = true;
    if (!WriteFile(options.fixturePath, fixture.dump())) {
      error = where + ": cannot write the fixture";
      return {};
    }
    try {
      run.process = std::make_unique<test::SimulatorProcess>(options);
    } catch (const std::exception& e) {
      error = where + ": the simulator did not start with this fixture (" + e.what() + ")";
      return {};
    }
    runs.push_back(std::move(run));
  }
  return runs;
}

}  // namespace tw::scenario
