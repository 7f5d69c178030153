// The look-ups over both layouts: a unit by id, the window-level stacking order and the layout
// of a window id.
#include "ui/layout.h"

namespace tw {
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

const WindowLayout* LayoutOf(int windowId) {
  if (windowId == kMainWindow) return &MainWindowLayout();
  if (windowId == kChooserWindow) return &ChooserWindowLayout();
  return nullptr;
}

}  // namespace tw
