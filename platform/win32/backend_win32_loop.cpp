// The Win32 backend's message loop and clock: one message at a time through the dialog manager
// (Tab moves the focus, Esc becomes a close request), the quit request, window timers, waits
// and the fatal error report.
#include "platform/win32/backend_win32.h"

#include <algorithm>

namespace tw {

Backend::Pump Win32Backend::PumpOne(bool wait) {
  ResumeLists();
  MSG msg{};
  if (wait) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return Pump::Quit;
    if (got < 0) return Pump::Idle;  // the queue is unusable: nothing more will arrive
  } else {
    // A quit request is only looked at, so that an outer loop still finds it.
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) return Pump::Idle;
    if (msg.message == WM_QUIT) return Pump::Quit;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return Pump::Idle;
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return Pump::Quit;
    }
  }
  HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root != nullptr) {
    for (const auto& [id, rec] : windows_) {
      if (rec.hwnd == root && !rec.destroying) {
        // Keyboard navigation, and Esc turned into IDCANCEL for the window.
        if (IsDialogMessageW(root, &msg)) return Pump::Dispatched;
        break;
      }
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return Pump::Dispatched;
}

void Win32Backend::PostQuit() {
  PostQuitMessage(0);
}

std::uint64_t Win32Backend::TickMs() {
  return GetTickCount64();
}

void Win32Backend::SleepMs(int ms) {
  Sleep(static_cast<DWORD>(std::max(ms, 0)));
}

void Win32Backend::WaitUntil(std::uint64_t deadline) {
  const std::uint64_t now = GetTickCount64();
  if (deadline <= now) return;
  const DWORD ms = static_cast<DWORD>(std::min<std::uint64_t>(deadline - now, INFINITE - 1));
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Backend::SetTimer(UnitRef timer, int intervalMs) {
  WinRec* rec = FindWin(timer.window);
  if (rec == nullptr || rec->hwnd == nullptr) return;
  const auto id = static_cast<UINT_PTR>(timer.unit);
  if (intervalMs > 0) {
    ::SetTimer(rec->hwnd, id, static_cast<UINT>(intervalMs), nullptr);
  } else {
    KillTimer(rec->hwnd, id);
  }
}

void Win32Backend::Fatal(const Text& text, const Text& title) {
  ResumeLists();
  MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(),
              MB_OK | MB_ICONERROR | MB_TASKMODAL);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace tw
