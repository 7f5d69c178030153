// Native benchmark program of the whole tool on the headless window layer against the SQL Server
// simulator (scripts/bench.sh runs it; never a test):
//   tw_tool_bench listing [databases] [runs]   the connect click's listing against the bare driver
//   tw_tool_bench cleanup [ticked] [runs]      single and batch cleanup against the bare driver
//   tw_tool_bench idle [seconds]               CPU of the hidden, connected, unattended tool
//   tw_tool_bench memory [databases]           resident size with the databases listed
#include "tests/bench/tool_bench.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/application.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "tests/bench/bench_support.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw::bench {
namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string tag = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(tag, 0) == 0) return std::atol(line.c_str() + tag.size());
  }
  return -1;
}

std::string Server(const test::SimulatorProcess& sim) {
  return "127.0.0.1," + std::to_string(sim.port());
}

int Arg(const std::vector<std::string>& args, std::size_t i, int otherwise) {
  return i < args.size() ? std::atoi(args[i].c_str()) : otherwise;
}

int ListingBench(const std::vector<std::string>& args) {
  const int n = Arg(args, 0, 1000);
  const int runs = Arg(args, 1, 3);
  test::SimulatorOptions options;
  options.fixtureJson = Fixture(n);
  test::SimulatorProcess sim(options);
  BareDriver bare(sim.connectionString("sa", odbctest::kSaPassword));
  std::size_t mark = sim.logLines().size();
  std::vector<double> tool, plain, ratio;
  std::vector<Request> toolRequests, bareRequests;
  double paused = 0;
  int rows = 0;
  for (int run = 0; run < runs; ++run) {
    double ms = 0;
    RunTool([&](HeadlessBackend& backend, Frame&) {
      const std::uint64_t before = backend.TickMs();
      ms = Connect(backend, Server(sim));
      paused = static_cast<double>(backend.TickMs() - before);
      rows = static_cast<int>(backend.ListRows({kMainWindow, ids::超级列表框1}).size());
    });
    toolRequests = RequestsSince(sim, &mark);
    const double bareMs = BareListing(bare);
    bareRequests = RequestsSince(sim, &mark);
    tool.push_back(ms);
    plain.push_back(bareMs);
    ratio.push_back(ms / bareMs);
  }
  std::printf("listing of %d databases (%d rows), %d runs, medians\n", n + 4, rows, runs);
  std::printf(
      "  tool (connect click, headless)  %9.1f ms   (pauses on the virtual clock: %.0f ms)\n",
      Median(tool), paused);
  std::printf("  bare driver, least round trips  %9.1f ms\n", Median(plain));
  std::printf("  ratio tool/bare                 %9.2fx  (target <= 1.2x)\n", Median(ratio));
  std::printf("  requests, tool: %s\n", Describe(toolRequests).c_str());
  std::printf("  requests, bare: %s\n", Describe(bareRequests).c_str());
  return 0;
}

int IdleBench(const std::vector<std::string>& args) {
  const int seconds = Arg(args, 0, 60);
  test::SimulatorOptions options;
  options.fixtureJson = Fixture(16);
  test::SimulatorProcess sim(options);
  RemoveSettings();
  WriteSettings("配置", {"ip=" + Server(sim), "用户名=sa",
                         std::string("密码=") + odbctest::kSaPassword, "是否挂机=是"});
  HeadlessBackend backend;
  Frame frame(backend);
  Application app(frame);
  double cpu = 0, wall = 0;
  int rows = 0, interval = 0;
  bool visible = true;
  std::size_t mark = 0;
  std::vector<Request> during;
  // The virtual clock is held to the real one: before each tick the program sleeps in real time
  // until that tick is due, so the tool waits as long as it would on a real timer.
  backend.ScriptUser([&] {
    rows = static_cast<int>(backend.ListRows({kMainWindow, ids::超级列表框1}).size());
    interval = backend.TimerInterval({kMainWindow, ids::时钟1});
    visible = backend.OwnVisible({kMainWindow, kMainWindow});
    mark = sim.logLines().size();
    const double realStart = NowMs();
    const std::uint64_t virtualStart = backend.TickMs();
    const double cpuStart = CpuSeconds();
    for (int k = 1; k <= seconds; ++k) {
      backend.ScriptUser(
          [&, k, realStart, cpuStart] {
            const double due = realStart + 1000.0 * k - 500.0;
            const double left = due - NowMs();
            if (left > 0)
              std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
            if (k < seconds) return;
            cpu = CpuSeconds() - cpuStart;
            wall = NowMs() - realStart;
            during = RequestsSince(sim, &mark);
            frame.DestroyWindow(kMainWindow);
          },
          virtualStart + 1000ull * static_cast<std::uint64_t>(k) - 500);
    }
  });
  frame.Run();
  std::printf("idle, native headless: hidden %s, %d rows listed, timer %d ms, %d s\n",
              visible ? "no" : "yes", rows, interval, seconds);
  std::printf("  CPU %.4f s in %.1f s wall = %.4f%% of one core  (target < 0.2%%)\n", cpu,
              wall / 1000, 100.0 * cpu / (wall / 1000));
  std::printf("  wake-ups: %d timer ticks on the virtual clock; requests to the server: %s\n",
              seconds - 1, Describe(during).c_str());
  RemoveSettings();
  return 0;
}

int MemoryBench(const std::vector<std::string>& args) {
  const int n = Arg(args, 0, 1000);
  test::SimulatorOptions options;
  options.fixtureJson = Fixture(n);
  test::SimulatorProcess sim(options);
  const long startRss = StatusKb("VmRSS");
  long rss = 0, peak = 0;
  int rows = 0;
  RunTool([&](HeadlessBackend& backend, Frame&) {
    Connect(backend, Server(sim));
    rows = static_cast<int>(backend.ListRows({kMainWindow, ids::超级列表框1}).size());
    rss = StatusKb("VmRSS");
    peak = StatusKb("VmHWM");
  });
  std::printf("memory, native headless program with %d rows listed\n", rows);
  std::printf(
      "  resident %.1f MB (peak %.1f MB; %.1f MB before the first login)  (target < 12 MB)\n",
      static_cast<double>(rss) / 1024, static_cast<double>(peak) / 1024,
      static_cast<double>(startRss) / 1024);
  return 0;
}

}  // namespace

std::vector<Request> RequestsSince(const test::SimulatorProcess& sim, std::size_t* from) {
  const std::vector<std::string> lines = sim.logLines();
  std::vector<Request> out;
  for (std::size_t i = *from; i < lines.size(); ++i) {
    odbctest::LogEntry e = odbctest::ParseLogLine(lines[i]);
    out.push_back({std::move(e.kind), std::move(e.rpc), std::move(e.text)});
  }
  *from = lines.size();
  return out;
}

std::string Describe(const std::vector<Request>& requests) {
  std::map<std::string, int> kinds, rpcs;
  for (const Request& r : requests) {
    ++kinds[r.kind];
    if (r.kind == "rpc") ++rpcs[r.rpc];
  }
  std::string out = std::to_string(requests.size()) + " (logins " + std::to_string(kinds["login"]) +
                    ", batches " + std::to_string(kinds["batch"]) + ", rpc " +
                    std::to_string(kinds["rpc"]);
  for (const auto& [name, count] : rpcs) out += ", " + name + " " + std::to_string(count);
  return out + ")";
}

const std::string& ProgramFolder() {
  static const std::string dir = [] {
    std::string d = odbctest::SharedEnvironment().tempFolder() + "bench-program";
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

void RemoveSettings() {
  std::filesystem::remove(ProgramFolder() + "/" + GbkToUtf8(Gbk("配置文件.ini")));
}

void WriteSettings(const std::string& sectionUtf8, const std::vector<std::string>& linesUtf8) {
  std::ofstream out(ProgramFolder() + "/" + GbkToUtf8(Gbk("配置文件.ini")), std::ios::binary);
  out << Gbk("[" + sectionUtf8 + "]") << "\r\n";
  for (const std::string& line : linesUtf8) out << Gbk(line) << "\r\n";
}

void RunTool(const std::function<void(HeadlessBackend&, Frame&)>& body) {
  RemoveSettings();
  {
    HeadlessBackend backend;
    Frame frame(backend);
    Application app(frame);
    backend.ScriptUser([&] {
      body(backend, frame);
      frame.DestroyWindow(kMainWindow);
    });
    frame.Run();
  }
  RemoveSettings();
}

double Connect(HeadlessBackend& backend, const std::string& server) {
  backend.Type({kMainWindow, ids::编辑框_IP}, server);
  backend.Type({kMainWindow, ids::编辑框_用户名}, "sa");
  backend.Type({kMainWindow, ids::编辑框_密码}, odbctest::kSaPassword);
  const double start = NowMs();
  backend.Click({kMainWindow, ids::按钮_连接});
  return NowMs() - start;
}

}  // namespace tw::bench

int main(int argc, char** argv) {
  using namespace tw::bench;
  const std::string what = argc > 1 ? argv[1] : "";
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  tw::odbctest::SharedEnvironment();
  // A connect saves the password protected: the key stays in the run's folder, not the home.
  ::setenv("XDG_CONFIG_HOME",
           (tw::odbctest::SharedEnvironment().tempFolder() + "bench-config").c_str(), 1);
  tw::SetProgramLocation(ProgramFolder(), "tidewell.exe");
  tw::SetMachineStandIn(tw::MachineStandIn{"WS01", "192.168.1.20", {"[System Process]"}});
  if (what == "listing") return ListingBench(args);
  if (what == "cleanup") return CleanupBench(args);
  if (what == "idle") return IdleBench(args);
  if (what == "memory") return MemoryBench(args);
  std::fprintf(stderr, "usage: %s listing|cleanup|idle|memory [args]\n", argv[0]);
  return 2;
}
