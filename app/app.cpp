// The application's state and the window accesses that its handlers share.
#include "app/app.h"

#include "ui/frame.h"

namespace tw {
namespace {

UnitRef M(int unit) {
  return {kMainWindow, unit};
}

}  // namespace

App::App(Frame& f) : frame(f), mainDb(f, ids::外部数据库_主), secondDb(f, ids::外部数据库_辅) {}

Text App::EditText(int unit) {
  return frame.ReadProp(M(unit), prop::kEditText).AsText();
}

void App::SetEditText(int unit, const Text& text) {
  frame.WriteProp(M(unit), prop::kEditText, Value::Str(text));
}

Text App::Caption(int unit) {
  return frame.ReadProp(M(unit), prop::kCaption).AsText();
}

void App::SetCaption(int unit, const Text& text) {
  frame.WriteProp(M(unit), prop::kCaption, Value::Str(text));
}

void App::Enable(int unit, bool enabled) {
  frame.Enable(M(unit), enabled);
}

void App::Show(int unit, bool visible) {
  frame.WriteProp(M(unit), prop::kVisible, Value::Bool(visible));
}

bool App::Checked(int unit) {
  return frame.ReadProp(M(unit), prop::kChecked).AsBool();
}

void App::Check(int unit, bool checked) {
  frame.WriteProp(M(unit), prop::kChecked, Value::Bool(checked));
}

int App::ComboSelection(int combo) {
  return static_cast<int>(frame.ReadProp(M(combo), prop::kComboSelection).Integer());
}

void App::SetTimerInterval(int ms) {
  const UnitRef timer = M(ids::时钟1);
  if (frame.ReadProp(timer, prop::kTimerInterval).Integer() == 0) lastTickSecond.reset();
  frame.WriteProp(timer, prop::kTimerInterval, Value::Int(ms));
}

int App::Message(const Text& text, int style, const Text& title) {
  return frame.MsgBox(Value::Str(text), style, title.empty() ? Value() : Value::Str(title));
}

}  // namespace tw
