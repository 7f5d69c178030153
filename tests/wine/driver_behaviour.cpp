// Behaviour checks of the smoke-test driver that window messages can reach from another process
// (the digit filter and the whole-number rewrite of the schedule fields), the window look-ups,
// and the screenshot of the shown window.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/win32/backend_win32.h"
#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {
namespace {

struct Search {
  DWORD pid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchMain(HWND h, LPARAM lp) {
  auto* search = reinterpret_cast<Search*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (search->pid != 0 && pid != search->pid) return TRUE;
  if (ClassOf(h) != tw::kWindowClass || GetWindow(h, GW_OWNER) != nullptr) return TRUE;
  // The main window is the one that holds the list; hidden owners and the chooser do not.
  HWND child = nullptr;
  for (child = GetWindow(h, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == tw::ids::超级列表框1) break;
  }
  if (child == nullptr) return TRUE;
  search->found = h;
  return FALSE;
}

void Collect(HWND parent, std::map<int, HWND>& units) {
  for (HWND h = GetWindow(parent, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(h);
    if (tw::MainWindowLayout().Find(id) == nullptr) continue;  // a control's own parts
    units[id] = h;
    if (lstrcmpiW(ClassOf(h).c_str(), L"Button") == 0) Collect(h, units);  // a group box
  }
}

void TypeChars(HWND h, const wchar_t* chars) {
  for (const wchar_t* p = chars; *p != L'\0'; ++p) SendMessageW(h, WM_CHAR, *p, 1);
}

void ExpectText(HWND h, const char* what, const std::wstring& want) {
  const std::wstring got = TextOf(h);
  if (got != want) {
    Fail("%s: \"%s\", expected \"%s\"", what, Utf8(got).c_str(), Utf8(want).c_str());
  }
}

}  // namespace

std::wstring TextOf(HWND h) {
  wchar_t buffer[1024] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  return std::wstring(buffer, std::min<std::size_t>(copied, 1023));
}

void SetTextOf(HWND h, const std::wstring& text) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                      5000, &ignored);
}

RECT RectInParent(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::wstring ClassOf(HWND h) {
  wchar_t name[128] = {};
  GetClassNameW(h, name, 128);
  return name;
}

HWND FindMainWindow(DWORD pid) {
  Search search{pid, nullptr};
  EnumWindows(&MatchMain, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::map<int, HWND> FindUnits(HWND main) {
  std::map<int, HWND> units;
  Collect(main, units);
  return units;
}

void CheckDigitFields(const Session& s) {
  for (int id : {tw::ids::编辑框_时, tw::ids::编辑框_分, tw::ids::编辑框_秒}) {
    const auto it = s.units.find(id);
    if (it == s.units.end()) continue;
    HWND h = it->second;
    const std::string name = NameOf(id);
    SetTextOf(h, L"");
    TypeChars(h, L"a");
    ExpectText(h, (name + " after typing a letter").c_str(), L"");
    TypeChars(h, L"12");
    TypeChars(h, L"3");
    ExpectText(h, (name + " after typing a third digit").c_str(), L"12");
    TypeChars(h, L"\b");
    ExpectText(h, (name + " after Backspace").c_str(), L"1");
    SetTextOf(h, L"");
    TypeChars(h, L"-\x65E5");  // '-' passes, a Chinese character does not
    ExpectText(h, (name + " after '-' and a Chinese character").c_str(), L"-");
    // These fields are not rewritten when they lose the focus.
    SetTextOf(h, L"");
    SendMessageW(h, WM_KILLFOCUS, 0, 0);
    ExpectText(h, (name + " left empty").c_str(), L"");
    SetTextOf(h, L"07");
    SendMessageW(h, WM_KILLFOCUS, 0, 0);
    ExpectText(h, (name + " holding 07 on losing the focus").c_str(), L"07");
    SetTextOf(h, L"");
  }
  Note("digit fields checked");
}

void CheckWholeNumberField(const Session& s) {
  const auto it = s.units.find(tw::ids::编辑框_日);
  if (it == s.units.end()) return;
  HWND h = it->second;
  struct Case {
    const wchar_t* typed;
    const wchar_t* after;
  };
  const Case cases[] = {
      {L"", L"0"},
      {L"07", L"7"},
      {L"-", L"0"},
      {L"-5", L"-5"},
      {L" 12", L"12"},
      {L"+3", L"3"},
      {L"4x", L"4"},
      {L"x4", L"0"},
      {L"31", L"31"},
      {L"99999999999", L"2147483647"},
      {L"-99999999999", L"-2147483648"},
  };
  for (const Case& c : cases) {
    SetTextOf(h, c.typed);
    SendMessageW(h, WM_KILLFOCUS, 0, 0);
    ExpectText(h, ("编辑框_日 holding \"" + Utf8(c.typed) + "\" on losing the focus").c_str(),
               c.after);
  }
  SetTextOf(h, L"");
  TypeChars(h, L"1b2");
  ExpectText(h, "编辑框_日 after typing 1b2", L"12");
  SetTextOf(h, L"");
  Note("whole-number field checked");
}

bool SaveScreenshot(HWND window, const std::wstring& path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = w;
  info.biHeight = h;  // bottom-up, as BMP files store rows
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(static_cast<std::size_t>(stride) * h);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  // A capture of one flat colour is a window that was not on the screen: black, or blank.
  double sum = 0;
  double squares = 0;
  std::size_t samples = 0;
  for (int y = 0; y < h; ++y) {
    const BYTE* line = pixels.data() + static_cast<std::size_t>(stride) * y;
    for (int x = 0; x < w * 3; ++x) {
      sum += line[x];
      squares += static_cast<double>(line[x]) * line[x];
      ++samples;
    }
  }
  const double mean = sum / static_cast<double>(samples);
  const double spread =
      std::sqrt(std::max(0.0, squares / static_cast<double>(samples) - mean * mean));
  if (spread < 8.0) {
    Fail("the capture of the window is one flat colour (mean %.1f, deviation %.1f)", mean, spread);
    return false;
  }

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
            std::fwrite(&info, sizeof(info), 1, out) == 1 &&
            std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  ok = std::fclose(out) == 0 && ok;
  if (ok) Note("screenshot saved");
  return ok;
}

}  // namespace twdrv
