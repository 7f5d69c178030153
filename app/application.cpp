// Installation of the tool's application into the frame: the state object, every area's
// handlers, the end-of-program routine and the database unit kind.
#include "app/application.h"

#include "app/app.h"
#include "runtime/odbc/database_unit.h"
#include "ui/frame.h"

namespace tw {

Application::Application(Frame& frame) : app_(std::make_unique<App>(frame)) {
  // Both 外部数据库 units of the main window are database objects.
  RegisterDatabaseUnit(frame);
}

Application::~Application() = default;

}  // namespace tw
