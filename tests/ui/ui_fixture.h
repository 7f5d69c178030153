// A frame on the headless window system with every handler slot recording its calls, for the
// frame and control tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "runtime/gbk.h"
#include "ui/frame.h"

namespace tw {

struct HandlerCall {
  Handler slot;
  std::vector<Value> args;
};

class UiTest : public ::testing::Test {
 protected:
  UiTest() {
    for (int h = 1; h < static_cast<int>(Handler::Count); ++h) {
      const auto slot = static_cast<Handler>(h);
      frame.SetHandler(slot, [this, slot](const std::vector<Value>& args) {
        calls.push_back({slot, args});
        return Value{};
      });
    }
  }

  // Replaces one slot's recorder with `fn`, still recording the call first.
  void On(Handler slot, std::function<Value(const std::vector<Value>&)> fn) {
    frame.SetHandler(slot, [this, slot, fn = std::move(fn)](const std::vector<Value>& args) {
      calls.push_back({slot, args});
      return fn(args);
    });
  }

  int Count(Handler slot) const {
    int n = 0;
    for (const HandlerCall& c : calls) n += c.slot == slot ? 1 : 0;
    return n;
  }

  // Loads the main window and shows it, as the start-up handler does on a first run.
  void LoadAndShowMain() {
    ASSERT_TRUE(frame.LoadWindow(kMainWindow));
    frame.WriteProp(Main(), prop::kVisible, Value::Bool(true));
  }

  static UnitRef Main() { return {kMainWindow, kMainWindow}; }
  static UnitRef M(int unit) { return {kMainWindow, unit}; }
  static UnitRef C(int unit) { return {kChooserWindow, unit}; }

  HeadlessBackend backend;
  Frame frame{backend};
  std::vector<HandlerCall> calls;
};

}  // namespace tw
