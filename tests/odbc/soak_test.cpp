// Thirty days unattended on the virtual clock, against the simulator through the real driver:
// a daily single cleanup at 03:00:00, and in a second run a weekly batch cleanup of 20 ticked
// databases. Each scheduled occurrence fires exactly once, its results land in the list, no
// connection piles up open result tables, memory stays flat and no message box is left open.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/application.h"
#include "platform/headless/headless.h"
#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "tests/odbc/odbc_test_support.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr std::uint64_t kDayMs = 24ull * 3600 * 1000;

// AddressSanitizer keeps freed memory in quarantine, so resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define TW_RESIDENT_SIZE_MEANINGLESS
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_RESIDENT_SIZE_MEANINGLESS
#endif
#endif
#if defined(TW_RESIDENT_SIZE_MEANINGLESS)
constexpr std::size_t kFlatKb = SIZE_MAX;
#else
constexpr std::size_t kFlatKb = 1024;
#endif
constexpr UnitRef kList{kMainWindow, ids::超级列表框1};

std::size_t ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

std::string Fixture() {
  std::string dbs;
  for (int i = 0; i < 20; ++i) {
    if (i > 0) dbs += ",";
    dbs += "{\"name\":\"db" + std::to_string(i) +
           "\",\"files\":[{\"size\":1024},"
           "{\"type\":\"LOG\",\"size\":4096,\"used\":3000,\"active\":100}]}";
  }
  return "{\"logins\":[{\"name\":\"sa\",\"password\":\"Tidewell#1\"}],\"databases\":[" + dbs + "]}";
}

struct SoakResult {
  int shrinks = 0;         // databases cleaned
  int mostOpenTables = 0;  // the most result tables open at once on one connection
  std::size_t residentGrowthKb = 0;
  std::size_t boxes = 0;
  std::vector<Text> states;
};

// `schedule`: the 定时配置 lines; `config`: more 配置 lines; `more`: further sections.
SoakResult Soak(const std::string& schedule, const std::string& config, const std::string& more) {
  odbctest::SharedEnvironment();
  test::SimulatorOptions options;
  options.fixtureJson = Fixture();
  test::SimulatorProcess sim(options);
  const std::string dir = odbctest::SharedEnvironment().tempFolder() + "soak-program";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/" + GbkToUtf8(Gbk("配置文件.ini")), std::ios::binary) << Utf8ToGbk(
      "[定时配置]\r\n" + schedule + "[配置]\r\nip=127.0.0.1," + std::to_string(sim.port()) +
      "\r\n用户名=sa\r\n密码=Tidewell#1\r\n是否挂机=是\r\n" + config + more);
  SetProgramLocation(dir, "tidewell.exe");
  SetMachineStandIn(MachineStandIn{"WS01", "192.168.1.20", {"[System Process]", "tidewell.exe"}});

  SoakResult r;
  {
    HeadlessBackend backend;
    backend.UseVirtualLocalTime(MakeDate(2020, 10, 8, 9, 0, 0));
    backend.SetHorizon(HeadlessBackend::kStartTickMs + 40 * kDayMs);
    Frame frame(backend);
    Application app(frame);
    std::size_t early = 0;
    backend.ScriptUser([&] { early = ResidentKb(); }, HeadlessBackend::kStartTickMs + 3 * kDayMs);
    backend.ScriptUser(
        [&] {
          r.residentGrowthKb = ResidentKb() > early ? ResidentKb() - early : 0;
          for (int row = 0; row < frame.ListRowCount(kList); ++row) {
            r.states.push_back(frame.ListCellText(kList, row, 3));
          }
          frame.DestroyWindow(kMainWindow);
        },
        HeadlessBackend::kStartTickMs + 30 * kDayMs);
    frame.Run();
    r.boxes = backend.MessageBoxes().size();
  }
  SetMachineStandIn(std::nullopt);
  std::map<std::string, int> open;
  for (const std::string& line : sim.logLines()) {
    const std::string conn = line.substr(line.find("\"conn\""), 12);
    if (line.find("\"sp_cursoropen\"") != std::string::npos) {
      r.mostOpenTables = std::max(r.mostOpenTables, ++open[conn]);
    }
    if (line.find("\"sp_cursorclose\"") != std::string::npos) --open[conn];
    // One USE per cleaned database (a shrink may be sent twice, around a checkpoint).
    if (line.find("\"text\": \"USE db") != std::string::npos) ++r.shrinks;
  }
  return r;
}

TEST(Soak, ThirtyDaysOfDailySingleCleanups) {
  const SoakResult r =
      Soak("模式=每天一次\r\n时=03\r\n分=0\r\n秒=0\r\n", "定时清理模式=1\r\n指定库=db7\r\n", "");
  EXPECT_EQ(r.shrinks, 30);  // 2020-10-09 to 2020-11-07, 03:00:00 each
  ASSERT_EQ(r.states.size(), 24u);
  EXPECT_TRUE(GbkToUtf8(r.states[4 + 7]).starts_with("2020-11-7 3:0:0 清理了 ")) << r.states[11];
  EXPECT_LE(r.mostOpenTables, 2);
  EXPECT_LT(r.residentGrowthKb, kFlatKb);
  EXPECT_EQ(r.boxes, 0u);
}

TEST(Soak, ThirtyDaysOfWeeklyBatchCleanups) {
  std::string ticks = "[欲清理的库]\r\n";
  for (int i = 0; i < 20; ++i) ticks += "db" + std::to_string(i) + "=1\r\n";
  const SoakResult r =
      Soak("模式=每周一次\r\n星期=星期一\r\n时=3\r\n分=0\r\n秒=0\r\n", "定时清理模式=2\r\n", ticks);
  // Mondays 2020-10-12, 19, 26 and 11-02, twenty databases each.
  EXPECT_EQ(r.shrinks, 4 * 20);
  ASSERT_EQ(r.states.size(), 24u);
  for (int i = 4; i < 24; ++i) {
    EXPECT_TRUE(GbkToUtf8(r.states[i]).starts_with("2020-11-2 3:")) << i;
  }
  EXPECT_LE(r.mostOpenTables, 2);
  EXPECT_LT(r.residentGrowthKb, kFlatKb);
  EXPECT_EQ(r.boxes, 0u);
}

}  // namespace
}  // namespace tw
