// Runner of the Win32 backend tests and their rig: expectation reporting, the frame on the real
// backend with every handler slot recording, and message pumping with bounded waits.
//
//   tw_wine_backend_test.exe            runs every group; exit code = failed expectations
//   tw_wine_backend_test.exe --fatal    (used by the tests) ends in the run-time error report
//   tw_wine_backend_test.exe --failing-timer LOG   (used by the tests) a timer handler that fails
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <map>

#include "runtime/gbk.h"
#include "runtime/text.h"
#include "tests/wine/backend_test.h"

namespace twtest {
namespace {

int g_failures = 0;
int g_passes = 0;
std::map<UINT_PTR, std::function<void()>> g_after;

struct ControlSearch {
  int id = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchControl(HWND h, LPARAM lp) {
  auto* search = reinterpret_cast<ControlSearch*>(lp);  // NOLINT(*-int-to-ptr): EnumChildWindows
  if (GetDlgCtrlID(h) != search->id) return TRUE;
  search->found = h;
  return FALSE;
}

std::string Utf8(const std::wstring& text) {
  return tw::GbkToUtf8(tw::Narrow(text));
}

struct TitleSearch {
  std::wstring title;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTitle(HWND h, LPARAM lp) {
  auto* search = reinterpret_cast<TitleSearch*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  if (std::wstring(cls) != tw::kWindowClass || tw::WindowText(h) != search->title) return TRUE;
  search->found = h;
  return FALSE;
}

}  // namespace

HWND OwnWindow(const std::wstring& title) {
  // Only this thread's windows: another test may run the tool with the same windows meanwhile.
  TitleSearch search{title, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), &MatchTitle, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Expect(bool ok, const char* what, const char* file, int line) {
  if (ok) {
    ++g_passes;
    return true;
  }
  ++g_failures;
  std::printf("FAIL %s:%d: %s\n", file, line, what);
  std::fflush(stdout);
  return false;
}

std::string ToShow(long long v) {
  return std::to_string(v);
}
std::string Quoted(const std::string& utf8) {
  std::string out(1, '"');
  out += utf8;
  out += '"';
  return out;
}

std::string ToShow(const std::string& gbk) {
  return Quoted(tw::GbkToUtf8(gbk));
}
std::string ToShow(const std::wstring& text) {
  return Quoted(Utf8(text));
}
std::string ToShow(const tw::Value& v) {
  if (v.IsAbsent()) return "(absent)";
  return ToShow(tw::ToText(v));
}

Rig::Rig() {
  for (int h = 1; h < static_cast<int>(tw::Handler::Count); ++h) {
    const auto slot = static_cast<tw::Handler>(h);
    frame_.SetHandler(slot, [this, slot](const std::vector<tw::Value>& args) {
      events_.push_back({slot, args});
      if (slot == tw::Handler::HideToTray) return closeResult_;
      if (slot == tw::Handler::ChooserIp || slot == tw::Handler::ChooserHostName) {
        frame_.DestroyWindow(tw::kChooserWindow);
      }
      return tw::Value{};
    });
  }
  frame_.LoadWindow(tw::kMainWindow);
  main_ = OwnWindow(tw::Wide(tw::MainWindowLayout().Window().caption));
  frame_.WriteProp(U(tw::kMainWindow), tw::prop::kVisible, tw::Value::Bool(true));
  Pump(100);
}

Rig::~Rig() {
  for (const auto& [id, fn] : g_after) KillTimer(nullptr, id);  // they would outlive the rig
  g_after.clear();
  frame_.DestroyWindow(tw::kMainWindow, true);
  // The last window gone leaves a quit request; the next rig starts with a clean queue.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

HWND Rig::Control(int unit) const {
  ControlSearch search{unit, nullptr};
  EnumChildWindows(main_, &MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void Rig::Pump(int ms) {
  frame_.DispatchPending();
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (GetTickCount64() < deadline) {
    backend_.WaitUntil(deadline);
    frame_.DispatchPending();
  }
}

std::vector<Event> Rig::Take() {
  std::vector<Event> out;
  out.swap(events_);
  return out;
}

int Rig::Count(tw::Handler h) const {
  int n = 0;
  for (const Event& e : events_) n += e.handler == h ? 1 : 0;
  return n;
}

void Rig::After(int ms, std::function<void()> fn) {
  const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(ms), &Rig::OnTimer);
  g_after[id] = std::move(fn);
}

void CALLBACK Rig::OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  auto it = g_after.find(id);
  if (it == g_after.end()) return;
  std::function<void()> fn = std::move(it->second);
  g_after.erase(it);
  fn();
}

}  // namespace twtest

int wmain(int argc, wchar_t** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  if (argc == 2 && std::wstring(argv[1]) == L"--fatal") {
    twtest::Rig rig;
    // Reading a property of a window that is not loaded is a run-time error.
    rig.frame().ReadProp({tw::kChooserWindow, tw::ids::按钮_IP}, tw::prop::kLeft);
    return 3;  // not reached
  }
  if (argc == 3 && std::wstring(argv[1]) == L"--failing-timer") {
    return twtest::FailingTimerChild(argv[2]);
  }
  using Group = void (*)(twtest::Rig&);
  const std::pair<const char*, Group> groups[] = {
      {"controls", &twtest::TestControls},
      {"combo", &twtest::TestCombo},
      {"list", &twtest::TestList},
      {"list redraw", &twtest::TestListRedraw},
      {"properties", &twtest::TestProperties},
      {"window events", &twtest::TestWindowEvents},
      {"modal chooser", &twtest::TestModalChooser},
      {"menus and message box", &twtest::TestMenusAndMessageBox},
      {"message loop", &twtest::TestMessageLoop},
      {"destroy deferred past a message box", &twtest::TestDeferredDestroy},
      {"chooser owned by the main window", &twtest::TestOwnedChooser},
      {"quit inside the chooser's loop", &twtest::TestQuitInDialog},
  };
  for (const auto& [name, group] : groups) {
    std::printf("-- %s\n", name);
    std::fflush(stdout);
    twtest::Rig rig;
    group(rig);
  }
  std::printf("-- run-time error report\n");
  twtest::TestFatalReport(argv[0]);
  std::printf("-- failing timer handler\n");
  twtest::TestFailingTimer(argv[0]);
  std::printf("%d passed, %d failed\n", twtest::g_passes, twtest::g_failures);
  return twtest::g_failures == 0 ? 0 : 1;
}
