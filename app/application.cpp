// Installation of the tool's application into the frame. The handlers join here as they are
// written; until then the frame runs the windows with every event unbound.
#include "app/application.h"

#include "runtime/odbc/database_unit.h"
#include "ui/frame.h"

namespace tw {

void InstallApplication(Frame& frame) {
  // Both 外部数据库 units of the main window are database objects.
  RegisterDatabaseUnit(frame);
}

}  // namespace tw
