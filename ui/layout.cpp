// The chooser window's layout and the look-ups over both layouts: a unit by id, the window-level
// stacking order and the layout of a window id.
#include "ui/layout.h"

#include "ui/layout_build.h"

namespace tw {
namespace {

using namespace layout_build;  // NOLINT(google-build-using-namespace)

WindowLayout BuildChooser() {
  WindowLayout w;
  w.id = kChooserWindow;
  w.minimizeBox = false;
  w.taskbarButton = false;  // owned by a hidden owner window
  w.topmost = true;
  w.escCloses = true;  // no close handler: Esc simply closes it
  w.centred = true;
  w.hasIcon = false;
  w.units.push_back(Make(ids::选择窗口, UnitKind::Window, "", 0, 50, 50, 207, 102, kV, "请选择"));
  w.units.push_back(Bind(
      Make(ids::按钮_主机名, UnitKind::Button, "按钮_主机名", 0, 8, 8, 88, 56, kV | kT, "主机名"),
      event::kClick, Handler::ChooserHostName));
  w.units.push_back(
      Bind(Make(ids::按钮_IP, UnitKind::Button, "按钮_IP", 0, 104, 8, 88, 56, kV | kT, "本机IP"),
           event::kClick, Handler::ChooserIp));
  return w;
}

}  // namespace

const UnitLayout* WindowLayout::Find(int unitId) const {
  for (const UnitLayout& u : units) {
    if (u.id == unitId) return &u;
  }
  return nullptr;
}

std::vector<int> WindowLayout::TopLevelOrder() const {
  // Only units with a window of their own stack; menus, timers and databases have none.
  std::vector<int> order;
  for (std::size_t i = 1; i < units.size(); ++i) {
    const UnitLayout& u = units[i];
    if (u.container == 0 && HasNativeWindow(u.kind)) order.push_back(u.id);
  }
  return order;
}

const WindowLayout& ChooserWindowLayout() {
  static const WindowLayout layout = BuildChooser();
  return layout;
}

const WindowLayout* LayoutOf(int windowId) {
  if (windowId == kMainWindow) return &MainWindowLayout();
  if (windowId == kChooserWindow) return &ChooserWindowLayout();
  return nullptr;
}

}  // namespace tw
