// The chooser window: opened modally from 按钮_获取本机ip; either button fills the address field
// and closes it, its close box leaves the field as it was.
#include "app/chooser.h"

#include "app/app.h"
#include "runtime/services.h"
#include "ui/frame.h"

namespace tw {
namespace {

Value Fill(App& app, const Text& address) {
  app.SetEditText(ids::编辑框_IP, address);
  app.frame.DestroyWindow(kChooserWindow);
  return {};
}

}  // namespace

void BindChooser(Frame& frame, App& app) {
  frame.SetHandler(Handler::OpenChooser, [&app](const std::vector<Value>&) {
    // Each click loads a fresh window; the handler returns once it is gone.
    app.frame.LoadWindow(kChooserWindow, std::nullopt, true);
    return Value{};
  });
  frame.SetHandler(Handler::ChooserIp,
                   [&app](const std::vector<Value>&) { return Fill(app, LocalIp()); });
  frame.SetHandler(Handler::ChooserHostName,
                   [&app](const std::vector<Value>&) { return Fill(app, HostName()); });
}

}  // namespace tw
