// Holder of the message pump in use.
#include "runtime/pump.h"

namespace tw {
namespace {
MessagePump* g_pump = nullptr;
}  // namespace

MessagePump* CurrentPump() {
  return g_pump;
}
void SetCurrentPump(MessagePump* pump) {
  g_pump = pump;
}

}  // namespace tw
