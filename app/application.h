// The tool's application: binds its handlers, end-of-program routine and unit kinds (the
// database object) to the frame before the frame runs.
#pragma once

namespace tw {

class Frame;

// Installs everything the application contributes to `frame`; called once by the program
// entry, before Frame::Run.
void InstallApplication(Frame& frame);

}  // namespace tw
