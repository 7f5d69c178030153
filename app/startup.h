// Start-up: the single-instance rule, the window shown only on a first run, the tray icon, the
// login fields and the schedule controls filled from the settings file, and the automatic
// connection in unattended mode; and the end-of-program routine.
#pragma once

#include "runtime/value.h"

namespace tw {

class Frame;
struct App;

void BindStartup(Frame& frame, App& app);

// Running processes that carry this program's executable file name, this one included.
int CountRunningCopies();
// Applies the settings file to the schedule and option controls, on top of what they show, and
// returns the saved 是否挂机 value. Run at start-up and after every successful connect click.
Text LoadSettings(App& app);
// The notification-area icon: the main window's own icon with the tooltip "Tidewell".
void SetTrayIcon(App& app);

}  // namespace tw
