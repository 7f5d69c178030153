// The history file and the failure balloon. The file is only ever appended to, a whole line per
// write, so an interrupted run leaves whole lines; rotation keeps it to about a megabyte.
#include "app/history.h"

#include "app/app.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "ui/frame.h"

namespace tw {
namespace history {
namespace {

constexpr std::int64_t kRotateAt = 1024 * 1024;

}  // namespace

Text Path() {
  return RunDirectory() + Gbk("/清理记录.txt");
}

Text PreviousPath() {
  return RunDirectory() + Gbk("/清理记录.1.txt");
}

void Append(const HistoryEntry& e) {
  const char tab = '\t';
  const Text line = e.stamp + tab + Gbk(e.scheduled ? "定时" : "手动") + tab + e.server + tab +
                    e.database + tab + e.before + tab + e.after + tab + e.outcome + "\r\n";
  const Text path = Path();
  const std::int64_t size = FileSize(path);
  if (size > 0 && size + static_cast<std::int64_t>(line.size()) > kRotateAt) {
    (void)RenameFile(path, PreviousPath());
  }
  (void)AppendFileBytes(path, line);
}

}  // namespace history

void NotifyFailure(App& app, const HistoryEntry& entry) {
  const Text text = entry.database.empty() ? entry.outcome : entry.database + " " + entry.outcome;
  app.frame.ShowTrayBalloon(kMainWindow, Value::Str("Tidewell"), Value::Str(text),
                            balloon::kWarning);
}

void RecordRunNotStarted(App& app, const Text& stamp, const Text& database, const Text& outcome) {
  const HistoryEntry entry{stamp, true, app.serverAddress, database, {}, {}, outcome, true};
  history::Append(entry);
  NotifyFailure(app, entry);
}

}  // namespace tw
