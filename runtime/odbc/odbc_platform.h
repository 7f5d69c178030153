// The few system facts and file operations the database object needs around a login: the
// computer name for the workstation id, the temporary folder for the file data source, and
// writing and deleting that file. Paths and names are GBK texts.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace tw::odbc {

// This computer's name as the login's workstation id, or "" when it cannot be read or does not
// fit the 23-byte buffer the name is asked with (22 bytes and a terminator).
Text ComputerNameForDsn();

// The user's temporary folder ending in the path separator, or "" when there is none. On POSIX
// without $TMPDIR it is a folder only this user can write, never the shared /tmp itself.
Text TempFolder();

// Creates or truncates `path` for writing that nobody else may share and writes `bytes` as
// they are. A symbolic link at `path` is not followed. False when the file could not be written.
bool WriteDsnFile(const Text& path, std::string_view bytes);

// Removes the file; false when it was not there or could not be removed.
bool DeleteDsnFile(const Text& path);

// The window that owns a driver dialog: the program's active top-level window, else the
// desktop; null where the platform has no such window.
void* DriverDialogOwner();

}  // namespace tw::odbc
