// The headless message loop: a queue of posted messages, the quit request, window timers on a
// virtual clock and the user's scripted actions. Time moves only when the program waits (or
// sleeps), and then straight to the next thing that can happen, so tests of timers and pauses
// run in no real time.
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/headless/headless.h"
#include "runtime/datetime.h"
#include "runtime/text.h"

namespace tw {
namespace {

// A day count as whole seconds since day 0; the fraction's absolute value is the time of day.
std::int64_t SecondsOf(double dateTime) {
  const double whole = std::trunc(ClampDate(dateTime));
  const double fraction = std::fabs(dateTime - whole);
  return static_cast<std::int64_t>(whole) * 86400 + std::llround(fraction * 86400.0);
}

double DateTimeOf(std::int64_t seconds) {
  const std::int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  const std::int64_t second = seconds - day * 86400;
  return MakeDate(1899, 12, 30 + static_cast<int>(day), 0, 0, static_cast<int>(second));
}

}  // namespace

void HeadlessBackend::UseVirtualLocalTime(double start) {
  SetLocalTime(start);
  if (!clockInstalled_) {
    previousClock_ = SetLocalClock(&clock_);
    clockInstalled_ = true;
  }
}

void HeadlessBackend::SetLocalTime(double dateTime) {
  localBaseSeconds_ = SecondsOf(dateTime);
  localBaseTick_ = now_;
}

double HeadlessBackend::LocalTime() const {
  if (!clockInstalled_) return Now();
  const auto elapsed = static_cast<std::int64_t>((now_ - localBaseTick_) / 1000);
  return DateTimeOf(localBaseSeconds_ + elapsed);
}

void HeadlessBackend::Post(int window, std::function<void()> run) {
  queue_.push_back({window, std::move(run)});
}

void HeadlessBackend::PostDestroy(int window) {
  Post(window, [this, window] {
    if (sink_ != nullptr) sink_->DestroyPosted(window);
  });
}

void HeadlessBackend::SetTimer(UnitRef timer, int intervalMs) {
  const std::pair<int, int> key{timer.window, timer.unit};
  if (intervalMs <= 0 || !Exists(timer.window)) {
    timers_.erase(key);
    return;
  }
  timers_[key] = {intervalMs, now_ + static_cast<std::uint64_t>(intervalMs), ++order_};
}

// Posted messages first; then the quit request; timers only when nothing else waits, as on
// the platform, where a timer message is made up when the queue is otherwise empty.
Backend::Pump HeadlessBackend::TryDispatch(bool consumeQuit) {
  if (!queue_.empty()) {
    Message m = std::move(queue_.front());
    queue_.pop_front();
    m.run();
    return Pump::Dispatched;
  }
  if (quit_) {
    if (consumeQuit) quit_ = false;
    return Pump::Quit;
  }
  auto due = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.deadline > now_) continue;
    if (due == timers_.end() || it->second.deadline < due->second.deadline ||
        (it->second.deadline == due->second.deadline && it->second.order < due->second.order)) {
      due = it;
    }
  }
  if (due == timers_.end()) return Pump::Idle;
  // One tick however late the loop comes to it; the next interval counts from now.
  due->second.deadline = now_ + static_cast<std::uint64_t>(due->second.interval);
  const UnitRef unit{due->first.first, due->first.second};
  if (sink_ != nullptr) sink_->Raise(unit, event::kTimer, {});
  return Pump::Dispatched;
}

// Moves the clock to the next timer deadline or scripted user action not later than `limit`,
// and runs the action if that is what comes first.
HeadlessBackend::Advance HeadlessBackend::AdvanceToNextEvent(std::uint64_t limit) {
  std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
  auto action = userActions_.end();
  for (auto it = userActions_.begin(); it != userActions_.end(); ++it) {
    const std::uint64_t at = std::max(it->at.value_or(now_), now_);
    if (at < best || (at == best && it->order < action->order)) {
      best = at;
      action = it;
    }
  }
  for (const auto& [key, t] : timers_) {
    if (t.deadline < best) {
      best = t.deadline;
      action = userActions_.end();
    }
  }
  if (best == std::numeric_limits<std::uint64_t>::max() || best > limit) return Advance::Nothing;
  now_ = std::max(now_, best);
  if (action == userActions_.end()) return Advance::Clock;
  std::function<void()> run = std::move(action->run);
  userActions_.erase(action);
  run();
  return Advance::Action;
}

Backend::Pump HeadlessBackend::PumpOne(bool wait) {
  for (;;) {
    const Pump r = TryDispatch(wait);
    if (r != Pump::Idle || !wait) return r;
    switch (AdvanceToNextEvent(horizon_)) {
      case Advance::Nothing:
        ++idleWaits_;
        return Pump::Idle;
      case Advance::Action:
        return Pump::Dispatched;  // the user's input has been handled
      case Advance::Clock:
        break;  // a timer is due now
    }
  }
}

void HeadlessBackend::SleepMs(int ms) {
  now_ += static_cast<std::uint64_t>(std::max(ms, 0));
}

void HeadlessBackend::WaitUntil(std::uint64_t deadline) {
  if (!queue_.empty() || quit_) return;
  for (const auto& [key, t] : timers_) {
    if (t.deadline <= now_) return;
  }
  if (AdvanceToNextEvent(deadline) != Advance::Nothing) return;
  now_ = std::max(now_, deadline);
}

void HeadlessBackend::RunFor(int ms) {
  const std::uint64_t deadline = now_ + static_cast<std::uint64_t>(std::max(ms, 0));
  for (;;) {
    const Pump r = TryDispatch(false);
    if (r == Pump::Quit) return;
    if (r == Pump::Dispatched) continue;
    if (AdvanceToNextEvent(deadline) == Advance::Nothing) break;
  }
  now_ = std::max(now_, deadline);
}

void HeadlessBackend::Drain() {
  while (TryDispatch(false) == Pump::Dispatched) {
  }
}

void HeadlessBackend::ScriptUser(std::function<void()> action,
                                 std::optional<std::uint64_t> atTick) {
  userActions_.push_back({atTick, ++order_, std::move(action)});
}

}  // namespace tw
