// Private driver registration, scratch folders and a never-answering TCP listener for the
// database object's tests.
#include "tests/odbc/odbc_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tw::odbctest {
namespace {

std::string DriverPath() {
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
                        "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so"}) {
    if (FileExists(p)) return p;
  }
  return "libtdsodbc.so";
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string ReadFileOr(const std::string& path, const std::string& otherwise) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return otherwise;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

OdbcEnvironment::OdbcEnvironment() {
  char pattern[] = "/tmp/tw-odbc-XXXXXX";
  const char* made = mkdtemp(pattern);
  root_ = made != nullptr ? made : "/tmp";
  temp_ = root_ + "/tmp/";
  std::filesystem::create_directories(temp_);
  std::ofstream(root_ + "/odbcinst.ini") << "[SQL Server]\nDriver=" << DriverPath() << "\n";
  std::ofstream(root_ + "/odbc.ini") << "";
  setenv("ODBCSYSINI", root_.c_str(), 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", (root_ + "/odbc.ini").c_str(), 1);
  setenv("TDSVER", "7.4", 1);
  setenv("TMPDIR", temp_.c_str(), 1);
}

OdbcEnvironment::~OdbcEnvironment() {
  std::error_code ec;
  if (root_ != "/tmp") std::filesystem::remove_all(root_, ec);
}

SilentServer::SilentServer(std::string watchPath) : watch_(std::move(watchPath)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  listen(listenFd_, 8);
  socklen_t len = sizeof(addr);
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

SilentServer::~SilentServer() {
  stop_ = true;
  thread_.join();
  close(listenFd_);
}

std::string SilentServer::fileSeen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileSeen_;
}

void SilentServer::Serve() {
  std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
  while (!stop_) {
    if (poll(fds.data(), fds.size(), 50) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      if (i == 0) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (accepted_++ == 0 && !watch_.empty()) {
          std::lock_guard<std::mutex> lock(mutex_);
          fileSeen_ = ReadFileOr(watch_, "<missing>");
        }
        fds.push_back({fd, POLLIN, 0});
      } else {
        char buf[4096];
        if (read(fds[i].fd, buf, sizeof(buf)) <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
        }
      }
    }
    std::erase_if(fds, [](const pollfd& p) { return p.fd < 0; });
    for (pollfd& p : fds) p.revents = 0;
  }
  for (std::size_t i = 1; i < fds.size(); ++i) close(fds[i].fd);
}

int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);  // bound but never listened: connections are refused
  return ntohs(addr.sin_port);
}

}  // namespace tw::odbctest

namespace tw::odbctest {
OdbcEnvironment& SharedEnvironment() {
  static OdbcEnvironment env;
  return env;
}
}  // namespace tw::odbctest
