// Reading a scenario script: the $SIM tokens replaced by the simulators' addresses, every
// section checked, every step turned into a typed Step. Whatever cannot run is found here,
// before a simulator or the program starts, and reported in one line naming the step.
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"
#include "tests/scenario/scenario.h"
#include "ui/layout.h"

namespace tw::scenario {
namespace {

struct NamedUnit {
  UnitRef ref{0, 0};
  UnitKind kind = UnitKind::Window;
};

// Every named unit of both windows by its layout name in UTF-8.
const std::map<std::string, NamedUnit>& UnitsByName() {
  static const std::map<std::string, NamedUnit> units = [] {
    std::map<std::string, NamedUnit> out;
    for (const WindowLayout* w : {&MainWindowLayout(), &ChooserWindowLayout()}) {
      for (const UnitLayout& u : w->units) {
        if (!u.name.empty()) out[GbkToUtf8(u.name)] = {{w->id, u.id}, u.kind};
      }
    }
    return out;
  }();
  return units;
}

// A failure while reading: the message travels up to ReadScript.
struct Bad {
  std::string message;
};

// Replaces $SIM1, $SIM2 ... in every string below `j`.
void Substitute(Json& j, const std::vector<int>& ports, std::size_t servers,
                const std::string& where) {
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    std::string out;
    std::size_t i = 0;
    for (;;) {
      const std::size_t at = s.find("$SIM", i);
      if (at == std::string::npos) break;
      out += s.substr(i, at - i);
      std::size_t end = at + 4;
      while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
      i = end;
      if (end == at + 4) {
        out += "$SIM";
        continue;
      }
      const std::string number = s.substr(at + 4, end - at - 4);
      const std::size_t n = number.size() > 6 ? 0 : std::stoul(number);
      if (n == 0 || n > servers) {
        std::string message = where;
        message.append(": $SIM").append(number).append(" names no server");
        throw Bad{message};
      }
      out += "127.0.0.1," + std::to_string(ports.empty() ? 0 : ports[n - 1]);
    }
    out += s.substr(i);
    j = out;
  } else if (j.is_array() || j.is_object()) {
    for (auto& child : j) Substitute(child, ports, servers, where);
  }
}

std::string Text8(const Json& j, const std::string& where) {
  if (!j.is_string()) throw Bad{where + ": expected a text"};
  return j.get<std::string>();
}

bool Flag(const Json& j, const std::string& where) {
  if (!j.is_boolean()) throw Bad{where + ": expected true or false"};
  return j.get<bool>();
}

std::int64_t Whole(const Json& j, const std::string& where) {
  if (!j.is_number_integer()) throw Bad{where + ": expected a whole number"};
  return j.get<std::int64_t>();
}

std::int64_t Clock(const Json& j, const std::string& where) {
  const auto s = ParseClock(Text8(j, where));
  if (!s) throw Bad{where + ": expected a date \"YYYY-MM-DD hh:mm:ss\""};
  return *s;
}

Machine ReadMachine(const Json& m) {
  Machine out;
  out.clockSeconds = *ParseClock("2020-10-08 09:00:00");
  if (m.is_null()) return out;
  if (!m.is_object()) throw Bad{"machine: expected an object"};
  for (const auto& [key, v] : m.items()) {
    const std::string where = "machine." + key;
    if (key == "program_dir") {
      out.programDir = Text8(v, where);
      if (out.programDir.empty()) throw Bad{where + ": empty"};
    } else if (key == "exe") {
      out.exe = Text8(v, where);
      if (out.exe.empty() || out.exe.find('/') != std::string::npos)
        throw Bad{where + ": bad name"};
    } else if (key == "host") {
      out.host = Text8(v, where);
    } else if (key == "ip") {
      out.ip = Text8(v, where);
    } else if (key == "other_processes") {
      if (!v.is_array()) throw Bad{where + ": expected a list of names"};
      out.otherProcesses.clear();
      for (const Json& p : v) out.otherProcesses.push_back(Text8(p, where));
    } else if (key == "clock") {
      out.clockSeconds = Clock(v, where);
    } else if (key == "registry_writable") {
      out.registryWritable = Flag(v, where);
    } else {
      throw Bad{where + ": unknown field"};
    }
  }
  return out;
}

std::vector<ProgramFile> ReadFiles(const Json& f) {
  std::vector<ProgramFile> out;
  if (f.is_null()) return out;
  if (!f.is_object()) throw Bad{"files: expected an object"};
  for (const auto& [name, v] : f.items()) {
    const std::string where = "files." + name;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
      throw Bad{where + ": not a file name"};
    if (v.is_null()) {
      out.push_back({name, std::nullopt});
    } else {
      out.push_back({name, Text8(v, where)});
    }
  }
  return out;
}

std::vector<ServerSpec> ReadServers(const Json& s) {
  std::vector<ServerSpec> out;
  if (s.is_null()) return out;
  if (!s.is_array()) throw Bad{"servers: expected a list"};
  std::set<std::string> seen;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const std::string where = "servers[" + std::to_string(i) + "]";
    const Json& e = s[i];
    const auto known = [](const std::string& key) {
      return key == "address" || key == "fixture" || key == "tds_version" || key == "encryption";
    };
    bool odd = !e.is_object() || !e.contains("address") || !e.contains("fixture");
    for (auto it = e.begin(); !odd && it != e.end(); ++it) odd = !known(it.key());
    if (odd) {
      throw Bad{where +
                ": expected {\"address\": TEXT, \"fixture\": OBJECT} with optional "
                "\"tds_version\" and \"encryption\""};
    }
    ServerSpec spec{Text8(e["address"], where + ".address"), e["fixture"]};
    if (e.contains("tds_version")) {
      spec.tdsVersion = Text8(e["tds_version"], where + ".tds_version");
      if (spec.tdsVersion.size() != 3 || spec.tdsVersion.rfind("7.", 0) != 0 ||
          spec.tdsVersion[2] < '1' || spec.tdsVersion[2] > '4')
        throw Bad{where + ".tds_version: expected \"7.1\", \"7.2\", \"7.3\" or \"7.4\""};
    }
    if (e.contains("encryption")) {
      spec.encryption = Text8(e["encryption"], where + ".encryption");
      if (spec.encryption != "off" && spec.encryption != "login" && spec.encryption != "on" &&
          spec.encryption != "require")
        throw Bad{where + ".encryption: expected \"off\", \"login\", \"on\" or \"require\""};
    }
    if (spec.address.empty()) throw Bad{where + ".address: empty"};
    if (!seen.insert(spec.address).second) throw Bad{where + ".address: given twice"};
    if (!spec.fixture.is_object()) throw Bad{where + ".fixture: expected an object"};
    out.push_back(std::move(spec));
  }
  return out;
}

const NamedUnit& Unit(const Json& j, const std::string& where) {
  const std::string name = Text8(j, where);
  const auto& units = UnitsByName();
  auto it = units.find(name);
  if (it == units.end()) throw Bad{where + ": unknown unit \"" + name + "\""};
  return it->second;
}

UnitRef UnitOfKind(const Json& j, UnitKind kind, const char* what, const std::string& where) {
  const NamedUnit& u = Unit(j, where);
  if (u.kind != kind) throw Bad{where + ": " + j.get<std::string>() + " is not " + what};
  return u.ref;
}

int Window(const Json& j, const std::string& where) {
  const std::string w = Text8(j, where);
  if (w == "main") return kMainWindow;
  if (w == "chooser") return kChooserWindow;
  throw Bad{where + ": unknown window \"" + w + "\" (main or chooser)"};
}

const Json& Pair(const Json& v, const std::string& where) {
  if (!v.is_array() || v.size() != 2) throw Bad{where + ": expected a list of two"};
  return v;
}

Step ReadStep(const Json& j, const Script& script, std::set<std::string>& snapshots,
              const std::string& where0) {
  if (!j.is_object() || j.size() != 1) throw Bad{where0 + ": a step is an object with one key"};
  Step s;
  s.key = j.begin().key();
  const Json& v = j.begin().value();
  const std::string where = where0 + " (" + s.key + ")";
  const auto emptyObject = [&] {
    if (!v.is_object() || !v.empty()) throw Bad{where + ": expected {}"};
  };
  const std::string& k = s.key;
  if (k == "start" || k == "kill") {
    emptyObject();
    s.kind = k == "start" ? StepKind::Start : StepKind::Kill;
  } else if (k == "type") {
    s.kind = StepKind::Type;
    s.unit = UnitOfKind(Pair(v, where)[0], UnitKind::Edit, "an edit box", where);
    s.text = Utf8ToGbk(Text8(v[1], where));
  } else if (k == "clear") {
    s.kind = StepKind::Clear;
    s.unit = UnitOfKind(v, UnitKind::Edit, "an edit box", where);
  } else if (k == "click") {
    s.kind = StepKind::Click;
    const NamedUnit& u = Unit(v, where);
    if (!HasNativeWindow(u.kind)) throw Bad{where + ": " + v.get<std::string>() + " has no window"};
    s.unit = u.ref;
  } else if (k == "choose") {
    s.kind = StepKind::Choose;
    s.unit = UnitOfKind(Pair(v, where)[0], UnitKind::Combo, "a combo box", where);
    if (v[1].is_number_integer()) {
      s.index = static_cast<int>(v[1].get<std::int64_t>());
    } else if (v[1].is_string()) {
      s.text = Utf8ToGbk(v[1].get<std::string>());
    } else {
      throw Bad{where + ": expected an item index or text"};
    }
  } else if (k == "row") {
    s.kind = StepKind::Row;
    s.index = static_cast<int>(Whole(Pair(v, where)[0], where));
    static const std::map<std::string, RowAction> kRow = {{"left", RowAction::Left},
                                                          {"double", RowAction::Double},
                                                          {"right", RowAction::Right},
                                                          {"space", RowAction::Space},
                                                          {"select", RowAction::Select}};
    auto it = kRow.find(Text8(v[1], where));
    if (it == kRow.end()) throw Bad{where + ": expected left, double, right, space or select"};
    s.row = it->second;
  } else if (k == "right_click_list") {
    s.kind = StepKind::RightClickList;
    if (!v.is_null()) s.index = static_cast<int>(Whole(v, where));
  } else if (k == "answer") {
    s.kind = StepKind::Answer;
    if (!v.is_array()) throw Bad{where + ": expected a list of buttons"};
    for (const Json& b : v) {
      const auto id = ButtonOfName(Text8(b, where));
      if (!id) throw Bad{where + ": unknown button " + b.dump()};
      s.answers.push_back(*id);
    }
  } else if (k == "menu") {
    s.kind = StepKind::Menu;
    const std::string c = Text8(v, where);
    s.dismiss = c == "dismiss";
    s.text = Utf8ToGbk(c);
  } else if (k == "tray") {
    s.kind = StepKind::Tray;
    const std::string a = Text8(v, where);
    if (a == "left") {
      s.tray = TrayAction::Left;
    } else if (a == "double") {
      s.tray = TrayAction::Double;
    } else if (a == "right") {
      s.tray = TrayAction::Right;
    } else {
      throw Bad{where + ": expected left, double or right"};
    }
  } else if (k == "close" || k == "esc") {
    s.kind = k == "close" ? StepKind::Close : StepKind::Esc;
    s.window = Window(v, where);
  } else if (k == "wait") {
    s.kind = StepKind::Wait;
    s.ms = Whole(v, where);
    if (s.ms < 0) throw Bad{where + ": negative time"};
  } else if (k == "until" || k == "set_clock") {
    s.kind = k == "until" ? StepKind::Until : StepKind::SetClock;
    s.seconds = Clock(v, where);
  } else if (k == "server") {
    s.kind = StepKind::Server;
    const std::string address = Text8(Pair(v, where)[0], where);
    std::size_t i = 0;
    while (i < script.servers.size() && script.servers[i].address != address) ++i;
    if (i == script.servers.size())
      throw Bad{where + ": unknown server address \"" + address + "\""};
    s.server = i;
    if (!v[1].is_object()) throw Bad{where + ": expected a control object"};
    s.control = v[1];
  } else if (k == "snapshot") {
    s.kind = StepKind::Snapshot;
    s.name = Text8(v, where);
    if (!snapshots.insert(s.name).second) throw Bad{where + ": snapshot name used twice"};
  } else {
    throw Bad{where0 + ": unknown step \"" + k + "\""};
  }
  return s;
}

}  // namespace

std::optional<Script> ReadScript(const Json& doc0, const std::vector<int>& ports,
                                 std::string& error) {
  try {
    if (!doc0.is_object()) throw Bad{"script: expected an object"};
    for (const auto& [key, v] : doc0.items()) {
      if (key != "machine" && key != "files" && key != "servers" && key != "steps")
        throw Bad{"script: unknown section \"" + key + "\""};
    }
    Json doc = doc0;
    const auto section = [&doc](const char* name) -> Json& { return doc[name]; };
    const std::size_t servers = section("servers").is_array() ? section("servers").size() : 0;
    Substitute(section("machine"), ports, servers, "machine");
    Substitute(section("files"), ports, servers, "files");
    Substitute(section("servers"), ports, servers, "servers");
    Script script;
    script.machine = ReadMachine(section("machine"));
    script.files = ReadFiles(section("files"));
    script.servers = ReadServers(section("servers"));
    Json& steps = section("steps");
    if (!steps.is_null() && !steps.is_array()) throw Bad{"steps: expected a list"};
    std::set<std::string> snapshots;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const std::string where = "step " + std::to_string(i);
      Substitute(steps[i], ports, servers, where);
      script.steps.push_back(ReadStep(steps[i], script, snapshots, where));
    }
    return script;
  } catch (const Bad& bad) {
    error = bad.message;
  } catch (const Json::exception& e) {
    error = std::string("script: ") + e.what();
  }
  return std::nullopt;
}

std::optional<std::int64_t> ParseClock(const std::string& t) {
  // Exactly "YYYY-MM-DD hh:mm:ss".
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (t.size() != sizeof kShape - 1) return std::nullopt;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const bool digit = t[i] >= '0' && t[i] <= '9';
    if (kShape[i] == 'd' ? !digit : t[i] != kShape[i]) return std::nullopt;
  }
  const auto num = [&t](std::size_t at, std::size_t n) { return std::stoi(t.substr(at, n)); };
  const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2),
            s = num(17, 2);
  if (y < 1900 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const double date = MakeDate(y, mo, d);
  if (YearOf(date) != y || MonthOf(date) != mo || DayOf(date) != d) return std::nullopt;
  const std::int64_t seconds = SecondsOfDateTime(date) + h * 3600 + mi * 60 + s;
  // Past the last second the date-time type holds, the clock would stand still.
  if (FormatClock(seconds) != t) return std::nullopt;
  return seconds;
}

std::string FormatClock(std::int64_t seconds) {
  const double d = DateTimeOfSeconds(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", YearOf(d), MonthOf(d), DayOf(d),
                HourOf(d), MinuteOf(d), SecondOf(d));
  return buf;
}

double DateTimeOfSeconds(std::int64_t seconds) {
  const std::int64_t day = seconds / 86400;
  return MakeDate(1899, 12, 30 + static_cast<int>(day), 0, 0, static_cast<int>(seconds % 86400));
}

std::int64_t SecondsOfDateTime(double dateTime) {
  // Scripts keep to dates from 1900 on, where the day count is positive.
  return std::llround(dateTime * 86400.0);
}

}  // namespace tw::scenario
