// Unit tests of the scenario runner's pieces: the connection-string rewrite and the driver call
// that applies it (against a simulator under a made-up address), script checking, dates, and
// the events made from message-box and menu records.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "runtime/gbk.h"
#include "runtime/odbc/connection.h"
#include "runtime/platform_services.h"
#include "tests/scenario/address_map.h"
#include "tests/scenario/environment.h"
#include "tests/scenario/observing_backend.h"
#include "tests/scenario/scenario.h"
#include "ui/layout.h"

namespace tw::scenario {
namespace {

std::u16string U(const char* s) {
  return GbkToUtf16(s);
}

TEST(AddressMap, RewritesOnlyTheServerValuesThatNameARoute) {
  SetAddressRoutes({{"10.0.0.5", "127.0.0.1,4001"}, {"WS01", "127.0.0.1,4002"}});
  EXPECT_EQ(
      RouteConnectionString(U("FILEDSN=/t/~sqlsrv.dsn;DRIVER=SQL Server;SERVER=10.0.0.5;UID=sa;")),
      U("FILEDSN=/t/~sqlsrv.dsn;DRIVER=SQL Server;SERVER=127.0.0.1,4001;UID=sa;"));
  // Key and host name without regard to case; a braced value; the value at the very end.
  EXPECT_EQ(RouteConnectionString(U("server={ws01};PWD={a;b}}c}")),
            U("server=127.0.0.1,4002;PWD={a;b}}c}"));
  EXPECT_EQ(RouteConnectionString(U("UID=x; Server =WS01")), U("UID=x; Server =127.0.0.1,4002"));
  // Other addresses, other keys and odd parts stay byte for byte.
  for (const char* same : {"SERVER=10.0.0.55;UID=10.0.0.5;", "SERVERNAME=WS01",
                           "junk;;SERVER=", "DATABASE={WS01};SERVER=WS02", ""}) {
    EXPECT_EQ(RouteConnectionString(U(same)), U(same)) << same;
  }
}

TEST(AddressMap, TheProgramsDriverCallsReachTheSimulatorUnderAMadeUpAddress) {
  const std::string dir = std::filesystem::temp_directory_path() / "tw-scenario-unit-XXXXXX";
  std::string pattern = dir;
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  std::string error;
  ASSERT_TRUE(RegisterDriver(pattern + "/odbc", error)) << error;
  test::SimulatorOptions options;
  options.logPath = pattern + "/statements.jsonl";
  test::SimulatorProcess sim(options);
  SetAddressRoutes({{"10.0.0.5", "127.0.0.1," + std::to_string(sim.port())},
                    {"WS01", "127.0.0.1," + std::to_string(sim.port())}});
  // Through the database object, as the tool connects: the call lands in the runner's
  // SQLDriverConnectW, not straight in the driver manager.
  for (const char* server : {"10.0.0.5", "{ws01}"}) {
    odbc::Diagnostic diag;
    auto db = odbc::NewOpenDatabase(std::string("DRIVER=SQL Server;SERVER=") + server +
                                        ";UID=sa;PWD=Tidewell#1;DATABASE=master;WSID=unit;",
                                    false, true, &diag);
    ASSERT_TRUE(db) << server << ": " << diag.message;
    odbc::CloseDatabase(db);
  }
  int logins = 0;
  for (const std::string& line : sim.logLines()) {
    if (Json::parse(line, nullptr, false).value("kind", "") == "login") ++logins;
  }
  EXPECT_EQ(logins, 2);
  sim.stop();
  std::filesystem::remove_all(pattern);
}

TEST(Script, EveryFaultNamesItsStepOrPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"steps":[{"start":{}},{"jump":1}]})", "step 1: unknown step \"jump\""},
      {R"({"steps":[{"click":"按钮_无"}]})", "step 0 (click): unknown unit"},
      {R"({"steps":[{"type":["按钮_连接","x"]}]})", "step 0 (type): 按钮_连接 is not an edit box"},
      {R"({"steps":[{"type":"编辑框_IP"}]})", "step 0 (type): expected a list of two"},
      {R"({"steps":[{"wait":1.5}]})", "step 0 (wait): expected a whole number"},
      {R"({"steps":[{"until":"2021-02-29 00:00:00"}]})", "step 0 (until): expected a date"},
      {R"({"steps":[{"set_clock":"2021-01-01 24:00:00"}]})", "step 0 (set_clock): expected a date"},
      {R"({"steps":[{"close":"about"}]})", "step 0 (close): unknown window"},
      {R"({"steps":[{"answer":["Maybe"]}]})", "step 0 (answer): unknown button"},
      {R"({"steps":[{"server":["10.0.0.9",{}]}]})", "step 0 (server): unknown server address"},
      {R"({"steps":[{"snapshot":"a"},{"snapshot":"a"}]})",
       "step 1 (snapshot): snapshot name used twice"},
      {R"({"steps":[{"click":"时钟1"}]})", "step 0 (click): 时钟1 has no window"},
      {R"({"steps":[{"start":{},"kill":{}}]})", "step 0: a step is an object with one key"},
      {R"({"steps":[{"type":["编辑框_IP","$SIM2"]}],"servers":[{"address":"a","fixture":{}}]})",
       "step 0: $SIM2 names no server"},
      {R"({"machine":{"clock":"noon"}})", "machine.clock: expected a date"},
      {R"({"machine":{"colour":1}})", "machine.colour: unknown field"},
      {R"({"machine":{"data_protection":"no"}})",
       "machine.data_protection: expected true or false"},
      {R"({"servers":[{"address":"a","fixture":{}},{"address":"a","fixture":{}}]})",
       "servers[1].address: given twice"},
      {R"({"files":{"../x":"y"}})", "files.../x: not a file name"},
      {R"({"stages":[]})", "script: unknown section \"stages\""},
  };
  for (const auto& [text, message] : cases) {
    std::string error;
    EXPECT_FALSE(ReadScript(Json::parse(text), {}, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << " gave: " << error;
  }
}

TEST(Script, StepsAreTypedAndSimTokensBecomeTheServersAddresses) {
  const Json doc = Json::parse(R"({
    "servers": [{"address": "10.0.0.5", "fixture": {"server_name": "$SIM1"}},
                {"address": "WS01", "fixture": {}}],
    "steps": [{"type": ["编辑框_IP", "$SIM2;$SIM1$SIMx"]}, {"choose": ["组合框_库名", "sales"]},
              {"row": [2, "space"]}, {"right_click_list": null}, {"answer": ["Yes", "No"]},
              {"menu": "dismiss"}, {"until": "2020-10-08 09:30:00"}, {"server": ["WS01", {"hang": true}]}]
  })");
  std::string error;
  const auto s = ReadScript(doc, {4001, 4002}, error);
  ASSERT_TRUE(s) << error;
  ASSERT_EQ(s->steps.size(), 8u);
  EXPECT_EQ(s->steps[0].unit.unit, ids::编辑框_IP);
  EXPECT_EQ(s->steps[0].text, "127.0.0.1,4002;127.0.0.1,4001$SIMx");
  EXPECT_EQ(s->servers[0].fixture["server_name"], "127.0.0.1,4001");
  EXPECT_EQ(s->steps[1].text, "sales");
  EXPECT_FALSE(s->steps[1].index);
  EXPECT_EQ(s->steps[2].row, RowAction::Space);
  EXPECT_EQ(*s->steps[2].index, 2);
  EXPECT_FALSE(s->steps[3].index);
  EXPECT_EQ(s->steps[4].answers, (std::vector<int>{idb::kYes, idb::kNo}));
  EXPECT_TRUE(s->steps[5].dismiss);
  EXPECT_EQ(s->steps[6].seconds - s->machine.clockSeconds, 30 * 60);
  EXPECT_EQ(s->steps[7].server, 1u);
  EXPECT_EQ(s->machine.exe, "tidewell.exe");
  EXPECT_EQ(s->machine.otherProcesses.front(), "[System Process]");
}

TEST(Clock, TextsAndSecondsRoundTrip) {
  for (const char* t : {"2020-10-08 09:00:00", "1900-03-01 00:00:00", "2024-02-29 23:59:59",
                        "9999-12-30 12:34:56"}) {
    const auto s = ParseClock(t);
    ASSERT_TRUE(s) << t;
    EXPECT_EQ(FormatClock(*s), t);
  }
  EXPECT_EQ(*ParseClock("2020-10-09 00:00:00") - *ParseClock("2020-10-08 23:59:59"), 1);
  for (const char* t :
       {"2020-10-8 09:00:00", "2020-13-01 00:00:00", "2020-04-31 00:00:00", "2020-10-08T09:00:00",
        "2020-10-08 09:60:00", "1899-12-31 00:00:00", "9999-12-31 00:00:01"}) {
    EXPECT_FALSE(ParseClock(t)) << t;
  }
}

TEST(Events, BoxesAndMenusAppearAsTheUserSawThem) {
  MsgBoxRecord box{Gbk("已清理"), 0x2000 | 48, Gbk("信息："), 1, idb::kCancel, true};
  box.localTime = DateTimeOfSeconds(*ParseClock("2020-10-08 09:00:05"));
  const Json b = MsgBoxEvent(box);
  EXPECT_EQ(b["at"], "2020-10-08 09:00:05");
  EXPECT_EQ(b["style"], 48);
  EXPECT_EQ(b["text"], "已清理");
  EXPECT_EQ(b["title"], "信息：");
  EXPECT_EQ(b["answer"], "Cancel");
  EXPECT_EQ(b["scripted"], true);
  box.style = 0x1000 | 4;
  box.answer = idb::kNo;
  EXPECT_EQ(MsgBoxEvent(box)["style"], 4);
  EXPECT_EQ(MsgBoxEvent(box)["answer"], "No");

  MenuRecord menu;
  menu.items = {{20001, Gbk("显示主菜单"), false, false}, {20002, Gbk("退出"), false, false}};
  menu.chosen = 20002;
  EXPECT_EQ(MenuEvent(menu)["items"], Json({"显示主菜单", "退出"}));
  EXPECT_EQ(MenuEvent(menu)["choice"], "退出");
  menu.chosen = 0;
  EXPECT_TRUE(MenuEvent(menu)["choice"].is_null());
}

TEST(Events, BoxesAndMenusKeepTheOrderTheyOpenedIn) {
  HeadlessBackend hb;
  ObservingBackend ob(hb, {});
  const std::vector<PopupItem> items = {{20001, Gbk("显示主菜单"), false, false}};
  ob.PopupMenu(kMainWindow, items, {}, {}, true);  // no window yet: nothing is shown
  ASSERT_TRUE(ob.BuildWindow(MainWindowLayout()));
  hb.ScriptMessageBoxAnswer(idb::kNo);
  EXPECT_EQ(ob.MsgBox(Gbk("一"), 4, Gbk("t"), {}), idb::kNo);
  ob.PopupMenu(kMainWindow, items, {}, {}, true);
  EXPECT_EQ(ob.MsgBox(Gbk("二"), 0, Gbk("t"), {}), idb::kOk);
  const auto& o = ob.opened();
  ASSERT_EQ(o.size(), 4u);
  EXPECT_TRUE(o[0].menu && !o[0].shown);
  EXPECT_TRUE(!o[1].menu && o[1].record == 0);
  EXPECT_TRUE(o[2].menu && o[2].shown && o[2].record == 0);
  EXPECT_TRUE(!o[3].menu && o[3].record == 1);
  EXPECT_EQ(hb.Menus().size(), 1u);
}

std::string Hex(const std::string& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += std::string{kDigits[c >> 4], kDigits[c & 15]};
  return out.empty() ? "-" : out;
}

TEST(World, SnapshotsReadTheSettingsRegistryServerStateAndStatementLogs) {
  std::string dir = std::filesystem::temp_directory_path() / "tw-scenario-world-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  World w;
  w.settingsPath = dir + "/" + kSettingsFile;
  w.registryPath = dir + "/registry";
  w.addresses = {"10.0.0.5", "WS01"};
  w.statePaths = {dir + "/state1.json", dir + "/absent.json"};
  w.logPaths = {dir + "/log1.jsonl", dir + "/absent.jsonl"};

  EXPECT_EQ(SettingsView(w), Json::parse(R"({"text": null, "hidden": false})"));
  std::ofstream(w.settingsPath, std::ios::binary) << Gbk("[配置]\r\nip=a\r\n");
  ASSERT_TRUE(platform::SetAttributes(Utf8ToGbk(w.settingsPath), 0x02));
  EXPECT_EQ(SettingsView(w), Json({{"text", "[配置]\r\nip=a\r\n"}, {"hidden", true}}));

  const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::string lower = "software\\microsoft\\windows\\currentversion\\run";
  std::ofstream(w.registryPath) << "tidewell-registry 1\n"
                                << "K 3 " << Hex(lower) << "\n"
                                << "V 3 " << Hex(lower) << " " << Hex("tidewell.exe") << " 1 "
                                << Hex(Gbk("/程序/tidewell.exe")) << "\n"
                                << "V 3 " << Hex(lower) << " " << Hex("n") << " 4 "
                                << Hex(std::string("\x2a\x01\0\0", 4)) << "\n"
                                << "V 4 " << Hex(run) << " " << Hex("machine") << " 1 " << Hex("x")
                                << "\n"
                                << "V 3 " << Hex(run + "\\Sub") << " " << Hex("deeper") << " 1 "
                                << Hex("x") << "\n";
  EXPECT_EQ(RegistryView(w), Json({{"tidewell.exe", "/程序/tidewell.exe"}, {"n", 298}}));

  std::ofstream(w.statePaths[0])
      << R"({"databases": {"sales": {"recovery": "SIMPLE", "log_pages": 64,
                                      "state": "online"}}, "version": 3})";
  EXPECT_EQ(ServersView(w), Json::parse(R"({
      "10.0.0.5": {"databases": {"sales": {"recovery": "SIMPLE", "log_pages": 64}}},
      "WS01": {"databases": {}}})"));

  std::ofstream(w.logPaths[0])
      << R"({"time": "t", "conn": 51, "login": "sa", "database": "master", "kind": "login", "host": "h"})"
      << "\n"
      << R"({"conn": 52, "kind": "batch", "text": "USE x", "errors": [911], "rows": 0, "dropped": true})"
      << "\n{\"conn\": 53, \"kind";  // cut short as the server died
  EXPECT_EQ(SqlView(w), Json::parse(R"({
      "10.0.0.5": [{"conn": 51, "login": "sa", "database": "master", "kind": "login"},
                   {"conn": 52, "kind": "batch", "text": "USE x", "errors": [911], "dropped": true}],
      "WS01": []})"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tw::scenario
