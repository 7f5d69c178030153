// Logging in and out: the checks on the three login fields, the connect click with its progress
// dots, what is saved after a successful login, the disconnect click, and the connection made
// without the operator when the tool starts in unattended mode.
#pragma once

namespace tw {

class Frame;
struct App;

void BindConnection(Frame& frame, App& app);

// The automatic connection of an unattended start; silent when it fails.
void ConnectAutomatically(App& app);

}  // namespace tw
