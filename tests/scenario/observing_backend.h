// The headless window layer as the program sees it, with one addition: it notes the order in
// which message boxes, pop-up menus and tray balloons open, so that the trace lists them as they
// happened even when one opens inside another's loop within the same virtual millisecond.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"

namespace tw::scenario {

class ObservingBackend final : public Backend {
 public:
  // One box, menu or balloon in opening order: the index of its record in the headless layer's
  // list. A menu or balloon that was never shown (its window or icon gone) leaves an entry with
  // `shown` false.
  struct Opened {
    bool menu = false;
    std::size_t record = 0;
    bool shown = true;
    bool notice = false;
  };

  // `onFatal` hears of the run-time error report before the headless layer shows it and ends
  // the process.
  using FatalHook = std::function<void(const Text& text, const Text& title)>;
  ObservingBackend(HeadlessBackend& inner, FatalHook onFatal)
      : in_(inner), onFatal_(std::move(onFatal)) {}
  HeadlessBackend& inner() { return in_; }
  const std::vector<Opened>& opened() const { return opened_; }

  void Attach(EventSink* sink) override { in_.Attach(sink); }
  bool BuildWindow(const WindowLayout& layout) override { return in_.BuildWindow(layout); }
  void DestroyWindow(int window) override { in_.DestroyWindow(window); }
  void BringToFront(int window) override { in_.BringToFront(window); }
  void PostDestroy(int window) override { in_.PostDestroy(window); }
  std::optional<Value> GetProperty(UnitRef unit, int number) override {
    return in_.GetProperty(unit, number);
  }
  bool SetProperty(UnitRef unit, int number, const Value& value) override {
    return in_.SetProperty(unit, number, value);
  }
  int MsgBox(const Text& text, int style, const Text& title,
             std::optional<int> ownerWindow) override {
    opened_.push_back({false, in_.MessageBoxes().size(), true});
    return in_.MsgBox(text, style, title, ownerWindow);
  }
  void PopupMenu(int window, const std::vector<PopupItem>& items, std::optional<int> x,
                 std::optional<int> y, bool tray) override {
    const std::size_t at = opened_.size();
    const std::size_t record = in_.Menus().size();
    opened_.push_back({true, record, true});
    in_.PopupMenu(window, items, x, y, tray);
    // The record, when there is one, was made before the menu's loop ran anything else.
    if (in_.Menus().size() == record) opened_[at].shown = false;
  }
  Text ComboItemText(UnitRef combo, int index) override { return in_.ComboItemText(combo, index); }
  int ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) override {
    return in_.ComboAddItem(combo, text, data);
  }
  void ComboClear(UnitRef combo) override { in_.ComboClear(combo); }
  int ComboSelectText(UnitRef combo, const Text& prefix) override {
    return in_.ComboSelectText(combo, prefix);
  }
  Text ListCellText(UnitRef list, int row, int column) override {
    return in_.ListCellText(list, row, column);
  }
  void ListSetCellText(UnitRef list, int row, int column, const Text& text) override {
    in_.ListSetCellText(list, row, column, text);
  }
  int ListCheckState(UnitRef list, int row) override { return in_.ListCheckState(list, row); }
  void ListSetCheckState(UnitRef list, int row, int stateImage) override {
    in_.ListSetCheckState(list, row, stateImage);
  }
  int ListRowCount(UnitRef list) override { return in_.ListRowCount(list); }
  int ListInsertRow(UnitRef list, const ListInsert& row) override {
    return in_.ListInsertRow(list, row);
  }
  void ListDeleteAll(UnitRef list) override { in_.ListDeleteAll(list); }
  void SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) override {
    in_.SetTrayIcon(window, icon, tooltip);
  }
  void TrayBalloon(int window, const Text& title, const Text& text, int icon) override {
    const std::size_t record = in_.Balloons().size();
    in_.TrayBalloon(window, title, text, icon);
    opened_.push_back({false, record, in_.Balloons().size() > record, true});
  }
  void SetTimer(UnitRef timer, int intervalMs) override { in_.SetTimer(timer, intervalMs); }
  Pump PumpOne(bool wait) override { return in_.PumpOne(wait); }
  void PostQuit() override { in_.PostQuit(); }
  std::uint64_t TickMs() override { return in_.TickMs(); }
  void SleepMs(int ms) override { in_.SleepMs(ms); }
  void WaitUntil(std::uint64_t deadline) override { in_.WaitUntil(deadline); }
  [[noreturn]] void Fatal(const Text& text, const Text& title) override {
    opened_.push_back({false, in_.MessageBoxes().size(), true});
    if (onFatal_) onFatal_(text, title);
    in_.Fatal(text, title);
  }

 private:
  HeadlessBackend& in_;
  FatalHook onFatal_;
  std::vector<Opened> opened_;
};

}  // namespace tw::scenario
