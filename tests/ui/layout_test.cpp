// The static layout of the two windows and the menus: every unit with its numbers, captions and
// flags, the stacking order, items, columns, fonts, input rules and event bindings, and the icon.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "runtime/gbk.h"
#include "ui/layout.h"

namespace tw {
namespace {

using K = UnitKind;

struct Expected {
  int id;
  K kind;
  const char* name;
  int container;
  int left, top, width, height;
  bool visible, disabled;
  const char* caption;
};

// The main window's units as the designer laid them out.
const Expected kMainUnits[] = {
    {ids::分组框_登陆, K::GroupBox, "分组框_登陆", 0, 8, 8, 304, 176, true, false, "登陆"},
    {ids::标签1, K::Label, "标签1", ids::分组框_登陆, 8, 17, 64, 32, true, false, "数据库IP："},
    {ids::编辑框_IP, K::Edit, "编辑框_IP", ids::分组框_登陆, 72, 17, 160, 32, true, false, ""},
    {ids::按钮_获取本机ip, K::Button, "按钮_获取本机ip", ids::分组框_登陆, 240, 17, 48, 32, true,
     false, "本机"},
    {ids::标签2, K::Label, "标签2", ids::分组框_登陆, 16, 57, 56, 32, true, false, "用户名："},
    {ids::编辑框_用户名, K::Edit, "编辑框_用户名", ids::分组框_登陆, 72, 57, 160, 32, true, false,
     ""},
    {ids::标签3, K::Label, "标签3", ids::分组框_登陆, 24, 97, 48, 32, true, false, "密码："},
    {ids::编辑框_密码, K::Edit, "编辑框_密码", ids::分组框_登陆, 72, 97, 160, 32, true, false, ""},
    {ids::选择框_挂机, K::CheckBox, "选择框_挂机", ids::分组框_登陆, 243, 94, 50, 40, true, true,
     "挂机"},
    {ids::按钮_连接, K::Button, "按钮_连接", ids::分组框_登陆, 72, 134, 72, 32, true, false,
     "连接"},
    {ids::按钮_断开, K::Button, "按钮_断开", ids::分组框_登陆, 160, 134, 72, 32, true, true,
     "断开"},
    {ids::分组框_单独清理, K::GroupBox, "分组框_单独清理", 0, 8, 184, 304, 80, true, false,
     "单独清理"},
    {ids::组合框_库名, K::Combo, "组合框_库名", ids::分组框_单独清理, 8, 24, 176, 24, true, true,
     ""},
    {ids::按钮_单独清理, K::Button, "按钮_单独清理", ids::分组框_单独清理, 209, 22, 80, 29, true,
     true, "清理"},
    {ids::进度条1, K::Progress, "进度条1", ids::分组框_单独清理, 8, 56, 282, 16, true, false, ""},
    {ids::分组框_定时, K::GroupBox, "分组框_定时", 0, 8, 265, 304, 80, true, false, "定时"},
    {ids::选择框_每月, K::CheckBox, "选择框_每月", ids::分组框_定时, 8, 21, 72, 16, true, false,
     "每月一次"},
    {ids::选择框_每周, K::CheckBox, "选择框_每周", ids::分组框_定时, 8, 37, 72, 16, true, false,
     "每周一次"},
    {ids::选择框_每天, K::CheckBox, "选择框_每天", ids::分组框_定时, 8, 53, 72, 16, true, false,
     "每天一次"},
    {ids::编辑框_日, K::Edit, "编辑框_日", ids::分组框_定时, 82, 21, 20, 20, false, false, ""},
    {ids::标签_日, K::Label, "标签_日", ids::分组框_定时, 102, 19, 16, 24, false, false, "日"},
    {ids::组合框_星期, K::Combo, "组合框_星期", ids::分组框_定时, 82, 21, 64, 20, false, false, ""},
    {ids::编辑框_时, K::Edit, "编辑框_时", ids::分组框_定时, 82, 47, 20, 20, false, false, ""},
    {ids::标签_时, K::Label, "标签_时", ids::分组框_定时, 103, 46, 16, 24, false, false, "时"},
    {ids::编辑框_分, K::Edit, "编辑框_分", ids::分组框_定时, 120, 47, 20, 20, false, false, ""},
    {ids::标签_分, K::Label, "标签_分", ids::分组框_定时, 141, 46, 16, 24, false, false, "分"},
    {ids::编辑框_秒, K::Edit, "编辑框_秒", ids::分组框_定时, 159, 47, 20, 20, false, false, ""},
    {ids::标签_秒, K::Label, "标签_秒", ids::分组框_定时, 180, 46, 16, 24, false, false, "秒"},
    {ids::按钮_确定, K::Button, "按钮_确定", ids::分组框_定时, 201, 45, 40, 22, false, false,
     "确定"},
    {ids::单选框_单独, K::Radio, "单选框_单独", ids::分组框_定时, 199, 9, 48, 24, true, false,
     "单独"},
    {ids::单选框_批量, K::Radio, "单选框_批量", ids::分组框_定时, 247, 9, 48, 24, true, false,
     "批量"},
    {ids::选择框_开机自启, K::CheckBox, "选择框_开机自启", 0, 9, 348, 72, 24, true, false,
     "开机自启"},
    {ids::超级列表框1, K::ListView, "超级列表框1", 0, 314, 15, 550, 329, true, false, ""},
    {ids::透明标签1, K::TransparentLabel, "透明标签1", 0, 318, 8, 560, 32, true, false, ""},
    {ids::透明标签_超级列表框, K::TransparentLabel, "透明标签_超级列表框", 0, 320, 16, 544, 328,
     false, false, ""},
    {ids::按钮_一键清理, K::Button, "按钮_一键清理", 0, 784, 344, 80, 28, true, true, "一键清理"},
    {ids::外部数据库_主, K::Database, "外部数据库_主", 0, 696, 345, 24, 24, false, false, ""},
    {ids::时钟1, K::Timer, "时钟1", 0, 720, 345, 24, 24, false, false, ""},
    {ids::外部数据库_辅, K::Database, "外部数据库_辅", 0, 744, 345, 24, 24, false, false, ""},
};

void ExpectUnit(const WindowLayout& w, const Expected& e) {
  SCOPED_TRACE(e.name);
  const UnitLayout* u = w.Find(e.id);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->kind, e.kind);
  EXPECT_EQ(u->name, Gbk(e.name));
  EXPECT_EQ(u->container, e.container);
  EXPECT_EQ(u->left, e.left);
  EXPECT_EQ(u->top, e.top);
  EXPECT_EQ(u->width, e.width);
  EXPECT_EQ(u->height, e.height);
  EXPECT_EQ(u->Visible(), e.visible);
  EXPECT_EQ(u->Disabled(), e.disabled);
  EXPECT_EQ(u->caption, Gbk(e.caption));
  // Everything the user operates takes focus by Tab; labels, boxes and the bar do not.
  const bool tab = e.kind == K::Button || e.kind == K::Edit || e.kind == K::Combo ||
                   e.kind == K::CheckBox || e.kind == K::Radio || e.kind == K::ListView;
  EXPECT_EQ((u->flags & kFlagTabStop) != 0, tab);
}

TEST(Layout, MainWindowHoldsEveryUnitWithItsNumbers) {
  const WindowLayout& w = MainWindowLayout();
  for (const Expected& e : kMainUnits) ExpectUnit(w, e);
  // The window, the units above and five menu units; nothing else.
  EXPECT_EQ(w.units.size(), 1 + std::size(kMainUnits) + 5);
}

TEST(Layout, MainWindowFrame) {
  const WindowLayout& w = MainWindowLayout();
  const UnitLayout& self = w.Window();
  EXPECT_EQ(w.id, kMainWindow);
  EXPECT_EQ(self.id, kMainWindow);
  EXPECT_EQ(self.kind, K::Window);
  EXPECT_TRUE(self.name.empty());
  EXPECT_EQ(self.caption, Gbk("Tidewell v2.12   编译日期：2020.10.8"));
  EXPECT_EQ(self.width, 875);
  EXPECT_EQ(self.height, 402);
  EXPECT_FALSE(self.Visible());
  EXPECT_TRUE(w.centred);
  EXPECT_TRUE(w.minimizeBox);
  EXPECT_TRUE(w.taskbarButton);
  EXPECT_FALSE(w.topmost);
  EXPECT_TRUE(w.escCloses);
  EXPECT_TRUE(w.hasIcon);
}

TEST(Layout, ChooserWindow) {
  const WindowLayout& w = ChooserWindowLayout();
  const UnitLayout& self = w.Window();
  EXPECT_EQ(w.id, kChooserWindow);
  EXPECT_EQ(self.caption, Gbk("请选择"));
  EXPECT_EQ(self.width, 207);
  EXPECT_EQ(self.height, 102);
  EXPECT_TRUE(self.Visible());
  EXPECT_TRUE(self.events.empty());
  EXPECT_TRUE(w.centred);
  EXPECT_FALSE(w.minimizeBox);
  EXPECT_FALSE(w.taskbarButton);
  EXPECT_TRUE(w.topmost);
  EXPECT_TRUE(w.escCloses);
  EXPECT_FALSE(w.hasIcon);
  ASSERT_EQ(w.units.size(), 3u);
  const Expected buttons[] = {
      {ids::按钮_主机名, K::Button, "按钮_主机名", 0, 8, 8, 88, 56, true, false, "主机名"},
      {ids::按钮_IP, K::Button, "按钮_IP", 0, 104, 8, 88, 56, true, false, "本机IP"},
  };
  for (const Expected& e : buttons) ExpectUnit(w, e);
}

TEST(Layout, LookUps) {
  EXPECT_EQ(LayoutOf(kMainWindow), &MainWindowLayout());
  EXPECT_EQ(LayoutOf(kChooserWindow), &ChooserWindowLayout());
  EXPECT_EQ(LayoutOf(99), nullptr);
  EXPECT_EQ(MainWindowLayout().Find(ids::按钮_IP), nullptr);
  EXPECT_EQ(MainWindowLayout().Find(ids::时钟1)->kind, K::Timer);
}

TEST(Layout, IdsAndNamesAreUniqueInTheProgram) {
  std::set<int> seen;
  std::set<Text> names;
  for (const WindowLayout* w : {&MainWindowLayout(), &ChooserWindowLayout()}) {
    for (const UnitLayout& u : w->units) {
      EXPECT_TRUE(seen.insert(u.id).second) << u.id;
      if (!u.name.empty()) {
        EXPECT_TRUE(names.insert(u.name).second) << GbkToUtf8(u.name);
      }
    }
  }
}

TEST(Layout, WindowLevelStackingPutsTheTransparentLabelsAboveTheList) {
  const std::vector<int> expected = {
      ids::透明标签_超级列表框, ids::透明标签1,   ids::按钮_一键清理, ids::分组框_单独清理,
      ids::选择框_开机自启,     ids::超级列表框1, ids::分组框_登陆,   ids::分组框_定时};
  EXPECT_EQ(MainWindowLayout().TopLevelOrder(), expected);
  EXPECT_EQ(ChooserWindowLayout().TopLevelOrder(),
            (std::vector<int>{ids::按钮_主机名, ids::按钮_IP}));
}

TEST(Layout, GroupBoxUnitsKeepTheirTableOrder) {
  // Within each group, the stored order is the designer's table order.
  std::map<int, std::vector<int>> inGroup;
  for (const UnitLayout& u : MainWindowLayout().units) {
    if (u.container != 0) inGroup[u.container].push_back(u.id);
  }
  std::map<int, std::vector<int>> expected;
  for (const Expected& e : kMainUnits) {
    if (e.container != 0) expected[e.container].push_back(e.id);
  }
  EXPECT_EQ(inGroup, expected);
}

TEST(Layout, EveryBindingReachesAHandlerSlotAndEverySlotIsBoundOnce) {
  std::map<Handler, int> bound;
  for (const WindowLayout* w : {&MainWindowLayout(), &ChooserWindowLayout()}) {
    for (const UnitLayout& u : w->units) {
      for (const EventBinding& b : u.events) {
        EXPECT_NE(b.handler, Handler::None);
        EXPECT_LT(static_cast<int>(b.handler), static_cast<int>(Handler::Count));
        ++bound[b.handler];
      }
    }
  }
  for (int h = static_cast<int>(Handler::None) + 1; h < static_cast<int>(Handler::Count); ++h) {
    EXPECT_EQ(bound[static_cast<Handler>(h)], 1) << "handler slot " << h;
  }
}

TEST(Layout, EventNumbersOfTheBindings) {
  const WindowLayout& w = MainWindowLayout();
  auto binding = [&w](int id) { return w.Find(id)->events; };
  using B = std::vector<EventBinding>;
  auto eq = [](const B& a, const B& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].event != b[i].event || a[i].handler != b[i].handler) return false;
    }
    return true;
  };
  EXPECT_TRUE(eq(binding(kMainWindow),
                 B{{0, Handler::Startup}, {1, Handler::HideToTray}, {9, Handler::TrayAction}}));
  EXPECT_TRUE(eq(binding(ids::超级列表框1),
                 B{{8, Handler::ListCheckToggled}, {5, Handler::ListRightClick}}));
  EXPECT_TRUE(eq(binding(ids::组合框_库名), B{{0, Handler::DatabaseChosen}}));
  EXPECT_TRUE(eq(binding(ids::时钟1), B{{0, Handler::ScheduleTick}}));
  EXPECT_TRUE(eq(binding(ids::按钮_确定), B{{0, Handler::SaveSchedule}}));
  EXPECT_TRUE(binding(ids::组合框_星期).empty());
  EXPECT_TRUE(binding(ids::编辑框_日).empty());
}

TEST(Layout, MenusInMenuOrder) {
  struct M {
    int id, level;
    const char* caption;
    std::uint32_t flags;
    Handler handler;
  };
  const M expected[] = {{ids::菜单_托盘, 0, "托盘菜单", kMenuHidden, Handler::None},
                        {ids::菜单_显示主菜单, 1, "显示主菜单", 0, Handler::MenuShowMain},
                        {ids::菜单_退出, 1, "退出", 0, Handler::MenuExit},
                        {ids::菜单_列表, 0, "菜单", kMenuHidden, Handler::None},
                        {ids::菜单_刷新, 1, "刷新", 0, Handler::MenuRefresh}};
  std::vector<const UnitLayout*> menus;
  for (const UnitLayout& u : MainWindowLayout().units) {
    if (u.kind == K::Menu) menus.push_back(&u);
  }
  ASSERT_EQ(menus.size(), std::size(expected));
  for (std::size_t i = 0; i < menus.size(); ++i) {
    SCOPED_TRACE(expected[i].caption);
    EXPECT_EQ(menus[i]->id, expected[i].id);
    EXPECT_EQ(menus[i]->menuLevel, expected[i].level);
    EXPECT_EQ(menus[i]->caption, Gbk(expected[i].caption));
    EXPECT_EQ(menus[i]->menuFlags, expected[i].flags);
    EXPECT_TRUE(menus[i]->name.empty());
    if (expected[i].handler == Handler::None) {
      EXPECT_TRUE(menus[i]->events.empty());
    } else {
      ASSERT_EQ(menus[i]->events.size(), 1u);
      EXPECT_EQ(menus[i]->events[0].handler, expected[i].handler);
    }
  }
  for (const UnitLayout& u : ChooserWindowLayout().units) EXPECT_NE(u.kind, K::Menu);
}

TEST(Layout, ComboItemsColumnsFontsAndInputRules) {
  const WindowLayout& w = MainWindowLayout();
  const UnitLayout& weekday = *w.Find(ids::组合框_星期);
  const std::vector<Text> days = {Gbk("星期一"), Gbk("星期二"), Gbk("星期三"), Gbk("星期四"),
                                  Gbk("星期五"), Gbk("星期六"), Gbk("星期日")};
  EXPECT_EQ(weekday.items, days);
  EXPECT_TRUE(weekday.comboEditable);
  EXPECT_FALSE(weekday.font.has_value());
  const UnitLayout& db = *w.Find(ids::组合框_库名);
  EXPECT_TRUE(db.items.empty());
  EXPECT_FALSE(db.comboEditable);

  const UnitLayout& list = *w.Find(ids::超级列表框1);
  ASSERT_EQ(list.columns.size(), 4u);
  const std::pair<const char*, int> columns[] = {
      {"", 20}, {"Log_Name", 170}, {"Log_Size", 120}, {"State", 235}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(list.columns[i].title, columns[i].first);
    EXPECT_EQ(list.columns[i].width, columns[i].second);
  }

  for (int id : {ids::按钮_确定, ids::组合框_库名}) {
    const std::optional<FontLayout>& f = w.Find(id)->font;
    ASSERT_TRUE(f.has_value()) << id;
    EXPECT_EQ(f->height, -12);
    EXPECT_EQ(f->weight, 400);
    EXPECT_FALSE(f->italic);
    EXPECT_FALSE(f->underline);
    EXPECT_EQ(f->charset, 134);
  }
  int withFont = 0;
  for (const UnitLayout& u : w.units) withFont += u.font.has_value() ? 1 : 0;
  EXPECT_EQ(withFont, 2);

  EXPECT_EQ(w.Find(ids::编辑框_密码)->editRule, EditRule::Password);
  EXPECT_EQ(w.Find(ids::编辑框_IP)->editRule, EditRule::None);
  EXPECT_EQ(w.Find(ids::编辑框_用户名)->editRule, EditRule::None);
  for (int id : {ids::编辑框_时, ids::编辑框_分, ids::编辑框_秒}) {
    EXPECT_EQ(w.Find(id)->editRule, EditRule::Digits);
    EXPECT_EQ(w.Find(id)->maxChars, 2);
    EXPECT_EQ(w.Find(id)->align, Align::Center);
  }
  EXPECT_EQ(w.Find(ids::编辑框_日)->editRule, EditRule::WholeNumber);
  EXPECT_EQ(w.Find(ids::编辑框_日)->maxChars, 2);
  EXPECT_EQ(w.Find(ids::编辑框_日)->align, Align::Center);
  for (int id : {ids::标签1, ids::标签2, ids::标签3}) EXPECT_EQ(w.Find(id)->align, Align::Right);
  for (int id : {ids::标签_日, ids::标签_时, ids::标签_分, ids::标签_秒}) {
    EXPECT_EQ(w.Find(id)->align, Align::Center);
  }
}

TEST(Icon, IsOne48By48ImageAt32BitsInAnIconFile) {
  const Bytes& ico = TidewellIcon();
  ASSERT_EQ(ico.size(), 9662u);
  auto u16 = [&ico](std::size_t at) { return ico[at] | (ico[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
  EXPECT_EQ(u16(0), 0);
  EXPECT_EQ(u16(2), 1);  // icon
  EXPECT_EQ(u16(4), 1);  // one image
  EXPECT_EQ(ico[6], 48);
  EXPECT_EQ(ico[7], 48);
  EXPECT_EQ(u16(12), 32);
  EXPECT_EQ(u32(14), 9640);
  EXPECT_EQ(u32(18), 22);
  EXPECT_EQ(u32(22), 40);
  EXPECT_EQ(u32(26), 48);
  EXPECT_EQ(u32(30), 96);  // colour image and mask
  // Something is drawn, with soft edges, and the corners are transparent in both the alpha
  // channel and the mask.
  int opaque = 0, partial = 0;
  for (std::size_t p = 0; p < 48 * 48; ++p) {
    const int alpha = ico[62 + p * 4 + 3];
    opaque += alpha == 255 ? 1 : 0;
    partial += (alpha > 0 && alpha < 255) ? 1 : 0;
  }
  EXPECT_GT(opaque, 600);
  EXPECT_GT(partial, 40);
  EXPECT_EQ(ico[62 + 3], 0);               // bottom-left pixel (rows are stored bottom-up)
  EXPECT_EQ(ico[62 + 9216] & 0x80, 0x80);  // its mask bit
}

TEST(Icon, TheCommittedResourceCopyIsTheSameBytes) {
  std::ifstream in(TW_SOURCE_DIR "/assets/tidewell.ico", std::ios::binary);
  ASSERT_TRUE(in) << "assets/tidewell.ico is missing";
  const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_TRUE(file == TidewellIcon()) << "assets/tidewell.ico differs from the drawn icon";
}

}  // namespace
}  // namespace tw
