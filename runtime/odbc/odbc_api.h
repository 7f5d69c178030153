// The ODBC API as the database object uses it: unixODBC's headers on POSIX, the Windows SDK's
// on Win32, where they need <windows.h> first. Every other file includes ODBC through this one.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqltypes.h>
#include <sqlucode.h>

// The object talks UTF-16 to the driver manager; both platforms use 2-byte wide characters.
static_assert(sizeof(SQLWCHAR) == 2, "ODBC wide characters must be UTF-16 code units");
