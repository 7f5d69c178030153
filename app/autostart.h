// Starting the tool at logon: 选择框_开机自启 writes or deletes the Run value of the current user.
#pragma once

#include "runtime/value.h"

namespace tw {

class Frame;
struct App;

void BindAutostart(Frame& frame, App& app);

// The Run value's text: the program's directory, "\" and its file name, in double quotes when
// the path holds a blank (unquoted, Windows could start another program from a shorter path).
Text AutostartCommand();

}  // namespace tw
