// Win32 backend tests of the controls: clicks through group boxes, check boxes and radio groups,
// edit texts in GBK, the digit field's paste filter, the combo box's commands and its chosen
// event, and the report list view with its check boxes and the transparent labels above it.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "runtime/gbk.h"
#include "tests/wine/backend_test.h"

namespace twtest {
namespace {

using tw::Gbk;
using tw::Handler;
using tw::Value;
namespace ids = tw::ids;
namespace prop = tw::prop;

bool Checked(Rig& rig, int unit) {
  return rig.frame().ReadProp(Rig::U(unit), prop::kChecked).AsBool();
}

void Click(Rig& rig, int unit) {
  SendMessageW(rig.Control(unit), BM_CLICK, 0, 0);
  rig.Pump();
}

// A point on the check box of `row`, in the list's client coordinates.
POINT CheckBoxPoint(HWND list, int row) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  for (int x = bounds.left; x < bounds.left + 40; ++x) {
    LVHITTESTINFO hit{};
    hit.pt = {x, (bounds.top + bounds.bottom) / 2};
    // With full-row selection the rest of the row hits as LVHT_ONITEM, state-icon bit included.
    if (SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
        (hit.flags & LVHT_ONITEM) == LVHT_ONITEMSTATEICON) {
      return hit.pt;
    }
  }
  return {-1, -1};
}

void PostClick(HWND h, POINT pt, bool right) {
  const LPARAM at = MAKELPARAM(pt.x, pt.y);
  PostMessageW(h, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, at);
  PostMessageW(h, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
}

bool PutOnClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (mem != nullptr) {
    auto* p = static_cast<wchar_t*>(GlobalLock(mem));
    std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
    GlobalUnlock(mem);
    if (SetClipboardData(CF_UNICODETEXT, mem) == nullptr) GlobalFree(mem);
  }
  CloseClipboard();
  return mem != nullptr;
}

}  // namespace

void TestControls(Rig& rig) {
  rig.Take();
  // A push button inside a group box: the box passes the notification on to the window.
  Click(rig, ids::按钮_连接);
  EXPECT_EQ(rig.Count(Handler::Connect), 1);
  // A disabled button on the window itself, enabled first.
  rig.frame().Enable(Rig::U(ids::按钮_一键清理), true);
  Click(rig, ids::按钮_一键清理);
  EXPECT_EQ(rig.Count(Handler::CleanAll), 1);

  Click(rig, ids::选择框_开机自启);
  EXPECT_EQ(rig.Count(Handler::AutostartClicked), 1);
  EXPECT(Checked(rig, ids::选择框_开机自启));
  Click(rig, ids::选择框_开机自启);
  EXPECT(!Checked(rig, ids::选择框_开机自启));

  // The two radio buttons form one group: choosing one clears the other.
  Click(rig, ids::单选框_单独);
  EXPECT_EQ(rig.Count(Handler::SingleModeClicked), 1);
  EXPECT(Checked(rig, ids::单选框_单独));
  Click(rig, ids::单选框_批量);
  EXPECT_EQ(rig.Count(Handler::BatchModeClicked), 1);
  EXPECT(Checked(rig, ids::单选框_批量));
  EXPECT(!Checked(rig, ids::单选框_单独));

  // Checks set by the program raise nothing.
  rig.Take();
  rig.frame().WriteProp(Rig::U(ids::选择框_每天), prop::kChecked, Value::Bool(true));
  rig.Pump();
  EXPECT(Checked(rig, ids::选择框_每天));
  EXPECT_EQ(rig.Count(Handler::DailyClicked), 0);

  // Texts go in and come out as the same GBK bytes, and the window shows them as Unicode.
  const tw::Text user = Gbk("管理员 sa");
  rig.frame().WriteProp(Rig::U(ids::编辑框_用户名), prop::kEditText, Value::Str(user));
  EXPECT_EQ(rig.frame().ReadProp(Rig::U(ids::编辑框_用户名), prop::kEditText).AsText(), user);
  EXPECT_EQ(tw::WindowText(rig.Control(ids::编辑框_用户名)),
            std::wstring(L"\x7BA1\x7406\x5458 sa"));
  rig.frame().WriteProp(Rig::U(ids::编辑框_密码), prop::kEditText, Value::Str("p@ss"));
  EXPECT_EQ(rig.frame().ReadProp(Rig::U(ids::编辑框_密码), prop::kEditText).AsText(),
            std::string("p@ss"));
  EXPECT_EQ(static_cast<int>(SendMessageW(rig.Control(ids::编辑框_密码), EM_GETPASSWORDCHAR, 0, 0)),
            '*');
  rig.frame().WriteProp(Rig::U(ids::按钮_连接), prop::kCaption, Value::Str(Gbk("重新连接")));
  EXPECT_EQ(rig.frame().ReadProp(Rig::U(ids::按钮_连接), prop::kCaption).AsText(), Gbk("重新连接"));

  // Pasting into a digit field keeps the digits that fit.
  HWND seconds = rig.Control(ids::编辑框_秒);
  if (PutOnClipboard(rig.Main(), L"1a2b3")) {
    SetWindowTextW(seconds, L"");
    SendMessageW(seconds, WM_PASTE, 0, 0);
    EXPECT_EQ(tw::WindowText(seconds), std::wstring(L"12"));
  }

  // The whole-number field rewrites itself when the focus really moves on.
  rig.frame().WriteProp(Rig::U(ids::编辑框_日), prop::kVisible, Value::Bool(true));
  HWND day = rig.Control(ids::编辑框_日);
  SetFocus(day);
  SetWindowTextW(day, L"07");
  SetFocus(rig.Control(ids::编辑框_IP));
  rig.Pump();
  EXPECT_EQ(tw::WindowText(day), std::wstring(L"7"));

  // Tab walks from a field to the next unit that takes the focus, inside its group box.
  SetFocus(rig.Control(ids::编辑框_IP));
  PostMessageW(rig.Control(ids::编辑框_IP), WM_KEYDOWN, VK_TAB, 0x000F0001);
  rig.Pump(50);
  EXPECT(GetFocus() == rig.Control(ids::按钮_获取本机ip));
}

void TestCombo(Rig& rig) {
  const tw::UnitRef combo = Rig::U(ids::组合框_库名);
  HWND h = rig.Control(ids::组合框_库名);
  tw::Frame& f = rig.frame();
  f.Enable(combo, true);
  EXPECT_EQ(f.ComboAddItem(combo, "ABC"), 0);
  EXPECT_EQ(f.ComboAddItem(combo, "ab"), 1);
  EXPECT_EQ(f.ComboAddItem(combo, Gbk("数据库"), 7), 2);
  EXPECT_EQ(f.ComboItemText(combo, 1), std::string("ab"));
  EXPECT_EQ(f.ComboItemText(combo, 2), Gbk("数据库"));
  EXPECT_EQ(f.ComboItemText(combo, 3), std::string());
  EXPECT_EQ(f.ComboItemText(combo, -1), std::string());
  EXPECT_EQ(static_cast<long long>(SendMessageW(h, CB_GETITEMDATA, 2, 0)), 7LL);
  // The first item that begins with the text, letter case aside.
  EXPECT_EQ(f.ComboSelectText(combo, "ab"), 0);
  EXPECT_EQ(f.ReadProp(combo, prop::kComboSelection).Integer(), 0LL);
  EXPECT_EQ(f.ComboSelectText(combo, "zz"), -1);
  EXPECT_EQ(f.ReadProp(combo, prop::kComboSelection).Integer(), 0LL);
  EXPECT_EQ(f.ComboSelectText(combo, Gbk("数据")), 2);
  f.WriteProp(combo, prop::kComboSelection, Value::Int(1));
  EXPECT_EQ(f.ReadProp(combo, prop::kComboSelection).Integer(), 1LL);
  rig.Pump();
  EXPECT_EQ(rig.Count(Handler::DatabaseChosen), 0);  // the program's choices raise nothing

  // The user's choice is raised once the combo box is done with its notification.
  rig.Take();
  SendMessageW(GetParent(h), WM_COMMAND, MAKEWPARAM(ids::组合框_库名, CBN_SELENDOK),
               reinterpret_cast<LPARAM>(h));
  EXPECT_EQ(rig.Count(Handler::DatabaseChosen), 0);
  rig.Pump();
  EXPECT_EQ(rig.Count(Handler::DatabaseChosen), 1);
  // The same through the drop-down and the keyboard.
  SendMessageW(h, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(h, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::DatabaseChosen), 2);
  EXPECT_EQ(f.ReadProp(combo, prop::kComboSelection).Integer(), 2LL);
  EXPECT_EQ(f.ReadProp(combo, prop::kHeight).Integer(), 24LL);
  // With many items the drop-down shows at least 160 pixels of them.
  for (int i = 0; i < 30; ++i) f.ComboAddItem(combo, "db" + std::to_string(i));
  SendMessageW(h, CB_SHOWDROPDOWN, TRUE, 0);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  RECT dropped{};
  if (EXPECT(GetComboBoxInfo(h, &info) && info.hwndList != nullptr))
    GetWindowRect(info.hwndList, &dropped);
  EXPECT(dropped.bottom - dropped.top >= tw::kComboDropHeight);
  SendMessageW(h, CB_SHOWDROPDOWN, FALSE, 0);

  f.ComboClear(combo);
  EXPECT_EQ(f.ReadProp(combo, prop::kComboSelection).Integer(), -1LL);
  EXPECT_EQ(f.ComboItemText(combo, 0), std::string());

  const tw::UnitRef weekday = Rig::U(ids::组合框_星期);
  EXPECT_EQ(f.ComboItemText(weekday, 0), Gbk("星期一"));
  EXPECT_EQ(f.ComboSelectText(weekday, Gbk("星期日")), 6);
}

void TestList(Rig& rig) {
  tw::Frame& f = rig.frame();
  const tw::UnitRef list = Rig::U(ids::超级列表框1);
  HWND h = rig.Control(ids::超级列表框1);
  EXPECT_EQ(f.ListRowCount(list), 0);
  EXPECT_EQ(f.ReadProp(list, prop::kListSelected).Integer(), -1LL);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f.ListInsertRow(list), i);
  f.ListSetCellText(list, 0, 1, "master");
  f.ListSetCellText(list, 1, 1, Gbk("库二"));
  EXPECT_EQ(f.ListCellText(list, 0, 1), std::string("master"));
  EXPECT_EQ(f.ListCellText(list, 1, 1), Gbk("库二"));
  const tw::Text longText = std::string(5000, 'x') + Gbk("尾");
  f.ListSetCellText(list, 2, 3, longText);
  EXPECT_EQ(f.ListCellText(list, 2, 3), longText);
  // Rows outside the list: nothing changes, nothing is read.
  f.ListSetCellText(list, 9, 1, "nine");
  EXPECT_EQ(f.ListRowCount(list), 3);
  EXPECT_EQ(f.ListCellText(list, 9, 1), std::string());
  EXPECT_EQ(f.ListCheckState(list, 9), -1);
  EXPECT_EQ(f.ListCheckState(list, -1), -1);

  // Check states: image - 1, set by the program without any event.
  rig.Take();
  EXPECT_EQ(f.ListCheckState(list, 1), 0);
  f.ListSetCheckState(list, 1, 1);
  EXPECT_EQ(f.ListCheckState(list, 1), 1);
  f.ListSetCheckState(list, 1, {});
  EXPECT_EQ(f.ListCheckState(list, 1), -1);
  f.ListSetCheckState(list, 1, -7);
  EXPECT_EQ(f.ListCheckState(list, 1), -1);
  f.ListSetCheckState(list, 1, 0);
  EXPECT_EQ(f.ListCheckState(list, 1), 0);
  rig.Pump();
  EXPECT_EQ(rig.Count(Handler::ListCheckToggled), 0);

  // The user's click on a row's check box: one event with the state after the toggle.
  const POINT box = CheckBoxPoint(h, 0);
  EXPECT(box.x >= 0);
  PostClick(h, box, false);
  rig.Pump(50);
  std::vector<Event> events = rig.Take();
  EXPECT_EQ(static_cast<int>(events.size()), 1);
  if (events.size() == 1) {
    EXPECT(events[0].handler == Handler::ListCheckToggled);
    EXPECT_EQ(events[0].args.size() == 2 ? events[0].args[0].Integer() : -9, 0LL);
    EXPECT_EQ(events[0].args.size() == 2 ? events[0].args[1].Integer() : -9, 1LL);
  }
  EXPECT_EQ(f.ListCheckState(list, 0), 1);
  PostClick(h, box, false);
  rig.Pump(50);
  events = rig.Take();
  EXPECT(events.size() == 1 && events[0].args.size() == 2 && events[0].args[1].Integer() == 0);

  // A right click on the box leaves it alone: the right-click event, then the state as it is.
  PostClick(h, box, true);
  rig.Pump(50);
  events = rig.Take();
  EXPECT_EQ(static_cast<int>(events.size()), 2);
  if (events.size() == 2) {
    EXPECT(events[0].handler == Handler::ListRightClick);
    EXPECT(events[1].handler == Handler::ListCheckToggled);
    EXPECT(events[1].args == (std::vector<Value>{Value::Int(0), Value::Int(0)}));
  }
  EXPECT_EQ(f.ListCheckState(list, 0), 0);
  // A double click toggles it once and reports twice, for the click and the double click.
  const LPARAM at = MAKELPARAM(box.x, box.y);
  PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(h, WM_LBUTTONUP, 0, at);
  PostMessageW(h, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(h, WM_LBUTTONUP, 0, at);
  rig.Pump(50);
  events = rig.Take();
  EXPECT_EQ(static_cast<int>(events.size()), 2);
  for (const Event& e : events) {
    EXPECT(e.handler == Handler::ListCheckToggled);
    EXPECT(e.args == (std::vector<Value>{Value::Int(0), Value::Int(1)}));
  }
  EXPECT_EQ(f.ListCheckState(list, 0), 1);
  f.ListSetCheckState(list, 0, 0);

  // A click on the text selects the row and raises no event 8; a right click raises event 5.
  RECT text{};
  text.left = LVIR_LABEL;
  SendMessageW(h, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&text));
  const POINT middle{(text.left + text.right) / 2, (text.top + text.bottom) / 2};
  PostClick(h, middle, false);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::ListCheckToggled), 0);
  EXPECT_EQ(f.ReadProp(list, prop::kListSelected).Integer(), 2LL);
  PostClick(h, middle, true);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::ListRightClick), 1);
  EXPECT_EQ(rig.Count(Handler::ListCheckToggled), 0);
  // The same in a further column, which full-row selection hits as the whole item.
  rig.Take();
  RECT cell{};
  cell.top = 1;
  cell.left = LVIR_LABEL;
  SendMessageW(h, LVM_GETSUBITEMRECT, 2, reinterpret_cast<LPARAM>(&cell));
  const POINT inCell{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
  PostClick(h, inCell, false);
  PostClick(h, inCell, true);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::ListRightClick), 1);
  EXPECT_EQ(rig.Count(Handler::ListCheckToggled), 0);
  EXPECT_EQ(f.ListCheckState(list, 2), 0);

  tw::ListInsert first;
  first.position = 0;
  first.text = "first";
  first.checkState = 1;
  first.data = 99;
  EXPECT_EQ(f.ListInsertRow(list, first), 0);
  EXPECT_EQ(f.ListCellText(list, 0), std::string("first"));
  EXPECT_EQ(f.ListCheckState(list, 0), 1);
  EXPECT_EQ(f.ListRowCount(list), 4);

  // The transparent labels take the clicks in their rectangles while they are shown.
  RECT r{};
  GetWindowRect(h, &r);
  const POINT header{r.left + 100, r.top + 10};
  const POINT rows{r.left + 200, r.top + 100};
  EXPECT(WindowFromPoint(header) == rig.Control(ids::透明标签1));
  EXPECT(WindowFromPoint(rows) == h);
  f.WriteProp(Rig::U(ids::透明标签_超级列表框), prop::kVisible, Value::Bool(true));
  EXPECT(WindowFromPoint(rows) == rig.Control(ids::透明标签_超级列表框));
  f.WriteProp(Rig::U(ids::透明标签_超级列表框), prop::kVisible, Value::Bool(false));
  EXPECT(WindowFromPoint(rows) == h);

  f.ListDeleteAll(list);
  EXPECT_EQ(f.ListRowCount(list), 0);
  EXPECT_EQ(f.ReadProp(list, prop::kListSelected).Integer(), -1LL);
}

}  // namespace twtest
