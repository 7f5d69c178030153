// What the system services need from the operating system, implemented once per platform
// (platform/win32/services_win32.cpp, platform/posix/services_posix.cpp). Paths, names and
// texts are GBK on this side; each implementation converts at its own edge. Nothing here
// throws: failures are the results documented beside each function.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/services.h"

namespace tw::platform {

// The separator that splits the executable's path ('\\' on Win32, '/' on POSIX).
char PathSeparator();
// Full path of the running executable, whatever its length; empty when it cannot be found.
Text ExecutablePath();
// Makes `dir` the process's current directory; an empty text names the file system root.
bool SetCurrentDir(std::string_view dir);

// Whole contents of a file. Missing: no such file; Failed: it exists but cannot be read.
enum class ReadStatus { Ok, Missing, Failed };
ReadStatus ReadWholeFile(std::string_view path, std::string& out);
// Replaces (or creates) the file with `bytes` so that readers see the old or the new
// contents, never a mix or nothing: the bytes go to a file beside it that is then renamed
// over it. An existing file keeps its attributes (hidden, permissions); a new one is private
// to its owner where the platform has owners. False leaves the old file untouched; a
// read-only file is not replaced.
bool ReplaceWholeFile(std::string_view path, std::string_view bytes);
// Adds `bytes` at the end of the file (created when missing) with one write, then flushes it to
// the disk, so that a crash leaves either all of them or none. False when the file cannot be
// opened or the write or flush fails.
bool AppendToFile(std::string_view path, std::string_view bytes);
// Renames `from` to `to`, replacing a file already called `to`.
bool RenameReplacing(std::string_view from, std::string_view to);

// The first entry a directory search for `path` finds (wildcards '*' and '?' in the last
// component match as on Windows); nullopt when none.
struct FoundEntry {
  std::int64_t size = 0;
  bool directory = false;
};
std::optional<FoundEntry> FindFirst(std::string_view path);
// Read-only 0x01, hidden 0x02, system 0x04, archive 0x20, as far as the platform has them.
bool SetAttributes(std::string_view path, int attributes);
// The attributes as SetAttributes takes them; -1 when there is no such file.
int GetAttributes(std::string_view path);

void Sleep(int ms);  // ms >= 0

Text HostName();
// First IPv4 address the resolver lists for `host`, dotted; empty when it cannot be resolved.
Text ResolveIpv4(std::string_view host);
std::vector<ProcessInfo> Processes();

// Registry. `root` is one of the root numbers (1..5) already normalised; `keyPath` may be
// empty (the root key itself).
enum class RegKind : std::uint32_t { Sz = 1, Binary = 3, Dword = 4 };
struct RegData {
  RegKind kind = RegKind::Sz;
  std::string bytes;  // Sz: the GBK text without terminator; Dword: 4 bytes little-endian
};
// Opens the key for writing, creating it (and its parents) when missing, then writes the
// value when `data` is given. False when the key can be neither opened nor created, or the
// value cannot be written.
bool RegWriteValue(int root, std::string_view keyPath, std::string_view name, const RegData* data);
// True when the value existed and was deleted.
bool RegEraseValue(int root, std::string_view keyPath, std::string_view name);
// Deletes a key that has no subkeys, with its values; true on success.
bool RegEraseKey(int root, std::string_view keyPath);
std::optional<RegData> RegReadValue(int root, std::string_view keyPath, std::string_view name);

}  // namespace tw::platform
