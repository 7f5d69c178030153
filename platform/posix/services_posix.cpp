// The system services on POSIX (Linux): files with atomic replacement, the executable's path
// from /proc/self/exe, host name and resolver, and the process list read from /proc. Program
// texts are GBK; the file system and the kernel speak UTF-8.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/posix/host_name.h"
#include "platform/posix/posix_files.h"
#include "runtime/gbk.h"
#include "runtime/platform_services.h"

namespace tw::platform {
namespace {

// The directory part of an OS path: "." without one, "/" for a file in the root.
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

namespace posix {

ReadStatus ReadFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return ReadStatus::Failed;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadStatus::Ok;
}

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Hidden, system and archive have no POSIX counterpart; they are kept as an extended attribute
// of the file (decimal text), where the file system has them, so that they survive like the
// read-only bit does.
constexpr const char* kAttributesXattr = "user.tidewell.attributes";
constexpr int kXattrAttributes = 0x26;

int XattrAttributes(const std::string& path) {
  char buf[16] = {};
  const ssize_t n = ::getxattr(path.c_str(), kAttributesXattr, buf, sizeof buf - 1);
  if (n <= 0) return 0;
  return std::atoi(buf) & kXattrAttributes;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t newMode) {
  std::string target = path;
  struct stat st {};
  bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    char* real = ::realpath(target.c_str(), nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
    exists = ::stat(target.c_str(), &st) == 0;
  }
  // A file without any write permission is read-only, even for root (who passes access()).
  if (exists &&
      (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) {
    return false;
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : newMode;

  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  if (const int kept = exists ? XattrAttributes(target) : 0; kept != 0) {
    const std::string text = std::to_string(kept);
    (void)::fsetxattr(fd, kAttributesXattr, text.data(), text.size(), 0);  // best effort, as set
  }
  const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk too, or a crash could bring back the old file.
  const int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool MakeDirectories(const std::string& dir, mode_t mode) {
  if (dir.empty()) return false;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const auto slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash), mode)) {
    return false;
  }
  return ::mkdir(dir.c_str(), mode) == 0 || errno == EEXIST;
}

}  // namespace posix

namespace {

std::string OsPath(std::string_view gbk) {
  return GbkToUtf8(gbk);
}

// Windows wildcards: '*' any run of characters, '?' one character.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<FoundEntry> EntryOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const bool dir = S_ISDIR(st.st_mode);
  return FoundEntry{dir ? 0 : static_cast<std::int64_t>(st.st_size), dir};
}

// The kernel marks the link of an executable replaced on disk since it started.
void StripDeleted(std::string& link) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (link.ends_with(kDeleted)) link.resize(link.size() - kDeleted.size());
}

// Windows base priority classes from the scheduling policy and nice value.
int BasePriority(long nice, long rtPriority) {
  if (rtPriority > 0) return 24;
  if (nice <= -15) return 13;
  if (nice < 0) return 10;
  if (nice == 0) return 8;
  return nice < 10 ? 6 : 4;
}

std::optional<ProcessInfo> ReadProcess(int pid) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::string stat;
  if (posix::ReadFile(dir + "/stat", stat) != ReadStatus::Ok) return std::nullopt;
  // "pid (comm) state ppid ..."; comm may hold blanks and parentheses, so take the last ')'.
  const auto open = stat.find('(');
  const auto close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::vector<std::string> f;
  for (std::string tok; fields >> tok;) f.push_back(tok);
  if (f.size() < 18) return std::nullopt;  // f[0] is field 3 (state)
  const auto num = [&](std::size_t i) { return i < f.size() ? std::atol(f[i].c_str()) : 0L; };

  ProcessInfo p;
  p.pid = pid;
  p.parentPid = static_cast<int>(num(1));
  p.threadCount = static_cast<int>(num(17));
  p.basePriority = BasePriority(num(16), num(37));
  std::string name = stat.substr(open + 1, close - open - 1);
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlink((dir + "/exe").c_str(), target.data(), target.size());
  if (n > 0) {
    target.resize(static_cast<std::size_t>(n));
    StripDeleted(target);
    name = target.substr(target.rfind('/') + 1);
  }
  p.exeFile = Utf8ToGbk(name);
  return p;
}

}  // namespace

char PathSeparator() {
  return '/';
}

Text ExecutablePath() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return Text();
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      StripDeleted(buf);
      return Utf8ToGbk(buf);
    }
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(std::string_view dir) {
  return ::chdir(dir.empty() ? "/" : OsPath(dir).c_str()) == 0;
}

ReadStatus ReadWholeFile(std::string_view path, std::string& out) {
  return posix::ReadFile(OsPath(path), out);
}

bool ReplaceWholeFile(std::string_view path, std::string_view bytes) {
  // The settings file holds a password: a new one is readable by its owner only.
  return posix::ReplaceFile(OsPath(path), bytes, 0600);
}

bool AppendToFile(std::string_view path, std::string_view bytes) {
  const int fd = ::open(OsPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t n = -1;
  do {
    n = ::write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  const bool ok = n == static_cast<ssize_t>(bytes.size()) && ::fdatasync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

bool RenameReplacing(std::string_view from, std::string_view to) {
  return ::rename(OsPath(from).c_str(), OsPath(to).c_str()) == 0;
}

std::optional<FoundEntry> FindFirst(std::string_view path) {
  const std::string os = OsPath(path);
  const std::string dir = DirectoryOf(os);
  const std::string pattern = os.substr(os.rfind('/') + 1);
  if (pattern.find_first_of("*?") == std::string::npos) return EntryOf(os);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return std::nullopt;
  std::optional<FoundEntry> found;
  while (const dirent* e = ::readdir(d)) {
    if (WildcardMatch(pattern, e->d_name) && (found = EntryOf(dir + "/" + e->d_name))) break;
  }
  ::closedir(d);
  return found;
}

bool SetAttributes(std::string_view path, int attributes) {
  // Read-only is the write permission bits; the others go to the extended attribute, without
  // failing the call on a file system that has none.
  const std::string os = OsPath(path);
  struct stat st {};
  if (::stat(os.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;  // as on Windows, read-only does not guard a directory
  if (const int rest = attributes & posix::kXattrAttributes; rest != 0) {
    const std::string text = std::to_string(rest);
    (void)::setxattr(os.c_str(), posix::kAttributesXattr, text.data(), text.size(), 0);
  } else {
    (void)::removexattr(os.c_str(), posix::kAttributesXattr);
  }
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & 0x01) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  return ::chmod(os.c_str(), mode) == 0;
}

int GetAttributes(std::string_view path) {
  const std::string os = OsPath(path);
  struct stat st {};
  if (::stat(os.c_str(), &st) != 0) return -1;
  int attributes = posix::XattrAttributes(os);
  if (S_ISDIR(st.st_mode)) attributes |= 0x10;
  if (!S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0) attributes |= 0x01;
  return attributes;
}

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
}

namespace {
posix::HostNameCall g_hostNameCall = nullptr;
}  // namespace

posix::HostNameCall posix::SetHostNameCall(HostNameCall call) {
  const HostNameCall before = g_hostNameCall;
  g_hostNameCall = call;
  return before;
}

Text HostName() {
  // Room for any name the system allows (64 bytes on Linux, 255 by POSIX): a long host name
  // comes back whole instead of failing as in a 16-byte buffer.
  char buf[256] = {};
  const posix::HostNameCall call = g_hostNameCall != nullptr ? g_hostNameCall : &::gethostname;
  if (call(buf, sizeof buf - 1) != 0) return Text();
  return Utf8ToGbk(buf);
}

Text ResolveIpv4(std::string_view host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(OsPath(host).c_str(), nullptr, &hints, &list) != 0 || !list) return Text();
  char text[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(list);
  return ok ? Text(text) : Text();
}

std::vector<ProcessInfo> Processes() {
  std::vector<int> pids;
  if (DIR* d = ::opendir("/proc")) {
    while (const dirent* e = ::readdir(d)) {
      char* end = nullptr;
      const long pid = std::strtol(e->d_name, &end, 10);
      if (end != e->d_name && *end == '\0' && pid > 0 && pid <= INT_MAX) {
        pids.push_back(static_cast<int>(pid));
      }
    }
    ::closedir(d);
  }
  std::sort(pids.begin(), pids.end());
  std::vector<ProcessInfo> out;
  out.reserve(pids.size());
  for (int pid : pids) {
    if (auto p = ReadProcess(pid)) out.push_back(std::move(*p));  // gone meanwhile: skipped
  }
  return out;
}

}  // namespace tw::platform
