// The portable half of the system services: program location, the settings file on top of the
// INI editor, registry path handling and value kinds, file queries and the two pauses. The
// operating system is reached only through platform/platform_services.h.
#include "runtime/services.h"

#include <cstdint>
#include <string>

#include "platform/platform_services.h"
#include "runtime/gbk.h"
#include "runtime/ini.h"
#include "runtime/pump.h"
#include "runtime/text.h"

namespace tw {
namespace {

Text g_runDirectory;
Text g_exeFileName;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsUtf16File(std::string_view c) {
  return c.size() >= 2 &&
         ((c[0] == '\xFF' && c[1] == '\xFE') || (c[0] == '\xFE' && c[1] == '\xFF'));
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

Text IniRead(std::string_view file, std::string_view section, std::string_view key,
             std::optional<std::string_view> def) {
  file = ini::SkipLeadingBlanks(file);
  section = ini::SkipLeadingBlanks(section);
  key = ini::SkipLeadingBlanks(key);
  if (file.empty() || section.empty() || key.empty()) return Text();
  Text fallback(def.value_or(std::string_view()));

  std::string content;
  if (platform::ReadWholeFile(file, content) != platform::ReadStatus::Ok) return fallback;
  if (IsUtf16File(content)) return fallback;
  std::string_view bytes(content);
  if (bytes.starts_with(kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    const auto found = ini::Find(bytes, GbkToUtf8(section), GbkToUtf8(key), ini::Charset::Utf8);
    if (!found) return fallback;
    return Text(ini::CutValue(Utf8ToGbk(*found)));
  }
  const auto found = ini::Find(bytes, section, key);
  return found ? Text(ini::CutValue(*found)) : fallback;
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
  // A UTF-16 file is left alone: it cannot be edited as bytes without losing what it holds.
  if (IsUtf16File(content)) return false;

  ini::EditResult edit;
  if (std::string_view(content).starts_with(kUtf8Bom)) {
    const std::string k = key ? GbkToUtf8(*key) : std::string();
    const std::string v = value ? GbkToUtf8(*value) : std::string();
    edit = ini::Edit(std::string_view(content).substr(kUtf8Bom.size()), GbkToUtf8(section),
                     key ? std::optional<std::string_view>(k) : std::nullopt,
                     value ? std::optional<std::string_view>(v) : std::nullopt, ini::Charset::Utf8);
    if (edit.status == ini::EditStatus::Changed) edit.content.insert(0, kUtf8Bom);
  } else {
    edit = ini::Edit(content, section, key, value);
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

// ---- Host and processes --------------------------------------------------------------------

Text HostName() {
  return platform::HostName();
}

Text LocalIp(std::optional<std::string_view> host) {
  if (host && !host->empty()) return platform::ResolveIpv4(*host);
  const Text own = platform::HostName();
  return own.empty() ? Text() : platform::ResolveIpv4(own);
}

std::vector<ProcessInfo> ProcessList() {
  return platform::Processes();
}

}  // namespace tw
