// Installation of the tool's application into the frame. The handlers join here as they are
// written; until then the frame runs the windows with every event unbound.
#include "app/application.h"

#include "ui/frame.h"

namespace tw {

void InstallApplication(Frame& frame) {
  (void)frame;
}

}  // namespace tw
