// Entry of the smoke-test driver. Starts tidewell.exe in a job (so that it never outlives the
// driver), waits until it idles in its message loop, runs the checks, shows the window, saves a
// screenshot, sends Esc and expects the close request to take its course.
//
//   tw_wine_driver.exe <tidewell.exe> <screenshot.bmp>   the smoke test; exit code = failures
//   tw_wine_driver.exe --show                            shows a running tool's main window
//   tw_wine_driver.exe --demo <tidewell.exe> <shot.bmp> <address> <login>  (password on stdin)
//                                                        the run command's tour (driver_demo.cpp)
//   tw_wine_driver.exe --story <name> <args...>          one operator story (driver_stories.cpp)
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {
namespace {

int g_failures = 0;

HWND WaitForMainWindow(DWORD pid, HANDLE process, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (GetTickCount64() < deadline) {
    if (HWND h = FindMainWindow(pid)) return h;
    if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

// The exe carries its icon (the same bytes as the layout's), the manifest that selects version 6
// of the common controls, and version information.
void CheckResources(const std::wstring& exe) {
  HMODULE m = LoadLibraryExW(exe.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (m == nullptr) {
    Fail("cannot read the resources of %s", Utf8(exe).c_str());
    return;
  }
  HRSRC group = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  if (group == nullptr) {
    Fail("tidewell.exe has no icon resource 1");
  } else {
    // A group entry is 14 bytes after the 6-byte header; its last field is the image's id.
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(m, group)));
    const DWORD size = SizeofResource(m, group);
    const tw::Bytes& file = tw::TidewellIcon();
    if (dir == nullptr || size < 20 || file.size() < 22) {
      Fail("the icon resource is malformed");
    } else {
      const WORD id = static_cast<WORD>(dir[18] | (dir[19] << 8));
      HRSRC image = FindResourceW(m, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
      const DWORD fileImageSize = file[14] | (file[15] << 8) | (file[16] << 16) | (file[17] << 24);
      if (dir[6] != file[6] || dir[7] != file[7] || image == nullptr ||
          SizeofResource(m, image) != fileImageSize) {
        Fail("the exe's icon is not the layout's icon");
      }
    }
  }
  HRSRC manifest = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  const char* text =
      manifest ? static_cast<const char*>(LockResource(LoadResource(m, manifest))) : nullptr;
  if (text == nullptr ||
      std::string(text, SizeofResource(m, manifest)).find("Microsoft.Windows.Common-Controls") ==
          std::string::npos) {
    Fail("tidewell.exe has no manifest selecting the common controls");
  }
  if (FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)) == nullptr) {  // RT_VERSION
    Fail("tidewell.exe has no version information");
  }
  FreeLibrary(m);
  Note("resources checked");
}

int ShowRunningTool() {
  // run.sh uses this while the application does not show the window itself yet.
  const ULONGLONG deadline = GetTickCount64() + 15000;
  while (GetTickCount64() < deadline) {
    if (HWND h = FindMainWindow(0)) {
      ShowWindow(h, SW_SHOW);
      SetForegroundWindow(h);
      return 0;
    }
    Sleep(100);
  }
  std::fprintf(stderr, "no Tidewell main window found\n");
  return 1;
}

// Esc in a control of the window is a close request, which the tool turns into hiding the window
// in the notification area; a program without that handler would end with exit code 0.
void CheckEscape(Session& s) {
  const auto edit = s.units.find(tw::ids::编辑框_IP);
  if (edit == s.units.end()) return;
  PostMessageW(edit->second, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(edit->second, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  if (WaitForSingleObject(s.process, 10000) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(s.process, &code);
    if (code != 0)
      Fail("after Esc the program ended with exit code %ld, not 0", static_cast<long>(code));
    Note("Esc closed the window and ended the program");
    return;
  }
  if (IsWindowVisible(s.main)) Fail("Esc neither closed nor hid the main window");
}

int RunSmokeTest(const std::wstring& exe, const std::wstring& shot) {
  CheckResources(exe);
  Tool tool;
  if (!StartTool(exe, tool)) return 1;

  Session s;
  s.process = tool.process;
  s.pid = tool.pid;
  // Idle in the message loop means the start window and all its units have been built.
  WaitForInputIdle(s.process, 15000);
  s.main = WaitForMainWindow(s.pid, s.process, 15000);
  if (s.main == nullptr) {
    Fail("the main window did not appear within 15 s");
  } else {
    Note("main window found");
    // The window is found as soon as its list exists; the start-up handler, which shows it on
    // a first start, runs once every unit is there.
    std::size_t expected = 0;
    for (const tw::UnitLayout& u : tw::MainWindowLayout().units) {
      if (u.id != tw::kMainWindow && tw::HasNativeWindow(u.kind)) ++expected;
    }
    const ULONGLONG deadline = GetTickCount64() + 15000;
    do {
      s.units = FindUnits(s.main);
      if (s.units.size() == expected && IsWindowVisible(s.main)) break;
      Sleep(50);
    } while (GetTickCount64() < deadline);
    if (!IsWindowVisible(s.main)) Fail("a first start without a settings file shows no window");
    CheckWindowFrame(s);
    CheckUnits(s);
    CheckStacking(s);
    CheckListColumns(s);
    CheckDigitFields(s);
    CheckWholeNumberField(s);

    ShowWindow(s.main, SW_SHOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(s.main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    if (!IsWindowVisible(s.main)) Fail("the main window did not become visible");
    Sleep(500);  // let every control paint
    if (!SaveScreenshot(s.main, shot)) Fail("cannot save the screenshot to %s", Utf8(shot).c_str());
    CheckEscape(s);
  }
  EndTool(tool);
  if (g_failures == 0) Note("all checks passed");
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

std::wstring WindowsPath(std::wstring path) {
  if (!path.empty() && path[0] == L'/') {
    for (wchar_t& c : path) {
      if (c == L'/') c = L'\\';
    }
    path = L"Z:" + path;
  }
  return path;
}

void Fail(const char* format, ...) {
  ++g_failures;
  std::va_list args;
  va_start(args, format);
  std::fputs("FAIL: ", stdout);
  std::vfprintf(stdout, format, args);
  std::fputc('\n', stdout);
  va_end(args);
  std::fflush(stdout);
}

int FailureCount() {
  return g_failures;
}

void Note(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("ok: ", stdout);
  std::vfprintf(stdout, format, args);
  std::fputc('\n', stdout);
  va_end(args);
  std::fflush(stdout);
}

std::string Utf8(std::wstring_view text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

std::string NameOf(int unitId) {
  const tw::UnitLayout* u = tw::MainWindowLayout().Find(unitId);
  if (u != nullptr) return tw::GbkToUtf8(u->name);
  std::string number = std::to_string(unitId);
  number.insert(number.begin(), '#');
  return number;
}

}  // namespace twdrv

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--show") return twdrv::ShowRunningTool();
  if (argc == 6 && std::wstring(argv[1]) == L"--demo") {
    return twdrv::RunDemo(twdrv::WindowsPath(argv[2]), twdrv::WindowsPath(argv[3]), argv[4],
                          argv[5]);
  }
  if (argc >= 3 && std::wstring(argv[1]) == L"--story") {
    return twdrv::RunStory(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
  }
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: tw_wine_driver <tidewell.exe> <screenshot.bmp> | --show\n"
                 "       tw_wine_driver --demo <tidewell.exe> <shot.bmp> <address> <login> "
                 "< password\n"
                 "       tw_wine_driver --story <name> <args...>\n");
    return 2;
  }
  return twdrv::RunSmokeTest(twdrv::WindowsPath(argv[1]), twdrv::WindowsPath(argv[2]));
}
