// Building snapshots. Every named unit of each loaded window appears under its layout name with
// the fields its kind has; database units and menus have nothing a user sees and are left out.
#include "tests/scenario/snapshot.h"

#include "runtime/gbk.h"
#include "ui/frame.h"
#include "ui/layout.h"

namespace tw::scenario {
namespace {

std::string Utf8(const Text& gbk) {
  return GbkToUtf8(gbk);
}

Json Texts(const std::vector<Text>& texts) {
  Json out = Json::array();
  for (const Text& t : texts) out.push_back(Utf8(t));
  return out;
}

Json WindowView(Frame& frame, HeadlessBackend& b, int window) {
  if (!frame.IsLoaded(window) || !b.Exists(window)) {
    return {{"open", false}, {"visible", false}, {"display_state", 0}, {"caption", ""}};
  }
  return {{"open", true},
          {"visible", b.OwnVisible({window, window})},
          {"display_state", b.DisplayState(window)},
          {"caption", Utf8(b.Caption({window, window}))}};
}

Json UnitView(Frame& frame, HeadlessBackend& b, UnitRef ref, UnitKind kind) {
  Json u;
  if (kind == UnitKind::Timer) {
    // A timer has no window of its own: the frame keeps its common properties.
    u["visible"] = frame.ReadProp(ref, prop::kVisible).AsBool();
    u["enabled"] = !frame.ReadProp(ref, prop::kDisabled).AsBool();
    u["interval"] = b.TimerInterval(ref);
    return u;
  }
  u["visible"] = b.OwnVisible(ref);
  u["enabled"] = !b.GetProperty(ref, prop::kDisabled).value_or(Value::Bool(false)).AsBool();
  switch (kind) {
    case UnitKind::Edit:
      u["text"] = Utf8(b.EditText(ref));
      break;
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      u["checked"] = b.Checked(ref);
      [[fallthrough]];
    case UnitKind::Button:
    case UnitKind::Label:
    case UnitKind::GroupBox:
      u["caption"] = Utf8(b.Caption(ref));
      break;
    case UnitKind::Combo: {
      const std::vector<Text> items = b.ComboItems(ref);
      const int sel = b.ComboSelection(ref);
      u["items"] = Texts(items);
      u["selection"] = sel;
      u["text"] = sel >= 0 && sel < static_cast<int>(items.size())
                      ? Utf8(items[static_cast<std::size_t>(sel)])
                      : std::string();
      break;
    }
    case UnitKind::Progress:
      u["position"] = b.ProgressDisplayed(ref);
      break;
    default:
      break;
  }
  return u;
}

Json WorldViews(const World& world) {
  return {{"settings", SettingsView(world)},
          {"history", HistoryView(world)},
          {"registry", RegistryView(world)},
          {"servers", ServersView(world)}};
}

}  // namespace

Json ProgramSnapshot(Frame& frame, HeadlessBackend& b, const World& world) {
  Json snap = WorldViews(world);
  snap["windows"] = {{"main", WindowView(frame, b, kMainWindow)},
                     {"chooser", WindowView(frame, b, kChooserWindow)}};
  Json units = Json::object();
  for (const WindowLayout* w : {&MainWindowLayout(), &ChooserWindowLayout()}) {
    if (!frame.IsLoaded(w->id) || !b.Exists(w->id)) continue;
    for (const UnitLayout& u : w->units) {
      if (u.name.empty() || u.kind == UnitKind::Database || u.kind == UnitKind::Menu) continue;
      units[Utf8(u.name)] = UnitView(frame, b, {w->id, u.id}, u.kind);
    }
  }
  snap["units"] = units;
  Json list = Json::array();
  for (const ListRowView& row : b.ListRows({kMainWindow, ids::超级列表框1})) {
    list.push_back({{"checked", row.stateImage == 2}, {"cells", Texts(row.cells)}});
  }
  snap["list"] = list;
  const TrayRecord tray = b.Tray(kMainWindow);
  snap["tray"] = {{"present", tray.present}, {"tooltip", Utf8(tray.tooltip)}};
  return snap;
}

Json IdleSnapshot(const World& world) {
  Json snap = NoWindows();
  snap.update(WorldViews(world));
  return snap;
}

}  // namespace tw::scenario
