// The scenario runner's shared types: a script read and checked once, before anything runs, into
// typed steps, and the few helpers both the runner's own process and the program's process use
// (dates, file paths, the trace pieces they write).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/headless/headless.h"
#include "runtime/value.h"
#include "ui/units.h"

namespace tw::scenario {

using Json = nlohmann::json;

struct Machine {
  std::string programDir;  // UTF-8 as the operating system takes it; empty: the work folder's
  std::string exe = "tidewell.exe";
  std::string host = "WS01";
  std::string ip = "192.168.1.20";
  std::vector<std::string> otherProcesses = {"[System Process]", "System", "explorer.exe"};
  std::int64_t clockSeconds = 0;  // local time at the first start, seconds since 1899-12-30
  bool registryWritable = true;
};

struct ProgramFile {
  std::string name;                    // UTF-8 file name in the program folder
  std::optional<std::string> content;  // UTF-8; nullopt: the file must not exist
};

struct ServerSpec {
  std::string address;  // what the tool is given to type, UTF-8
  Json fixture;
  std::string tdsVersion = "7.4";    // what the driver asks for: "7.1" .. "7.4"
  std::string encryption = "login";  // off | login | on | require
};

enum class StepKind {
  Start,
  Kill,
  Type,
  Clear,
  Click,
  Choose,
  Row,
  RightClickList,
  Answer,
  Menu,
  Tray,
  Close,
  Esc,
  Wait,
  Until,
  SetClock,
  Server,
  Snapshot,
};

enum class RowAction { Left, Double, Right, Space, Select };
enum class TrayAction { Left, Double, Right };

struct Step {
  StepKind kind = StepKind::Start;
  std::string key;  // the step's key as written, for messages and refused events
  UnitRef unit{0, 0};
  Text text;                 // GBK: typed text, combo item, menu caption
  std::optional<int> index;  // combo item, list row
  RowAction row = RowAction::Left;
  TrayAction tray = TrayAction::Left;
  std::vector<int> answers;  // platform button ids
  bool dismiss = false;      // menu: dismiss rather than choose `text`
  int window = 0;
  std::int64_t ms = 0;
  std::int64_t seconds = 0;  // until, set_clock
  std::size_t server = 0;
  Json control;
  std::string name;  // snapshot
};

struct Script {
  Machine machine;
  std::vector<ProgramFile> files;
  std::vector<ServerSpec> servers;
  std::vector<Step> steps;
};

// Reads a script. `ports` gives each server's port for the $SIM tokens (index 0 is $SIM1); an
// empty list checks the script with placeholder ports. On failure `error` holds one line that
// names the step or the place.
std::optional<Script> ReadScript(const Json& doc, const std::vector<int>& ports,
                                 std::string& error);

// "YYYY-MM-DD hh:mm:ss" as seconds since day 0 (1899-12-30), and back.
std::optional<std::int64_t> ParseClock(const std::string& text);
std::string FormatClock(std::int64_t seconds);
double DateTimeOfSeconds(std::int64_t seconds);
std::int64_t SecondsOfDateTime(double dateTime);

// Button names as scripts and traces write them ("OK", "Yes" ...), and back.
std::optional<int> ButtonOfName(const std::string& name);
std::string NameOfButton(int button);

// Trace events made from the headless layer's records.
Json MsgBoxEvent(const MsgBoxRecord& rec);
Json MenuEvent(const MenuRecord& rec);
Json NoticeEvent(const BalloonRecord& rec);
Json RefusedEvent(std::int64_t seconds, std::size_t step, const std::string& action);

// What every snapshot shows of the world outside the program: the settings file, the Run
// key of the registry stand-in and each server's databases.
struct World {
  std::string settingsPath;  // the settings file, as the operating system names it
  std::string historyPath;   // the history file beside it
  std::string registryPath;
  std::vector<std::string> addresses;   // per server
  std::vector<std::string> statePaths;  // per server
  std::vector<std::string> logPaths;    // per server
};
Json SettingsView(const World& world);
Json HistoryView(const World& world);
Json RegistryView(const World& world);
Json ServersView(const World& world);
// The statement log of every server, keyed by address.
Json SqlView(const World& world);
// A snapshot's parts for a program that does not run.
Json NoWindows();

// The settings file's name, as the operating system names it.
inline constexpr const char* kSettingsFile = "配置文件.ini";
inline constexpr const char* kHistoryFile = "清理记录.txt";

}  // namespace tw::scenario
