// Headless message boxes, pop-up menus, the notification-area icon and the run-time error
// report. Boxes and menus are recorded and answered from the test's scripts; with no script a
// box takes its first button and a menu is dismissed, and the record says so. While open, each
// dispatches what is queued, as the platform's modal loops do.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/headless/headless.h"
#include "runtime/gbk.h"

namespace tw {
namespace {

// The button that a box of this style has first (and would have as its default).
int FirstButton(int style) {
  switch (style & 0xF) {
    case 2:
      return idb::kAbort;  // Abort, Retry, Ignore
    case 3:                // Yes, No, Cancel
    case 4:
      return idb::kYes;  // Yes, No
    case 5:
      return idb::kRetry;  // Retry, Cancel
    case 6:
      return idb::kCancel;  // Cancel, Try again, Continue
    default:
      return idb::kOk;  // OK; OK and Cancel
  }
}

std::uint16_t Read16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Read32(const Bytes& b, std::size_t at) {
  return Read16(b, at) | (static_cast<std::uint32_t>(Read16(b, at + 2)) << 16);
}

// Whether the bytes hold an icon file whose first image lies inside the data, which is what the
// platform needs to make an icon from them.
bool IsIconFile(const Bytes& b) {
  if (b.size() < 6 + 16 || Read16(b, 0) != 0 || Read16(b, 2) != 1 || Read16(b, 4) == 0)
    return false;
  const std::uint64_t size = Read32(b, 6 + 8);
  const std::uint64_t offset = Read32(b, 6 + 12);
  return size >= 40 && offset + size <= b.size();
}

}  // namespace

void HeadlessBackend::ScriptMessageBoxAnswers(std::initializer_list<int> buttons) {
  for (int b : buttons) msgBoxScript_.push_back({b, 0});
}

void HeadlessBackend::ScriptMessageBoxAnswer(int button, int openMs) {
  msgBoxScript_.push_back({button, openMs});
}

int HeadlessBackend::MsgBox(const Text& text, int style, const Text& title,
                            std::optional<int> ownerWindow) {
  MsgBoxRecord rec{text, style, title, ownerWindow, FirstButton(style), false};
  rec.tick = now_;
  rec.localTime = LocalTime();
  int openMs = 0;
  if (!msgBoxScript_.empty()) {
    rec.answer = msgBoxScript_.front().button;
    rec.scripted = true;
    openMs = msgBoxScript_.front().openMs;
    msgBoxScript_.pop_front();
  }
  const std::size_t index = msgBoxes_.size();
  msgBoxes_.push_back(rec);
  RunOpenBox(openMs);
  return msgBoxes_[index].answer;
}

void HeadlessBackend::RunOpenBox(int openMs) {
  // A box's own loop keeps dispatching: what is already queued and due is handled however
  // quickly the user answers, and a box left open for a while runs timers meanwhile.
  if (openMs > 0) {
    RunFor(openMs);
  } else {
    Drain();
  }
}

void HeadlessBackend::ScriptMenuChoice(MenuChoice choice) {
  menuScript_.push_back(std::move(choice));
}

void HeadlessBackend::PopupMenu(int window, const std::vector<PopupItem>& items,
                                std::optional<int> x, std::optional<int> y, bool tray) {
  if (!Exists(window)) return;
  MenuRecord rec;
  rec.window = window;
  rec.tick = now_;
  rec.localTime = LocalTime();
  rec.items = items;
  rec.tray = tray;
  if (tray) {
    foreground_ = window;
    rec.x = cursor_.first - 5;
    rec.y = cursor_.second - 5;
    rec.trackFlags = 8;
  } else {
    rec.x = x.value_or(cursor_.first + 3);
    rec.y = y.value_or(cursor_.second + 3);
    rec.trackFlags = 2;
  }
  if (!menuScript_.empty()) {
    const MenuChoice choice = menuScript_.front();
    menuScript_.pop_front();
    rec.scripted = true;
    if (choice.kind != MenuChoice::Kind::Dismiss) {
      // Only an enabled item that is not a separator can be chosen.
      auto it = std::find_if(items.begin(), items.end(), [&choice](const PopupItem& item) {
        if (item.disabled || item.caption == "-") return false;
        return choice.kind == MenuChoice::Kind::Command ? item.command == choice.command
                                                        : item.caption == choice.caption;
      });
      if (it == items.end()) {
        rec.refused = true;
      } else {
        rec.chosen = it->command;
      }
    }
  }
  menus_.push_back(rec);
  // The menu's own loop dispatches what is queued while it is open; the choice comes after.
  Drain();
  if (rec.chosen != 0) {
    const int command = rec.chosen;
    Post(window, [this, window, command] {
      if (sink_ != nullptr) sink_->MenuCommand(window, command);
    });
  }
  // The null message that lets a tray menu close when the user clicks elsewhere.
  if (tray) Post(window, [] {});
}

void HeadlessBackend::SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) {
  if (!Exists(window)) return;
  TrayRecord& t = trays_[window];
  const bool usable = IsIconFile(icon);  // bytes that make no icon count as no icon
  if (t.present) {
    if (usable) {
      t.icon = icon;
      t.tooltip = tooltip;
      ++t.modifies;
    } else {
      t.present = false;
      t.icon.clear();
      t.tooltip.clear();
      ++t.removes;
    }
  } else if (usable) {
    t.present = true;
    t.icon = icon;
    t.tooltip = tooltip;
    ++t.adds;
  }
}

void HeadlessBackend::TrayBalloon(int window, const Text& title, const Text& text, int icon) {
  // As the shell: a balloon needs the icon it points at.
  const auto t = trays_.find(window);
  if (!Exists(window) || t == trays_.end() || !t->second.present) return;
  balloons_.push_back({window, title, text, icon, now_, LocalTime()});
}

void HeadlessBackend::Fatal(const Text& text, const Text& title) {
  // The report goes to standard error as the program's own GBK bytes, followed by a readable
  // copy for whoever reads the test log.
  std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
  std::fprintf(stderr, "[%s]\n%s\n", GbkToUtf8(title).c_str(), GbkToUtf8(text).c_str());
  std::fflush(stderr);
  // The report is a message box like any other: its loop runs until the user closes it (for
  // the time a test scripts), and the process ends after that.
  // Recorded like any box (style 16: OK with the stop icon), so that whoever watches the
  // program sees the report.
  MsgBoxRecord rec{text, 16, title, std::nullopt, idb::kOk, false};
  rec.tick = now_;
  rec.localTime = LocalTime();
  rec.fatal = true;
  int openMs = 0;
  if (!msgBoxScript_.empty()) {
    rec.answer = msgBoxScript_.front().button;
    rec.scripted = true;
    openMs = msgBoxScript_.front().openMs;
    msgBoxScript_.pop_front();
  }
  msgBoxes_.push_back(rec);
  RunOpenBox(openMs);
  std::fflush(stderr);
  std::exit(-1);
}

}  // namespace tw
