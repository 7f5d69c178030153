// What each unit property is: the one table, read by the frame and by both window layers, that
// says for a (unit kind, property number) pair which property it is, what value it takes,
// whether the native control holds it and whether it can be written.
#pragma once

#include <cstdint>
#include <optional>

#include "ui/units.h"

namespace tw {

// One name per property. Numbers from 8 on are the kind's own and repeat across kinds (8 is an
// edit box's text and a timer's interval, 18 a check mark and a window's display state), so
// the window layers switch over these names, never over the bare number.
enum class PropId : std::uint8_t {
  Left,
  Top,
  Width,
  Height,
  Tag,
  Visible,
  Disabled,
  Cursor,
  EditText,
  TimerInterval,
  Caption,
  ProgressPos,
  Checked,
  ComboSelection,
  ListSelected,
  WindowState,
  WindowIcon,
};

// The value a property takes; the frame converts what is written to it before anyone sees it.
enum class PropType : std::uint8_t { Int, Bool, Text, Bytes };

struct PropertySpec {
  PropId id;
  PropType type;
  // The unit's native control holds the value: the window layer reads and writes it live.
  // Otherwise the frame keeps it (always so for units without a native window).
  bool native;
  // Writes are checked and then change nothing.
  bool readOnly;
};

// The property `number` of units of `kind`; nullopt for a number the kind does not have. The
// frame keeps such a number's value as written, without a type, as it always has.
std::optional<PropertySpec> FindProperty(UnitKind kind, int number);

// The property as a window layer sees it: nullopt unless the native control holds it.
inline std::optional<PropertySpec> FindNativeProperty(UnitKind kind, int number) {
  auto spec = FindProperty(kind, number);
  if (!spec || !spec->native) return std::nullopt;
  return spec;
}

}  // namespace tw
