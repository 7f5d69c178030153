// Private driver registration, scratch folders and a never-answering TCP listener for the
// database object's tests.
#include "tests/odbc/odbc_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tw::odbctest {

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
  // The simulator's script registers the driver; its variables are set here for this process.
  const std::string script = TW_SOURCE_DIR "/tests/simulator/odbc-env.sh";
  const std::string command = "sh '" + script + "' --dir '" + root_ + "' true";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "odbc-env.sh failed\n");
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
  (void)bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
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
  (void)bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
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

namespace tw::odbctest {
namespace {

// The string value of "key" in one JSON line, unescaped (UTF-8); "" when absent or not a string.
std::string JsonString(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\": \"";
  std::size_t i = line.find(marker);
  if (i == std::string::npos) return {};
  i += marker.size();
  std::string out;
  while (i < line.size() && line[i] != '"') {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      out += line[i++];
      continue;
    }
    const char e = line[i + 1];
    i += 2;
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        const unsigned cp = static_cast<unsigned>(std::stoul(line.substr(i, 4), nullptr, 16));
        i += 4;
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      default:
        out += e;
        break;
    }
  }
  return out;
}

std::string JsonRaw(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\": ";
  std::size_t i = line.find(marker);
  if (i == std::string::npos) return {};
  i += marker.size();
  int depth = 0;
  bool inString = false;
  std::size_t j = i;
  for (; j < line.size(); ++j) {
    const char c = line[j];
    if (inString) {
      if (c == '\\')
        ++j;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"')
      inString = true;
    else if (c == '[' || c == '{')
      ++depth;
    else if (c == ']' || c == '}') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0)
      break;
  }
  return line.substr(i, j - i);
}

}  // namespace

Sim::Sim(bool typed) {
  SharedEnvironment();
  tw::test::SimulatorOptions options;
  options.fixturePath = TW_SOURCE_DIR "/tests/odbc/odbc_fixture.json";
  // The typed server starts in the interpreter's place and loads the simulator itself.
  if (typed) setenv("TW_PYTHON", TW_SOURCE_DIR "/tests/odbc/typed_sim.py", 1);
  process_ = std::make_unique<tw::test::SimulatorProcess>(options);
  if (typed) unsetenv("TW_PYTHON");
}

std::string Sim::server() const {
  return "127.0.0.1," + std::to_string(process_->port());
}

LogEntry ParseLogLine(const std::string& line) {
  LogEntry e;
  e.raw = line;
  e.kind = JsonString(line, "kind");
  e.rpc = JsonString(line, "rpc");
  e.text = JsonString(line, "text");
  e.login = JsonString(line, "login");
  e.database = JsonString(line, "database");
  e.host = JsonString(line, "host");
  e.app = JsonString(line, "app");
  e.params = JsonRaw(line, "params");
  e.cancelled = JsonRaw(line, "cancelled") == "true";
  e.dropped = JsonRaw(line, "dropped") == "true";
  return e;
}

std::vector<LogEntry> Sim::Log() const {
  std::vector<LogEntry> out;
  for (const std::string& line : process_->logLines()) out.push_back(ParseLogLine(line));
  return out;
}

std::vector<LogEntry> Sim::LogOf(const std::string& kind) const {
  std::vector<LogEntry> out;
  for (LogEntry& e : Log()) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

}  // namespace tw::odbctest

namespace tw {
void PrintTo(const Value& v, std::ostream* os) {
  *os << "Value(0x" << std::hex << static_cast<std::uint32_t>(v.kind()) << std::dec;
  if (v.IsText()) {
    *os << ", \"" << v.AsText() << "\" [" << v.AsText().size() << " bytes]";
  } else if (v.IsBytes()) {
    *os << ", " << v.AsBytes().size() << " bytes";
  } else if (v.kind() == ValueKind::Float || v.kind() == ValueKind::Double ||
             v.kind() == ValueKind::DateTime) {
    *os << ", " << v.Real();
  } else {
    *os << ", " << v.Integer();
  }
  *os << ")";
}
}  // namespace tw
