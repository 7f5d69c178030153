// Logging in and out: the checks on the three login fields, the connect click with its progress
// dots, what is saved after a successful login, the disconnect click, and the connection made
// without the operator when the tool starts in unattended mode.
#pragma once

#include <vector>

#include "runtime/value.h"

namespace tw {

class Frame;
struct App;

void BindConnection(Frame& frame, App& app);

// The automatic connection of an unattended start, also made by a scheduled cleanup that finds
// the tool without a connection; silent, false when the login failed.
bool ConnectAutomatically(App& app);

// The index of the item equal to `database` (ASCII letters compared without case); -1 when
// none is, or the name is empty.
int IndexOfDatabase(const std::vector<Text>& items, const Text& database);

}  // namespace tw
