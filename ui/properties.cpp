// The property table. Common properties (0 to 7) apply to every kind; the others name the kinds
// they belong to. A pair (kind, number) appears at most once, which the compiler checks.
#include "ui/properties.h"

namespace tw {
namespace {

using KindSet = std::uint32_t;

constexpr KindSet Of(UnitKind k) {
  return KindSet{1} << static_cast<unsigned>(k);
}
constexpr KindSet kEveryKind = ~KindSet{0};

struct Row {
  int number;
  KindSet kinds;
  PropertySpec spec;
};

constexpr bool kNative = true, kFrame = false;
constexpr bool kReadOnly = true, kWritable = false;

constexpr Row kRows[] = {
    {prop::kLeft, kEveryKind, {PropId::Left, PropType::Int, kNative, kWritable}},
    {prop::kTop, kEveryKind, {PropId::Top, PropType::Int, kNative, kWritable}},
    {prop::kWidth, kEveryKind, {PropId::Width, PropType::Int, kNative, kWritable}},
    {prop::kHeight, kEveryKind, {PropId::Height, PropType::Int, kNative, kWritable}},
    {prop::kTag, kEveryKind, {PropId::Tag, PropType::Text, kFrame, kWritable}},
    {prop::kVisible, kEveryKind, {PropId::Visible, PropType::Bool, kNative, kWritable}},
    {prop::kDisabled, kEveryKind, {PropId::Disabled, PropType::Bool, kNative, kWritable}},
    {prop::kCursor, kEveryKind, {PropId::Cursor, PropType::Bytes, kFrame, kWritable}},
    {prop::kEditText, Of(UnitKind::Edit), {PropId::EditText, PropType::Text, kNative, kWritable}},
    // The frame starts and stops the timer itself; the window layer only sees SetTimer.
    {prop::kTimerInterval,
     Of(UnitKind::Timer),
     {PropId::TimerInterval, PropType::Int, kFrame, kWritable}},
    {prop::kCaption, Of(UnitKind::Button), {PropId::Caption, PropType::Text, kNative, kWritable}},
    {prop::kProgressPos,
     Of(UnitKind::Progress),
     {PropId::ProgressPos, PropType::Int, kNative, kWritable}},
    {prop::kChecked,
     Of(UnitKind::CheckBox) | Of(UnitKind::Radio),
     {PropId::Checked, PropType::Bool, kNative, kWritable}},
    {prop::kComboSelection,
     Of(UnitKind::Combo),
     {PropId::ComboSelection, PropType::Int, kNative, kWritable}},
    {prop::kListSelected,
     Of(UnitKind::ListView),
     {PropId::ListSelected, PropType::Int, kNative, kReadOnly}},
    {prop::kWindowState,
     Of(UnitKind::Window),
     {PropId::WindowState, PropType::Int, kNative, kWritable}},
    // The icon comes from the layout's icon file, the same bytes the frame hands the tray.
    {prop::kWindowIcon,
     Of(UnitKind::Window),
     {PropId::WindowIcon, PropType::Bytes, kFrame, kReadOnly}},
};

constexpr bool EachPairOnce() {
  for (const Row& a : kRows) {
    int rows = 0;
    for (const Row& b : kRows) rows += (a.number == b.number && (a.kinds & b.kinds) != 0) ? 1 : 0;
    if (rows != 1) return false;
  }
  return true;
}
static_assert(EachPairOnce(), "a property number is given twice to the same kind");

}  // namespace

std::optional<PropertySpec> FindProperty(UnitKind kind, int number) {
  for (const Row& row : kRows) {
    if (row.number == number && (row.kinds & Of(kind)) != 0) {
      PropertySpec spec = row.spec;
      spec.native = spec.native && HasNativeWindow(kind);
      return spec;
    }
  }
  return std::nullopt;
}

}  // namespace tw
