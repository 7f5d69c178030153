// The notification area: closing the main window only hides it there, the icon's mouse actions
// and menu show it again, and 退出 ends the program after a question.
#pragma once

namespace tw {

class Frame;
struct App;

void BindTray(Frame& frame, App& app);

}  // namespace tw
