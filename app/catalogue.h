// The database list and the database combo: the listings with their log sizes, the ticks kept in
// the settings file, the refresh of one row, and the choice of the database for single cleanup.
#pragma once

#include <vector>

#include "runtime/value.h"

namespace tw {

class Frame;
struct App;

void BindCatalogue(Frame& frame, App& app);

// Rebuilds 超级列表框1, measuring the logs on this machine's disk when the server is this
// machine and asking the server otherwise.
void RefreshLogList(App& app);
// Refills 组合框_库名 with the database names, which it keeps in App::databaseNames and returns
// in item order; selects nothing.
std::vector<Text> FillDatabaseCombo(App& app);

}  // namespace tw
