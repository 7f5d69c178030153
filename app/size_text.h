// The texts that show a log size or a freed amount: a number and " KB", " MB" or " GB". Units
// switch at 1024 and 1048576 kilobytes but divide by 1000 and 1000000; sizes asked of the
// server are pages / 124, shown as megabytes.
#pragma once

#include <cstdint>

#include "runtime/value.h"

namespace tw::size_text {

// A listing of this machine's log files: whole kilobytes.
Text LocalListing(std::int64_t kilobytes);
// A refresh on this machine, and the size after and the amount freed by a cleanup on it:
// single-precision kilobytes.
Text Local(float kilobytes);
// A listing or refresh asked of the server, and the size after a cleanup there.
Text Server(float megabytes);

// The amount a cleanup freed on a server that was asked through SQL.
Text FreedServer(float megabytes);

// Shown when a size cannot be had.
Text Unavailable();

}  // namespace tw::size_text
