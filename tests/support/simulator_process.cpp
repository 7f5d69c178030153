// Child-process handling for the SQL Server simulator used by database tests.
#include "tests/support/simulator_process.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifndef TW_SOURCE_DIR
#error "TW_SOURCE_DIR must name the repository root"
#endif

namespace tw::test {
namespace {

std::string makeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tw-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// Reads the announcement line "listening 127.0.0.1 PORT" within the deadline.
int readPort(int fd, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return 0;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    char buf[128];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return 0;
    line.append(buf, static_cast<size_t>(n));
  }
  const std::string prefix = "listening 127.0.0.1 ";
  if (line.rfind(prefix, 0) != 0) return 0;
  return std::atoi(line.c_str() + prefix.size());
}

}  // namespace

SimulatorProcess::SimulatorProcess(const SimulatorOptions& options) : tempDir_(makeTempDir()) {
  std::string fixture = options.fixturePath;
  if (fixture.empty() && !options.fixtureJson.empty()) {
    fixture = tempDir_ + "/fixture.json";
    std::ofstream(fixture) << options.fixtureJson;
  }
  if (fixture.empty()) fixture = TW_SOURCE_DIR "/tests/simulator/fixtures/default.json";
  logPath_ = options.logPath.empty() ? tempDir_ + "/statements.jsonl" : options.logPath;
  controlPath_ = options.controlPath.empty() ? tempDir_ + "/control.json" : options.controlPath;
  statePath_ = options.statePath.empty() ? tempDir_ + "/state.json" : options.statePath;

  const std::string script = TW_SOURCE_DIR "/tests/simulator/tds_sim.py";
  std::vector<std::string> args = {"python3",   script,       "--fixture", fixture,
                                   "--port",    "0",          "--log",     logPath_,
                                   "--control", controlPath_, "--state",   statePath_};
  if (!options.filesDir.empty()) {
    args.push_back("--files-dir");
    args.push_back(options.filesDir);
  }
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  if (const char* python = std::getenv("TW_PYTHON")) args[0] = python;

  // The argument vector is built before fork: the child of a threaded process must not allocate.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  port_ = readPort(fds[0], options.startTimeoutMs);
  close(fds[0]);  // the server prints nothing else on stdout
  if (port_ == 0) {
    stop();
    throw std::runtime_error("simulator did not announce its port");
  }
}

SimulatorProcess::~SimulatorProcess() {
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(tempDir_, ignored);
}

void SimulatorProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

std::vector<std::string> SimulatorProcess::logLines() const {
  std::vector<std::string> lines;
  std::ifstream in(logPath_);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string SimulatorProcess::readState() const {
  std::ifstream in(statePath_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SimulatorProcess::writeControl(const std::string& json) const {
  std::string tmp = controlPath_ + ".tmp";
  std::ofstream(tmp) << json;
  std::filesystem::rename(tmp, controlPath_);
}

std::string SimulatorProcess::connectionString(const std::string& user, const std::string& password,
                                               const std::string& database) const {
  return "DRIVER=SQL Server;SERVER=127.0.0.1," + std::to_string(port_) + ";UID=" + user +
         ";PWD=" + password + ";DATABASE=" + database + ";WSID=test;";
}

}  // namespace tw::test
