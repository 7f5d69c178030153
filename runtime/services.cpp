// The portable half of the system services: program location, the settings file on top of the
// INI editor, registry path handling and value kinds, file queries and the two pauses. The
// operating system is reached only through runtime/platform_services.h.
#include "runtime/services.h"

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/gbk.h"
#include "runtime/ini.h"
#include "runtime/platform_services.h"
#include "runtime/pump.h"
#include "runtime/text.h"

namespace tw {
namespace {

Text g_runDirectory;
Text g_exeFileName;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// UTF-16LE bytes as UTF-8; nullopt for an odd byte count or a lone surrogate, which could not
// be written back as they were.
std::optional<std::string> Utf16LeToUtf8(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      const std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 as UTF-16LE bytes. The text was decoded from such a file or converted from GBK, so it
// is well formed; a malformed byte would become U+FFFD.
std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    std::uint32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = n != 0 && i + n <= utf8.size();
    for (std::size_t j = 1; ok && j < n; ++j) {
      const auto t = static_cast<unsigned char>(utf8[i + j]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      put(0xFFFD);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
    i += n;
  }
  return out;
}

// A settings file's bytes in the form the INI editor works on. GBK files are edited as they are;
// a file with a UTF-8 or UTF-16LE byte-order mark (Notepad's "UTF-8" and "Unicode") is edited in
// UTF-8 and written back in its own encoding, as the system's profile functions do.
struct Decoded {
  enum class Mark { None, Utf8, Utf16Le } mark = Mark::None;
  std::string text;
  ini::Charset charset() const {
    return mark == Mark::None ? ini::Charset::Gbk : ini::Charset::Utf8;
  }
  Text Name(std::string_view gbk) const { return mark == Mark::None ? Text(gbk) : GbkToUtf8(gbk); }
};

// Nullopt for a file that cannot be edited without losing what it holds: UTF-16BE, or UTF-16
// that does not decode.
std::optional<Decoded> Decode(std::string_view content) {
  if (content.starts_with(kUtf8Bom)) {
    return Decoded{Decoded::Mark::Utf8, std::string(content.substr(kUtf8Bom.size()))};
  }
  if (content.starts_with(kUtf16LeBom)) {
    auto text = Utf16LeToUtf8(content.substr(kUtf16LeBom.size()));
    if (!text) return std::nullopt;
    return Decoded{Decoded::Mark::Utf16Le, std::move(*text)};
  }
  if (content.starts_with(kUtf16BeBom)) return std::nullopt;
  return Decoded{Decoded::Mark::None, std::string(content)};
}

std::string Encode(Decoded::Mark mark, std::string_view text) {
  switch (mark) {
    case Decoded::Mark::Utf8:
      return std::string(kUtf8Bom) + std::string(text);
    case Decoded::Mark::Utf16Le:
      return std::string(kUtf16LeBom) + Utf8ToUtf16Le(text);
    case Decoded::Mark::None:
      break;
  }
  return std::string(text);
}

}  // namespace

PathSplit SplitAtLastSeparator(std::string_view path, char separator) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (static_cast<unsigned char>(path[i]) >= 0x80) {
      ++i;  // the second byte of a double-byte character is never a separator
    } else if (path[i] == separator) {
      last = i;
    }
  }
  if (last == std::string_view::npos) return {Text(), Text(path)};
  return {Text(path.substr(0, last)), Text(path.substr(last + 1))};
}

bool InitProgramLocation() {
  const Text path = platform::ExecutablePath();
  if (path.empty()) return false;
  PathSplit parts = SplitAtLastSeparator(path, platform::PathSeparator());
  g_runDirectory = std::move(parts.head);
  g_exeFileName = std::move(parts.tail);
  platform::SetCurrentDir(g_runDirectory);
  return true;
}

void SetProgramLocation(std::string_view directory, std::string_view exeFileName) {
  g_runDirectory = directory;
  g_exeFileName = exeFileName;
}

Text RunDirectory() {
  return g_runDirectory;
}
Text ExeFileName() {
  return g_exeFileName;
}

// ---- Settings file -------------------------------------------------------------------------

IniSnapshot::IniSnapshot(std::string_view file) {
  std::string content;
  if (file.empty() || platform::ReadWholeFile(file, content) != platform::ReadStatus::Ok) return;
  auto decoded = Decode(content);
  if (!decoded) return;
  readable_ = true;
  utf8_ = decoded->mark != Decoded::Mark::None;
  text_ = std::move(decoded->text);
}

Text IniSnapshot::Read(std::string_view section, std::string_view key,
                       std::optional<std::string_view> def) const {
  // Names lose what the platform's functions drop around them, as the writer's do; the file
  // name is taken as it is, by both.
  section = ini::TrimName(section);
  key = ini::TrimName(key);
  if (section.empty() || key.empty()) return Text();
  Text fallback(def.value_or(std::string_view()));
  if (!readable_) return fallback;
  const auto charset = utf8_ ? ini::Charset::Utf8 : ini::Charset::Gbk;
  const auto found = utf8_ ? ini::Find(text_, GbkToUtf8(section), GbkToUtf8(key), charset)
                           : ini::Find(text_, section, key, charset);
  if (!found) return fallback;
  if (!utf8_) return Text(ini::CutValue(*found));
  return Text(ini::CutValue(Utf8ToGbk(*found)));
}

Text IniRead(std::string_view file, std::string_view section, std::string_view key,
             std::optional<std::string_view> def) {
  if (file.empty()) return Text();
  return IniSnapshot(file).Read(section, key, def);
}

bool IniWrite(std::string_view file, std::string_view section, std::optional<std::string_view> key,
              std::optional<std::string_view> value) {
  if (file.empty()) return false;
  std::string content;
  switch (platform::ReadWholeFile(file, content)) {
    case platform::ReadStatus::Ok:
      break;
    case platform::ReadStatus::Missing:
      content.clear();
      break;
    case platform::ReadStatus::Failed:
      return false;  // rewriting a file we cannot read would lose its other settings
  }
  // A file that does not decode is left alone: it cannot be rewritten without losing what it
  // holds.
  const auto decoded = Decode(content);
  if (!decoded) return false;
  const Text k = key ? decoded->Name(*key) : Text();
  const Text v = value ? decoded->Name(*value) : Text();
  ini::EditResult edit =
      ini::Edit(decoded->text, decoded->Name(section),
                key ? std::optional<std::string_view>(k) : std::nullopt,
                value ? std::optional<std::string_view>(v) : std::nullopt, decoded->charset());
  if (edit.status == ini::EditStatus::Changed) {
    edit.content = Encode(decoded->mark, edit.content);
  }
  switch (edit.status) {
    case ini::EditStatus::Refused:
      return false;
    case ini::EditStatus::Unchanged:
      return true;
    case ini::EditStatus::Changed:
      break;
  }
  return platform::ReplaceWholeFile(file, edit.content);
}

// ---- Registry ------------------------------------------------------------------------------

int NormalizeRegRoot(int root) {
  return (root == 1 || root == 2 || root == 4 || root == 5) ? root : kHkeyCurrentUser;
}

bool RegWrite(int root, std::string_view path, const Value& value) {
  root = NormalizeRegRoot(root);
  const PathSplit parts = SplitAtLastSeparator(path, '\\');
  platform::RegData data;
  bool writable = true;
  if (value.IsNumeric()) {
    const auto n = static_cast<std::uint32_t>(NumericToInt(value).value_or(0));
    data.kind = platform::RegKind::Dword;
    for (int i = 0; i < 4; ++i) data.bytes.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  } else if (value.IsText()) {
    data.kind = platform::RegKind::Sz;
    data.bytes = value.AsText();
  } else if (value.IsBytes()) {
    data.kind = platform::RegKind::Binary;
    data.bytes.assign(value.AsBytes().begin(), value.AsBytes().end());
  } else {
    writable = false;  // the key is still created, as callers of the registry expect
  }
  const bool ok = platform::RegWriteValue(root, parts.head, parts.tail, writable ? &data : nullptr);
  return ok && writable;
}

bool RegDelete(int root, std::string_view path) {
  root = NormalizeRegRoot(root);
  const PathSplit parts = SplitAtLastSeparator(path, '\\');
  if (platform::RegEraseValue(root, parts.head, parts.tail)) return true;
  return !path.empty() && platform::RegEraseKey(root, path);
}

// ---- Files ---------------------------------------------------------------------------------

bool FileExists(std::string_view path) {
  return !path.empty() && platform::FindFirst(path).has_value();
}

bool SetFileAttr(std::string_view path, int attributes) {
  return !path.empty() && platform::SetAttributes(path, attributes & 0x27);
}

std::int64_t FileSize(std::string_view path) {
  if (path.empty()) return -1;
  const auto entry = platform::FindFirst(path);
  return entry ? entry->size : -1;
}

bool AppendFileBytes(std::string_view path, std::string_view bytes) {
  return !path.empty() && platform::AppendToFile(path, bytes);
}

bool RenameFile(std::string_view from, std::string_view to) {
  return !from.empty() && !to.empty() && platform::RenameReplacing(from, to);
}

std::optional<std::string> ProtectForUser(std::string_view plain) {
  return platform::ProtectData(plain);
}

std::optional<std::string> UnprotectForUser(std::string_view blob) {
  return platform::UnprotectData(blob);
}

// ---- Pauses --------------------------------------------------------------------------------

void SleepMs(int ms) {
  if (ms < 0) ms = 0;
  if (MessagePump* pump = CurrentPump()) {
    pump->SleepMs(ms);
  } else {
    platform::Sleep(ms);
  }
}

void DelayMs(int ms) {
  if (ms <= 0) return;
  MessagePump* pump = CurrentPump();
  if (!pump) {
    platform::Sleep(ms);
    return;
  }
  const std::uint64_t end = pump->TickMs() + static_cast<std::uint64_t>(ms);
  std::uint64_t lastWake = UINT64_MAX;
  int idleWakes = 0;
  for (;;) {
    pump->DispatchPending();
    const std::uint64_t now = pump->TickMs();
    if (now >= end) break;
    // A wait that keeps returning at once without the clock moving means something that is
    // never dispatched (a quit request) is waiting: step the clock instead of spinning.
    if (now == lastWake && ++idleWakes >= 2) {
      pump->SleepMs(1);
      idleWakes = 0;
      continue;
    }
    if (now != lastWake) idleWakes = 0;
    lastWake = now;
    pump->WaitUntil(end);
  }
}

std::optional<Bytes> ReadFileBytes(std::string_view path) {
  std::string content;
  if (platform::ReadWholeFile(path, content) != platform::ReadStatus::Ok) return std::nullopt;
  return Bytes(content.begin(), content.end());
}

// ---- Host and processes --------------------------------------------------------------------

namespace {
std::optional<MachineStandIn> g_machine;
}  // namespace

void SetMachineStandIn(std::optional<MachineStandIn> machine) {
  g_machine = std::move(machine);
}

Text HostName() {
  return g_machine ? g_machine->hostName : platform::HostName();
}

Text LocalIp(std::optional<std::string_view> host) {
  if (g_machine && (!host || host->empty() || *host == g_machine->hostName)) {
    return g_machine->ipv4;
  }
  if (host && !host->empty()) return platform::ResolveIpv4(*host);
  const Text own = platform::HostName();
  return own.empty() ? Text() : platform::ResolveIpv4(own);
}

std::vector<ProcessInfo> ProcessList() {
  if (!g_machine) return platform::Processes();
  std::vector<ProcessInfo> list;
  int pid = 0;
  for (const Text& name : g_machine->processes) {
    ProcessInfo p;
    p.pid = pid;
    p.exeFile = name;
    p.threadCount = 1;
    list.push_back(std::move(p));
    pid += 4;
  }
  return list;
}

}  // namespace tw
