// Win32 backend tests of properties and window events: live geometry, visibility and disabled
// state, the progress position, the window's display state, the timer, the tray icon, its mouse
// actions and its balloon, close requests (close box, Esc, system menu) and the modal chooser
// window.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "runtime/gbk.h"
#include "tests/wine/backend_test.h"
#include "ui/layout.h"

namespace twtest {
namespace {

using tw::Handler;
using tw::Value;
namespace ids = tw::ids;
namespace prop = tw::prop;

long long Read(Rig& rig, int unit, int number) {
  return rig.frame().ReadProp(Rig::U(unit), number).Integer();
}

void Write(Rig& rig, int unit, int number, const Value& v) {
  rig.frame().WriteProp(Rig::U(unit), number, v);
}

// The shell calls the backend made, with their data, passed on to the shell.
std::vector<std::pair<DWORD, NOTIFYICONDATAW>> g_notifyCalls;

BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAW data) {
  g_notifyCalls.emplace_back(message, *data);
  return Shell_NotifyIconW(message, data);
}

// A balloon is a modify of the tool's own icon carrying only the balloon's data.
void CheckBalloon(Rig& rig) {
  const tw::NotifyIconCall shell = tw::SetNotifyIconCall(&RecordNotify);
  rig.frame().ShowTrayBalloon(tw::kMainWindow, Value::Str("Tidewell"),
                              Value::Str(tw::Gbk("sales 连接失败")), tw::balloon::kWarning);
  tw::SetNotifyIconCall(shell);
  if (!EXPECT_EQ(static_cast<int>(g_notifyCalls.size()), 1)) return;
  const auto& [message, d] = g_notifyCalls[0];
  EXPECT(message == NIM_MODIFY && d.hWnd == rig.Main() && d.uID == tw::kTrayIconId);
  EXPECT(d.uFlags == NIF_INFO && d.dwInfoFlags == NIIF_WARNING);
  EXPECT_EQ(std::wstring(d.szInfoTitle), std::wstring(L"Tidewell"));
  EXPECT_EQ(std::wstring(d.szInfo), std::wstring(L"sales 连接失败"));
}

}  // namespace

void TestProperties(Rig& rig) {
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kLeft), 72LL);
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kTop), 134LL);
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kWidth), 72LL);
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kHeight), 32LL);
  Write(rig, ids::按钮_连接, prop::kLeft, Value::Int(80));
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kLeft), 80LL);
  EXPECT_EQ(Read(rig, ids::按钮_连接, prop::kWidth), 72LL);
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kWidth), 875LL);
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kHeight), 402LL);

  Write(rig, ids::按钮_连接, prop::kVisible, Value::Bool(false));
  EXPECT(!rig.frame().ReadProp(Rig::U(ids::按钮_连接), prop::kVisible).AsBool());
  EXPECT(!IsWindowVisible(rig.Control(ids::按钮_连接)));
  Write(rig, ids::按钮_连接, prop::kVisible, Value::Bool(true));
  EXPECT(IsWindowVisible(rig.Control(ids::按钮_连接)));
  // Hidden units keep their values.
  EXPECT(!rig.frame().ReadProp(Rig::U(ids::编辑框_时), prop::kVisible).AsBool());
  Write(rig, ids::编辑框_时, prop::kEditText, Value::Str("08"));
  EXPECT_EQ(rig.frame().ReadProp(Rig::U(ids::编辑框_时), prop::kEditText).AsText(),
            std::string("08"));

  // Disabling a group box stops its units without changing their own state.
  Write(rig, ids::分组框_登陆, prop::kDisabled, Value::Bool(true));
  EXPECT(rig.frame().ReadProp(Rig::U(ids::分组框_登陆), prop::kDisabled).AsBool());
  EXPECT(!rig.frame().ReadProp(Rig::U(ids::编辑框_IP), prop::kDisabled).AsBool());
  EXPECT(!IsWindowEnabled(rig.Control(ids::分组框_登陆)));
  RECT r{};
  GetWindowRect(rig.Control(ids::编辑框_IP), &r);
  const POINT inEdit{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  EXPECT(WindowFromPoint(inEdit) != rig.Control(ids::编辑框_IP));
  Write(rig, ids::分组框_登陆, prop::kDisabled, Value::Bool(false));
  EXPECT(WindowFromPoint(inEdit) == rig.Control(ids::编辑框_IP));

  // The progress bar shows the position within its range and reads back what was stored.
  HWND bar = rig.Control(ids::进度条1);
  Write(rig, ids::进度条1, prop::kProgressPos, Value::Int(150));
  EXPECT_EQ(Read(rig, ids::进度条1, prop::kProgressPos), 150LL);
  EXPECT_EQ(static_cast<long long>(SendMessageW(bar, PBM_GETPOS, 0, 0)), 100LL);
  Write(rig, ids::进度条1, prop::kProgressPos, Value::Int(-3));
  EXPECT_EQ(Read(rig, ids::进度条1, prop::kProgressPos), 0LL);
  Write(rig, ids::进度条1, prop::kProgressPos, Value::Int(40000));
  EXPECT_EQ(Read(rig, ids::进度条1, prop::kProgressPos), 32767LL);
  Write(rig, ids::进度条1, prop::kProgressPos, Value::Int(42));
  EXPECT_EQ(static_cast<long long>(SendMessageW(bar, PBM_GETPOS, 0, 0)), 42LL);

  // Display state: applied while the window is visible.
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kWindowState), 0LL);
  Write(rig, tw::kMainWindow, prop::kWindowState, Value::Int(2));
  rig.Pump(50);
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kWindowState), 2LL);
  Write(rig, tw::kMainWindow, prop::kWindowState, Value::Int(0));
  rig.Pump(50);
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kWindowState), 0LL);
  Write(rig, tw::kMainWindow, prop::kVisible, Value::Bool(false));
  Write(rig, tw::kMainWindow, prop::kWindowState, Value::Int(2));
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kWindowState), 0LL);
  Write(rig, tw::kMainWindow, prop::kVisible, Value::Bool(true));
  Write(rig, tw::kMainWindow, prop::kLeft, Value::Int(5));
  Write(rig, tw::kMainWindow, prop::kWindowState, Value::Int(1));
  RECT wa{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
  EXPECT_EQ(Read(rig, tw::kMainWindow, prop::kLeft),
            static_cast<long long>(wa.left + (wa.right - wa.left - 875) / 2));

  // The timer ticks at its interval until it is set to 0.
  rig.Take();
  Write(rig, ids::时钟1, prop::kTimerInterval, Value::Int(50));
  rig.Pump(500);
  const int ticks = rig.Count(Handler::ScheduleTick);
  EXPECT(ticks >= 4 && ticks <= 11);
  Write(rig, ids::时钟1, prop::kTimerInterval, Value::Int(0));
  rig.Pump(200);
  EXPECT_EQ(rig.Count(Handler::ScheduleTick), ticks);
}

void TestWindowEvents(Rig& rig) {
  tw::Frame& f = rig.frame();
  HWND main = rig.Main();
  // The tray icon's mouse actions.
  f.SetTrayIcon(tw::kMainWindow, Value::Blob(tw::TidewellIcon()), Value::Str("Tidewell"));
  f.SetTrayIcon(tw::kMainWindow, Value::Blob(tw::TidewellIcon()), Value::Str("Tidewell 2"));
  rig.Take();
  for (UINT mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_CONTEXTMENU, WM_MOUSEMOVE,
                     WM_LBUTTONDOWN}) {
    SendMessageW(main, tw::kMsgTray, tw::kTrayIconId, static_cast<LPARAM>(mouse));
  }
  std::vector<Event> events = rig.Take();
  CheckBalloon(rig);
  EXPECT_EQ(static_cast<int>(events.size()), 4);
  const long long want[] = {1, 2, 3, 3};
  for (std::size_t i = 0; i < events.size() && i < 4; ++i) {
    EXPECT(events[i].handler == Handler::TrayAction);
    EXPECT_EQ(events[i].args.empty() ? -1 : events[i].args[0].Integer(), want[i]);
  }
  // A restarted shell has forgotten the icon; its "TaskbarCreated" broadcast brings it back,
  // which a modify of the shell's icon then proves.
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = main;
  probe.uID = tw::kTrayIconId;
  EXPECT(Shell_NotifyIconW(NIM_DELETE, &probe));
  EXPECT(!Shell_NotifyIconW(NIM_MODIFY, &probe));
  SendMessageW(main, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT(Shell_NotifyIconW(NIM_MODIFY, &probe));
  f.SetTrayIcon(tw::kMainWindow, Value::Blob({1, 2, 3}), {});  // no icon: removed
  f.SetTrayIcon(tw::kMainWindow, Value::Blob({}), {});

  // Close requests: the handler keeps the window.
  SendMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(rig.Count(Handler::HideToTray), 1);
  PostMessageW(rig.Control(ids::编辑框_IP), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::HideToTray), 2);
  SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  rig.Pump();
  EXPECT_EQ(rig.Count(Handler::HideToTray), 3);
  // Enter does nothing; Esc in an open drop-down closes the drop-down only.
  PostMessageW(rig.Control(ids::编辑框_IP), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  HWND combo = rig.Control(ids::组合框_星期);
  f.WriteProp(Rig::U(ids::组合框_星期), prop::kVisible, Value::Bool(true));
  SetFocus(combo);
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  PostMessageW(combo, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::HideToTray), 3);
  EXPECT(!SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT(f.IsLoaded(tw::kMainWindow) && IsWindow(main));

  // A handler that lets the window close: it is destroyed.
  rig.SetCloseResult(Value::Bool(true));
  SendMessageW(main, WM_CLOSE, 0, 0);
  EXPECT(!f.IsLoaded(tw::kMainWindow));
  EXPECT(!IsWindow(main));
}

void TestModalChooser(Rig& rig) {
  tw::Frame& f = rig.frame();
  HWND main = rig.Main();
  bool seen = false;
  rig.After(200, [&] {
    HWND chooser = OwnWindow(L"\x8BF7\x9009\x62E9");  // 请选择
    seen = chooser != nullptr;
    if (!seen) return;
    EXPECT(!IsWindowEnabled(main));
    EXPECT((GetWindowLongW(chooser, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    EXPECT((GetWindowLongW(chooser, GWL_STYLE) & WS_MINIMIZEBOX) == 0);
    HWND owner = GetWindow(chooser, GW_OWNER);
    EXPECT(owner != nullptr && owner != main && !IsWindowVisible(owner));
    EXPECT_EQ(f.ReadProp({tw::kChooserWindow, tw::kChooserWindow}, prop::kWidth).Integer(), 207LL);
    EXPECT_EQ(f.ReadProp({tw::kChooserWindow, tw::kChooserWindow}, prop::kHeight).Integer(), 102LL);
    HWND ip = GetDlgItem(chooser, ids::按钮_IP);
    EXPECT_EQ(tw::WindowText(ip), std::wstring(L"\x672C\x673A"
                                               L"IP"));  // 本机IP
    PostMessageW(ip, BM_CLICK, 0, 0);
  });
  // Never hang: close the chooser from outside if the click did not.
  rig.After(4000, [&] { f.DestroyWindow(tw::kChooserWindow); });
  rig.Take();
  EXPECT(f.LoadWindow(tw::kChooserWindow, tw::kMainWindow, true));
  EXPECT(seen);
  EXPECT(!f.IsLoaded(tw::kChooserWindow));
  EXPECT_EQ(rig.Count(Handler::ChooserIp), 1);
  EXPECT(IsWindowEnabled(main));
  EXPECT(GetActiveWindow() == main);  // the focus returns to the window the chooser came from

  // Esc closes the chooser: no close handler is bound there.
  rig.After(200, [&] {
    HWND chooser = OwnWindow(L"\x8BF7\x9009\x62E9");
    if (chooser != nullptr)
      PostMessageW(GetDlgItem(chooser, ids::按钮_主机名), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  });
  rig.After(4000, [&] { f.DestroyWindow(tw::kChooserWindow); });
  const ULONGLONG start = GetTickCount64();
  EXPECT(f.LoadWindow(tw::kChooserWindow, tw::kMainWindow, true));
  EXPECT(GetTickCount64() - start < 3000);
  EXPECT(!f.IsLoaded(tw::kChooserWindow));
  EXPECT_EQ(rig.Count(Handler::ChooserHostName), 0);
  EXPECT(IsWindowEnabled(main));
}

}  // namespace twtest
