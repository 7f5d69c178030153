// The smoke-test driver for tidewell.exe under Wine: a second Win32 program that starts the tool,
// finds its windows and controls by process id and control id, and checks them against the
// layout compiled into the driver. Shared helpers of the driver's files.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>

namespace twdrv {

// A running tidewell.exe and its main window's controls by unit id.
struct Session {
  HANDLE process = nullptr;
  DWORD pid = 0;
  HWND main = nullptr;
  std::map<int, HWND> units;
};

// Reports a failed check; the driver's exit code counts them.
void Fail(const char* format, ...);
int FailureCount();
// Progress lines, so that a failure shows how far the run came.
void Note(const char* format, ...);

// A unit's layout name as UTF-8, for messages.
std::string NameOf(int unitId);
// UTF-16 as UTF-8, for messages.
std::string Utf8(std::wstring_view text);

// Text of a window in another process (WM_GETTEXT is carried across processes).
std::wstring TextOf(HWND h);
void SetTextOf(HWND h, const std::wstring& text);
// Outer rectangle relative to the parent's client area.
RECT RectInParent(HWND h);
std::wstring ClassOf(HWND h);

// The main window of the process (a top-level tool window without owner), or null.
HWND FindMainWindow(DWORD pid);
// Every unit of the main window, by the control id that equals its unit id.
std::map<int, HWND> FindUnits(HWND main);

// Checks of the freshly started tool (driver_layout.cpp).
void CheckWindowFrame(const Session& s);
void CheckUnits(const Session& s);
void CheckStacking(const Session& s);
void CheckListColumns(const Session& s);

// Checks of behaviour reachable by window messages (driver_behaviour.cpp).
void CheckDigitFields(const Session& s);
void CheckWholeNumberField(const Session& s);
bool SaveScreenshot(HWND window, const std::wstring& path);

}  // namespace twdrv
