// Identifier-quote translation, login texts, GBK cutting and leading numbers: the parts of the
// database object that need no driver.
#include "runtime/odbc/sql_text.h"

#include "runtime/datetime.h"
#include "runtime/gbk_text.h"
#include "runtime/leading_number.h"
#include "runtime/text.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace tw::odbc {
namespace {

// The database object steps as the value commands do, 0x80 leading: the texts it cuts and
// translates come from them and go back to them.
constexpr gbk::LeadBytes kLeads = gbk::LeadBytes::From0x80;

// One set of blanks for numbers, dates and connection values alike: space, tab, CR and LF,
// without the VT and FF that the value commands also skip.
constexpr Blanks kBlanks = Blanks::SpaceTabCrLf;

bool IsBlank(char c) {
  return IsNumberBlank(c, kBlanks);
}

std::string_view SkipBlanks(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && IsBlank(t[i])) ++i;
  return t.substr(i);
}

void AppendPart(Text& out, std::string_view prefix, std::string_view value) {
  out.append(prefix);
  out.append(value);
}

}  // namespace

Text TranslateBrackets(std::string_view sql, char quote) {
  Text out;
  out.reserve(sql.size());
  bool inLiteral = false;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (gbk::CharLength(sql, i, kLeads) == 2) {
      out.append(sql.substr(i, 2));
      i += 2;
      continue;
    }
    const bool doubled = i + 1 < sql.size() && sql[i + 1] == c;
    if (c == '\'') {
      // Two quotes in a row are an escaped quote inside a literal or an empty literal outside
      // one; either way the literal state stays as it was.
      if (doubled) {
        out.append("''");
        i += 2;
        continue;
      }
      inLiteral = !inLiteral;
      out += c;
      ++i;
      continue;
    }
    if (!inLiteral && (c == '[' || c == ']')) {
      if (doubled) {
        out += c;
        i += 2;
      } else {
        out += quote;
        ++i;
      }
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

Text ConnectionValue(std::string_view value) {
  const bool needsBraces = value.find_first_of(";{}") != std::string_view::npos ||
                           (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
  if (!needsBraces) return Text(value);
  Text out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

DsnTexts BuildDsnTexts(const LoginParts& login) {
  DsnTexts t;
  t.file = "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=";
  t.tail = ";DRIVER=SQL Server;SERVER=";
  // The file is read line by line, so its values stay as typed; the connection string is
  // parsed on ';', so its values are braced where they would otherwise end early.
  t.file += login.server;
  t.tail += ConnectionValue(login.server);
  if (!login.user.empty()) {
    AppendPart(t.tail, ";UID=", ConnectionValue(login.user));
    AppendPart(t.file, "\r\nUID=", login.user);
  }
  // The password travels only in the connection string, never in the file on disk.
  if (!login.password.empty()) AppendPart(t.tail, ";PWD=", ConnectionValue(login.password));
  if (!login.database.empty()) {
    AppendPart(t.tail, ";DATABASE=", ConnectionValue(login.database));
    AppendPart(t.file, "\r\nDATABASE=", login.database);
  }
  if (!login.workstation.empty()) {
    AppendPart(t.tail, ";WSID=", ConnectionValue(login.workstation));
    AppendPart(t.file, "\r\nWSID=", login.workstation);
  }
  t.file += "\r\n";
  t.tail += ";";
  return t;
}

Text ComposeConnectionString(const Text& dsnPath, const Text& tail) {
  return "ODBC;FILEDSN=" + ConnectionValue(dsnPath) + tail;
}

std::string_view DriverConnectionString(std::string_view stored) {
  constexpr std::string_view kPrefix = "ODBC;";
  if (stored.size() >= kPrefix.size()) {
    bool same = true;
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(stored[i])) != kPrefix[i]) same = false;
    }
    if (same) return stored.substr(kPrefix.size());
  }
  return stored;
}

Text CutGbk(std::string_view text, std::size_t limit) {
  return Text(text.substr(0, gbk::FitBytes(text, limit, kLeads)));
}

std::int64_t LeadingInteger(std::string_view text) {
  // 64 bits, as wide as an integer column gets; each column kind narrows it further.
  return LeadingWhole(text, kBlanks, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max());
}

double LeadingNumber(std::string_view text) {
  const SignedStart sign = ReadSign(text, kBlanks);
  const std::string_view t = text.substr(sign.at);
  // Only digits make a number: the words "inf" and "nan", which the parser below would take, do
  // not.
  const auto isDigit = [&](std::size_t i) { return i < t.size() && t[i] >= '0' && t[i] <= '9'; };
  if (!isDigit(0) && !(t.starts_with('.') && isDigit(1))) return 0.0;
  double value = 0.0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: a negative exponent means it underflowed to zero.
    const std::string_view number(t.data(), static_cast<std::size_t>(r.ptr - t.data()));
    const std::size_t e = number.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (r.ec != std::errc()) {
    return 0.0;
  }
  return sign.negative ? -value : value;
}

std::optional<double> DateTimeFromText(std::string_view text) {
  const std::string_view t = SkipBlanks(text);
  std::size_t i = 0;
  // Reads exactly `digits` digits followed by `sep` (or the end when sep is 0).
  auto number = [&](int digits, char sep, int* out) {
    int v = 0;
    for (int d = 0; d < digits; ++d, ++i) {
      if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (t[i] - '0');
    }
    *out = v;
    if (sep == 0) return true;
    if (i >= t.size() || t[i] != sep) return false;
    ++i;
    return true;
  };
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  const bool hasDate = t.size() >= 10 && t[4] == '-';
  if (hasDate) {
    if (!number(4, '-', &year) || !number(2, '-', &month) || !number(2, 0, &day)) return {};
    if (month < 1 || month > 12 || day < 1 || day > 31) return {};
    if (i < t.size() && (t[i] == ' ' || t[i] == 'T')) ++i;
  }
  if (i < t.size()) {
    if (!number(2, ':', &hour) || !number(2, ':', &minute) || !number(2, 0, &second)) return {};
    if (hour > 23 || minute > 59 || second > 59) return {};
    if (i < t.size() && t[i] == '.') {
      ++i;
      while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    }
  } else if (!hasDate) {
    return {};
  }
  if (!SkipBlanks(t.substr(i)).empty()) return {};
  return ClampDate(MakeDate(year, month, day, hour, minute, second));
}

}  // namespace tw::odbc
