// Texts the database object builds or reads without the driver: the identifier-quote
// translation of SQL, the file data source and connection string of a login, GBK cutting and
// the leading numbers of a column's text copy.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/value.h"

namespace tw::odbc {

// Outside '...' literals "[[" becomes "[", "]]" becomes "]" and a lone bracket becomes the
// connection's identifier quote character; double-byte characters are never split.
Text TranslateBrackets(std::string_view sql, char quote);

// A connection-string value that cannot stand bare (it holds ';', '{' or '}', or begins or ends
// with a blank) goes in braces with '}' doubled; any other value is kept byte for byte.
Text ConnectionValue(std::string_view value);

// The login as the unit received it; empty parts are left out of both texts.
struct LoginParts {
  Text server;
  Text user;
  Text password;
  Text database;
  Text workstation;
};

// The file data source's lines and the keywords that follow FILEDSN= in the connection string.
struct DsnTexts {
  Text file;  // CR LF separated, without the password
  Text tail;  // ";DRIVER=SQL Server;SERVER=...;"
};
DsnTexts BuildDsnTexts(const LoginParts& login);

// "ODBC;FILEDSN=" + path + tail: the stored form of a connection string.
Text ComposeConnectionString(const Text& dsnPath, const Text& tail);

// The connection string without the stored "ODBC;" prefix, which the driver manager would
// otherwise read as part of the first keyword.
std::string_view DriverConnectionString(std::string_view stored);

// At most `limit` bytes of a GBK text, never ending inside a double-byte character.
Text CutGbk(std::string_view text, std::size_t limit);

// The leading decimal integer (after blanks, with an optional sign) of a text, 0 when none;
// saturates at the 64-bit range.
std::int64_t LeadingInteger(std::string_view text);
// The leading decimal number of a text (digits, point, exponent), 0 when none.
double LeadingNumber(std::string_view text);

// A driver's text of a date, time or timestamp ("YYYY-MM-DD hh:mm:ss.fff", either half alone)
// as a day count, the fraction of a second dropped; nullopt when it is not such a text.
std::optional<double> DateTimeFromText(std::string_view text);

}  // namespace tw::odbc
