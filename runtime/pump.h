// The message pump that pauses use: the frame registers itself here so that the runtime's
// responsive pause can dispatch window messages without depending on the window layer.
#pragma once

#include <cstdint>

namespace tw {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Dispatches every waiting message except a quit request, which stays queued.
  virtual void DispatchPending() = 0;
  virtual std::uint64_t TickMs() = 0;  // monotonic milliseconds
  virtual void SleepMs(int ms) = 0;    // blocks without dispatching
  // Returns when a message is waiting or the tick count reaches `deadline`.
  virtual void WaitUntil(std::uint64_t deadline) = 0;
};

// The pump in use; null when no frame runs (console programs), where pauses simply sleep.
MessagePump* CurrentPump();
void SetCurrentPump(MessagePump* pump);

}  // namespace tw
