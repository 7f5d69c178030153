// Small builders for the layout tables, shared by the files that describe the two windows.
#pragma once

#include <cstdint>

#include "runtime/gbk.h"
#include "ui/layout.h"

namespace tw::layout_build {

inline constexpr std::uint32_t kV = kFlagVisible;
inline constexpr std::uint32_t kD = kFlagDisabled;
inline constexpr std::uint32_t kT = kFlagTabStop;

// One unit; name and caption are UTF-8 source literals stored as GBK.
inline UnitLayout Make(int id, UnitKind kind, const char* name, int container, int left, int top,
                       int width, int height, std::uint32_t flags, const char* caption = "") {
  UnitLayout u;
  u.id = id;
  u.kind = kind;
  u.name = Gbk(name);
  u.container = container;
  u.left = left;
  u.top = top;
  u.width = width;
  u.height = height;
  u.flags = flags;
  u.caption = Gbk(caption);
  return u;
}

inline UnitLayout Bind(UnitLayout u, int event, Handler handler) {
  u.events.push_back({event, handler});
  return u;
}

inline UnitLayout Aligned(UnitLayout u, Align align) {
  u.align = align;
  return u;
}

// A menu unit: level 0 is a top-level menu, level 1 an item under the preceding one. Menus have
// no name and no window; their flags are the menu flags.
inline UnitLayout Menu(int id, int level, const char* caption, std::uint32_t menuFlags,
                       Handler handler) {
  UnitLayout u;
  u.id = id;
  u.kind = UnitKind::Menu;
  u.caption = Gbk(caption);
  u.menuLevel = level;
  u.menuFlags = menuFlags;
  if (handler != Handler::None) u.events.push_back({event::kMenuSelected, handler});
  return u;
}

}  // namespace tw::layout_build
