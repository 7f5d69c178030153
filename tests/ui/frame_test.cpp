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

}  // namespace
}  // namespace tw
