// The cleanup benchmark of tw_tool_bench: one single cleanup and one batch cleanup of the ticked
// databases, clicked on the headless layer, against the bare driver sending the same statements
// and logins that the simulator logged for the tool, each statement as one plain batch. What the
// bare driver leaves out are requests that carry no statement (a server cursor's fetches and
// closes, should the tool send any).
#include <cstdio>
#include <cstdlib>

#include "runtime/gbk.h"
#include "runtime/text.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/tool_bench.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw::bench {
namespace {

constexpr UnitRef kList{kMainWindow, ids::超级列表框1};

// The statements of a logged run, with a fresh login wherever the tool logged in again.
double Replay(BareDriver& bare, const std::vector<Request>& requests) {
  const double start = NowMs();
  for (const Request& r : requests) {
    // A statement the tool sent, as a batch or inside a cursor or prepared call, is sent once as
    // a plain batch; the cursor's own fetches and closes are what the bare driver does without.
    const bool statement =
        r.kind == "batch" ||
        (r.kind == "rpc" && !r.text.empty() &&
         (r.rpc == "sp_cursoropen" || r.rpc == "sp_prepexec" || r.rpc == "sp_executesql"));
    if (r.kind == "login") {
      bare.Connect();
    } else if (statement) {
      bare.Run(r.text);
    }
  }
  return NowMs() - start;
}

struct Figures {
  std::vector<double> tool, bare, ratio;
  double paused = 0;
  std::vector<Request> toolRequests, bareRequests;
};

void Print(const char* what, const Figures& f, double prescribed) {
  std::printf("%s, %zu runs, medians\n", what, f.tool.size());
  std::printf(
      "  tool (click, headless)          %9.1f ms   (pauses and progress steps on the "
      "virtual clock: %.0f ms, prescribed %.0f ms)\n",
      Median(f.tool), f.paused, prescribed);
  std::printf("  bare driver, same statements    %9.1f ms\n", Median(f.bare));
  std::printf("  ratio tool/bare                 %9.2fx  (target <= 1.2x)\n", Median(f.ratio));
  std::printf("  requests, tool: %s\n", Describe(f.toolRequests).c_str());
  std::printf("  requests, bare: %s\n", Describe(f.bareRequests).c_str());
}

}  // namespace

int CleanupBench(const std::vector<std::string>& args) {
  const int ticked = args.size() > 0 ? std::atoi(args[0].c_str()) : 100;
  const int runs = args.size() > 1 ? std::atoi(args[1].c_str()) : 3;
  test::SimulatorOptions options;
  options.fixtureJson = Fixture(ticked);
  test::SimulatorProcess sim(options);
  const std::string server = "127.0.0.1," + std::to_string(sim.port());
  BareDriver bare(sim.connectionString("sa", odbctest::kSaPassword));
  Figures single, batch;
  int tickedRows = 0;
  RunTool([&](HeadlessBackend& backend, Frame&) {
    Connect(backend, server);
    const std::vector<ListRowView> rows = backend.ListRows(kList);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].cells.size() > 1 && rows[r].cells[1].rfind("db", 0) == 0) {
        backend.ToggleRowCheck(kList, static_cast<int>(r));
        ++tickedRows;
      }
    }
    const UnitRef combo{kMainWindow, ids::组合框_库名};
    const std::vector<Text> items = backend.ComboItems(combo);
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i] == "db0") backend.ChooseComboItem(combo, static_cast<int>(i));
    }
    std::size_t mark = sim.logLines().size();
    const auto measure = [&](int button, Figures& f) {
      const std::uint64_t before = backend.TickMs();
      const double start = NowMs();
      backend.Click({kMainWindow, button});
      const double ms = NowMs() - start;
      f.paused = static_cast<double>(backend.TickMs() - before);
      f.toolRequests = RequestsSince(sim, &mark);
      bare.Connect();
      (void)RequestsSince(sim, &mark);
      const double bareMs = Replay(bare, f.toolRequests);
      f.bareRequests = RequestsSince(sim, &mark);
      bare.Close();
      f.tool.push_back(ms);
      f.bare.push_back(bareMs);
      f.ratio.push_back(ms / bareMs);
    };
    for (int run = 0; run < runs; ++run) {
      measure(ids::按钮_单独清理, single);
      measure(ids::按钮_一键清理, batch);
    }
  });
  // Four pauses of 200 ms, 160 progress steps of 10 ms and 500 ms before the button comes back;
  // per ticked database four pauses of 200 ms, and 1000 ms at the end of the batch.
  Print("single cleanup of one database", single, 4 * 200 + 160 * 10 + 500);
  char title[96];
  std::snprintf(title, sizeof title, "batch cleanup of %d ticked databases", tickedRows);
  Print(title, batch, tickedRows * 4 * 200 + 1000);
  return 0;
}

}  // namespace tw::bench
