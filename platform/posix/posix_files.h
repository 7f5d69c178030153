// File helpers shared by the POSIX services and the registry store. Paths here are the
// operating system's own (UTF-8 bytes), already converted from the program's GBK texts.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "runtime/platform_services.h"

namespace tw::platform::posix {

ReadStatus ReadFile(const std::string& path, std::string& out);
// Writes `bytes` to a new file beside `path`, flushes it to disk and renames it over `path`.
// An existing file keeps its permission bits and must be writable by us; a new one gets
// `newMode`. A symbolic link is followed, so the file it names is the one replaced.
bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t newMode);
// Creates the directory and its missing parents with `mode`.
bool MakeDirectories(const std::string& dir, mode_t mode);
// The program's own folder in the user's configuration directory: tidewell under
// $XDG_CONFIG_HOME (when absolute), else under ~/.config; "" when there is no home.
std::string UserConfigFolder();

}  // namespace tw::platform::posix
