// POSIX side of the database object's system facts: host name, $TMPDIR, and the file data
// source written without following links and readable by its owner only.
#include "platform/odbc_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

Text TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  Text path = (dir != nullptr && *dir != '\0') ? Text(dir) : Text("/tmp");
  if (path.back() != '/') path += '/';
  return path;
}

bool WriteDsnFile(const Text& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
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
  return unlink(path.c_str()) == 0;
}

void* DriverDialogOwner() {
  return nullptr;
}

}  // namespace tw::odbc
