// The property table against the layers that read it: the headless layer holds exactly the
// properties the table gives the native control, with values of the table's type, and the frame
// keeps apart the numbers that several kinds reuse.
#include <set>

#include "tests/ui/ui_fixture.h"
#include "ui/properties.h"

namespace tw {
namespace {

Value SampleOf(PropType type) {
  switch (type) {
    case PropType::Int:
      return Value::Int(1);
    case PropType::Bool:
      return Value::Bool(true);
    case PropType::Text:
      return Value::Str("t");
    case PropType::Bytes:
      return Value::Blob({});
  }
  return {};
}

ValueKind KindOf(PropType type) {
  return SampleOf(type).kind();
}

TEST(PropertyTable, TheHeadlessLayerHoldsWhatTheTableGivesTheNativeControl) {
  HeadlessBackend backend;
  std::set<UnitKind> seen;
  for (int window : {kMainWindow, kChooserWindow}) {
    const WindowLayout* layout = LayoutOf(window);
    ASSERT_NE(layout, nullptr);
    ASSERT_TRUE(backend.BuildWindow(*layout));
    for (const UnitLayout& u : layout->units) {
      seen.insert(u.kind);
      for (int number = 0; number < 64; ++number) {
        SCOPED_TRACE(testing::Message() << "unit " << u.id << ", property " << number);
        const auto spec = FindProperty(u.kind, number);
        const bool native = spec && spec->native;
        const std::optional<Value> got = backend.GetProperty({window, u.id}, number);
        ASSERT_EQ(got.has_value(), native);
        if (got) {
          EXPECT_EQ(got->kind(), KindOf(spec->type));
        }
        const Value sample = spec ? SampleOf(spec->type) : Value::Int(1);
        EXPECT_EQ(backend.SetProperty({window, u.id}, number, sample), native && !spec->readOnly);
      }
    }
  }
  // Every kind was asked: a kind missing from both layouts would go unchecked.
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(UnitKind::TransparentLabel) + 1);
}

TEST_F(UiTest, ANumberMeansWhatItsKindSays) {
  LoadAndShowMain();
  // 18: a check mark on a check box, the display state on a window.
  frame.WriteProp(M(ids::选择框_每月), prop::kChecked, Value::Int(2));
  EXPECT_EQ(frame.ReadProp(M(ids::选择框_每月), prop::kChecked).kind(), ValueKind::Bool);
  EXPECT_TRUE(backend.Checked(M(ids::选择框_每月)));
  frame.WriteProp(Main(), prop::kWindowState, Value::Int(2));
  EXPECT_EQ(backend.DisplayState(kMainWindow), 2);
  EXPECT_EQ(frame.ReadProp(Main(), prop::kWindowState).Integer(), 2);
  // 8: an edit box's text, a timer's interval; neither reaches the other's state.
  frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str("15"));
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(500));
  EXPECT_EQ(backend.EditText(M(ids::编辑框_日)), "15");
  EXPECT_EQ(backend.TimerInterval(M(ids::时钟1)), 500);
  // A number the kind does not have is the frame's, kept as written: 18 on an edit box is no
  // check mark, and 8 on a check box is no text.
  frame.WriteProp(M(ids::编辑框_日), 18, Value::Str("x"));
  EXPECT_EQ(frame.ReadProp(M(ids::编辑框_日), 18).AsText(), "x");
  EXPECT_FALSE(backend.GetProperty(M(ids::编辑框_日), 18).has_value());
  frame.WriteProp(M(ids::选择框_每周), prop::kEditText, Value::Int(7));
  EXPECT_EQ(frame.ReadProp(M(ids::选择框_每周), prop::kEditText).Integer(), 7);
  EXPECT_FALSE(backend.Checked(M(ids::选择框_每周)));
  EXPECT_EQ(backend.Caption(M(ids::选择框_每周)), Gbk("每周一次"));
}

}  // namespace
}  // namespace tw
