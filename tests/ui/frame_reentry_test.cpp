// The frame when handlers pump messages: destruction waits for the handler that asked for it,
// windows go with the window that owns them, a quit inside a dialog's loop reaches the outer
// loop, close results, and what happens once a run-time error is being reported.
#include <gmock/gmock.h>

#include <new>
#include <stdexcept>

#include "runtime/services.h"
#include "runtime/text.h"
#include "tests/ui/ui_fixture.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::uint64_t kStart = HeadlessBackend::kStartTickMs;

class ReentryTest : public UiTest {
 protected:
  ReentryTest() {
    frame.SetEndRoutine([this] { ++ended; });
    On(Handler::Startup, [this](const std::vector<Value>&) {
      frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
      return Value{};
    });
  }
  int ended = 0;
};

TEST_F(ReentryTest, ADestroyedWindowStaysWhileItsHandlerPumpsAndGoesWhenItReturns) {
  // The start-up handler asks for the end of the program, then waits on a box (with a timer
  // ticking) and in a pause: the window is there throughout, and goes once the handler is done.
  int ticksWhileLoaded = 0;
  On(Handler::ScheduleTick, [&](const std::vector<Value>&) {
    if (frame.IsLoaded(kMainWindow)) ++ticksWhileLoaded;
    return Value{};
  });
  On(Handler::Startup, [this](const std::vector<Value>&) {
    frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
    frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(300));
    frame.DestroyWindow(kMainWindow);
    backend.ScriptMessageBoxAnswer(idb::kOk, 1000);
    frame.MsgBox(Value::Str("bye"), 0);
    EXPECT_TRUE(frame.IsLoaded(kMainWindow));
    DelayMs(500);
    EXPECT_TRUE(frame.IsLoaded(kMainWindow));
    frame.PopupMenu(kMainWindow, ids::菜单_列表);
    frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Str("still here"));
    return Value{};
  });
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_EQ(ticksWhileLoaded, 5);  // 1500 ms of box and pause at 300 ms
  EXPECT_EQ(backend.TickMs(), kStart + 1500);
  EXPECT_EQ(backend.IdleWaits(), 0);
}

TEST_F(ReentryTest, AClosingDialogPausingInItsOwnHandlerStillEndsItsLoop) {
  bool inHandlerLoaded = false;
  On(Handler::OpenChooser, [this](const std::vector<Value>&) {
    EXPECT_TRUE(frame.LoadWindow(kChooserWindow, kMainWindow, true));
    return Value{};
  });
  On(Handler::ChooserIp, [&](const std::vector<Value>&) {
    frame.DestroyWindow(kChooserWindow);
    DelayMs(200);
    inHandlerLoaded = frame.IsLoaded(kChooserWindow);
    return Value{};
  });
  LoadAndShowMain();
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(C(ids::按钮_IP))); });
  EXPECT_TRUE(backend.Click(M(ids::按钮_获取本机ip)));
  EXPECT_TRUE(inHandlerLoaded);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(frame.ReadProp(Main(), prop::kDisabled).AsBool());
  EXPECT_EQ(backend.TickMs(), kStart + 200);
}

TEST_F(ReentryTest, AWindowAskedToGoBeforeAHandlerOpensADialogOutlivesTheDialog) {
  On(Handler::Connect, [this](const std::vector<Value>&) {
    frame.DestroyWindow(kMainWindow);
    frame.LoadWindow(kChooserWindow, kMainWindow, true);
    EXPECT_TRUE(frame.IsLoaded(kMainWindow));
    return Value{};
  });
  On(Handler::ChooserIp, [this](const std::vector<Value>&) {
    frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Str("10.0.0.1"));
    frame.DestroyWindow(kChooserWindow);
    return Value{};
  });
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(C(ids::按钮_IP))); }, kStart + 100);
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(M(ids::按钮_连接))); });
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(Count(Handler::ChooserIp), 1);
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_EQ(ended, 1);
}

TEST_F(ReentryTest, ACloseRequestDuringAPauseWaitsForThePausingHandler) {
  On(Handler::HideToTray, [](const std::vector<Value>&) { return Value::Bool(true); });
  bool loadedAfterPause = false;
  On(Handler::Connect, [&](const std::vector<Value>&) {
    DelayMs(1000);
    loadedAfterPause = frame.IsLoaded(kMainWindow);
    return Value{};
  });
  LoadAndShowMain();
  backend.ScriptUser([this] { EXPECT_TRUE(backend.CloseBox(kMainWindow)); }, kStart + 300);
  EXPECT_TRUE(backend.Click(M(ids::按钮_连接)));
  EXPECT_TRUE(loadedAfterPause);
  EXPECT_EQ(Count(Handler::HideToTray), 1);
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_TRUE(backend.QuitPending());
}

TEST_F(ReentryTest, ExitChosenFromTheTrayWhileTheChooserIsOpenEndsTheProgram) {
  bool chooserReturned = false;
  On(Handler::Startup, [this](const std::vector<Value>&) {
    frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
    frame.SetTrayIcon(kMainWindow, Value::Blob(TidewellIcon()), Value::Str("Tidewell"));
    return Value{};
  });
  On(Handler::OpenChooser, [&](const std::vector<Value>&) {
    frame.LoadWindow(kChooserWindow, kMainWindow, true);
    chooserReturned = true;
    return Value{};
  });
  On(Handler::TrayAction, [this](const std::vector<Value>& args) {
    if (args.at(0).Integer() == 3) frame.PopupTrayMenu(kMainWindow, ids::菜单_托盘);
    return Value{};
  });
  On(Handler::MenuExit, [this](const std::vector<Value>&) {
    if (frame.MsgBox(Value::Str(Gbk("是否退出程序?")), 4, Value::Str(Gbk("提示:"))) == mb::kYes)
      frame.DestroyWindow(kMainWindow);
    return Value{};
  });
  On(Handler::ChooserIp, [this](const std::vector<Value>&) {
    frame.WriteProp(M(ids::编辑框_IP), prop::kEditText, Value::Str("10.0.0.1"));
    frame.DestroyWindow(kChooserWindow);
    return Value{};
  });
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(M(ids::按钮_获取本机ip))); },
                     kStart + 1000);
  backend.ScriptUser(
      [this] {
        backend.ScriptMenuChoice(MenuChoice::ByCaption(Gbk("退出")));
        backend.ScriptMessageBoxAnswers({idb::kYes});
        EXPECT_TRUE(backend.TrayMouse(kMainWindow, wm::kRButtonUp));
      },
      kStart + 2000);
  // Were the chooser still open on a destroyed main window, this click would write to it.
  backend.ScriptUser([this] { backend.Click(C(ids::按钮_IP)); }, kStart + 3000);
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_TRUE(chooserReturned);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(frame.IsLoaded(kMainWindow));
  EXPECT_EQ(Count(Handler::ChooserIp), 0);
  EXPECT_EQ(backend.TickMs(), kStart + 2000);
  EXPECT_FALSE(backend.Tray(kMainWindow).present);
  EXPECT_EQ(ended, 1);
}

TEST_F(ReentryTest, AQuitInsideTheDialogLoopClosesTheDialogAndReachesTheOuterLoop) {
  int loadResult = -1;
  On(Handler::OpenChooser, [&](const std::vector<Value>&) {
    loadResult = frame.LoadWindow(kChooserWindow, std::nullopt, true) ? 1 : 0;
    EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
    EXPECT_FALSE(frame.ReadProp(Main(), prop::kDisabled).AsBool());
    return Value{};
  });
  backend.ScriptUser([this] { EXPECT_TRUE(backend.Click(M(ids::按钮_获取本机ip))); },
                     kStart + 1000);
  backend.ScriptUser([this] { backend.PostQuit(); }, kStart + 2000);
  EXPECT_EQ(frame.Run(), 0);
  EXPECT_EQ(loadResult, 0);
  EXPECT_TRUE(frame.IsLoaded(kMainWindow));  // the quit destroyed nothing else
  EXPECT_EQ(backend.TickMs(), kStart + 2000);
  EXPECT_EQ(backend.IdleWaits(), 0);
  EXPECT_EQ(ended, 1);
}

TEST_F(ReentryTest, WindowsGoWithTheWindowTheyWereLoadedFor) {
  LoadAndShowMain();
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow));
  frame.DestroyWindow(kMainWindow, true);
  EXPECT_TRUE(frame.IsLoaded(kChooserWindow));  // loaded on its own: nobody's
  frame.DestroyWindow(kChooserWindow, true);

  LoadAndShowMain();
  ASSERT_TRUE(frame.LoadWindow(kChooserWindow, kMainWindow));
  frame.DestroyWindow(kMainWindow, true);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_FALSE(backend.Exists(kChooserWindow));

  // A dialog named without a parent belongs to the main window. (The quit the last window left
  // behind is taken first: it would end the dialog's loop at once.)
  EXPECT_EQ(backend.PumpOne(true), Backend::Pump::Quit);
  LoadAndShowMain();
  int loadResult = -1;
  On(Handler::OpenChooser, [&](const std::vector<Value>&) {
    loadResult = frame.LoadWindow(kChooserWindow, std::nullopt, true) ? 1 : 0;
    return Value{};
  });
  backend.ScriptUser([this] { frame.DestroyWindow(kMainWindow, true); });
  EXPECT_TRUE(backend.Click(M(ids::按钮_获取本机ip)));
  EXPECT_EQ(loadResult, 1);
  EXPECT_FALSE(frame.IsLoaded(kChooserWindow));
  EXPECT_TRUE(backend.QuitPending());
}

TEST_F(ReentryTest, TheCloseProceedsUnlessTheHandlerReturnedAFalseValue) {
  const std::pair<Value, bool> cases[] = {
      {Value{}, true},           {Value::Bool(true), true}, {Value::Bool(false), false},
      {Value::Int(0), false},    {Value::Int(2), true},     {Value::Double(0.5), true},
      {Value::Double(0), false}, {Value::Str("x"), false},
  };
  for (const auto& [result, closes] : cases) {
    SCOPED_TRACE(ToText(result));
    On(Handler::HideToTray, [result = result](const std::vector<Value>&) { return result; });
    LoadAndShowMain();
    EXPECT_TRUE(backend.CloseBox(kMainWindow));
    EXPECT_EQ(frame.IsLoaded(kMainWindow), !closes);
    if (frame.IsLoaded(kMainWindow)) frame.DestroyWindow(kMainWindow, true);
  }
}

using ReentryDeathTest = ReentryTest;

TEST_F(ReentryDeathTest, NothingRunsOnceTheRunTimeErrorIsBeingReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The failing tick leaves a menu choice queued and the timer running; the report stays open
  // for 5 s, long enough for five more ticks.
  On(Handler::ScheduleTick, [this](const std::vector<Value>&) {
    std::fprintf(stderr, "tick %d\n", Count(Handler::ScheduleTick));
    backend.ScriptMenuChoice(MenuChoice::ByCaption(Gbk("刷新")));
    frame.PopupMenu(kMainWindow, ids::菜单_列表);
    frame.DestroyWindow(kMainWindow);
    backend.ScriptMessageBoxAnswer(idb::kOk, 5000);
    frame.ReadProp(C(ids::按钮_IP), prop::kVisible);
    return Value{};
  });
  On(Handler::MenuRefresh, [](const std::vector<Value>&) {
    std::fprintf(stderr, "refresh\n");
    return Value{};
  });
  LoadAndShowMain();
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(1000));
  EXPECT_EXIT(frame.Run(), ::testing::ExitedWithCode(255),
              AllOf(HasSubstr("tick 1\n"), HasSubstr(Gbk("读取组件属性时发现指定窗口尚未载入")),
                    Not(HasSubstr("tick 2")), Not(HasSubstr("refresh"))));
}

TEST_F(ReentryDeathTest, AFailureWhileTheReportIsOpenEndsTheProcessAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LoadAndShowMain();
  backend.ScriptMessageBoxAnswer(idb::kOk, 1000);
  backend.ScriptUser([this] { frame.Fail(err::kNoSuchUnit, "second failure"); }, kStart + 500);
  EXPECT_EXIT(frame.ReadProp(C(ids::按钮_IP), prop::kVisible), ::testing::ExitedWithCode(255),
              AllOf(HasSubstr(Gbk("错误代码：1")), Not(HasSubstr("second failure"))));
}

TEST_F(ReentryDeathTest, ExceptionsEscapingAHandlerBecomeTheRunTimeErrorReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LoadAndShowMain();
  On(Handler::Connect, [](const std::vector<Value>&) -> Value { throw std::bad_alloc(); });
  EXPECT_EXIT(backend.Click(M(ids::按钮_连接)), ::testing::ExitedWithCode(255),
              AllOf(HasSubstr(Gbk("错误代码：11")), HasSubstr(Gbk("分配 0 字节内存失败!"))));
  On(Handler::Connect,
     [](const std::vector<Value>&) -> Value { throw std::runtime_error("disk on fire"); });
  EXPECT_EXIT(backend.Click(M(ids::按钮_连接)), ::testing::ExitedWithCode(255),
              AllOf(HasSubstr(Gbk("错误代码：12")), HasSubstr("disk on fire")));
  On(Handler::Connect, [](const std::vector<Value>&) -> Value { throw 42; });
  EXPECT_EXIT(backend.Click(M(ids::按钮_连接)), ::testing::ExitedWithCode(255),
              HasSubstr(Gbk("错误代码：12")));
  // An end-of-program routine is guarded as well.
  frame.SetEndRoutine([] { throw std::length_error("too long"); });
  frame.DestroyWindow(kMainWindow, true);
  EXPECT_EXIT(frame.Run(), ::testing::ExitedWithCode(255), HasSubstr("too long"));
}

}  // namespace
}  // namespace tw
