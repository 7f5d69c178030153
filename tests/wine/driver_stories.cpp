// The operator stories the driver plays on the real tidewell.exe: a first start and connect, the
// two cleanups, the chooser, autostart and the list's menu. The tray and unattended stories are
// in driver_stories_tray.cpp. tests/wine/stories.py prepares the program folder and the
// simulator and checks the rows the driver prints against the server's statement log.
//
//   --story <name> <tidewell.exe> <address> <login> <password> [<screenshot folder>]
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/backend_win32.h"
#include "runtime/gbk.h"
#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {

namespace ids = tw::ids;

namespace {

std::string Gbk(const std::wstring& text) {
  const int n = WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

std::wstring FromGbk(const std::string& text) {
  const int n =
      MultiByteToWideChar(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(936, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

// This machine's host name and first IPv4 address, as the chooser should find them.
std::wstring HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name)) != 0) return L"";
  return FromGbk(name);
}

std::wstring HostAddress() {
  char name[256] = {};
  if (gethostname(name, sizeof(name)) != 0) return L"";
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) return L"";
  in_addr a{};
  std::memcpy(&a, host->h_addr_list[0], sizeof(a));
  return FromGbk(inet_ntoa(a));
}

// The chooser window of the process, shown; null when there is none.
HWND FindChooser(DWORD pid) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{pid, nullptr};
  EnumWindows(
      [](HWND h, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid != s->pid || !IsWindowVisible(h) || ClassOf(h) != tw::kWindowClass ||
            TextOf(h) != L"请选择") {
          return TRUE;
        }
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Opens the chooser with 按钮_获取本机ip and presses one of its buttons (0: its close box).
bool UseChooser(Tool& t, int button, const std::wstring& shot) {
  if (!Click(t, ids::按钮_获取本机ip)) return false;
  HWND chooser = nullptr;
  if (!WaitFor([&] { return (chooser = FindChooser(t.pid)) != nullptr; }, 5000)) {
    Fail("按钮_获取本机ip opened no window titled 请选择");
    return false;
  }
  if (!shot.empty()) {
    BringToFront(chooser);
    if (!SaveScreenshot(chooser, shot)) Fail("cannot save the chooser's screenshot");
    ReleaseFront(chooser);
  }
  if (button == 0) {
    PostMessageW(chooser, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else {
    HWND b = GetDlgItem(chooser, button);
    if (!Usable(b)) {
      Fail("the chooser's button %d cannot be clicked", button);
      return false;
    }
    PostMessageW(b, BM_CLICK, 0, 0);
  }
  if (!WaitFor([&] { return FindChooser(t.pid) == nullptr; }, 5000)) {
    Fail("the chooser is still open");
    return false;
  }
  return true;
}

// Runs reg.exe (what `wine reg query` runs) for the autostart value; its text, or nothing when
// reg.exe finds no such value.
bool QueryRunValue(std::wstring& value) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::wstring command =
      L"reg.exe query \"HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\" /v "
      L"tidewell.exe";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  std::string output;
  if (started) {
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  value.clear();
  const std::size_t type = output.find("REG_SZ");
  if (type == std::string::npos) return false;
  std::size_t begin = output.find_first_not_of(' ', type + 6);
  std::size_t end = output.find_first_of("\r\n", begin);
  if (begin == std::string::npos) return true;
  value = FromGbk(output.substr(begin, end == std::string::npos ? end : end - begin));
  return true;
}

}  // namespace

std::wstring FolderOf(const std::wstring& exe) {
  const std::size_t slash = exe.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : exe.substr(0, slash);
}

std::wstring Setting(const std::wstring& exe, const std::wstring& section,
                     const std::wstring& key) {
  const std::string path = Gbk(FolderOf(exe) + L"\\配置文件.ini");
  char value[1024] = {};
  GetPrivateProfileStringA(Gbk(section).c_str(), Gbk(key).c_str(), "", value, sizeof(value),
                           path.c_str());
  return FromGbk(value);
}

void ExpectSetting(const std::wstring& exe, const std::wstring& section, const std::wstring& key,
                   const std::wstring& want) {
  const std::wstring got = Setting(exe, section, key);
  if (got != want) {
    Fail("settings %s/%s = \"%s\", expected \"%s\"", Utf8(section).c_str(), Utf8(key).c_str(),
         Utf8(got).c_str(), Utf8(want).c_str());
  }
}

bool ConnectByHand(Tool& t, const std::wstring& address, const std::wstring& login,
                   const std::wstring& password) {
  TypeInto(t.Unit(ids::编辑框_IP), address);
  TypeInto(t.Unit(ids::编辑框_用户名), login);
  TypeInto(t.Unit(ids::编辑框_密码), password);
  if (!Click(t, ids::按钮_连接)) return false;
  if (!ExpectBox(t.pid, 60000, L"连接成功", L"信息：", IDOK)) return false;
  HWND connect = t.Unit(ids::按钮_连接);
  if (!WaitFor([&] { return TextOf(connect) == L"已连接"; }, 5000) || IsWindowEnabled(connect) ||
      !IsWindowEnabled(t.Unit(ids::按钮_断开))) {
    Fail("after the connect 按钮_连接 reads \"%s\" and 按钮_断开 is not the one enabled",
         Utf8(TextOf(connect)).c_str());
    return false;
  }
  return true;
}

// Waits until a cleanup button is back to its caption and enabled, and every row in `rows` has a
// result in State; false (with the states) when that does not happen within `ms`.
bool WaitCleaned(const Tool& t, int button, const wchar_t* caption, const std::vector<int>& rows,
                 DWORD ms) {
  HWND b = t.Unit(button);
  const bool done = WaitFor(
      [&] {
        if (TextOf(b) != caption || !IsWindowEnabled(b)) return false;
        for (int r : rows) {
          const std::wstring state = Cell(t, r, 3);
          if (state.empty() || state == L"正在清理...") return false;
        }
        return true;
      },
      ms);
  if (!done) Fail("%s did not finish within %lu ms", NameOf(button).c_str(), ms);
  return done;
}

namespace {

// 1: a first start without a settings file, the login typed and saved, every database listed.
int FirstStart(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a) {
  if (!IsWindowVisible(t.main)) Fail("a first start without a settings file shows no window");
  const std::wstring file = FolderOf(exe) + L"\\配置文件.ini";
  if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Fail("the start-up created the settings file");
  }
  if (!ConnectByHand(t, a[1], a[2], a[3])) return 1;
  DumpRows(t, "connected");
  for (const std::wstring& item : ComboItems(t.Unit(ids::组合框_库名))) {
    std::printf("combo\t%s\n", Utf8(item).c_str());
  }
  ExpectSetting(exe, L"配置", L"ip", a[1]);
  ExpectSetting(exe, L"配置", L"用户名", a[2]);
  ExpectSetting(exe, L"配置", L"密码", a[3]);
  const DWORD attrs = GetFileAttributesW(file.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_HIDDEN) == 0) {
    Fail("the settings file is not hidden (attributes 0x%lx)", attrs);
  }
  return ExitThroughTray(t) ? 0 : 1;
}

// 2: two rows ticked (mouse, space key), a database chosen, single and batch cleanup.
int Cleanups(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a) {
  if (!ConnectByHand(t, a[1], a[2], a[3])) return 1;
  const int sales = RowOf(t, L"sales");
  const int chinese = RowOf(t, L"销售库");
  if (sales < 0 || chinese < 0) {
    Fail("the list lacks sales or 销售库");
    return 1;
  }
  ClickRow(t, sales, 0, false);
  if (!WaitFor([&] { return RowChecked(t, sales); }, 2000)) Fail("a click did not tick sales");
  ClickRow(t, chinese, 1, false);  // selects the row and gives it the focus
  if (RowChecked(t, chinese) || !Setting(exe, L"欲清理的库", L"销售库").empty()) {
    Fail("a click on the name of 销售库 changed its tick");
  }
  PressSpace(t);
  if (!WaitFor([&] { return RowChecked(t, chinese); }, 2000)) Fail("Space did not tick 销售库");
  WaitFor([&] { return Setting(exe, L"欲清理的库", L"销售库") == L"1"; }, 2000);
  ExpectSetting(exe, L"欲清理的库", L"sales", L"1");
  ExpectSetting(exe, L"欲清理的库", L"销售库", L"1");

  HWND combo = t.Unit(ids::组合框_库名);
  const std::vector<std::wstring> items = ComboItems(combo);
  int index = -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == L"sales") index = static_cast<int>(i);
  }
  if (index < 0 || !ChooseComboItem(combo, index)) {
    Fail("could not choose sales in 组合框_库名");
    return 1;
  }
  WaitFor([&] { return Setting(exe, L"配置", L"指定库") == L"sales"; }, 2000);
  ExpectSetting(exe, L"配置", L"指定库", L"sales");

  if (!Click(t, ids::按钮_单独清理)) return 1;
  if (!WaitFor([&] { return Cell(t, sales, 3) == L"正在清理..."; }, 3000)) {
    Fail("sales never showed 正在清理... during the single cleanup");
  }
  if (TextOf(t.Unit(ids::按钮_单独清理)) != L"正在清理...") {
    Fail("按钮_单独清理 does not read 正在清理... while it cleans");
  }
  if (!WaitCleaned(t, ids::按钮_单独清理, L"清理", {sales}, 60000)) return 1;
  DumpRows(t, "single");

  if (!Click(t, ids::按钮_一键清理)) return 1;
  if (!WaitFor([&] { return TextOf(t.Unit(ids::按钮_一键清理)) == L"正在清理..."; }, 3000)) {
    Fail("按钮_一键清理 never read 正在清理...");
  }
  // The batch writes each row's result when that database is done: wait for the later one.
  if (!WaitFor([&] { return Cell(t, chinese, 3).find(L" 清理") != std::wstring::npos; }, 60000) ||
      !WaitCleaned(t, ids::按钮_一键清理, L"一键清理", {sales, chinese}, 30000)) {
    return 1;
  }
  DumpRows(t, "batch");
  if (a.size() > 4) {
    BringToFront(t.main);
    if (!SaveScreenshot(t.main, a[4] + L"\\screenshot.bmp")) Fail("cannot save the screenshot");
    ReleaseFront(t.main);
  }
  return ExitThroughTray(t) ? 0 : 1;
}

// 3: the chooser, autostart, and the list's context menu with 刷新.
int Menus(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a) {
  HWND ip = t.Unit(ids::编辑框_IP);
  const std::wstring shot = a.size() > 4 ? a[4] + L"\\chooser.bmp" : L"";
  if (UseChooser(t, ids::按钮_IP, shot) && TextOf(ip) != HostAddress()) {
    Fail("本机IP filled \"%s\", this machine's address is \"%s\"", Utf8(TextOf(ip)).c_str(),
         Utf8(HostAddress()).c_str());
  }
  if (UseChooser(t, ids::按钮_主机名, L"") && TextOf(ip) != HostName()) {
    Fail("主机名 filled \"%s\", this machine's name is \"%s\"", Utf8(TextOf(ip)).c_str(),
         Utf8(HostName()).c_str());
  }
  TypeInto(ip, L"untouched");
  if (UseChooser(t, 0, L"") && TextOf(ip) != L"untouched") {
    Fail("closing the chooser changed 编辑框_IP to \"%s\"", Utf8(TextOf(ip)).c_str());
  }
  Note("the chooser filled the address with %s and %s", Utf8(HostAddress()).c_str(),
       Utf8(HostName()).c_str());

  HWND autostart = t.Unit(ids::选择框_开机自启);
  std::wstring value;
  Click(t, ids::选择框_开机自启);
  WaitFor([&] { return Setting(exe, L"配置", L"开机自启") == L"true"; }, 3000);
  if (!IsChecked(autostart)) Fail("选择框_开机自启 is not ticked after a click");
  if (!QueryRunValue(value) || value != exe) {
    Fail("the Run value reads \"%s\", expected \"%s\"", Utf8(value).c_str(), Utf8(exe).c_str());
  }
  ExpectSetting(exe, L"配置", L"开机自启", L"true");
  Click(t, ids::选择框_开机自启);
  WaitFor([&] { return Setting(exe, L"配置", L"开机自启") == L"false"; }, 3000);
  if (QueryRunValue(value)) Fail("the Run value is still there: \"%s\"", Utf8(value).c_str());
  ExpectSetting(exe, L"配置", L"开机自启", L"false");
  Note("autostart written and removed");

  if (!ConnectByHand(t, a[1], a[2], a[3])) return 1;
  const int row = RowOf(t, L"archive");
  if (row < 0) {
    Fail("the list lacks archive");
    return 1;
  }
  const std::wstring listed = Cell(t, row, 2);
  ClickRow(t, row, 1, true);
  if (!PickMenuItem(t.pid, 0)) return 1;  // 菜单: 刷新
  bool fetching = false;
  WaitFor(
      [&] {
        const std::wstring size = Cell(t, row, 2);
        if (size == L"正在获取...") fetching = true;
        return fetching && size != L"正在获取...";
      },
      5000);
  if (!fetching) Fail("刷新 never showed 正在获取... in the row");
  // A right click on the row's name is no click on its check box.
  ExpectSetting(exe, L"欲清理的库", L"archive", L"");
  std::printf("refresh\tarchive\t%s\t%s\n", Utf8(listed).c_str(), Utf8(Cell(t, row, 2)).c_str());
  std::fflush(stdout);
  return ExitThroughTray(t) ? 0 : 1;
}

}  // namespace

int RunStory(const std::wstring& story, const std::vector<std::wstring>& args) {
  if (args.size() < 4) {
    std::fprintf(stderr,
                 "usage: --story <name> <tidewell.exe> <address> <login> <password> "
                 "[<screenshot folder>]\n");
    return 2;
  }
  std::vector<std::wstring> a = args;
  a[0] = WindowsPath(a[0]);
  if (a.size() > 4) a[4] = WindowsPath(a[4]);
  WSADATA wsa{};
  WSAStartup(MAKEWORD(2, 2), &wsa);
  using Story = int (*)(Tool&, const std::wstring&, const std::vector<std::wstring>&);
  Story run = nullptr;
  if (story == L"first-start") run = &FirstStart;
  if (story == L"cleanup") run = &Cleanups;
  if (story == L"menus") run = &Menus;
  if (story == L"tray") run = &TrayAndExit;
  if (story == L"unattended") run = &Unattended;
  if (story == L"late-server") run = &LateServer;
  if (run == nullptr) {
    std::fprintf(stderr, "unknown story %s\n", Utf8(story).c_str());
    return 2;
  }
  Tool t;
  int rc = 1;
  if (StartTool(a[0], t) && WaitForTool(t, 20000)) rc = run(t, a[0], a);
  EndTool(t);
  if (FailureCount() == 0 && rc == 0) Note("story %s passed", Utf8(story).c_str());
  return FailureCount() == 0 ? rc : 1;
}

}  // namespace twdrv
