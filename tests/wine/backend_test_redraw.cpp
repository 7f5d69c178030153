// Win32 backend tests of the list's redraw: a shown list that the program fills paints nothing
// while the program goes on, and everything once the program looks at its queue again.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "tests/wine/backend_test.h"

namespace twtest {
namespace {

namespace ids = tw::ids;
namespace prop = tw::prop;

// Changes a cell behind the backend's back, so that only the list's own redraw state decides
// whether the change asks for a repaint.
bool ChangeAsksForPaint(HWND list) {
  static int changes = 0;
  ValidateRect(list, nullptr);
  // A text the cell does not hold yet: setting the same text again changes nothing to paint.
  std::wstring text = L"changed " + std::to_wstring(++changes);
  LVITEMW item{};
  item.iSubItem = 1;
  item.pszText = text.data();
  SendMessageW(list, LVM_SETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
  return GetUpdateRect(list, nullptr, FALSE) != FALSE;
}

}  // namespace

void TestListRedraw(Rig& rig) {
  tw::Frame& f = rig.frame();
  const tw::UnitRef list = Rig::U(ids::超级列表框1);
  HWND h = rig.Control(ids::超级列表框1);
  rig.Pump();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(f.ListInsertRow(list), i);
    f.ListSetCellText(list, i, 1, "db" + std::to_string(i));
  }
  EXPECT_EQ(f.ListRowCount(list), 200);
  EXPECT_EQ(f.ListCellText(list, 199, 1), std::string("db199"));
  EXPECT(!ChangeAsksForPaint(h));  // quiet while the program fills it

  rig.Pump();
  EXPECT(GetUpdateRect(h, nullptr, FALSE) == FALSE);  // painted once the queue was looked at
  EXPECT(ChangeAsksForPaint(h));                      // and painting as usual again
  rig.Pump();

  // A quiet list still reads as shown, and a property written to it is not lost to its quiet.
  f.ListSetCellText(list, 0, 1, "again");
  EXPECT(f.ReadProp(list, prop::kVisible).AsBool());
  EXPECT((GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0);
  f.ListSetCellText(list, 0, 1, "hidden");
  f.WriteProp(list, prop::kVisible, tw::Value::Bool(false));
  rig.Pump();
  EXPECT(!IsWindowVisible(h));
  f.WriteProp(list, prop::kVisible, tw::Value::Bool(true));
  rig.Pump();
  EXPECT(IsWindowVisible(h));
  EXPECT(ChangeAsksForPaint(h));

  // Emptying the list is a change like any other.
  f.ListDeleteAll(list);
  EXPECT_EQ(f.ListRowCount(list), 0);
  rig.Pump();
}

}  // namespace twtest
