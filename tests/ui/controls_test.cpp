// Control behaviours through the frame's commands on the headless window system: message
// boxes, pop-up menus, combo boxes, the tray icon, the report list, the progress bar, the edit
// fields' input rules, transparent labels and disabled group boxes.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/ui/ui_fixture.h"

namespace tw {
namespace {

class ControlsTest : public UiTest {
 protected:
  void SetUp() override {
    LoadAndShowMain();
    calls.clear();
  }
};

TEST_F(ControlsTest, MessageBoxStylesTitlesAndResults) {
  backend.ScriptMessageBoxAnswers(
      {idb::kYes, idb::kNo, idb::kOk, idb::kCancel, idb::kAbort, idb::kRetry, idb::kIgnore});
  EXPECT_EQ(frame.MsgBox(Value::Str(Gbk("确定退出？")), 4), mb::kYes);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 4), mb::kNo);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 0), mb::kOk);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 1), mb::kCancel);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 2), mb::kAbort);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 2), mb::kRetry);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 2), mb::kIgnore);
  const auto& boxes = backend.MessageBoxes();
  ASSERT_EQ(boxes.size(), 7u);
  EXPECT_EQ(boxes[0].text, Gbk("确定退出？"));
  EXPECT_EQ(boxes[0].title, Gbk("信息："));  // the default title
  EXPECT_EQ(boxes[0].style, 4 | 0x2000);     // task-modal added
  EXPECT_FALSE(boxes[0].owner.has_value());
  EXPECT_TRUE(boxes[0].scripted);

  // Numbers are shown as their text; a system-modal box gets no task-modal flag; an owner and
  // a title are passed on. Unscripted, the first button of the style is pressed.
  EXPECT_EQ(frame.MsgBox(Value::Int(42), 48 | 0x1000, Value::Str(Gbk("提示")), Value::Unit(Main())),
            mb::kOk);
  EXPECT_EQ(frame.MsgBox(Value::Str("q"), 4), mb::kYes);
  ASSERT_EQ(boxes.size(), 9u);
  EXPECT_EQ(boxes[7].text, "42");
  EXPECT_EQ(boxes[7].style, 48 | 0x1000);
  EXPECT_EQ(boxes[7].title, Gbk("提示"));
  EXPECT_EQ(boxes[7].owner, kMainWindow);
  EXPECT_FALSE(boxes[7].scripted);
  EXPECT_EQ(boxes[8].answer, idb::kYes);
}

TEST_F(ControlsTest, AnOpenMessageBoxKeepsTimersRunning) {
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
  backend.ScriptMessageBoxAnswer(idb::kOk, 3000);
  EXPECT_EQ(frame.MsgBox(Value::Str("wait"), 0), mb::kOk);
  EXPECT_EQ(Count(Handler::ScheduleTick), 3);
}

TEST_F(ControlsTest, OpenBoxesAndMenusDeliverWhatIsAlreadyDueHoweverQuicklyAnswered) {
  // A handler that blocks past a tick and then asks something: the box's own loop delivers the
  // tick before the answer comes back, as the platform's does.
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
  int ticksSeenAfterBox = -1;
  int ticksSeenAfterMenu = -1;
  On(Handler::Connect, [&](const std::vector<Value>&) {
    frame.SleepMs(1500);
    EXPECT_EQ(Count(Handler::ScheduleTick), 0);
    frame.MsgBox(Value::Str("now"), 0);
    ticksSeenAfterBox = Count(Handler::ScheduleTick);
    frame.SleepMs(1000);
    frame.PopupMenu(kMainWindow, ids::菜单_列表);
    ticksSeenAfterMenu = Count(Handler::ScheduleTick);
    return Value{};
  });
  EXPECT_TRUE(backend.Click(M(ids::按钮_连接)));
  EXPECT_EQ(ticksSeenAfterBox, 1);
  EXPECT_EQ(ticksSeenAfterMenu, 2);
  EXPECT_EQ(backend.TickMs(), HeadlessBackend::kStartTickMs + 2500);  // no time passed in them
}

TEST_F(ControlsTest, PopupMenusNumberTheirItemsFrom20000) {
  backend.SetCursorPos(100, 200);
  backend.ScriptMenuChoice(MenuChoice::ByCaption(Gbk("刷新")));
  frame.PopupMenu(kMainWindow, ids::菜单_列表);
  backend.RunUntilIdle();
  ASSERT_EQ(backend.Menus().size(), 1u);
  const MenuRecord& list = backend.Menus()[0];
  ASSERT_EQ(list.items.size(), 1u);
  EXPECT_EQ(list.items[0].command, kFirstMenuCommand + 4);
  EXPECT_EQ(list.items[0].caption, Gbk("刷新"));
  EXPECT_EQ(list.x, 103);
  EXPECT_EQ(list.y, 203);
  EXPECT_EQ(list.trackFlags, 2);
  EXPECT_FALSE(list.tray);
  EXPECT_EQ(Count(Handler::MenuRefresh), 1);

  // The tray menu: the window comes to the foreground, the menu opens right-aligned 5 pixels
  // up and left of the cursor; hidden items are left out and disabled ones cannot be chosen.
  frame.WriteProp(M(ids::菜单_显示主菜单), prop::kVisible, Value::Bool(false));
  frame.WriteProp(M(ids::菜单_退出), prop::kDisabled, Value::Bool(true));
  backend.ScriptMenuChoice(MenuChoice::ByCommand(kFirstMenuCommand + 2));
  frame.PopupTrayMenu(kMainWindow, ids::菜单_托盘);
  backend.RunUntilIdle();
  const MenuRecord& tray = backend.Menus()[1];
  ASSERT_EQ(tray.items.size(), 1u);
  EXPECT_EQ(tray.items[0].command, kFirstMenuCommand + 2);
  EXPECT_TRUE(tray.items[0].disabled);
  EXPECT_TRUE(tray.refused);
  EXPECT_EQ(tray.chosen, 0);
  EXPECT_EQ(tray.x, 95);
  EXPECT_EQ(tray.y, 195);
  EXPECT_EQ(tray.trackFlags, 8);
  EXPECT_EQ(backend.Foreground(), kMainWindow);
  EXPECT_EQ(Count(Handler::MenuExit), 0);

  frame.WriteProp(M(ids::菜单_显示主菜单), prop::kVisible, Value::Bool(true));
  frame.WriteProp(M(ids::菜单_退出), prop::kDisabled, Value::Bool(false));
  backend.ScriptMenuChoice(MenuChoice::ByCaption(Gbk("退出")));
  frame.PopupTrayMenu(kMainWindow, ids::菜单_托盘);
  EXPECT_EQ(Count(Handler::MenuExit), 0);  // the command arrives through the loop
  backend.RunUntilIdle();
  EXPECT_EQ(Count(Handler::MenuExit), 1);
  EXPECT_EQ(backend.Menus()[2].items.size(), 2u);
  EXPECT_EQ(backend.Menus()[2].items[0].command, kFirstMenuCommand + 1);

  // Unscripted, the menu is dismissed; a menu of another window or an item shows nothing.
  frame.PopupMenu(kMainWindow, ids::菜单_列表, 7, 9);
  EXPECT_EQ(backend.Menus()[3].x, 7);
  EXPECT_FALSE(backend.Menus()[3].scripted);
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  frame.PopupMenu(kChooserWindow, ids::菜单_列表);
  frame.PopupMenu(kMainWindow, ids::菜单_刷新);
  backend.RunUntilIdle();
  EXPECT_EQ(backend.Menus().size(), 4u);
  EXPECT_EQ(Count(Handler::MenuRefresh), 1);
}

TEST_F(ControlsTest, ComboSelectionByPrefixAndUserChoice) {
  const UnitRef db = M(ids::组合框_库名);
  EXPECT_EQ(frame.ComboAddItem(db, "ABC"), 0);
  EXPECT_EQ(frame.ComboAddItem(db, "ab", 7), 1);
  EXPECT_EQ(frame.ComboItemText(db, 1), "ab");
  EXPECT_EQ(frame.ComboItemText(db, 2), "");
  EXPECT_EQ(frame.ComboItemText(db, -1), "");
  // The first item that begins with the text wins, whatever the letter case.
  EXPECT_EQ(frame.ComboSelectText(db, "ab"), 0);
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), 0);
  EXPECT_EQ(frame.ComboSelectText(db, "x"), -1);
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), 0);  // left unchanged
  frame.WriteProp(db, prop::kComboSelection, Value::Int(1));
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), 1);
  frame.WriteProp(db, prop::kComboSelection, Value::Int(5));
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), -1);
  backend.RunUntilIdle();
  EXPECT_EQ(Count(Handler::DatabaseChosen), 0);  // the program's selections raise nothing

  // Disabled at the start, so the user cannot choose until it is enabled.
  EXPECT_FALSE(backend.ChooseComboItem(db, 1));
  frame.Enable(db, true);
  EXPECT_TRUE(backend.ChooseComboItem(db, 1));
  EXPECT_EQ(Count(Handler::DatabaseChosen), 1);
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), 1);
  frame.ComboClear(db);
  EXPECT_EQ(frame.ReadProp(db, prop::kComboSelection).Integer(), -1);
  EXPECT_EQ(frame.ComboItemText(db, 0), "");
}

TEST_F(ControlsTest, ComboPrefixMatchComparesDoubleByteCharactersWhole) {
  const UnitRef week = M(ids::组合框_星期);
  EXPECT_EQ(frame.ComboSelectText(week, Gbk("星期三")), 2);
  EXPECT_EQ(frame.ComboSelectText(week, Gbk("星期")), 0);
  // Two double-byte characters whose trail bytes are 'A' and 'a' are different characters.
  const UnitRef db = M(ids::组合框_库名);
  frame.ComboAddItem(db, "\x81\x61x");
  EXPECT_EQ(frame.ComboSelectText(db, "\x81\x41"), -1);
  EXPECT_EQ(frame.ComboSelectText(db, "\x81\x61X"), 0);
}

TEST_F(ControlsTest, TrayIconAddModifyRemoveAndMouseActions) {
  const Bytes& icon = TidewellIcon();
  frame.SetTrayIcon(kMainWindow, Value::Blob(icon), Value::Str("Tidewell"));
  frame.SetTrayIcon(kMainWindow, frame.ReadProp(Main(), prop::kWindowIcon), Value::Str("Tidewell"));
  TrayRecord t = backend.Tray(kMainWindow);
  EXPECT_TRUE(t.present);
  EXPECT_EQ(t.adds, 1);  // the second call replaced it in place
  EXPECT_EQ(t.modifies, 1);
  EXPECT_EQ(t.icon, icon);
  EXPECT_EQ(t.tooltip, "Tidewell");

  EXPECT_TRUE(backend.TrayMouse(kMainWindow, wm::kRButtonUp));
  EXPECT_TRUE(backend.TrayMouse(kMainWindow, wm::kContextMenu));
  EXPECT_TRUE(backend.TrayMouse(kMainWindow, wm::kMouseMove));
  EXPECT_TRUE(backend.TrayMouse(kMainWindow, wm::kLButtonDown));
  EXPECT_TRUE(backend.TrayDoubleClick(kMainWindow));
  std::vector<std::int64_t> actions;
  for (const HandlerCall& c : calls) {
    ASSERT_EQ(c.slot, Handler::TrayAction);
    ASSERT_EQ(c.args.size(), 1u);
    EXPECT_EQ(c.args[0].kind(), ValueKind::Int);
    actions.push_back(c.args[0].Integer());
  }
  EXPECT_EQ(actions, (std::vector<std::int64_t>{3, 3, 1, 2, 1}));

  // Bytes that make no icon remove it, as empty bytes do.
  frame.SetTrayIcon(kMainWindow, Value::Blob({1, 2, 3}));
  EXPECT_FALSE(backend.Tray(kMainWindow).present);
  EXPECT_EQ(backend.Tray(kMainWindow).removes, 1);
  EXPECT_FALSE(backend.TrayMouse(kMainWindow, wm::kLButtonUp));
  frame.SetTrayIcon(kMainWindow, Value::Blob({}));
  EXPECT_EQ(backend.Tray(kMainWindow).removes, 1);  // nothing left to remove
  frame.SetTrayIcon(kMainWindow, Value::Blob(icon));
  frame.DestroyWindow(kMainWindow, true);
  EXPECT_FALSE(backend.Tray(kMainWindow).present);
  EXPECT_EQ(backend.Tray(kMainWindow).adds, 2);
  EXPECT_EQ(backend.Tray(kMainWindow).removes, 2);
}

TEST_F(ControlsTest, TrayIconNamedByAFileWithAChineseName) {
  // The program names files in GBK; the file system here keeps its names in UTF-8.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tw-tray-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string utf8Name = (dir / "图标.ico").string();
  {
    std::ofstream out(utf8Name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(TidewellIcon().data()),
              static_cast<std::streamsize>(TidewellIcon().size()));
  }
  frame.SetTrayIcon(kMainWindow, Value::Str(Utf8ToGbk(utf8Name)), Value::Str("Tidewell"));
  EXPECT_TRUE(backend.Tray(kMainWindow).present);
  EXPECT_EQ(backend.Tray(kMainWindow).icon, TidewellIcon());
  // A file that is not there makes no icon: the one shown goes.
  frame.SetTrayIcon(kMainWindow, Value::Str(Utf8ToGbk((dir / "无.ico").string())));
  EXPECT_FALSE(backend.Tray(kMainWindow).present);
  std::filesystem::remove_all(dir);
}

TEST_F(ControlsTest, TrayTooltipIsCutTo62CharactersADoubleByteOneCountingAsOne) {
  const auto tooltipFor = [this](const Text& tip) {
    frame.SetTrayIcon(kMainWindow, Value::Blob(TidewellIcon()), Value::Str(tip));
    return backend.Tray(kMainWindow).tooltip;
  };
  EXPECT_EQ(tooltipFor(Text(70, 'a')), Text(62, 'a'));
  EXPECT_EQ(tooltipFor(Text(62, 'a')), Text(62, 'a'));
  EXPECT_EQ(tooltipFor(Text(61, 'a') + Gbk("潮")), Text(61, 'a') + Gbk("潮"));
  EXPECT_EQ(tooltipFor(Text(62, 'a') + Gbk("潮")), Text(62, 'a'));
  Text chinese;
  for (int i = 0; i < 62; ++i) chinese += Gbk("潮");
  EXPECT_EQ(tooltipFor(chinese + "ab"), chinese);
  EXPECT_EQ(tooltipFor(Gbk("潮汐") + Text(70, 'b')), Gbk("潮汐") + Text(60, 'b'));
  // The euro sign 0x80 is a single byte, and a lead byte left alone at the end one character.
  EXPECT_EQ(tooltipFor(Text(61, 'a') + "\x80" + "b"), Text(61, 'a') + "\x80");
  EXPECT_EQ(tooltipFor(Text(61, 'a') + "\x81"), Text(61, 'a') + "\x81");
}

TEST_F(ControlsTest, ListRowsCellsAndCheckImages) {
  const UnitRef list = M(ids::超级列表框1);
  EXPECT_EQ(frame.ListInsertRow(list), 0);
  EXPECT_EQ(frame.ListInsertRow(list), 1);
  ListInsert first;
  first.position = 0;
  first.text = "top";
  first.checkState = 1;
  EXPECT_EQ(frame.ListInsertRow(list, first), 0);
  ListInsert far;
  far.position = 99;
  EXPECT_EQ(frame.ListInsertRow(list, far), 3);
  EXPECT_EQ(frame.ListRowCount(list), 4);
  EXPECT_EQ(frame.ListCellText(list, 0), "top");
  EXPECT_EQ(frame.ListCheckState(list, 0), 1);
  EXPECT_EQ(frame.ListCheckState(list, 1), 0);  // rows start with an unticked box

  const Text longName(300, 'n');
  frame.ListSetCellText(list, 1, 1, longName);
  frame.ListSetCellText(list, 1, 3, Gbk("清理了"));
  EXPECT_EQ(frame.ListCellText(list, 1, 1), longName);
  EXPECT_EQ(frame.ListCellText(list, 1, 3), Gbk("清理了"));
  frame.ListSetCellText(list, 1, 9, "x");  // no such column
  EXPECT_EQ(frame.ListCellText(list, 1, 9), "");

  // State image = state + 1; below -1 counts as -1; absent removes the box.
  frame.ListSetCheckState(list, 1, 1);
  EXPECT_EQ(frame.ListCheckState(list, 1), 1);
  frame.ListSetCheckState(list, 1, 0);
  EXPECT_EQ(frame.ListCheckState(list, 1), 0);
  frame.ListSetCheckState(list, 1, -7);
  EXPECT_EQ(frame.ListCheckState(list, 1), -1);
  frame.ListSetCheckState(list, 2, std::nullopt);
  EXPECT_EQ(frame.ListCheckState(list, 2), -1);

  // Rows outside the list change nothing and read as empty / no box.
  frame.ListSetCellText(list, 4, 0, "x");
  frame.ListSetCheckState(list, -1, 1);
  EXPECT_EQ(frame.ListCellText(list, 4), "");
  EXPECT_EQ(frame.ListCheckState(list, 4), -1);
  EXPECT_EQ(frame.ListRowCount(list), 4);

  backend.RunUntilIdle();
  EXPECT_EQ(Count(Handler::ListCheckToggled), 0);  // the program's changes raise nothing
  EXPECT_EQ(frame.ReadProp(list, prop::kListSelected).Integer(), -1);
  EXPECT_TRUE(backend.SelectRow(list, 3));
  EXPECT_EQ(frame.ReadProp(list, prop::kListSelected).Integer(), 3);
  frame.ListDeleteAll(list);
  EXPECT_EQ(frame.ListRowCount(list), 0);
  EXPECT_EQ(frame.ReadProp(list, prop::kListSelected).Integer(), -1);
}

TEST_F(ControlsTest, ClicksOnARowCheckBoxReportTheStateAsThePlatformListDoes) {
  const UnitRef list = M(ids::超级列表框1);
  frame.ListInsertRow(list);
  frame.ListInsertRow(list);
  // A left click toggles the box and reports the new state once.
  EXPECT_TRUE(backend.ToggleRowCheck(list, 1));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, Handler::ListCheckToggled);
  ASSERT_EQ(calls[0].args.size(), 2u);
  EXPECT_EQ(calls[0].args[0], Value::Int(1));
  EXPECT_EQ(calls[0].args[1], Value::Int(1));
  // A double click toggles it once and reports twice, for the click and the double click.
  EXPECT_TRUE(backend.ToggleRowCheck(list, 1, MouseButton::Double));
  ASSERT_EQ(calls.size(), 3u);
  for (int i : {1, 2}) {
    EXPECT_EQ(calls[i].slot, Handler::ListCheckToggled);
    EXPECT_EQ(calls[i].args, (std::vector<Value>{Value::Int(1), Value::Int(0)}));
  }
  EXPECT_EQ(frame.ListCheckState(list, 1), 0);
  // A right click leaves the box alone: the right-click event, then the unchanged state.
  frame.ListSetCheckState(list, 0, 1);
  EXPECT_TRUE(backend.ToggleRowCheck(list, 0, MouseButton::Right));
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[3].slot, Handler::ListRightClick);
  EXPECT_EQ(calls[4].slot, Handler::ListCheckToggled);
  EXPECT_EQ(calls[4].args, (std::vector<Value>{Value::Int(0), Value::Int(1)}));
  EXPECT_EQ(frame.ListCheckState(list, 0), 1);
  // A row without a check box has nothing to click on.
  frame.ListSetCheckState(list, 0, std::nullopt);
  EXPECT_FALSE(backend.ToggleRowCheck(list, 0));
  EXPECT_FALSE(backend.ToggleRowCheck(list, 5));
  EXPECT_EQ(calls.size(), 5u);
}

TEST_F(ControlsTest, TheCleanupLabelKeepsTheListFromTakingClicks) {
  const UnitRef list = M(ids::超级列表框1);
  frame.ListInsertRow(list);
  EXPECT_TRUE(backend.RightClickList(list));
  EXPECT_EQ(Count(Handler::ListRightClick), 1);
  // The header strip lies under 透明标签1 for the whole run.
  EXPECT_EQ(backend.HitTest(kMainWindow, 400, 20), ids::透明标签1);
  EXPECT_EQ(backend.HitTest(kMainWindow, 400, 100), ids::超级列表框1);
  frame.WriteProp(M(ids::透明标签_超级列表框), prop::kVisible, Value::Bool(true));
  EXPECT_EQ(backend.HitTest(kMainWindow, 400, 100), ids::透明标签_超级列表框);
  EXPECT_FALSE(backend.RightClickList(list));
  EXPECT_FALSE(backend.ToggleRowCheck(list, 0));
  EXPECT_FALSE(backend.SelectRow(list, 0));
  EXPECT_TRUE(backend.ClickAt(kMainWindow, 400, 100));  // the label takes it, and does nothing
  EXPECT_EQ(Count(Handler::ListRightClick), 1);
  EXPECT_EQ(Count(Handler::ListCheckToggled), 0);
  frame.WriteProp(M(ids::透明标签_超级列表框), prop::kVisible, Value::Bool(false));
  EXPECT_TRUE(backend.ToggleRowCheck(list, 0));
  EXPECT_EQ(Count(Handler::ListCheckToggled), 1);
}

TEST_F(ControlsTest, ADisabledGroupBoxBlocksItsUnitsWithoutDisablingThem) {
  frame.Enable(M(ids::分组框_登陆), false);
  EXPECT_FALSE(backend.Click(M(ids::按钮_连接)));
  EXPECT_FALSE(backend.Type(M(ids::编辑框_IP), "1"));
  EXPECT_FALSE(frame.ReadProp(M(ids::按钮_连接), prop::kDisabled).AsBool());
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_IP), prop::kEditText).AsText(), "");
  frame.Enable(M(ids::分组框_登陆), true);
  EXPECT_TRUE(backend.Click(M(ids::按钮_连接)));
  EXPECT_EQ(Count(Handler::Connect), 1);
  // A click on the group's bare area reaches nothing.
  EXPECT_FALSE(backend.ClickAt(kMainWindow, 8 + 2, 8 + 170));
}

TEST_F(ControlsTest, CheckBoxesToggleAndRadiosExcludeEachOtherOnClick) {
  const UnitRef single = M(ids::单选框_单独), batch = M(ids::单选框_批量);
  EXPECT_TRUE(backend.Click(M(ids::选择框_开机自启)));
  EXPECT_TRUE(frame.ReadProp(M(ids::选择框_开机自启), prop::kChecked).AsBool());
  EXPECT_TRUE(backend.Click(M(ids::选择框_开机自启)));
  EXPECT_FALSE(frame.ReadProp(M(ids::选择框_开机自启), prop::kChecked).AsBool());
  EXPECT_EQ(Count(Handler::AutostartClicked), 2);
  EXPECT_TRUE(backend.Click(batch));
  EXPECT_TRUE(backend.Click(single));
  EXPECT_TRUE(frame.ReadProp(single, prop::kChecked).AsBool());
  EXPECT_FALSE(frame.ReadProp(batch, prop::kChecked).AsBool());
  // The program may set both; only a click unchecks the other.
  frame.WriteProp(batch, prop::kChecked, Value::Bool(true));
  EXPECT_TRUE(frame.ReadProp(single, prop::kChecked).AsBool());
}

TEST_F(ControlsTest, ProgressPositionIsStoredAndShownWithinTheRange) {
  const UnitRef bar = M(ids::进度条1);
  frame.WriteProp(bar, prop::kProgressPos, Value::Int(150));
  EXPECT_EQ(frame.ReadProp(bar, prop::kProgressPos).Integer(), 150);
  EXPECT_EQ(backend.ProgressDisplayed(bar), 100);
  frame.WriteProp(bar, prop::kProgressPos, Value::Int(-3));
  EXPECT_EQ(frame.ReadProp(bar, prop::kProgressPos).Integer(), 0);
  frame.WriteProp(bar, prop::kProgressPos, Value::Int(40000));
  EXPECT_EQ(frame.ReadProp(bar, prop::kProgressPos).Integer(), 32767);
  backend.SetProgressRange(bar, 50, 20);  // shown between the smaller and the larger
  frame.WriteProp(bar, prop::kProgressPos, Value::Int(10));
  EXPECT_EQ(backend.ProgressDisplayed(bar), 20);
}

TEST_F(ControlsTest, HiddenScheduleControlsKeepTheirValues) {
  frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str("15"));
  frame.WriteProp(M(ids::编辑框_时), prop::kEditText, Value::Str("08"));
  frame.WriteProp(M(ids::组合框_星期), prop::kComboSelection, Value::Int(2));
  frame.WriteProp(M(ids::按钮_确定), prop::kDisabled, Value::Bool(true));
  for (int id : {ids::编辑框_日, ids::编辑框_时, ids::组合框_星期, ids::按钮_确定, ids::标签_秒}) {
    EXPECT_FALSE(frame.ReadProp(M(id), prop::kVisible).AsBool()) << id;
    EXPECT_FALSE(backend.Click(M(id))) << id;
  }
  EXPECT_FALSE(backend.Type(M(ids::编辑框_日), "1"));
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_日), prop::kEditText).AsText(), "15");
  frame.WriteProp(M(ids::编辑框_日), prop::kVisible, Value::Bool(true));
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_日), prop::kEditText).AsText(), "15");
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_时), prop::kEditText).AsText(), "08");
  EXPECT_EQ(frame.ReadProp(M(ids::组合框_星期), prop::kComboSelection).Integer(), 2);
  EXPECT_EQ(backend.ComboItems(M(ids::组合框_星期)).size(), 7u);
  EXPECT_TRUE(frame.ReadProp(M(ids::按钮_确定), prop::kDisabled).AsBool());
}

class EditRulesTest : public ControlsTest {
 protected:
  void SetUp() override {
    ControlsTest::SetUp();
    for (int id : {ids::编辑框_日, ids::编辑框_时, ids::编辑框_分, ids::编辑框_秒}) {
      frame.WriteProp(M(id), prop::kVisible, Value::Bool(true));
    }
  }
  Text TextOf(int id) { return frame.ReadProp(M(id), prop::kEditText).AsText(); }
};

TEST_F(EditRulesTest, TimeFieldsTakeTwoDigitsOrMinus) {
  EXPECT_FALSE(backend.Type(M(ids::编辑框_时), "a"));
  EXPECT_EQ(TextOf(ids::编辑框_时), "");
  EXPECT_FALSE(backend.Type(M(ids::编辑框_时), Gbk("一")));
  EXPECT_TRUE(backend.Type(M(ids::编辑框_时), "12"));
  EXPECT_FALSE(backend.Type(M(ids::编辑框_时), "3"));  // a third character is refused
  EXPECT_EQ(TextOf(ids::编辑框_时), "12");
  EXPECT_TRUE(backend.Type(M(ids::编辑框_时), "\b-"));  // Backspace passes
  EXPECT_EQ(TextOf(ids::编辑框_时), "1-");
  EXPECT_TRUE(backend.Type(M(ids::编辑框_分), "5"));
  // The hour field is not rewritten when it loses the focus, even when empty.
  EXPECT_TRUE(backend.Type(M(ids::编辑框_时), "\b\b"));
  EXPECT_TRUE(backend.Focus(M(ids::编辑框_秒)));
  EXPECT_EQ(TextOf(ids::编辑框_时), "");
  EXPECT_EQ(TextOf(ids::编辑框_分), "5");
}

TEST_F(EditRulesTest, DayFieldBecomesAWholeNumberWhenItLosesTheFocus) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "0"}, {"07", "7"}, {"-", "0"}, {"31", "31"}, {"-5", "-5"}, {"5-", "5"}, {"--", "0"}};
  for (const auto& [typed, after] : cases) {
    SCOPED_TRACE(typed);
    frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str(""));
    EXPECT_TRUE(backend.Type(M(ids::编辑框_日), typed));
    EXPECT_EQ(TextOf(ids::编辑框_日), typed);  // untouched while it has the focus
    EXPECT_TRUE(backend.Focus(M(ids::编辑框_时)));
    EXPECT_EQ(TextOf(ids::编辑框_日), after);
  }
  // Clicking a button moves the focus too, before the click is handled.
  On(Handler::SaveSchedule, [this](const std::vector<Value>&) {
    EXPECT_EQ(TextOf(ids::编辑框_日), "9");
    return Value{};
  });
  frame.WriteProp(M(ids::按钮_确定), prop::kVisible, Value::Bool(true));
  EXPECT_TRUE(backend.Type(M(ids::编辑框_日), "\b09"));
  EXPECT_EQ(TextOf(ids::编辑框_日), "09");
  EXPECT_TRUE(backend.Click(M(ids::按钮_确定)));
  EXPECT_EQ(Count(Handler::SaveSchedule), 1);
  // A text the program writes is only rewritten when the field loses the focus.
  frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str(" 08x"));
  EXPECT_EQ(TextOf(ids::编辑框_日), " 08x");
  // Leading blanks are spaces and the controls from tab to carriage return, as on the platform.
  frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str(" \t\n\v\f\r12"));
  EXPECT_TRUE(backend.Focus(M(ids::编辑框_日)));
  EXPECT_TRUE(backend.Focus(M(ids::编辑框_时)));
  EXPECT_EQ(TextOf(ids::编辑框_日), "12");
  frame.WriteProp(M(ids::编辑框_日), prop::kEditText,
                  Value::Str("\x1f"
                             "5"));
  EXPECT_TRUE(backend.Focus(M(ids::编辑框_日)));
  EXPECT_TRUE(backend.Focus(M(ids::编辑框_时)));
  EXPECT_EQ(TextOf(ids::编辑框_日), "0");
}

TEST_F(EditRulesTest, PasswordIsShownMasked) {
  EXPECT_TRUE(backend.Type(M(ids::编辑框_密码), Gbk("pa密码")));
  EXPECT_EQ(TextOf(ids::编辑框_密码), Gbk("pa密码"));
  EXPECT_EQ(backend.DisplayedText(M(ids::编辑框_密码)), "****");
  EXPECT_TRUE(backend.Type(M(ids::编辑框_IP), Gbk("服务器1")));
  EXPECT_EQ(backend.DisplayedText(M(ids::编辑框_IP)), Gbk("服务器1"));
}

}  // namespace
}  // namespace tw
