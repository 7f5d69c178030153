// The system services on real Win32 (run under Wine): settings files against the system's own
// private-profile functions, attributes kept across a rewrite, registry kinds and the delete
// fall-back, file queries, the process list, host name and address, the pauses.
//   winsvc_test             all in-process checks
//   winsvc_test reg-write   writes the Run value and prints the text it wrote
//   winsvc_test reg-delete  deletes it: true the first time, false the second
// Exit code 0 when every check passed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"
#include "runtime/gbk.h"
#include "runtime/platform_services.h"
#include "runtime/services.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, int line) {
  if (!ok) {
    ++g_failures;
    std::printf("FAILED line %d: %s\n", line, what);
  }
}
#define CHECK(x) Check((x), #x, __LINE__)

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string RunPath() {
  return std::string(kRunKey) + "\\" + tw::ExeFileName();
}

std::string FileBytes(const std::string& gbkPath) {
  std::string out;
  return tw::platform::ReadWholeFile(gbkPath, out) == tw::platform::ReadStatus::Ok ? out : "<none>";
}

std::string ProfileA(const std::string& file, const std::string& section, const std::string& key) {
  char buf[512] = {};
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", buf, sizeof buf,
                           file.c_str());
  return buf;
}

std::string MakeTempDir() {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + L"tw-winsvc-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  return tw::Narrow(dir);
}

int CountEntries(const std::string& dir) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(tw::Wide(dir + "\\*").c_str(), &d);
  int n = 0;
  if (h == INVALID_HANDLE_VALUE) return 0;
  do {
    if (d.cFileName[0] != L'.') ++n;
  } while (FindNextFileW(h, &d));
  FindClose(h);
  return n;
}

void SettingsFiles(const std::string& dir) {
  using tw::Gbk;
  // Our own writes: GBK bytes as they are, CRLF, no BOM, read back exactly.
  const std::string own = dir + Gbk("\\配置文件.ini");
  CHECK(tw::IniWrite(own, Gbk("配置"), Gbk("是否挂机"), Gbk("是 ")));
  CHECK(tw::IniWrite(own, Gbk("定时配置"), Gbk("模式"), Gbk("每天一次")));
  CHECK(FileBytes(own) == Gbk("[配置]\r\n是否挂机=是 \r\n[定时配置]\r\n模式=每天一次\r\n"));
  CHECK(tw::IniRead(own, Gbk("配置"), Gbk("是否挂机")) == Gbk("是 "));
  CHECK(tw::IniRead(own, Gbk("配置"), "missing").empty());

  // The hidden attribute the application sets survives a rewrite; no temporary file remains.
  CHECK(tw::SetFileAttr(own, 2));
  CHECK(tw::IniWrite(own, Gbk("配置"), "ip", "10.0.0.5"));
  const DWORD attrs = GetFileAttributesW(tw::Wide(own).c_str());
  CHECK(attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_HIDDEN));
  CHECK(tw::IniRead(own, Gbk("配置"), "IP") == "10.0.0.5");
  CHECK(CountEntries(dir) == 1);

  // A read-only file is not rewritten.
  CHECK(tw::SetFileAttr(own, 1));
  CHECK(!tw::IniWrite(own, Gbk("配置"), "ip", "x"));
  CHECK(tw::IniRead(own, Gbk("配置"), "ip") == "10.0.0.5");
  CHECK(tw::SetFileAttr(own, 0));

  // Files written by the system's own functions read the same, and ours read back through
  // them. The file name is ASCII so that the A functions find it under any code page.
  const std::string sys = dir + "\\system.ini";
  CHECK(WritePrivateProfileStringA(Gbk("配置").c_str(), Gbk("用户名").c_str(), Gbk("张三").c_str(),
                                   sys.c_str()));
  CHECK(WritePrivateProfileStringA(Gbk("配置").c_str(), "ip", "1.2.3.4", sys.c_str()));
  CHECK(WritePrivateProfileStringA(Gbk("欲清理的库").c_str(), "DbA", "1", sys.c_str()));
  CHECK(tw::IniRead(sys, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));
  CHECK(tw::IniRead(sys, Gbk("欲清理的库"), "dba") == "1");
  CHECK(tw::IniWrite(sys, Gbk("配置"), "ip", "5.6.7.8"));
  CHECK(tw::IniWrite(sys, Gbk("欲清理的库"), "DBB", "0"));
  CHECK(ProfileA(sys, Gbk("配置"), "ip") == "5.6.7.8");
  CHECK(ProfileA(sys, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));
  CHECK(ProfileA(sys, Gbk("欲清理的库"), "DbA") == "1");
  CHECK(ProfileA(sys, Gbk("欲清理的库"), "dbb") == "0");
  CHECK(tw::IniWrite(sys, Gbk("配置"), "ip", std::nullopt));
  CHECK(ProfileA(sys, Gbk("配置"), "ip") == "<missing>");
  CHECK(tw::IniWrite(sys, Gbk("欲清理的库"), std::nullopt, std::nullopt));
  CHECK(ProfileA(sys, Gbk("欲清理的库"), "DbA") == "<missing>");
  CHECK(ProfileA(sys, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));

  // Names as the system's functions take them, read back by both sides: a control byte that is
  // no space belongs to the name, spaces and line controls around it do not, 0x80 and 0xFF
  // are characters of one byte; and a value holding '=' for a key written twice.
  const std::string odd = dir + "\\odd.ini";
  CHECK(tw::platform::ReplaceWholeFile(odd, "[s]\r\nk=1\r\nk=2\r\n[t\x80]\r\nk\xFF=1\r\n"));
  CHECK(tw::IniWrite(odd, "s", "\x01k", "2"));
  CHECK(tw::IniWrite(odd, "s", "k", "a=b"));
  CHECK(tw::IniWrite(odd, "t\x80", "k\xFF", "v"));
  CHECK(ProfileA(odd, "s", "\x01k") == "2" && tw::IniRead(odd, "s", "\x01k") == "2");
  CHECK(ProfileA(odd, "\x0Bs ", "\tk\x1A") == "a=b" &&
        tw::IniRead(odd, "\x0Bs ", "\tk\x1A") == "a=b");
  CHECK(ProfileA(odd, "t\x80", "k\xFF") == "v" && tw::IniRead(odd, "t\x80", "k\xFF") == "v");

  // A file saved as "Unicode" (UTF-16LE with a byte-order mark): read and written by both
  // sides, and still UTF-16 with its mark afterwards.
  const std::string uni = dir + "\\unicode.ini";
  const std::u16string text = u"[配置]\r\n用户名=张三\r\nip=1.2.3.4\r\n";
  std::string bytes = "\xFF\xFE";
  for (const char16_t u : text) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  CHECK(tw::platform::ReplaceWholeFile(uni, bytes));
  CHECK(ProfileA(uni, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));
  CHECK(tw::IniRead(uni, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));
  CHECK(tw::IniWrite(uni, Gbk("配置"), "ip", "5.6.7.8"));
  CHECK(tw::IniWrite(uni, Gbk("欲清理的库"), Gbk("库甲"), "1"));
  CHECK(FileBytes(uni).substr(0, 4) == std::string("\xFF\xFE[\0", 4));
  CHECK(ProfileA(uni, Gbk("配置"), "ip") == "5.6.7.8");
  CHECK(ProfileA(uni, Gbk("欲清理的库"), Gbk("库甲")) == "1");
  CHECK(ProfileA(uni, Gbk("配置"), Gbk("用户名")) == Gbk("张三"));
  CHECK(WritePrivateProfileStringA(Gbk("配置").c_str(), Gbk("是否挂机").c_str(), Gbk("是").c_str(),
                                   uni.c_str()));
  CHECK(tw::IniRead(uni, Gbk("配置"), Gbk("是否挂机")) == Gbk("是"));
  CHECK(tw::IniRead(uni, Gbk("欲清理的库"), Gbk("库甲")) == "1");
  CHECK(FileBytes(uni).substr(0, 2) == "\xFF\xFE");
}

void Registry() {
  const std::string key = "Software\\TidewellServicesTest";
  CHECK(tw::RegWrite(3, key + "\\n", tw::Value::Double(-7.9)));
  CHECK(tw::RegWrite(3, key + "\\b", tw::Value::Blob({1, 2, 3})));
  CHECK(tw::RegWrite(3, key + "\\s", tw::Value::Str(tw::Gbk("中文"))));
  CHECK(!tw::RegWrite(3, key + "\\sub\\flag", tw::Value::Bool(true)));
  const auto n = tw::platform::RegReadValue(3, key, "n");
  CHECK(n && n->kind == tw::platform::RegKind::Dword &&
        n->bytes == std::string("\xF9\xFF\xFF\xFF", 4));
  const auto b = tw::platform::RegReadValue(3, key, "B");
  CHECK(b && b->kind == tw::platform::RegKind::Binary && b->bytes == std::string("\1\2\3", 3));
  const auto s = tw::platform::RegReadValue(3, key, "s");
  CHECK(s && s->kind == tw::platform::RegKind::Sz && s->bytes == tw::Gbk("中文"));
  CHECK(!tw::platform::RegReadValue(3, key + "\\sub", "flag"));
  CHECK(!tw::RegDelete(3, key));           // the key has a subkey
  CHECK(tw::RegDelete(3, key + "\\sub"));  // no value "sub": the (empty) key goes
  CHECK(tw::RegDelete(3, key + "\\n"));
  CHECK(tw::RegDelete(3, key));  // no value of that name at the root: the key goes
  CHECK(!tw::RegDelete(3, key));
}

void Files(const std::string& dir) {
  const std::string big = dir + "\\big.ldf";
  HANDLE h = CreateFileW(tw::Wide(big).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = (LONGLONG{5} << 30) + 7;
  CHECK(h != INVALID_HANDLE_VALUE && SetFilePointerEx(h, size, nullptr, FILE_BEGIN) &&
        SetEndOfFile(h));
  CloseHandle(h);
  CHECK(tw::FileSize(big) == (std::int64_t{5} << 30) + 7);
  CHECK(tw::FileExists(big));
  CHECK(tw::FileExists(dir + "\\*.ldf"));
  CHECK(tw::FileExists(dir));
  CHECK(!tw::FileExists(dir + "\\none"));
  CHECK(tw::FileSize(dir + "\\none") == -1);
  DeleteFileW(tw::Wide(big).c_str());
}

void System() {
  CHECK(!tw::RunDirectory().empty());
  std::printf("directory %s\n", tw::GbkToUtf8(tw::RunDirectory()).c_str());
  CHECK(tw::ExeFileName() == "winsvc_test.exe");
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  CHECK(tw::Narrow(cwd) == tw::RunDirectory());

  int mine = 0;
  bool self = false;
  for (const tw::ProcessInfo& p : tw::ProcessList()) {
    if (p.exeFile == tw::ExeFileName()) ++mine;
    if (p.pid == static_cast<int>(GetCurrentProcessId())) {
      self = p.exeFile == tw::ExeFileName() && p.threadCount >= 1;
    }
  }
  CHECK(mine == 1);
  CHECK(self);

  const tw::Text host = tw::HostName();
  const tw::Text ip = tw::LocalIp();
  std::printf("host %s, address %s\n", host.c_str(), ip.c_str());
  CHECK(!host.empty());
  CHECK(!ip.empty() && ip.find('.') != std::string::npos);
  CHECK(tw::LocalIp("127.0.0.1") == "127.0.0.1");

  // Measured with the performance counter: Wine's tick count moves in coarse steps.
  LARGE_INTEGER freq, start, end;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  tw::DelayMs(60);
  tw::SleepMs(20);
  QueryPerformanceCounter(&end);
  CHECK((end.QuadPart - start.QuadPart) * 1000 >= 79 * freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (!tw::InitProgramLocation()) {
    std::printf("FAILED: program location\n");
    return 1;
  }
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "reg-write") {
    const tw::Text path = tw::RunDirectory() + "\\" + tw::ExeFileName();
    CHECK(tw::RegWrite(3, RunPath(), tw::Value::Str(path)));
    std::printf("%s\n", tw::GbkToUtf8(path).c_str());
  } else if (mode == "reg-delete") {
    CHECK(tw::RegDelete(3, RunPath()));
    CHECK(!tw::RegDelete(3, RunPath()));
  } else {
    const std::string dir = MakeTempDir();
    SettingsFiles(dir);
    Files(dir);
    Registry();
    System();
    DeleteFileW(tw::Wide(dir + tw::Gbk("\\配置文件.ini")).c_str());
    DeleteFileW(tw::Wide(dir + "\\system.ini").c_str());
    DeleteFileW(tw::Wide(dir + "\\unicode.ini").c_str());
    RemoveDirectoryW(tw::Wide(dir).c_str());
  }
  std::printf("%s: %d failure(s)\n", mode.empty() ? "services" : mode.c_str(), g_failures);
  return g_failures == 0 ? 0 : 1;
}
