// Where the database object's file data source goes on POSIX when $TMPDIR is unset: a folder
// that only this user can write, so that nobody else can pre-create or read the file. Paths
// here are the operating system's own bytes.
#pragma once

#include <string>

namespace tw::odbc::posix {

// `shared`/tidewell-<uid>, private to this user: created with mode 0700 when missing; an
// existing one must be a real directory (no symbolic link) owned by this user and is narrowed
// to 0700 when it was more open. "" when it cannot be had that way.
std::string PrivateFolderIn(const std::string& shared);

// $XDG_RUNTIME_DIR when it is set and is this user's private directory, else
// PrivateFolderIn(`shared`), else the current directory; ending in '/', "" when none works.
std::string PrivateTempFolder(const std::string& shared);

}  // namespace tw::odbc::posix
