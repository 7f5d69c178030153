// The smoke-test driver for tidewell.exe under Wine: a second Win32 program that starts the tool,
// finds its windows and controls by process id and control id, and checks them against the
// layout compiled into the driver. Shared helpers of the driver's files.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
// Writes the window as the screen shows it to a BMP file; refuses an image of one flat colour
// (a window not painted, or covered by nothing but black).
bool SaveScreenshot(HWND window, const std::wstring& path);

// Unix paths as Wine sees them: the root of the Unix file system is drive Z:.
std::wstring WindowsPath(std::wstring path);

// The operator's hands (driver_hands.cpp). A tool started in a job that ends it with the driver.
struct Tool {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  DWORD pid = 0;
  HWND main = nullptr;
  std::map<int, HWND> units;
  HWND Unit(int id) const;
};
bool StartTool(const std::wstring& exe, Tool& t);
// Waits until the main window and all its units exist and the start-up handler has run.
bool WaitForTool(Tool& t, DWORD ms);
bool WaitExit(const Tool& t, DWORD ms, DWORD* code);
// Waits until the tool's message loop has handled everything posted to it so far.
bool Drain(const Tool& t, DWORD ms);
void EndTool(Tool& t);
// Polls `done` every 20 ms until it holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, DWORD ms);
// Shown and enabled, and so are all its parents: an operator could use it.
bool Usable(HWND h);
// A click on a button, check box or radio button (posted BM_CLICK); fails on an unusable one.
bool Click(const Tool& t, int id);
bool IsChecked(HWND h);
// Replaces an edit box's text by typing: select all, Backspace, one WM_CHAR per character.
void TypeInto(HWND edit, const std::wstring& text);
std::vector<std::wstring> ComboItems(HWND combo);
// Picks a combo item with the keyboard (F4, Home, Down..., Enter).
bool ChooseComboItem(HWND combo, int index);

struct Box {
  HWND hwnd = nullptr;
  std::wstring text;
  std::wstring title;
};
// The first shown message box of the process, within `ms`.
bool WaitBox(DWORD pid, DWORD ms, Box& box);
// Clicks a message box's button (IDOK, IDYES, IDNO ...) and waits for the box to go.
void AnswerBox(const Box& box, int button);
// Waits for a box, checks its text and title, answers it; false when it is missing or wrong.
bool ExpectBox(DWORD pid, DWORD ms, const std::wstring& text, const std::wstring& title,
               int answer);
HWND WaitMenu(DWORD pid, DWORD ms);
// Waits for the process's pop-up menu and chooses the item at `position` by keyboard.
bool PickMenuItem(DWORD pid, int position);
// The tray icon's callback message with a mouse message (WM_LBUTTONUP, WM_RBUTTONUP ...).
void TrayMouse(const Tool& t, UINT mouseMessage);

// The list 超级列表框1.
int RowCount(const Tool& t);
std::wstring Cell(const Tool& t, int row, int column);
bool RowChecked(const Tool& t, int row);
int RowOf(const Tool& t, const std::wstring& name);
// A mouse click (left or right) in a row's cell; column 0 is the check box.
bool ClickRow(const Tool& t, int row, int column, bool right);
// The space key in the list, on its focused row.
void PressSpace(const Tool& t);
// Prints every row as "row<TAB>label<TAB>index<TAB>checked<TAB>name<TAB>size<TAB>state".
void DumpRows(const Tool& t, const char* label);
// Shows the window on top of everything and lets it paint; ReleaseFront undoes the topmost.
void BringToFront(HWND h);
void ReleaseFront(HWND h);

// The tray menu's 退出 answered Yes; true when the tool then ends with exit code 0.
bool ExitThroughTray(Tool& t);

// Modes of the driver besides the smoke test (driver_demo.cpp, driver_stories*.cpp).
int RunDemo(const std::wstring& exe, const std::wstring& shot, const std::wstring& address,
            const std::wstring& login, const std::wstring& password);
int RunStory(const std::wstring& story, const std::vector<std::wstring>& args);

// Shared by the stories (driver_stories.cpp).
std::wstring FolderOf(const std::wstring& exe);
// A key of the settings file beside `exe`, read with GetPrivateProfileStringA in code page 936.
std::wstring Setting(const std::wstring& exe, const std::wstring& section, const std::wstring& key);
void ExpectSetting(const std::wstring& exe, const std::wstring& section, const std::wstring& key,
                   const std::wstring& want);
// Types the login, clicks 连接, answers "连接成功" and checks the connected buttons.
bool ConnectByHand(Tool& t, const std::wstring& address, const std::wstring& login,
                   const std::wstring& password);
bool WaitCleaned(const Tool& t, int button, const wchar_t* caption, const std::vector<int>& rows,
                 DWORD ms);
// The stories of driver_stories_tray.cpp; `a` is tidewell.exe, address, login, password.
int TrayAndExit(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a);
int Unattended(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a);
int LateServer(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& a);

}  // namespace twdrv
