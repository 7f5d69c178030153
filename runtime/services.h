// System services the application calls: where the program lives, the settings file, the
// autostart value in the registry, file queries, the two pauses, this computer's host name
// and address, and the running processes. Texts are GBK; no command throws or shows a
// message, failures are the results documented here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace tw {

// Fixes the program directory and the executable's file name from the running executable's
// full path, and makes the program directory the current directory. Called once by the
// program entry; false when the path could not be found (both texts then stay empty).
bool InitProgramLocation();
// Fixes both texts without touching the current directory: for hosts that run the
// application's code outside its own executable, such as tests.
void SetProgramLocation(std::string_view directory, std::string_view exeFileName);
// The program directory without a trailing separator, and the executable's file name.
Text RunDirectory();
Text ExeFileName();

// Splits at the last `separator` that is not the second byte of a double-byte character.
// Without a separator the head is empty and the whole path is the tail.
struct PathSplit {
  Text head;
  Text tail;
};
PathSplit SplitAtLastSeparator(std::string_view path, char separator);

// Settings file. IniRead gives the stored value exactly (at most 10239 bytes), `def` (or the
// empty text) when the file, section or key is missing, and the empty text when the file name
// is empty or the section or key is blank. Names compare without regard to case, and reads and
// writes drop the same spaces around them (ini::TrimName); the file name is used as given. A file
// saved with a UTF-8 or UTF-16LE byte-order mark is read and written in its own encoding; UTF-16
// that does not decode reads as missing and is never written.
Text IniRead(std::string_view file, std::string_view section, std::string_view key,
             std::optional<std::string_view> def = {});
// The settings file read once, for a run of reads that must see one state of it (a listing's
// ticks, one per database): each Read answers as IniRead would have when the file was read.
class IniSnapshot {
 public:
  explicit IniSnapshot(std::string_view file);
  Text Read(std::string_view section, std::string_view key,
            std::optional<std::string_view> def = {}) const;

 private:
  bool readable_ = false;  // false: every read gives its fallback
  bool utf8_ = false;      // the file had a UTF-8 or UTF-16LE mark; text_ is UTF-8 then
  std::string text_;
};
// Writes one key in place, keeping every other byte of the file; the first write creates the
// file. Key absent: removes the section; value absent: removes the key. The file is replaced
// atomically, so a failed write leaves the old settings intact. False when the file cannot be
// read or written, or when a name or value cannot be stored (line breaks, blank names).
bool IniWrite(std::string_view file, std::string_view section, std::optional<std::string_view> key,
              std::optional<std::string_view> value);

// Registry roots: 1 HKEY_CLASSES_ROOT, 2 HKEY_CURRENT_CONFIG, 4 HKEY_LOCAL_MACHINE,
// 5 HKEY_USERS, 3 and any other number HKEY_CURRENT_USER. The path's last '\\' separates the
// key path from the value name. On POSIX a file-backed store stands in for the registry
// ($TW_REGISTRY_FILE, else tidewell/registry under the user's configuration directory).
inline constexpr int kHkeyCurrentUser = 3;
int NormalizeRegRoot(int root);
// Numbers as a DWORD (other numeric kinds truncated toward zero), texts as REG_SZ, byte-sets
// as REG_BINARY. The key is created when missing; any other kind writes nothing and gives false.
bool RegWrite(int root, std::string_view path, const Value& value);
// Deletes the value; when there is no such value, deletes the key named by the whole path.
// True when either deletion succeeded.
bool RegDelete(int root, std::string_view path);

// True when a directory search finds the path (directories and matching wildcards count).
bool FileExists(std::string_view path);
// The whole file; nullopt when it is missing or cannot be read.
std::optional<Bytes> ReadFileBytes(std::string_view path);
// Sets the attributes masked with 0x27 (read-only, hidden, system, archive).
bool SetFileAttr(std::string_view path, int attributes);
// Size in bytes of the first entry a directory search finds; -1 when none.
std::int64_t FileSize(std::string_view path);
// Appends `bytes` to the file in one write and flushes them to the disk; the file is created
// when missing. False when nothing could be written.
bool AppendFileBytes(std::string_view path, std::string_view bytes);
// Renames a file, replacing one that already has the new name.
bool RenameFile(std::string_view from, std::string_view to);

// Secrets kept on disk (the saved password): ProtectForUser gives a blob that only the current
// user on this machine can turn back (the Windows data protection on Win32; a cipher with a
// key private to the user on POSIX), UnprotectForUser the bytes again. Nullopt when protection
// is not available, or for a blob that is damaged or was made for another user or machine.
std::optional<std::string> ProtectForUser(std::string_view plain);
std::optional<std::string> UnprotectForUser(std::string_view blob);

// Blocks for `ms` milliseconds (negative counts as 0) without handling window messages.
void SleepMs(int ms);
// Waits `ms` milliseconds while dispatching window messages, so timer and click handlers run
// inside it; a quit request stays queued. Returns at once for 0 or less.
void DelayMs(int ms);

// This computer's host name; empty on failure.
Text HostName();
// The first IPv4 address of `host` (this computer when absent or empty), dotted; empty when it
// cannot be resolved.
Text LocalIp(std::optional<std::string_view> host = {});

struct ProcessInfo {
  int pid = 0;
  Text exeFile;  // the executable's file name without directory
  int moduleId = 0;
  int parentPid = 0;
  int basePriority = 0;
  int threadCount = 0;
};
// The running processes in the order the system lists them; empty when it cannot.
std::vector<ProcessInfo> ProcessList();

// A made-up computer, for hosts that run the application somewhere other than on the machine
// it describes (the scenario runner): its host name, its first IPv4 address and the executable
// names of its running processes in snapshot order. HostName, LocalIp for this computer and
// ProcessList answer from it; without one (nullopt) they ask the system.
struct MachineStandIn {
  Text hostName;
  Text ipv4;
  std::vector<Text> processes;
};
void SetMachineStandIn(std::optional<MachineStandIn> machine);

}  // namespace tw
