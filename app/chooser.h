// The chooser that fills 编辑框_IP with this machine's IP address or host name: the two texts
// that make the tool take the server for this machine.
#pragma once

namespace tw {

class Frame;
struct App;

void BindChooser(Frame& frame, App& app);

}  // namespace tw
