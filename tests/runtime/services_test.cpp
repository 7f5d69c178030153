// The system services on this platform: settings file on disk, the registry store, file
// queries, program location, host name and processes.
#include "runtime/services.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/host_name.h"
#include "runtime/gbk.h"
#include "runtime/platform_services.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tw-services-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // A GBK path inside the directory, as the program would build it.
  Text operator/(std::string_view utf8Name) const {
    return Utf8ToGbk(path_ + "/" + std::string(utf8Name));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadBytes(const Text& gbkPath) {
  std::ifstream in(GbkToUtf8(gbkPath), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const Text& gbkPath, std::string_view bytes) {
  std::ofstream(GbkToUtf8(gbkPath), std::ios::binary) << bytes;
}

// UTF-16LE bytes, without a byte-order mark.
std::string Le(std::u16string_view text) {
  std::string out;
  for (const char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TEST(Settings, FirstWriteCreatesAPrivateGbkFile) {
  TempDir dir;
  const Text file = dir / "配置文件.ini";
  EXPECT_EQ(IniRead(file, Gbk("配置"), "ip"), "");
  EXPECT_TRUE(IniWrite(file, Gbk("配置"), Gbk("是否挂机"), Gbk("是")));
  EXPECT_TRUE(IniWrite(file, Gbk("配置"), "ip", "10.1.2.3"));
  EXPECT_EQ(ReadBytes(file), Gbk("[配置]\r\n是否挂机=是\r\nip=10.1.2.3\r\n"));
  EXPECT_EQ(fs::status(GbkToUtf8(file)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(IniRead(file, Gbk("配置"), Gbk("是否挂机")), Gbk("是"));
  EXPECT_EQ(IniRead(file, Gbk("配置"), "IP"), "10.1.2.3");
  // Nothing but the file itself is left in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Settings, ReadsFollowTheArgumentRules) {
  TempDir dir;
  const Text file = dir / "s.ini";
  WriteBytes(file, "[s]\r\nk=v \r\nlong=" + std::string(20000, 'x') + "\r\n");
  EXPECT_EQ(IniRead(file, "\x0B s", "k\x1A\t"), "v ");
  // A control byte that is no space is part of the name; the file name is taken as it is, by
  // the writer too.
  EXPECT_EQ(IniRead(file, "s", "\x01k", "dflt"), "dflt");
  EXPECT_EQ(IniRead(" " + file, "s", "k", "dflt"), "dflt");
  EXPECT_FALSE(IniWrite(" " + file, "s", "k", "w"));
  EXPECT_EQ(IniRead(file, "s", "missing", "dflt"), "dflt");
  EXPECT_EQ(IniRead(file + ".none", "s", "k", "dflt"), "dflt");
  EXPECT_EQ(IniRead(file, "  ", "k", "dflt"), "");  // blank names read nothing
  EXPECT_EQ(IniRead(file, "s", "", "dflt"), "");
  EXPECT_EQ(IniRead("", "s", "k", "dflt"), "");
  EXPECT_EQ(IniRead(file, "s", "long"), std::string(10239, 'x'));
}

TEST(Settings, WritesKeepTheRestOfTheFileAndItsPermissions) {
  TempDir dir;
  const Text file = dir / "s.ini";
  const std::string before = "; kept\n[a]\nk = 1\nother=2\n\n[b]\nk=3\n";
  WriteBytes(file, before);
  fs::permissions(GbkToUtf8(file),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(IniWrite(file, "A", "K", "9"));
  EXPECT_EQ(ReadBytes(file), "; kept\n[a]\nk =9\nother=2\n\n[b]\nk=3\n");
  EXPECT_EQ(fs::status(GbkToUtf8(file)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(IniWrite(file, "a", "other", std::nullopt));
  EXPECT_TRUE(IniWrite(file, "b", std::nullopt, std::nullopt));
  EXPECT_EQ(ReadBytes(file), "; kept\n[a]\nk =9\n\n");
  EXPECT_TRUE(IniWrite(file, "gone", std::nullopt, std::nullopt));  // nothing to remove
  EXPECT_FALSE(IniWrite(file, "a", "k", "line\r\nbreak"));
  EXPECT_FALSE(IniWrite("", "a", "k", "v"));
  EXPECT_EQ(ReadBytes(file), "; kept\n[a]\nk =9\n\n");
}

TEST(Settings, NothingIsLostWhenAWriteCannotHappen) {
  TempDir dir;
  const Text file = dir / "s.ini";
  WriteBytes(file, "[a]\r\nk=1\r\n");
  ASSERT_TRUE(SetFileAttr(file, 0x01));  // read-only
  EXPECT_FALSE(IniWrite(file, "a", "k", "2"));
  ASSERT_TRUE(SetFileAttr(file, 0x02));  // hidden: writable again
  EXPECT_TRUE(IniWrite(file, "a", "k", "2"));
  EXPECT_EQ(IniRead(file, "a", "k"), "2");

  // UTF-16 that cannot be decoded and written back as it was (big-endian, an odd byte count, a
  // lone surrogate) is left alone and reads as missing.
  for (const std::string& bytes :
       {std::string("\xFE\xFF\0[\0a\0]\0\n\0k\0=\0\x31", 16), "\xFF\xFE" + Le(u"[a]\nk=1") + "x",
        "\xFF\xFE" + Le(u"[a]\nk=1;\xD800")}) {
    const Text wide = dir / "wide.ini";
    WriteBytes(wide, bytes);
    EXPECT_FALSE(IniWrite(wide, "a", "k", "2"));
    EXPECT_EQ(IniRead(wide, "a", "k", "none"), "none");
    EXPECT_EQ(ReadBytes(wide), bytes);
  }

  // Something that exists but cannot be read as a file is never overwritten.
  fs::create_directory(GbkToUtf8(dir / "dir.ini"));
  EXPECT_FALSE(IniWrite(dir / "dir.ini", "a", "k", "1"));
  EXPECT_TRUE(fs::is_directory(GbkToUtf8(dir / "dir.ini")));

  if (::geteuid() != 0) {  // root reads everything, so only others can test this
    fs::permissions(GbkToUtf8(file), fs::perms::none);
    EXPECT_FALSE(IniWrite(file, "a", "other", "x"));
    fs::permissions(GbkToUtf8(file), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadBytes(file), "[a]\r\nk=2\r\n");
  }
}

TEST(Settings, SymbolicLinksAndUtf8FilesAreEditedInPlace) {
  TempDir dir;
  const Text real = dir / "real.ini";
  const Text link = dir / "link.ini";
  WriteBytes(real, "[a]\r\nk=1\r\n");
  fs::create_symlink(GbkToUtf8(real), GbkToUtf8(link));
  EXPECT_TRUE(IniWrite(link, "a", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(GbkToUtf8(link)));
  EXPECT_EQ(ReadBytes(real), "[a]\r\nk=2\r\n");

  const Text utf8 = dir / "utf8.ini";
  WriteBytes(utf8, "\xEF\xBB\xBF[配置]\r\nip=1\r\n");
  EXPECT_EQ(IniRead(utf8, Gbk("配置"), "ip"), "1");
  EXPECT_TRUE(IniWrite(utf8, Gbk("配置"), Gbk("用户名"), Gbk("张三")));
  EXPECT_EQ(ReadBytes(utf8), "\xEF\xBB\xBF[配置]\r\nip=1\r\n用户名=张三\r\n");
  EXPECT_EQ(IniRead(utf8, Gbk("配置"), Gbk("用户名")), Gbk("张三"));
}

TEST(Settings, UnicodeFilesKeepTheirEncoding) {
  // Notepad's "Unicode": UTF-16LE with a byte-order mark, here with characters GBK cannot hold
  // (Hangul, an emoji) on a comment line that must survive every write.
  TempDir dir;
  const Text file = dir / "配置文件.ini";
  const std::u16string head =
      u"; 说明 한국어 \U0001F600\r\n[配置]\r\nip=1.2.3.4\r\n用户名=张三\r\n";
  const std::u16string tail = u"[定时配置]\r\n模式=每天一次\r\n";
  WriteBytes(file, "\xFF\xFE" + Le(head + tail));
  EXPECT_EQ(IniRead(file, Gbk("配置"), Gbk("用户名")), Gbk("张三"));
  EXPECT_EQ(IniRead(file, Gbk("配置"), "IP"), "1.2.3.4");
  EXPECT_EQ(IniRead(file, Gbk("定时配置"), Gbk("模式")), Gbk("每天一次"));
  EXPECT_EQ(IniRead(file, Gbk("配置"), "none", "d"), "d");

  EXPECT_TRUE(IniWrite(file, Gbk("配置"), "ip", "10.0.0.5"));
  EXPECT_TRUE(IniWrite(file, Gbk("配置"), Gbk("是否挂机"), Gbk("是")));
  EXPECT_TRUE(IniWrite(file, Gbk("欲清理的库"), Gbk("库甲"), "1"));
  const std::u16string written =
      u"; 说明 한국어 \U0001F600\r\n[配置]\r\nip=10.0.0.5\r\n"
      u"用户名=张三\r\n是否挂机=是\r\n[定时配置]\r\n模式=每天一次\r\n"
      u"[欲清理的库]\r\n库甲=1\r\n";
  EXPECT_EQ(ReadBytes(file), "\xFF\xFE" + Le(written));
  EXPECT_EQ(IniRead(file, Gbk("配置"), Gbk("是否挂机")), Gbk("是"));
  EXPECT_EQ(IniRead(file, Gbk("欲清理的库"), Gbk("库甲")), "1");
  EXPECT_EQ(IniRead(file, Gbk("配置"), "ip"), "10.0.0.5");

  // Removals too; an unchanged value leaves the file as it is.
  EXPECT_TRUE(IniWrite(file, Gbk("欲清理的库"), std::nullopt, std::nullopt));
  EXPECT_TRUE(IniWrite(file, Gbk("配置"), Gbk("是否挂机"), std::nullopt));
  EXPECT_TRUE(IniWrite(file, Gbk("配置"), "ip", "1.2.3.4"));
  EXPECT_EQ(ReadBytes(file), "\xFF\xFE" + Le(head + tail));
}

TEST(Settings, DatabaseNamesThatBeginAnotherNameKeepTheirOwnLines) {
  TempDir dir;
  const Text file = dir / "s.ini";
  const Text section = Gbk("欲清理的库");
  EXPECT_TRUE(IniWrite(file, section, "a=b", "1"));
  EXPECT_TRUE(IniWrite(file, section, "a", "0"));
  EXPECT_EQ(IniRead(file, section, "a"), "0");
  EXPECT_EQ(IniRead(file, section, "a=b"), "1");
  EXPECT_TRUE(IniWrite(file, section, "A", "1"));
  EXPECT_EQ(IniRead(file, section, "a=b"), "1");
  EXPECT_EQ(ReadBytes(file), Gbk("[欲清理的库]\r\na=b=1\r\na=1\r\n"));
}

TEST(Location, PathSplitIsDoubleByteAware) {
  const PathSplit a = SplitAtLastSeparator("C:\\Tools\\tidewell.exe", '\\');
  EXPECT_EQ(a.head, "C:\\Tools");
  EXPECT_EQ(a.tail, "tidewell.exe");
  // 0x81 0x5C is one character whose second byte is the code of '\'.
  const PathSplit b = SplitAtLastSeparator(
      "C:\\a\x81\x5C"
      "b",
      '\\');
  EXPECT_EQ(b.head, "C:");
  EXPECT_EQ(b.tail,
            "a\x81\x5C"
            "b");
  const PathSplit c = SplitAtLastSeparator("tidewell.exe", '\\');
  EXPECT_EQ(c.head, "");
  EXPECT_EQ(c.tail, "tidewell.exe");
  EXPECT_EQ(SplitAtLastSeparator("/x/", '/').tail, "");
}

TEST(Location, ComesFromTheRunningExecutable) {
  const fs::path before = fs::current_path();
  ASSERT_TRUE(InitProgramLocation());
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(GbkToUtf8(RunDirectory()), self.parent_path().string());
  EXPECT_EQ(GbkToUtf8(ExeFileName()), self.filename().string());
  EXPECT_EQ(fs::current_path(), self.parent_path());
  fs::current_path(before);

  SetProgramLocation("/srv/tool", "tool");  // tests may place the program elsewhere
  EXPECT_EQ(RunDirectory(), "/srv/tool");
  EXPECT_EQ(ExeFileName(), "tool");
  EXPECT_EQ(fs::current_path(), before);
  ASSERT_TRUE(InitProgramLocation());
  fs::current_path(before);
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("TW_REGISTRY_FILE", (dir_.path() + "/reg/store").c_str(), 1); }
  void TearDown() override { ::unsetenv("TW_REGISTRY_FILE"); }
  std::optional<platform::RegData> Read(int root, std::string_view key, std::string_view name) {
    return platform::RegReadValue(root, key, name);
  }
  TempDir dir_;
};

constexpr std::string_view kRunPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\tidewell.exe";
constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(Registry, AutostartValueIsWrittenAndDeletedOnce) {
  const Text exe = Gbk("C:\\Program Files\\工具\\tidewell.exe");
  ASSERT_TRUE(RegWrite(3, kRunPath, Value::Str(exe)));
  const auto v = Read(3, "software\\MICROSOFT\\windows\\currentversion\\run", "TIDEWELL.EXE");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->kind, platform::RegKind::Sz);
  EXPECT_EQ(v->bytes, exe);
  EXPECT_EQ(fs::status(dir_.path() + "/reg/store").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(RegDelete(3, kRunPath));
  EXPECT_FALSE(Read(3, kRunKey, "tidewell.exe"));
  EXPECT_FALSE(RegDelete(3, kRunPath));
  EXPECT_TRUE(Read(3, kRunKey, "other") == std::nullopt);
}

TEST_F(Registry, ValueKindsAndRoots) {
  ASSERT_TRUE(RegWrite(4, "k\\dword", Value::Int(-2)));
  EXPECT_EQ(Read(4, "k", "dword")->bytes, std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(Read(4, "k", "dword")->kind, platform::RegKind::Dword);
  ASSERT_TRUE(RegWrite(4, "k\\dbl", Value::Double(-3.9)));
  EXPECT_EQ(Read(4, "k", "dbl")->bytes, std::string("\xFD\xFF\xFF\xFF", 4));
  ASSERT_TRUE(RegWrite(4, "k\\bin", Value::Blob({0, 1, 2})));
  EXPECT_EQ(Read(4, "k", "bin")->bytes, std::string("\0\1\2", 3));
  EXPECT_EQ(Read(4, "k", "bin")->kind, platform::RegKind::Binary);
  EXPECT_FALSE(Read(3, "k", "bin"));  // another root
  // Unknown root numbers are the current user's root.
  ASSERT_TRUE(RegWrite(99, "top", Value::Str("at root")));
  EXPECT_EQ(Read(3, "", "top")->bytes, "at root");
  EXPECT_EQ(NormalizeRegRoot(0), 3);
  EXPECT_EQ(NormalizeRegRoot(2), 2);
}

TEST_F(Registry, OtherKindsCreateTheKeyButWriteNothing) {
  EXPECT_FALSE(RegWrite(3, "made\\flag", Value::Bool(true)));
  EXPECT_FALSE(RegWrite(3, "made\\when", Value::DateTime(1.0)));
  EXPECT_FALSE(Read(3, "made", "flag"));
  // The key exists now: deleting "made" (no such value at the root) removes the key instead.
  EXPECT_TRUE(RegDelete(3, "made"));
  EXPECT_FALSE(RegDelete(3, "made"));
}

TEST_F(Registry, DeleteFallsBackToTheKeyOnlyWhenItHasNoSubkeys) {
  ASSERT_TRUE(RegWrite(3, "a\\b\\c\\v", Value::Int(1)));
  EXPECT_FALSE(RegDelete(3, "a\\b"));    // no value "b" in "a", and key a\b has a subkey
  EXPECT_TRUE(RegDelete(3, "a\\b\\c"));  // no value "c" in a\b: key a\b\c goes, values too
  EXPECT_FALSE(Read(3, "a\\b\\c", "v"));
  EXPECT_TRUE(RegDelete(3, "a\\b"));
  EXPECT_FALSE(RegWrite(3, "a\\\\b\\v", Value::Int(1)));  // empty key name
  EXPECT_FALSE(RegDelete(3, ""));
}

TEST_F(Registry, AStoreWithAnUnknownHeaderIsNeverRewritten) {
  const std::string store = dir_.path() + "/reg/store";
  fs::create_directories(dir_.path() + "/reg");
  for (const std::string& bytes : {std::string("tidewell-registry 2\nK 3 -\n"),
                                   std::string("\x7F"
                                               "ELF binary"),
                                   std::string("\ntidewell-registry 1\n")}) {
    WriteBytes(Utf8ToGbk(store), bytes);
    EXPECT_FALSE(RegWrite(3, kRunPath, Value::Str("x")));
    EXPECT_FALSE(RegWrite(3, "made\\flag", Value::Bool(true)));  // would only create the key
    EXPECT_FALSE(RegDelete(3, kRunPath));
    EXPECT_FALSE(RegDelete(3, "SOFTWARE"));
    EXPECT_FALSE(Read(3, kRunKey, "tidewell.exe"));
    EXPECT_EQ(ReadBytes(Utf8ToGbk(store)), bytes);
  }
  // An empty file is an empty store.
  WriteBytes(Utf8ToGbk(store), "");
  EXPECT_TRUE(RegWrite(3, kRunPath, Value::Str("x")));
  EXPECT_EQ(Read(3, kRunKey, "tidewell.exe")->bytes, "x");
}

TEST(Files, ExistenceSizeAndWildcards) {
  TempDir dir;
  EXPECT_EQ(FileSize(dir / "none"), -1);
  EXPECT_FALSE(FileExists(dir / "none"));
  WriteBytes(dir / "empty.ini", "");
  EXPECT_EQ(FileSize(dir / "empty.ini"), 0);
  EXPECT_TRUE(FileExists(dir / "empty.ini"));
  EXPECT_TRUE(FileExists(Utf8ToGbk(dir.path())));
  EXPECT_TRUE(FileExists(dir / "*.ini"));
  EXPECT_TRUE(FileExists(dir / "empt?.ini"));
  EXPECT_FALSE(FileExists(dir / "*.log"));
  EXPECT_EQ(FileSize(dir / "e*"), 0);
  // A log file past 4 GiB reports its whole size (sparse: no disk space is used).
  const Text big = dir / "big.ldf";
  WriteBytes(big, "");
  fs::resize_file(GbkToUtf8(big), (std::uintmax_t{5} << 30) + 7);
  EXPECT_EQ(FileSize(big), (std::int64_t{5} << 30) + 7);
  EXPECT_FALSE(SetFileAttr(dir / "none", 2));
  // Read-only on a directory is a mark only, as on Windows: files can still be made in it.
  EXPECT_TRUE(SetFileAttr(Utf8ToGbk(dir.path()), 1));
  WriteBytes(dir / "after.ini", "x");
  EXPECT_EQ(FileSize(dir / "after.ini"), 1);
  EXPECT_FALSE(FileExists(""));
}

TEST(Host, NameAndAddress) {
  char own[256] = {};
  ASSERT_EQ(::gethostname(own, sizeof own - 1), 0);
  EXPECT_EQ(HostName(), own);
  EXPECT_EQ(LocalIp("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(LocalIp("localhost"), "127.0.0.1");
  const Text mine = LocalIp();
  EXPECT_EQ(mine, LocalIp(HostName()));
  EXPECT_EQ(LocalIp(std::string_view()), mine);
}

// gethostname as glibc behaves: the name cut to the buffer and -1 when it did not fit.
const char* g_fakeHostName = nullptr;
int FakeHostName(char* name, std::size_t size) {
  if (g_fakeHostName == nullptr) return -1;
  const std::size_t n = std::strlen(g_fakeHostName);
  std::memcpy(name, g_fakeHostName, std::min(n + 1, size));
  if (n + 1 > size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

class FakeHost {
 public:
  explicit FakeHost(const char* name) : before_(platform::posix::SetHostNameCall(&FakeHostName)) {
    g_fakeHostName = name;
  }
  ~FakeHost() { platform::posix::SetHostNameCall(before_); }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

 private:
  platform::posix::HostNameCall before_;
};

TEST(Host, LongNamesComeBackWhole) {
  {
    const FakeHost host("build-agent-0042.ci.tidewell.example.com");  // 40 characters
    EXPECT_EQ(HostName(), "build-agent-0042.ci.tidewell.example.com");
  }
  {
    const std::string longest(64, 'h');  // Linux's HOST_NAME_MAX
    const FakeHost host(longest.c_str());
    EXPECT_EQ(HostName(), longest);
  }
  {
    const FakeHost host(nullptr);  // the call fails
    EXPECT_EQ(HostName(), "");
    EXPECT_EQ(LocalIp(), "");
  }
  char own[256] = {};
  ASSERT_EQ(::gethostname(own, sizeof own - 1), 0);
  EXPECT_EQ(HostName(), own);  // the real call is back
}

TEST(Processes, ListHoldsThisProgramAndItsChild) {
  ASSERT_TRUE(InitProgramLocation());
  pid_t child = 0;
  char sleepPath[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {sleepPath, seconds, nullptr};
  ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);
  const auto list = ProcessList();
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);

  int mine = 0;
  bool sawChild = false;
  for (const ProcessInfo& p : list) {
    if (p.exeFile == ExeFileName()) ++mine;
    if (p.pid == ::getpid()) {
      EXPECT_EQ(p.exeFile, ExeFileName());
      EXPECT_EQ(p.parentPid, ::getppid());
      EXPECT_GE(p.threadCount, 1);
    }
    if (p.pid == child) {
      sawChild = true;
      EXPECT_EQ(p.exeFile, "sleep");
      EXPECT_EQ(p.parentPid, ::getpid());
    }
  }
  EXPECT_GE(mine, 1);
  EXPECT_TRUE(sawChild);
  for (std::size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1].pid, list[i].pid);
}

}  // namespace
}  // namespace tw
