// The static layout of the tool's two windows and two menus: every unit with its kind, name,
// container, geometry, flags, captions, fonts, items, columns and event bindings. The frame
// builds windows from this data; the application only changes it through properties.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/value.h"
#include "ui/units.h"

namespace tw {

// Unit flags as stored in the layout.
inline constexpr std::uint32_t kFlagVisible = 1u << 0;
inline constexpr std::uint32_t kFlagDisabled = 1u << 1;
inline constexpr std::uint32_t kFlagTabStop = 1u << 2;

// Menu item flags.
inline constexpr std::uint32_t kMenuHidden = 1u << 0;
inline constexpr std::uint32_t kMenuDisabled = 1u << 1;
inline constexpr std::uint32_t kMenuChecked = 1u << 2;

enum class Align { Left, Center, Right };

enum class EditRule {
  None,
  Password,     // every character shown as '*'
  Digits,       // digits and '-' only, at most maxChars characters
  WholeNumber,  // as Digits, and rewritten to the whole number it denotes on losing focus
};

struct FontLayout {
  int height = 0;  // negative: character height in pixels
  int weight = 400;
  bool italic = false;
  bool underline = false;
  int charset = 0;
};

struct ColumnLayout {
  Text title;
  int width = 0;
};

struct EventBinding {
  int event = 0;
  Handler handler = Handler::None;
};

struct UnitLayout {
  int id = 0;
  UnitKind kind = UnitKind::Window;
  Text name;          // empty for the window itself and for menus
  int container = 0;  // enclosing group box, 0 = the window
  int left = 0, top = 0, width = 0, height = 0;
  std::uint32_t flags = 0;
  Text caption;
  Align align = Align::Left;
  EditRule editRule = EditRule::None;
  int maxChars = 0;  // 0 = no limit
  bool comboEditable = false;
  std::vector<Text> items;
  std::vector<ColumnLayout> columns;
  std::optional<FontLayout> font;
  int menuLevel = 0;  // menus: 0 top-level, 1 item under the preceding top-level menu
  std::uint32_t menuFlags = 0;
  std::vector<EventBinding> events;

  bool Visible() const { return (flags & kFlagVisible) != 0; }
  bool Disabled() const { return (flags & kFlagDisabled) != 0; }
};

struct WindowLayout {
  int id = 0;
  std::vector<UnitLayout> units;  // units[0] is the window itself
  // Frame of the window.
  bool minimizeBox = false;
  bool taskbarButton = true;  // false: owned by a hidden owner window
  bool topmost = false;
  bool escCloses = true;
  bool centred = true;
  bool hasIcon = false;

  const UnitLayout& Window() const { return units.front(); }
  const UnitLayout* Find(int unitId) const;
  // Window-level units in stacking order (earlier lies above later).
  std::vector<int> TopLevelOrder() const;
};

const WindowLayout& MainWindowLayout();
const WindowLayout& ChooserWindowLayout();
// The layout of a window id, or null.
const WindowLayout* LayoutOf(int windowId);

// The tool's own icon: one 48x48 32-bpp image as an icon file.
const Bytes& TidewellIcon();

}  // namespace tw
