// The Win32 window backend: real top-level windows and standard controls built from the layout,
// driven through the W APIs only (GBK texts are converted at this edge), the tray icon, pop-up
// menus, timers and the message loop.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/wide_text.h"
#include "ui/backend.h"

namespace tw {

// Private messages of the tool's windows. The tray callback number is the one the tool has
// always used; the others only need to stay clear of the system's ranges.
inline constexpr UINT kMsgDestroyPosted = WM_APP + 1;  // wParam unused
inline constexpr UINT kMsgComboChosen = WM_APP + 2;    // wParam = combo unit id
inline constexpr UINT kMsgListChecked = WM_APP + 3;    // wParam = list unit id, lParam = row
inline constexpr UINT kMsgTray = 0x8064;               // lParam = mouse message
inline constexpr UINT kTrayIconId = 100;

// The drop-down part of a combo box is never shorter than this, whatever the stored height.
inline constexpr int kComboDropHeight = 160;

// Window classes; the smoke test finds the main window by its class as well.
inline constexpr wchar_t kWindowClass[] = L"TidewellWindow";
inline constexpr wchar_t kTransparentClass[] = L"TidewellTransparent";

// The whole caption or content of a window.
std::wstring WindowText(HWND h);

// Where a window of this size sits centred on the primary monitor's work area (never above or
// left of it).
POINT CentredOrigin(int width, int height);

// An icon of about `size` pixels from icon-file bytes; null when the bytes hold no usable image.
HICON IconFromBytes(const Bytes& bytes, int size);

// The whole number a text denotes, in decimal: leading blanks skipped, an optional sign, then the
// digits up to the first other character, clamped to the 32-bit signed range.
std::wstring WholeNumberText(std::wstring_view text);

// The shell's notification-area call; tests put their own in front of it to see its data.
using NotifyIconCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
// Installs `call` (null: the shell's own) and returns the one it replaces.
NotifyIconCall SetNotifyIconCall(NotifyIconCall call);

class Win32Backend final : public Backend {
 public:
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  void Attach(EventSink* sink) override { sink_ = sink; }

  bool BuildWindow(const WindowLayout& layout) override;
  void DestroyWindow(int window) override;
  void BringToFront(int window) override;
  void PostDestroy(int window) override;

  std::optional<Value> GetProperty(UnitRef unit, int number) override;
  bool SetProperty(UnitRef unit, int number, const Value& value) override;

  int MsgBox(const Text& text, int style, const Text& title,
             std::optional<int> ownerWindow) override;
  void PopupMenu(int window, const std::vector<PopupItem>& items, std::optional<int> x,
                 std::optional<int> y, bool tray) override;

  Text ComboItemText(UnitRef combo, int index) override;
  int ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) override;
  void ComboClear(UnitRef combo) override;
  int ComboSelectText(UnitRef combo, const Text& prefix) override;

  Text ListCellText(UnitRef list, int row, int column) override;
  void ListSetCellText(UnitRef list, int row, int column, const Text& text) override;
  int ListCheckState(UnitRef list, int row) override;
  void ListSetCheckState(UnitRef list, int row, int stateImage) override;
  int ListRowCount(UnitRef list) override;
  int ListInsertRow(UnitRef list, const ListInsert& row) override;
  void ListDeleteAll(UnitRef list) override;

  void SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) override;
  void TrayBalloon(int window, const Text& title, const Text& text, int icon) override;
  void SetTimer(UnitRef timer, int intervalMs) override;

  Pump PumpOne(bool wait) override;
  void PostQuit() override;
  std::uint64_t TickMs() override;
  void SleepMs(int ms) override;
  void WaitUntil(std::uint64_t deadline) override;
  [[noreturn]] void Fatal(const Text& text, const Text& title) override;

 private:
  struct UnitWin {
    const UnitLayout* layout = nullptr;
    HWND hwnd = nullptr;
    HFONT font = nullptr;  // owned; null = the default GUI font
    int progressPos = 0;   // the position as written, read back as it was stored
  };
  struct WinRec {
    const WindowLayout* layout = nullptr;
    HWND hwnd = nullptr;
    HWND owner = nullptr;  // hidden owner of a window without a taskbar button
    HICON iconBig = nullptr;
    HICON iconSmall = nullptr;
    std::map<int, UnitWin> units;
    HICON trayIcon = nullptr;  // non-null while the window wants a tray icon
    bool trayShown = false;    // the shell accepted it
    std::wstring trayTip;
    bool destroying = false;
  };

  // Building (backend_win32.cpp).
  static void RegisterClasses();
  bool CreateUnit(UnitWin& unit, HWND parent);
  void StackInStoredOrder(const WinRec& rec);
  // Field of the stored height, drop-down part of at least kComboDropHeight pixels.
  void SizeCombo(HWND combo, int fieldHeight);

  // Window procedures (backend_win32_procs.cpp).
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK TransparentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                       DWORD_PTR data);
  static LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                   DWORD_PTR data);
  LRESULT OnWindowMessage(int window, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  bool OnCommand(int window, WPARAM wp, LPARAM lp);
  void OnNotify(int window, const NMHDR& hdr);
  LRESULT OnControlColour(int window, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void OnTrayMessage(int window, LPARAM lp);

  // Lists changed since the last look at the queue paint nothing until then (commands).
  void QuietList(HWND list);
  void ResumeLists();
  bool IsQuiet(HWND list) const;

  // Tray (backend_win32_commands.cpp).
  void ShowTray(WinRec& rec);
  void RemoveTray(WinRec& rec);

  // Look-ups; null when the window or unit has no native window (any more).
  WinRec* FindWin(int window);
  UnitWin* FindUnit(UnitRef unit);
  HWND UnitHwnd(UnitRef unit, UnitKind kind);
  const UnitLayout* LayoutOfControl(int window, int controlId);

  static Win32Backend* instance_;
  EventSink* sink_ = nullptr;
  std::map<int, WinRec> windows_;
  UINT taskbarCreated_ = 0;
  HFONT defaultFont_ = nullptr;
  // Shown lists whose redraw is off while the program changes them: a list view under Wine
  // spends some 17 ms per row added to a shown list, against under 1 ms with redraw off. Nothing
  // is painted before the program looks at its queue anyway, so they paint again there.
  std::vector<HWND> quietLists_;
};

}  // namespace tw
