// Pieces of the trace: events made from the headless layer's message-box and menu records, and
// the parts of a snapshot that lie outside the program (settings file, registry stand-in,
// the servers' databases and statement logs). Texts leave the program as GBK and enter the
// trace as UTF-8.
#include <fstream>
#include <sstream>

#include "runtime/gbk.h"
#include "runtime/platform_services.h"
#include "tests/scenario/scenario.h"

namespace tw::scenario {
namespace {

constexpr std::pair<int, const char*> kButtons[] = {
    {idb::kOk, "OK"},       {idb::kCancel, "Cancel"}, {idb::kAbort, "Abort"},
    {idb::kRetry, "Retry"}, {idb::kIgnore, "Ignore"}, {idb::kYes, "Yes"},
    {idb::kNo, "No"},
};

std::string Utf8(const Text& gbk) {
  return GbkToUtf8(gbk);
}

std::optional<std::string> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::optional<std::string> Unhex(const std::string& hex) {
  if (hex == "-") return std::string();
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const std::string pair = hex.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
    out += static_cast<char>(std::stoi(pair, nullptr, 16));
  }
  return out;
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<int> ButtonOfName(const std::string& name) {
  for (const auto& [id, n] : kButtons) {
    if (name == n) return id;
  }
  return std::nullopt;
}

std::string NameOfButton(int button) {
  for (const auto& [id, n] : kButtons) {
    if (button == id) return n;
  }
  return std::to_string(button);
}

Json MsgBoxEvent(const MsgBoxRecord& rec) {
  // The frame adds the modal flags itself; scripts see the style the application asked for.
  return {{"at", FormatClock(SecondsOfDateTime(rec.localTime))},
          {"type", "msgbox"},
          {"text", Utf8(rec.text)},
          {"style", rec.style & ~0x3000},
          {"title", Utf8(rec.title)},
          {"answer", NameOfButton(rec.answer)},
          {"scripted", rec.scripted}};
}

Json MenuEvent(const MenuRecord& rec) {
  Json items = Json::array();
  Json choice = nullptr;
  for (const PopupItem& item : rec.items) {
    items.push_back(Utf8(item.caption));
    if (rec.chosen != 0 && item.command == rec.chosen) choice = Utf8(item.caption);
  }
  return {{"at", FormatClock(SecondsOfDateTime(rec.localTime))},
          {"type", "menu"},
          {"items", items},
          {"choice", choice}};
}

Json NoticeEvent(const BalloonRecord& rec) {
  return {{"at", FormatClock(SecondsOfDateTime(rec.localTime))},
          {"type", "notice"},
          {"title", Utf8(rec.title)},
          {"text", Utf8(rec.text)}};
}

Json RefusedEvent(std::int64_t seconds, std::size_t step, const std::string& action) {
  return {{"at", FormatClock(seconds)}, {"type", "refused"}, {"step", step}, {"action", action}};
}

Json SettingsView(const World& world) {
  const auto text = ReadAll(world.settingsPath);
  const int attributes = platform::GetAttributes(Utf8ToGbk(world.settingsPath));
  return {{"text", text ? Json(Utf8(*text)) : Json(nullptr)},
          {"hidden", attributes >= 0 && (attributes & 0x02) != 0}};
}

Json HistoryView(const World& world) {
  const auto text = ReadAll(world.historyPath);
  return {{"text", text ? Json(Utf8(*text)) : Json(nullptr)}};
}

Json RegistryView(const World& world) {
  // The store's own format: a header line, then "K root path" and "V root path name kind data"
  // records with every field in hex.
  static const std::string kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  Json out = Json::object();
  const auto text = ReadAll(world.registryPath);
  if (!text) return out;
  std::istringstream in(*text);
  std::string line;
  if (!std::getline(in, line) || line != "tidewell-registry 1") return out;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string tag, root, path, name, kind, data;
    if (!(f >> tag >> root >> path >> name >> kind >> data) || tag != "V" || root != "3") continue;
    const auto p = Unhex(path), n = Unhex(name), d = Unhex(data);
    if (!p || !n || !d || !SameNameNoCase(*p, kRunKey)) continue;
    if (kind == "1") {
      out[Utf8(*n)] = Utf8(*d);
    } else if (kind == "4" && d->size() == 4) {
      std::uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>((*d)[i]);
      out[Utf8(*n)] = v;
    } else {
      out[Utf8(*n)] = data;  // binary data stays in hex
    }
  }
  return out;
}

Json ServersView(const World& world) {
  Json out = Json::object();
  for (std::size_t i = 0; i < world.addresses.size(); ++i) {
    Json databases = Json::object();
    const auto text = ReadAll(world.statePaths[i]);
    const Json state = text ? Json::parse(*text, nullptr, false) : Json();
    if (state.is_object() && state.contains("databases") && state["databases"].is_object()) {
      for (const auto& [name, db] : state["databases"].items()) {
        if (!db.is_object()) continue;
        databases[name] = {{"recovery", db.value("recovery", Json())},
                           {"log_pages", db.value("log_pages", Json())}};
      }
    }
    out[world.addresses[i]] = {{"databases", databases}};
  }
  return out;
}

Json SqlView(const World& world) {
  static const char* const kFields[] = {"conn", "login",  "database", "kind",
                                        "text", "errors", "dropped",  "unanswered"};
  Json out = Json::object();
  for (std::size_t i = 0; i < world.addresses.size(); ++i) {
    Json entries = Json::array();
    std::ifstream in(world.logPaths[i]);
    for (std::string line; std::getline(in, line);) {
      const Json entry = Json::parse(line, nullptr, false);
      if (!entry.is_object()) continue;  // a line cut short as the server died
      Json kept = Json::object();
      for (const char* field : kFields) {
        if (entry.contains(field)) kept[field] = entry[field];
      }
      entries.push_back(kept);
    }
    out[world.addresses[i]] = entries;
  }
  return out;
}

Json NoWindows() {
  const Json closed = {{"open", false}, {"visible", false}, {"display_state", 0}, {"caption", ""}};
  return {{"windows", {{"main", closed}, {"chooser", closed}}},
          {"units", Json::object()},
          {"list", Json::array()},
          {"tray", {{"present", false}, {"tooltip", ""}}}};
}

}  // namespace tw::scenario
