// Tests of the Win32 window backend under Wine: the frame runs on real windows built from the
// layout, every handler slot records what it receives, and the tests drive the windows with the
// messages a user's actions produce.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/backend_win32.h"
#include "ui/frame.h"

namespace twtest {

// Reports a failed expectation; the program's exit code counts them.
bool Expect(bool ok, const char* what, const char* file, int line);
#define EXPECT(cond) ::twtest::Expect((cond), #cond, __FILE__, __LINE__)
#define EXPECT_EQ(a, b) ::twtest::ExpectEq((a), (b), #a " == " #b, __FILE__, __LINE__)

// Values in failure messages: texts (GBK) and wide texts as UTF-8.
std::string ToShow(long long v);
std::string ToShow(const std::string& gbk);
std::string ToShow(const std::wstring& text);
std::string ToShow(const tw::Value& v);
inline std::string ToShow(int v) {
  return ToShow(static_cast<long long>(v));
}
inline std::string ToShow(bool v) {
  return v ? "true" : "false";
}
inline std::string ToShow(const char* v) {
  return ToShow(std::string(v));
}

template <typename A, typename B>
bool ExpectEq(const A& a, const B& b, const char* what, const char* file, int line) {
  if (a == b) return Expect(true, what, file, line);
  std::string detail = std::string(what) + "  (got " + ToShow(a) + ", expected " + ToShow(b) + ")";
  return Expect(false, detail.c_str(), file, line);
}

// A top-level window of this thread with the tool's window class and the given caption.
HWND OwnWindow(const std::wstring& title);
// A visible message box of the process; null when none is open.
HWND FindMessageBox(DWORD pid);
// The child's message box once it shows (up to 15 s), or null when the child ends first.
HWND WaitForMessageBox(const PROCESS_INFORMATION& child);
// A window's text, also across processes.
std::wstring TextOf(HWND h);

struct Event {
  tw::Handler handler;
  std::vector<tw::Value> args;
};

// The frame on the Win32 backend with the main window loaded and shown.
class Rig {
 public:
  Rig();
  ~Rig();

  tw::Frame& frame() { return frame_; }
  tw::Win32Backend& backend() { return backend_; }
  HWND Main() const { return main_; }
  // The native window of a unit of the main window.
  HWND Control(int unit) const;
  static tw::UnitRef U(int unit) { return {tw::kMainWindow, unit}; }

  // Dispatches what is pending, then keeps dispatching for `ms` milliseconds.
  void Pump(int ms = 0);
  std::vector<Event> Take();  // the events recorded so far, cleared
  int Count(tw::Handler h) const;
  void SetCloseResult(tw::Value v) { closeResult_ = std::move(v); }
  // Runs `fn` once from the message loop after `ms` milliseconds (inside modal loops too).
  void After(int ms, std::function<void()> fn);

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);

  tw::Win32Backend backend_;
  tw::Frame frame_{backend_};
  HWND main_ = nullptr;
  std::vector<Event> events_;
  tw::Value closeResult_ = tw::Value::Bool(false);
};

// The groups of tests; each takes a fresh rig.
void TestControls(Rig& rig);
void TestCombo(Rig& rig);
void TestList(Rig& rig);
void TestListRedraw(Rig& rig);
void TestProperties(Rig& rig);
void TestWindowEvents(Rig& rig);
void TestModalChooser(Rig& rig);
void TestMenusAndMessageBox(Rig& rig);
void TestMessageLoop(Rig& rig);
void TestDeferredDestroy(Rig& rig);
void TestOwnedChooser(Rig& rig);
void TestQuitInDialog(Rig& rig);
void TestFatalReport(const wchar_t* self);
void TestFailingTimer(const wchar_t* self);
// The child of TestFailingTimer: a timer whose handler fails, each handler call noted in `log`.
int FailingTimerChild(const wchar_t* log);

}  // namespace twtest
