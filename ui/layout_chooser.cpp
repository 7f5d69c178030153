// The chooser window's layout: two buttons of equal size side by side, the host name on the
// left and this machine's IP address on the right.
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

const WindowLayout& ChooserWindowLayout() {
  static const WindowLayout layout = BuildChooser();
  return layout;
}

}  // namespace tw
