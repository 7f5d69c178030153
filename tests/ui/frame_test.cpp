// The frame on the headless window system: loading, properties and their type checks, the
// run-time error report, event routing, close requests, destruction, dialogs and timers.
#include <gmock/gmock.h>

#include "tests/ui/ui_fixture.h"

namespace tw {
namespace {

using ::testing::HasSubstr;

TEST_F(UiTest, MainWindowLoadsHiddenWithItsDisabledControls) {
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  EXPECT_TRUE(frame.IsLoaded(kMainWindow));
  EXPECT_FALSE(frame.ReadProp(Main(), prop::kVisible).AsBool());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, Handler::Startup);
  for (int id : {ids::选择框_挂机, ids::按钮_断开, ids::组合框_库名, ids::按钮_单独清理,
                 ids::按钮_一键清理}) {
    EXPECT_TRUE(frame.ReadProp(M(id), prop::kDisabled).AsBool()) << id;
  }
  for (int id : {ids::按钮_连接, ids::编辑框_IP, ids::超级列表框1, ids::分组框_登陆}) {
    EXPECT_FALSE(frame.ReadProp(M(id), prop::kDisabled).AsBool()) << id;
  }
  // Centred on the screen; the stored 50, 50 is not used.
  EXPECT_EQ(frame.ReadProp(Main(), prop::kLeft).Integer(),
            (HeadlessBackend::kScreenWidth - 875) / 2);
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWidth).Integer(), 875);
  EXPECT_EQ(frame.ReadProp(M(ids::超级列表框1), prop::kListSelected).Integer(), -1);
  EXPECT_EQ(frame.ReadProp(M(ids::时钟1), prop::kTimerInterval).Integer(), 0);
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowIcon).AsBytes(), TidewellIcon());
}

TEST_F(UiTest, PropertiesRoundTrip) {
  LoadAndShowMain();
  frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Str(Gbk("服务器")));
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_IP), prop::kEditText).AsText(), Gbk("服务器"));
  frame.WriteProp(M(ids::按钮_一键清理), prop::kCaption, Value::Str(Gbk("正在清理...")));
  EXPECT_EQ(frame.ReadProp(M(ids::按钮_一键清理), prop::kCaption).AsText(), Gbk("正在清理..."));
  frame.WriteProp(M(ids::选择框_每月), prop::kChecked, Value::Bool(true));
  EXPECT_TRUE(frame.ReadProp(M(ids::选择框_每月), prop::kChecked).AsBool());
  frame.Enable(M(ids::按钮_断开), true);
  EXPECT_FALSE(frame.ReadProp(M(ids::按钮_断开), prop::kDisabled).AsBool());
  frame.WriteProp(M(ids::透明标签_超级列表框), prop::kVisible, Value::Bool(true));
  EXPECT_TRUE(frame.ReadProp(M(ids::透明标签_超级列表框), prop::kVisible).AsBool());
  frame.WriteProp(M(ids::按钮_连接), prop::kLeft, Value::Int(5));
  EXPECT_EQ(frame.ReadProp(M(ids::按钮_连接), prop::kLeft).Integer(), 5);
  // A number where a bool goes counts as its truth; tags are kept by the frame.
  frame.WriteProp(M(ids::按钮_连接), prop::kVisible, Value::Int(0));
  EXPECT_FALSE(frame.ReadProp(M(ids::按钮_连接), prop::kVisible).AsBool());
  frame.WriteProp(M(ids::按钮_连接), prop::kTag, Value::Str("t"));
  EXPECT_EQ(frame.ReadProp(M(ids::按钮_连接), prop::kTag).AsText(), "t");
  // Menu items have no window; their flags live in the frame.
  frame.WriteProp(M(ids::菜单_退出), prop::kDisabled, Value::Bool(true));
  EXPECT_TRUE(frame.ReadProp(M(ids::菜单_退出), prop::kDisabled).AsBool());
}

TEST_F(UiTest, WindowDisplayState) {
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  // Hidden: display state writes are not applied.
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(2));
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 0);
  frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(2));
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 2);
  EXPECT_FALSE(backend.Click(M(ids::按钮_连接)));  // nobody clicks into a minimised window
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(0));
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 0);
  frame.WriteProp(Main(), prop::kLeft, Value::Int(0));
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(1));
  EXPECT_EQ(frame.ReadProp(Main(), prop::kLeft).Integer(),
            (HeadlessBackend::kScreenWidth - 875) / 2);
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 0);
}

using UiDeathTest = UiTest;

// The report is the program's own GBK text on standard error, and the exit code is -1.
void ExpectRunTimeError(const std::function<void()>& act, const char* message) {
  const Text expected = Gbk("运行时出错!");
  EXPECT_EXIT(act(), ::testing::ExitedWithCode(255),
              AllOf(HasSubstr(expected), HasSubstr(Gbk("错误代码：")), HasSubstr(Gbk("错误信息：")),
                    HasSubstr(Gbk(message))));
}

TEST_F(UiDeathTest, WrongTypesAndMissingWindowsEndTheProgramWithTheReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  ExpectRunTimeError(
      [this] { frame.WriteProp(M(ids::按钮_连接), prop::kVisible, Value::Str("x")); },
      "欲写入属性的数据类型不正确");
  ExpectRunTimeError([this] { frame.WriteProp(M(ids::按钮_连接), prop::kLeft, Value::Str("12")); },
                     "欲转换数据类型不是数值");
  ExpectRunTimeError([this] { frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Int(1)); },
                     "欲写入属性的数据类型不正确");
  ExpectRunTimeError([this] { frame.ReadProp(C(ids::按钮_IP), prop::kVisible); },
                     "读取组件属性时发现指定窗口尚未载入");
  ExpectRunTimeError(
      [this] { frame.WriteProp(C(ids::按钮_IP), prop::kVisible, Value::Bool(true)); },
      "修改组件属性时发现指定窗口尚未载入");
  ExpectRunTimeError([this] { frame.ReadProp(M(9999), prop::kVisible); }, "未找到所指定的窗口组件");
  ExpectRunTimeError([this] { frame.ComboClear(C(ids::按钮_IP)); },
                     "未载入欲访问窗口组件所在的窗口");
}

TEST_F(UiTest, ClicksReachTheirHandlersWithArguments) {
  LoadAndShowMain();
  calls.clear();
  EXPECT_TRUE(backend.Click(M(ids::按钮_连接)));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, Handler::Connect);
  EXPECT_TRUE(calls[0].args.empty());
  // Disabled at the start: the click does not happen.
  EXPECT_FALSE(backend.Click(M(ids::按钮_断开)));
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(UiTest, CloseRequestIsKeptWhenTheHandlerSaysNo) {
  On(Handler::HideToTray, [this](const std::vector<Value>&) {
    frame.WriteProp(Main(), prop::kVisible, Value::Bool(false));
    return Value::Bool(false);
  });
  LoadAndShowMain();
  EXPECT_TRUE(backend.PressEsc(kMainWindow));
  EXPECT_EQ(Count(Handler::HideToTray), 1);
  EXPECT_TRUE(frame.IsLoaded(kMainWindow));
  EXPECT_FALSE(frame.ReadProp(Main(), prop::kVisible).AsBool());
  EXPECT_FALSE(backend.QuitPending());
  // Hidden now: no close box to press.
  EXPECT_FALSE(backend.CloseBox(kMainWindow));
  EXPECT_EQ(Count(Handler::HideToTray), 1);
}

TEST_F(UiTest, CloseRequestClosesWhenTheHandlerAgreesOrNoneIsBound) {
  On(Handler::HideToTray, [](const std::vector<Value>&) { return Value::Bool(true); });
  LoadAndShowMain();
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  EXPECT_TRUE(backend.PressEsc(kChooserWindow));  // nothing bound: it simply closes
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(backend.QuitPending());
  EXPECT_TRUE(backend.CloseBox(kMainWindow));
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_TRUE(backend.QuitPending());  // the last window is gone
  // Destroying raises no close request.
  EXPECT_EQ(Count(Handler::HideToTray), 1);
}

TEST_F(UiTest, DestroyIsDeferredUntilTheLoopRunsUnlessImmediate) {
  LoadAndShowMain();
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  frame.DestroyWindow(kChooserWindow);
  frame.DestroyWindow(kChooserWindow);  // once marked, a second request changes nothing
  EXPECT_TRUE(frame.IsLoaded(kChooserWindow));
  EXPECT_EQ(backend.PendingMessages(), 1u);
  backend.RunUntilIdle();
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(backend.Exists(kChooserWindow));

  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  frame.DestroyWindow(kChooserWindow, true);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_EQ(backend.PendingMessages(), 0u);
  // Reopened, the chooser starts again from its layout.
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  EXPECT_TRUE(frame.ReadProp(C(ids::按钮_IP), prop::kVisible).AsBool());
  EXPECT_EQ(frame.ReadProp(C(ids::按钮_IP), prop::kCaption).AsText(), Gbk("本机IP"));
}

TEST_F(UiTest, LoadingAnOpenWindowBringsItToTheFront) {
  LoadAndShowMain();
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(2));
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  EXPECT_EQ(Count(Handler::Startup), 1);  // not built a second time
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 0);
  EXPECT_EQ(backend.Foreground(), kMainWindow);
}

TEST_F(UiTest, RunEndsWhenTheLastWindowIsDestroyedAndRunsTheEndRoutine) {
  int ended = 0;
  frame.SetEndRoutine([&ended] { ++ended; });
  On(Handler::Startup, [this](const std::vector<Value>&) {
    frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
    return Value{};
  });
  On(Handler::Connect, [this](const std::vector<Value>&) {
    frame.DestroyWindow(kMainWindow);
    EXPECT_TRUE(frame.IsLoaded(kMainWindow));  // still there until this handler returns
    return Value{};
  });
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(M(ids::按钮_连接))); },
                     HeadlessBackend::kStartTickMs + 5000);
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_EQ(backend.TickMs(), HeadlessBackend::kStartTickMs + 5000);
  EXPECT_EQ(backend.IdleWaits(), 0);  // it ended by the quit request, not by running dry
}

TEST_F(UiTest, ModalChooserDisablesTheMainWindowAndNestsTheLoop) {
  bool returned = false;
  On(Handler::OpenChooser, [&](const std::vector<Value>&) {
    EXPECT_TRUE(frame.LoadWindow(kChooserWindow, kMainWindow, true));
    returned = true;
    return Value{};
  });
  On(Handler::ChooserIp, [this](const std::vector<Value>&) {
    // While the chooser is open the main window takes no input.
    EXPECT_TRUE(frame.ReadProp(Main(), prop::kDisabled).AsBool());
    EXPECT_FALSE(backend.Click(M(ids::按钮_连接)));
    frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Str("10.0.0.1"));
    frame.DestroyWindow(kChooserWindow);
    return Value{};
  });
  LoadAndShowMain();
  backend.ScriptUser([this, &returned] {
    EXPECT_FALSE(returned);  // the loading handler is still waiting in the nested loop
    EXPECT_TRUE(backend.Click(C(ids::按钮_IP)));
  });
  EXPECT_TRUE(backend.Click(M(ids::按钮_获取本机ip)));
  EXPECT_TRUE(returned);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(frame.ReadProp(Main(), prop::kDisabled).AsBool());
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_IP), prop::kEditText).AsText(), "10.0.0.1");
  EXPECT_EQ(Count(Handler::Connect), 0);
  EXPECT_FALSE(backend.QuitPending());
}

TEST_F(UiTest, TimerTicksOnTheVirtualClock) {
  LoadAndShowMain();
  const UnitRef timer = M(ids::时钟1);
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(1000));
  EXPECT_EQ(backend.TimerInterval(timer), 1000);
  backend.RunFor(999);
  EXPECT_EQ(Count(Handler::ScheduleTick), 0);
  backend.RunFor(1);
  EXPECT_EQ(Count(Handler::ScheduleTick), 1);
  backend.RunFor(2500);
  EXPECT_EQ(Count(Handler::ScheduleTick), 3);
  // Writing the same value leaves the running timer alone: the tick due in 500 ms still comes.
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(1000));
  backend.RunFor(500);
  EXPECT_EQ(Count(Handler::ScheduleTick), 4);
  // Another value restarts it.
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(300));
  backend.RunFor(1000);
  EXPECT_EQ(Count(Handler::ScheduleTick), 7);
  // 0, and negative values, stop it.
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(0));
  EXPECT_EQ(backend.TimerInterval(timer), 0);
  backend.RunFor(10000);
  EXPECT_EQ(Count(Handler::ScheduleTick), 7);
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(1000));
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(-5));
  EXPECT_EQ(frame.ReadProp(timer, prop::kTimerInterval).Integer(), 0);
  backend.RunFor(10000);
  EXPECT_EQ(Count(Handler::ScheduleTick), 7);
}

TEST_F(UiTest, TimersAreWaitedForAndStopWithTheirWindow) {
  On(Handler::ScheduleTick, [this](const std::vector<Value>&) {
    if (Count(Handler::ScheduleTick) == 3) frame.DestroyWindow(kMainWindow);
    return Value{};
  });
  LoadAndShowMain();
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
  // The program's own loop waits for the ticks; the third one ends the program.
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(Count(Handler::ScheduleTick), 3);
  EXPECT_EQ(backend.TickMs(), HeadlessBackend::kStartTickMs + 3000);
  EXPECT_EQ(backend.TimerInterval(M(ids::时钟1)), 0);
}

TEST_F(UiTest, SleepingDispatchesNothingAndTheNextTickComesOnceOnly) {
  LoadAndShowMain();
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
  frame.SleepMs(5500);
  EXPECT_EQ(Count(Handler::ScheduleTick), 0);
  frame.DispatchPending();
  EXPECT_EQ(Count(Handler::ScheduleTick), 1);  // late ticks are not made up
  frame.WaitUntil(backend.TickMs() + 10000);
  EXPECT_EQ(backend.TickMs(), HeadlessBackend::kStartTickMs + 6500);  // woke for the tick
  frame.DispatchPending();
  EXPECT_EQ(Count(Handler::ScheduleTick), 2);
}

TEST_F(UiTest, AProgramThatWouldWaitForEverStopsAtTheHorizon) {
  On(Handler::Startup, [this](const std::vector<Value>&) {
    frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
    return Value{};
  });
  backend.SetHorizon(HeadlessBackend::kStartTickMs + 10500);
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(Count(Handler::ScheduleTick), 10);
  EXPECT_EQ(backend.IdleWaits(), 1);
}

TEST_F(UiTest, TheUserActsWhileTheProgramPauses) {
  LoadAndShowMain();
  const std::uint64_t start = backend.TickMs();
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(M(ids::按钮_连接))); }, start + 300);
  // A responsive pause of 1 s: wait, dispatch, wait again until the deadline.
  const std::uint64_t deadline = start + 1000;
  std::uint64_t clickedAt = 0;
  while (frame.TickMs() < deadline) {
    frame.DispatchPending();
    frame.WaitUntil(deadline);
    if (Count(Handler::Connect) == 1 && clickedAt == 0) clickedAt = frame.TickMs();
  }
  EXPECT_EQ(Count(Handler::Connect), 1);
  EXPECT_EQ(clickedAt, start + 300);
  EXPECT_EQ(frame.TickMs(), deadline);
}

}  // namespace
}  // namespace tw
