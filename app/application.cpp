// Installation of the tool's application into the frame: the state object, every area's
// handlers, the end-of-program routine and the database unit kind. Each handler slot is bound
// by exactly one area.
#include "app/application.h"

#include "app/app.h"
#include "app/autostart.h"
#include "app/catalogue.h"
#include "app/chooser.h"
#include "app/cleanup.h"
#include "app/connection.h"
#include "app/database_unit.h"
#include "app/schedule.h"
#include "app/startup.h"
#include "app/tray.h"
#include "ui/frame.h"

namespace tw {

Application::Application(Frame& frame) : app_(std::make_unique<App>(frame)) {
  // Both 外部数据库 units of the main window are database objects.
  RegisterDatabaseUnit(frame);
  BindStartup(frame, *app_);
  BindConnection(frame, *app_);
  BindCatalogue(frame, *app_);
  BindChooser(frame, *app_);
  BindCleanup(frame, *app_);
  BindSchedule(frame, *app_);
  BindTray(frame, *app_);
  BindAutostart(frame, *app_);
}

Application::~Application() = default;

}  // namespace tw
