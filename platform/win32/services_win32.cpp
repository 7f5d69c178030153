// The system services on Win32: the wide-character file, registry, Winsock and Toolhelp
// functions, with every path and name converted between the program's GBK texts and UTF-16
// here, so the results do not depend on the system's ANSI code page.
// Winsock before windows.h, and Toolhelp after it: the order matters.
#include <winsock2.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/win32/wide_text.h"
#include "runtime/gbk.h"
#include "runtime/platform_services.h"

namespace tw::platform {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

bool WinsockReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data;
    ready = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;  // kept until the process ends
  });
  return ready;
}

HKEY RootKey(int root) {
  switch (root) {
    case 1:
      return HKEY_CLASSES_ROOT;
    case 2:
      return HKEY_CURRENT_CONFIG;
    case 4:
      return HKEY_LOCAL_MACHINE;
    case 5:
      return HKEY_USERS;
    default:
      return HKEY_CURRENT_USER;
  }
}

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (h_) ::RegCloseKey(h_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

}  // namespace

char PathSeparator() {
  return '\\';
}

Text ExecutablePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return Text();
    if (n < buf.size()) {
      buf.resize(n);
      return Narrow(buf.c_str());
    }
    if (buf.size() >= 32768) return Text();
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(std::string_view dir) {
  std::wstring w = Wide(dir);
  // "C:" alone would mean drive C's own current directory, not its root.
  if (w.empty() || (w.size() == 2 && w[1] == L':')) w += L'\\';
  return ::SetCurrentDirectoryW(w.c_str()) != 0;
}

ReadStatus ReadWholeFile(std::string_view path, std::string& out) {
  out.clear();
  Handle f(::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.ok()) {
    const DWORD e = ::GetLastError();
    return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? ReadStatus::Missing
                                                                    : ReadStatus::Failed;
  }
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(f.get(), buf, sizeof buf, &n, nullptr)) {
      out.clear();
      return ReadStatus::Failed;
    }
    if (n == 0) return ReadStatus::Ok;
    out.append(buf, n);
  }
}

bool ReplaceWholeFile(std::string_view path, std::string_view bytes) {
  const std::wstring target = Wide(path);
  const DWORD attrs = ::GetFileAttributesW(target.c_str());
  const bool exists = attrs != INVALID_FILE_ATTRIBUTES;
  if (exists && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return false;

  const std::wstring temp = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  bool written = false;
  {
    Handle f(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.ok()) return false;
    written = true;
    std::string_view rest = bytes;
    while (written && !rest.empty()) {
      DWORD n = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 20));
      written = ::WriteFile(f.get(), rest.data(), chunk, &n, nullptr) && n == chunk;
      rest.remove_prefix(n);
    }
    written = written && ::FlushFileBuffers(f.get());
  }
  if (!written) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  // The new file takes the old one's attributes before it takes its place, so the hidden
  // settings file never shows up, even for a moment.
  const DWORD keep =
      exists ? (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE))
             : 0;
  if (keep) ::SetFileAttributesW(temp.c_str(), keep);
  bool moved = exists && ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  if (!moved) {
    moved = ::MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!moved) {
    ::DeleteFileW(temp.c_str());
    return false;
  }
  if (keep) ::SetFileAttributesW(target.c_str(), keep);  // in case the move dropped them
  return true;
}

bool AppendToFile(std::string_view path, std::string_view bytes) {
  // FILE_APPEND_DATA alone: every write goes to the end, also with another writer.
  Handle f(::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.ok() || bytes.size() > 0xFFFFFFFFu) return false;
  DWORD n = 0;
  const auto size = static_cast<DWORD>(bytes.size());
  return ::WriteFile(f.get(), bytes.data(), size, &n, nullptr) && n == size &&
         ::FlushFileBuffers(f.get());
}

bool RenameReplacing(std::string_view from, std::string_view to) {
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<FoundEntry> FindFirst(std::string_view path) {
  WIN32_FIND_DATAW data;
  const HANDLE h = ::FindFirstFileW(Wide(path).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  ::FindClose(h);
  FoundEntry e;
  e.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                     data.nFileSizeLow);
  e.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return e;
}

bool SetAttributes(std::string_view path, int attributes) {
  const DWORD a = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : static_cast<DWORD>(attributes);
  return ::SetFileAttributesW(Wide(path).c_str(), a) != 0;
}

int GetAttributes(std::string_view path) {
  const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return -1;
  return static_cast<int>(a & 0x37);
}

void Sleep(int ms) {
  ::Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms));
}

Text HostName() {
  if (!WinsockReady()) return Text();
  char buf[257] = {};  // Winsock host names have at most 256 bytes
  if (::gethostname(buf, sizeof buf - 1) != 0) return Text();
  wchar_t wide[257] = {};
  if (::MultiByteToWideChar(CP_ACP, 0, buf, -1, wide, 257) == 0) return Text();
  return Narrow(wide);
}

Text ResolveIpv4(std::string_view host) {
  if (!WinsockReady()) return Text();
  const std::wstring w = Wide(host);
  char ansi[1024] = {};
  if (::WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr) == 0) {
    return Text();
  }
  const hostent* he = ::gethostbyname(ansi);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) return Text();
  in_addr a;
  std::memcpy(&a, he->h_addr_list[0], sizeof a);
  const char* text = ::inet_ntoa(a);
  return text ? Text(text) : Text();
}

std::vector<ProcessInfo> Processes() {
  std::vector<ProcessInfo> out;
  Handle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap.ok()) return out;
  PROCESSENTRY32W e;
  e.dwSize = sizeof e;
  for (BOOL more = ::Process32FirstW(snap.get(), &e); more;
       more = ::Process32NextW(snap.get(), &e)) {
    ProcessInfo p;
    p.pid = static_cast<int>(e.th32ProcessID);
    p.exeFile = Narrow(e.szExeFile);
    p.moduleId = static_cast<int>(e.th32ModuleID);
    p.parentPid = static_cast<int>(e.th32ParentProcessID);
    p.basePriority = static_cast<int>(e.pcPriClassBase);
    p.threadCount = static_cast<int>(e.cntThreads);
    out.push_back(std::move(p));
  }
  return out;
}

bool RegWriteValue(int root, std::string_view keyPath, std::string_view name, const RegData* data) {
  const std::wstring path = Wide(keyPath);
  RegKey key;
  if (::RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_WRITE, key.out()) != ERROR_SUCCESS &&
      ::RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (!data) return true;
  const std::wstring valueName = Wide(name);
  LONG rc = ERROR_INVALID_PARAMETER;
  switch (data->kind) {
    case RegKind::Sz: {
      const std::wstring text = Wide(data->bytes);
      rc = ::RegSetValueExW(key.get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
      break;
    }
    case RegKind::Dword:
    case RegKind::Binary:
      rc = ::RegSetValueExW(key.get(), valueName.c_str(), 0,
                            data->kind == RegKind::Dword ? REG_DWORD : REG_BINARY,
                            reinterpret_cast<const BYTE*>(data->bytes.data()),
                            static_cast<DWORD>(data->bytes.size()));
      break;
  }
  return rc == ERROR_SUCCESS;
}

bool RegEraseValue(int root, std::string_view keyPath, std::string_view name) {
  RegKey key;
  if (::RegOpenKeyExW(RootKey(root), Wide(keyPath).c_str(), 0, KEY_WRITE, key.out()) !=
      ERROR_SUCCESS) {
    return false;
  }
  return ::RegDeleteValueW(key.get(), Wide(name).c_str()) == ERROR_SUCCESS;
}

bool RegEraseKey(int root, std::string_view keyPath) {
  return ::RegDeleteKeyW(RootKey(root), Wide(keyPath).c_str()) == ERROR_SUCCESS;
}

std::optional<RegData> RegReadValue(int root, std::string_view keyPath, std::string_view name) {
  RegKey key;
  if (::RegOpenKeyExW(RootKey(root), Wide(keyPath).c_str(), 0, KEY_READ, key.out()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring valueName = Wide(name);
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string bytes(size, '\0');
  if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  RegData out;
  switch (type) {
    case REG_SZ: {
      std::u16string w(bytes.size() / 2, u'\0');
      std::memcpy(w.data(), bytes.data(), w.size() * 2);
      while (!w.empty() && w.back() == u'\0') w.pop_back();
      out.kind = RegKind::Sz;
      out.bytes = Utf16ToGbk(w);
      return out;
    }
    case REG_DWORD:
      out.kind = RegKind::Dword;
      break;
    case REG_BINARY:
      out.kind = RegKind::Binary;
      break;
    default:
      return std::nullopt;
  }
  out.bytes = std::move(bytes);
  return out;
}

}  // namespace tw::platform
