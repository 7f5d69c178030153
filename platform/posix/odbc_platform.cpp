// POSIX side of the database object's system facts: host name, the user's temporary folder,
// and the file data source written without following links and readable by its owner only.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/private_folder.h"
#include "runtime/gbk.h"
#include "runtime/odbc/odbc_platform.h"

namespace tw::odbc {

Text ComputerNameForDsn() {
  // The name is asked with room for 22 bytes and a terminator; a longer name counts as
  // unreadable, as the Windows call fails on it rather than cutting it.
  char buf[24] = {};
  if (gethostname(buf, 23) != 0) return {};
  buf[23] = '\0';
  const std::size_t n = std::strlen(buf);
  if (n >= 23) return {};
  return Text(buf, n);
}

namespace posix {
namespace {

bool OwnPrivateDirectory(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::string PrivateFolderIn(const std::string& shared) {
  std::string dir = WithSlash(shared) + "tidewell-" + std::to_string(::geteuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // Whoever made it, it must be ours and a directory of its own: in a shared folder another
  // user could have put a folder or a link there first.
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    return {};
  }
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return {};
  return dir;
}

std::string PrivateTempFolder(const std::string& shared) {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && run[0] == '/') {
    struct stat st {};
    if (::stat(run, &st) == 0 && OwnPrivateDirectory(st)) return WithSlash(run);
  }
  if (std::string dir = PrivateFolderIn(shared); !dir.empty()) return WithSlash(std::move(dir));
  char cwd[PATH_MAX] = {};
  if (::getcwd(cwd, sizeof cwd) != nullptr) return WithSlash(cwd);
  return {};
}

}  // namespace posix

Text TempFolder() {
  // $TMPDIR is the user's own choice; without it, never the shared /tmp itself.
  const char* dir = std::getenv("TMPDIR");
  const std::string path =
      (dir != nullptr && *dir != '\0') ? posix::WithSlash(dir) : posix::PrivateTempFolder("/tmp");
  return Utf8ToGbk(path);
}

bool WriteDsnFile(const Text& path, std::string_view bytes) {
  const int fd =
      open(GbkToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  return ok;
}

bool DeleteDsnFile(const Text& path) {
  return unlink(GbkToUtf8(path).c_str()) == 0;
}

void* DriverDialogOwner() {
  return nullptr;
}

}  // namespace tw::odbc
