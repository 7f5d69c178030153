// tidewell-scenario: runs the real program on the headless window layer, on a virtual clock,
// against SQL Server simulators it starts itself, as a JSON script says, and writes what
// happened as a JSON trace. It asserts nothing: exit 0 when the script ran to its end, 2 with
// one line naming the step when the script cannot run, 1 when this machine cannot run it.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/scenario/address_map.h"
#include "tests/scenario/environment.h"
#include "tests/scenario/program_run.h"
#include "tests/scenario/scenario.h"
#include "tests/scenario/snapshot.h"

namespace tw::scenario {
namespace {

constexpr const char* kUsage =
    "usage: tidewell-scenario SCRIPT.json --trace TRACE.json [--work DIR] [--keep]\n"
    "  --trace FILE  where the trace goes (UTF-8 JSON)\n"
    "  --work DIR    the run's folder (program folder, simulators, driver registration);\n"
    "                default a fresh private folder under $TMPDIR or /tmp, removed afterwards\n"
    "  --keep        keep the default work folder and print its path\n"
    "The script and trace formats are described in docs/scenarios.md.\n";

struct Failure {
  int code;
  std::string message;
  bool usage = false;  // a command line this program does not take
};

volatile std::sig_atomic_t g_stopRequested = 0;

// A runner told to stop still stops its program and simulators, which would otherwise live on
// without it: the signal only interrupts the wait, and the normal way out cleans up.
void InstallStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = [](int) { g_stopRequested = 1; };
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: waitpid returns with EINTR
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void ThrowIfStopRequested() {
  if (g_stopRequested) throw Failure{1, "stopped by a signal"};
}

struct Options {
  std::string script;
  std::string trace;
  std::string work;
  bool keep = false;
};

// What one run of the program left for the runner.
struct RunResult {
  std::size_t next = 0;
  std::optional<std::int64_t> clock;
  std::optional<std::deque<int>> answers;
  std::optional<std::deque<std::size_t>> menus;
  bool finished = false;
  bool ended = false;
  std::string scriptError;
  std::string runnerError;
};

class Runner {
 public:
  Runner(Script script, std::string work) : script_(std::move(script)), work_(std::move(work)) {}
  void Prepare(std::vector<ServerRun> servers);
  void RunSteps();
  Json Trace() const;

 private:
  RunResult RunProgramFrom(std::size_t startStep);
  void ReadReports(const std::string& path, RunResult& r);

  Script script_;
  std::string work_;
  std::string programDir_;
  std::vector<ServerRun> servers_;
  World world_;
  std::int64_t clockMs_ = 0;
  std::deque<int> answers_;
  std::deque<std::size_t> menus_;
  Json events_ = Json::array();
  Json snapshots_ = Json::object();
};

void Runner::Prepare(std::vector<ServerRun> servers) {
  servers_ = std::move(servers);
  const Machine& m = script_.machine;
  programDir_ = m.programDir.empty()
                    ? work_ + "/program"
                    : std::filesystem::absolute(m.programDir).lexically_normal().string();
  while (programDir_.size() > 1 && programDir_.back() == '/') programDir_.pop_back();
  std::string error;
  if (!WriteProgramFiles(programDir_, script_.files, error)) throw Failure{2, error};
  if (!RegisterDriver(work_ + "/odbc", error)) throw Failure{1, error};
  // The tool's file data source and the simulators' scratch files stay inside the run.
  ::setenv("TMPDIR", (work_ + "/tmp").c_str(), 1);
  world_.registryPath = SetUpRegistry(work_, m.registryWritable);
  world_.settingsPath = programDir_ + "/" + kSettingsFile;
  world_.historyPath = programDir_ + "/" + kHistoryFile;
  std::vector<AddressRoute> routes;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    world_.addresses.push_back(script_.servers[i].address);
    world_.statePaths.push_back(servers_[i].statePath);
    world_.logPaths.push_back(servers_[i].logPath);
    // The plain address ($SIM1) is routed too, so that it also asks for the server's version.
    const std::string plain = "127.0.0.1," + std::to_string(servers_[i].process->port());
    const std::string target = plain + DriverKeywords(script_.servers[i]);
    routes.push_back({script_.servers[i].address, target});
    routes.push_back({plain, target});
  }
  SetAddressRoutes(routes);
  clockMs_ = m.clockSeconds * 1000;
}

void Runner::RunSteps() {
  std::size_t i = 0;
  while (i < script_.steps.size()) {
    ThrowIfStopRequested();
    const Step& s = script_.steps[i];
    const std::int64_t seconds = clockMs_ / 1000;
    switch (s.kind) {
      case StepKind::Start: {
        const RunResult r = RunProgramFrom(i);
        if (!r.scriptError.empty()) throw Failure{2, r.scriptError};
        if (!r.runnerError.empty())
          throw Failure{1, "the program's process failed: " + r.runnerError};
        if (r.finished) return;
        i = r.next;
        continue;
      }
      case StepKind::Answer:
        answers_.insert(answers_.end(), s.answers.begin(), s.answers.end());
        break;
      case StepKind::Menu:
        menus_.push_back(i);
        break;
      case StepKind::Wait:
        clockMs_ += s.ms;
        break;
      case StepKind::Until:
        clockMs_ = std::max(clockMs_, s.seconds * 1000);
        break;
      case StepKind::SetClock:
        clockMs_ = s.seconds * 1000;
        break;
      case StepKind::Server:
        ReplaceFileAtomically(servers_[s.server].controlPath, s.control.dump());
        break;
      case StepKind::Snapshot:
        snapshots_[s.name] = IdleSnapshot(world_);
        break;
      default:
        // Nothing runs that a user could act on, nor a process to end.
        events_.push_back(RefusedEvent(seconds, i, s.key));
        break;
    }
    ++i;
  }
}

RunResult Runner::RunProgramFrom(std::size_t startStep) {
  const std::string reports = work_ + "/program.jsonl";
  const int fd = ::open(reports.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw Failure{1, "cannot create " + reports};
  ProgramStart start;
  start.script = &script_;
  start.firstStep = startStep + 1;
  start.clockSeconds = clockMs_ / 1000;
  start.answers = answers_;
  start.menuSteps = menus_;
  start.programDir = programDir_;
  start.world = world_;
  for (const ServerRun& s : servers_) start.controlPaths.push_back(s.controlPath);
  start.reportFd = fd;
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw Failure{1, "fork failed"};
  if (pid == 0) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    RunProgram(start);
  }
  ::close(fd);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    if (g_stopRequested) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      ThrowIfStopRequested();
    }
  }
  RunResult r;
  r.next = startStep + 1;
  ReadReports(reports, r);
  if (r.clock) clockMs_ = *r.clock * 1000;
  if (r.answers) answers_ = *r.answers;
  if (r.menus) menus_ = *r.menus;
  if (!r.finished && !r.ended && r.scriptError.empty() && r.runnerError.empty()) {
    // The process died without a word (a crash): its end as the shell would number it.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    events_.push_back({{"at", FormatClock(clockMs_ / 1000)}, {"type", "end"}, {"exit_code", code}});
  }
  return r;
}

void Runner::ReadReports(const std::string& path, RunResult& r) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const Json j = Json::parse(line, nullptr, false);
    if (!j.is_object()) continue;  // the last line, cut short as the process died
    if (j.contains("event")) {
      if (j["event"].value("type", "") == "end") r.ended = true;
      events_.push_back(j["event"]);
    } else if (j.contains("snapshot")) {
      snapshots_[j["snapshot"].get<std::string>()] = j["value"];
    } else if (j.contains("progress")) {
      const Json& p = j["progress"];
      r.next = p["next"].get<std::size_t>();
      r.clock = p["clock"].get<std::int64_t>();
      r.answers = p["answers"].get<std::deque<int>>();
      r.menus = p["menus"].get<std::deque<std::size_t>>();
    } else if (j.contains("script_error")) {
      r.scriptError = j["script_error"].get<std::string>();
    } else if (j.contains("runner_error")) {
      r.runnerError = j["runner_error"].get<std::string>();
    } else if (j.contains("finished")) {
      r.finished = true;
    }
  }
}

Json Runner::Trace() const {
  return {{"events", events_}, {"snapshots", snapshots_}, {"sql", SqlView(world_)}};
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Failure{2, a + " needs a value", true};
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (a == "--trace") {
      o.trace = value();
    } else if (a == "--work") {
      o.work = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else if (!a.empty() && a[0] == '-') {
      throw Failure{2, "unknown option " + a, true};
    } else if (o.script.empty()) {
      o.script = a;
    } else {
      throw Failure{2, "one script only", true};
    }
  }
  if (o.script.empty() || o.trace.empty())
    throw Failure{2, "a script and --trace are needed", true};
  return o;
}

Json LoadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{2, "script: cannot read " + path};
  std::ostringstream text;
  text << in.rdbuf();
  Json doc = Json::parse(text.str(), nullptr, false);
  if (doc.is_discarded()) throw Failure{2, "script: " + path + " is not JSON"};
  return doc;
}

int Main(int argc, char** argv) {
  Options options;
  std::string work;
  bool removeWork = false;
  int code = 0;
  try {
    InstallStopHandlers();
    options = ParseOptions(argc, argv);
    const Json doc = LoadScript(options.script);
    std::string error;
    // Checked whole with placeholder ports first, so that nothing starts for a bad script.
    const auto checked = ReadScript(doc, {}, error);
    if (!checked) throw Failure{2, error};
    work = PrepareWorkFolder(options.work, error);
    if (work.empty()) throw Failure{1, error};
    removeWork = options.work.empty() && !options.keep;
    {
      ::setenv("TMPDIR", (work + "/tmp").c_str(), 1);
      std::vector<ServerRun> servers = StartServers(work, checked->servers, error);
      if (servers.size() != checked->servers.size()) throw Failure{2, error};
      std::vector<int> ports;
      ports.reserve(servers.size());
      for (const ServerRun& s : servers) ports.push_back(s.process->port());
      auto script = ReadScript(doc, ports, error);
      if (!script) throw Failure{2, error};
      Runner runner(std::move(*script), work);
      ThrowIfStopRequested();
      runner.Prepare(std::move(servers));
      runner.RunSteps();
      std::ofstream out(options.trace, std::ios::binary | std::ios::trunc);
      out << runner.Trace().dump(1, ' ', false, Json::error_handler_t::replace) << '\n';
      out.close();
      if (!out) throw Failure{1, "cannot write the trace " + options.trace};
    }  // the simulators stop here
    if (options.keep && options.work.empty()) std::cerr << "work folder: " << work << '\n';
  } catch (const Failure& f) {
    std::cerr << "tidewell-scenario: " << f.message << '\n';
    if (f.usage) std::cerr << kUsage;
    code = f.code;
  } catch (const std::exception& e) {
    std::cerr << "tidewell-scenario: " << e.what() << '\n';
    code = 1;
  }
  if (removeWork) {
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
  }
  return code;
}

}  // namespace
}  // namespace tw::scenario

int main(int argc, char** argv) {
  return tw::scenario::Main(argc, argv);
}
