// Fuzzes the texts the database object builds or reads without a driver, and checks what must
// hold for any input: bracket translation never grows a statement or touches its literals'
// quotes; every login part comes back whole when the connection string is parsed as a driver
// manager parses it, and the password never reaches the file; a GBK cut is the longest prefix
// that ends between characters; the leading numbers and date-times of a column's text read
// back what was written there.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/datetime.h"
#include "runtime/odbc/sql_text.h"
#include "runtime/text.h"

namespace {

using tw::Text;

void Check(bool ok) {
  if (!ok) std::abort();
}

// The input: four option bytes, then fields separated by zero bytes.
struct Input {
  std::uint8_t options[4] = {};
  std::vector<std::string_view> fields;
  std::string_view Field(std::size_t i) const { return i < fields.size() ? fields[i] : ""; }
};

Input Split(const std::uint8_t* data, std::size_t size) {
  Input in;
  for (std::size_t i = 0; i < 4 && i < size; ++i) in.options[i] = data[i];
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  rest.remove_prefix(std::min<std::size_t>(4, size));
  for (;;) {
    const std::size_t z = rest.find('\0');
    in.fields.push_back(rest.substr(0, z));
    if (z == std::string_view::npos) break;
    rest.remove_prefix(z + 1);
  }
  return in;
}

std::size_t Count(std::string_view s, char c) {
  std::size_t n = 0;
  for (const char x : s) n += x == c ? 1 : 0;
  return n;
}

void FuzzBrackets(const Input& in) {
  const std::string_view sql = in.Field(0);
  static constexpr char kQuotes[] = {'"', ' ', '`', '['};
  const char quote = kQuotes[in.options[0] % 4];
  const Text out = tw::odbc::TranslateBrackets(sql, quote);
  Check(out.size() <= sql.size());
  // Quotes of literals pass unchanged, as do statements without brackets.
  Check(Count(out, '\'') == Count(sql, '\''));
  if (sql.find_first_of("[]") == std::string_view::npos) Check(out == sql);
  // Plain ASCII without literals or doubled brackets: every bracket becomes the quote.
  const bool plain = Count(sql, '\'') == 0 && sql.find("[[") == std::string_view::npos &&
                     sql.find("]]") == std::string_view::npos &&
                     std::all_of(sql.begin(), sql.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (plain) {
    Text expected(sql);
    for (char& c : expected) {
      if (c == '[' || c == ']') c = quote;
    }
    Check(out == expected);
  }
  // Inside a literal nothing changes: a statement that is one literal comes back as it was.
  if (sql.size() >= 2 && sql.front() == '\'' && sql.back() == '\'' && Count(sql, '\'') == 2 &&
      std::all_of(sql.begin(), sql.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    Check(out == sql);
  }
}

// A connection string split as the driver manager does: keyword=value pairs separated by ';',
// a value in braces running to the first '}' that is not doubled. Nullopt-like: `ok` false
// when the text is malformed.
struct Parsed {
  bool ok = true;
  std::vector<std::pair<std::string, std::string>> pairs;
};

Parsed Parse(std::string_view s) {
  Parsed p;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t eq = s.find('=', i);
    if (eq == std::string_view::npos) {
      p.ok = false;
      return p;
    }
    std::string key(s.substr(i, eq - i));
    std::string value;
    i = eq + 1;
    if (i < s.size() && s[i] == '{') {
      ++i;
      for (;;) {
        if (i >= s.size()) {
          p.ok = false;
          return p;
        }
        if (s[i] == '}') {
          if (i + 1 < s.size() && s[i + 1] == '}') {
            value += '}';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += s[i++];
      }
      if (i < s.size() && s[i] != ';') {
        p.ok = false;
        return p;
      }
    } else {
      const std::size_t semi = s.find(';', i);
      value = std::string(s.substr(i, semi == std::string_view::npos ? s.npos : semi - i));
      i = semi == std::string_view::npos ? s.size() : semi;
    }
    p.pairs.emplace_back(std::move(key), std::move(value));
    if (i < s.size()) ++i;  // the ';'
  }
  return p;
}

void FuzzLogin(const Input& in) {
  tw::odbc::LoginParts login;
  login.server = in.Field(1);
  login.user = in.Field(2);
  login.password = in.Field(3);
  login.database = in.Field(4);
  login.workstation = in.Field(5);
  const Text path(in.Field(6));

  for (const auto& value : {login.server, login.user, login.password, path}) {
    const Text v = tw::odbc::ConnectionValue(value);
    if (v.empty() || v.front() != '{') {
      Check(v == value);
      Check(value.find_first_of(";{}") == std::string::npos);
    }
  }

  const tw::odbc::DsnTexts dsn = tw::odbc::BuildDsnTexts(login);
  tw::odbc::LoginParts withoutPassword = login;
  withoutPassword.password.clear();
  Check(tw::odbc::BuildDsnTexts(withoutPassword).file == dsn.file);

  const Text stored = tw::odbc::ComposeConnectionString(path, dsn.tail);
  const std::string_view driver = tw::odbc::DriverConnectionString(stored);
  Check(driver.size() + 5 == stored.size());
  const Parsed parsed = Parse(driver);
  Check(parsed.ok);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"FILEDSN", path}, {"DRIVER", "SQL Server"}, {"SERVER", login.server}};
  if (!login.user.empty()) expected.emplace_back("UID", login.user);
  if (!login.password.empty()) expected.emplace_back("PWD", login.password);
  if (!login.database.empty()) expected.emplace_back("DATABASE", login.database);
  if (!login.workstation.empty()) expected.emplace_back("WSID", login.workstation);
  Check(parsed.pairs == expected);
}

void FuzzCut(const Input& in) {
  const std::string_view text = in.Field(7);
  const std::size_t limit = in.options[1];
  const Text cut = tw::odbc::CutGbk(text, limit);
  Check(cut.size() <= limit && text.substr(0, cut.size()) == cut);
  // The cut ends where a character ends, and the next character would not have fitted.
  std::size_t i = 0;
  while (i < cut.size()) {
    i += (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) ? 2 : 1;
  }
  Check(i == cut.size());
  if (cut.size() < text.size()) {
    const std::size_t next =
        (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) ? 2 : 1;
    Check(i + next > limit);
  }
}

std::int64_t Int64From(std::string_view bytes) {
  std::uint64_t v = 0;
  std::memcpy(&v, bytes.data(), std::min(bytes.size(), sizeof v));
  return static_cast<std::int64_t>(v);
}

void FuzzNumbers(const Input& in) {
  const std::string_view text = in.Field(8);
  const std::int64_t any = tw::odbc::LeadingInteger(text);
  (void)any;
  const double real = tw::odbc::LeadingNumber(text);
  Check(!std::isnan(real));
  (void)tw::odbc::DateTimeFromText(text);

  // What a driver writes reads back, whatever follows it.
  const std::int64_t n = Int64From(in.Field(9));
  const std::string tail(in.Field(10).substr(0, 1));
  const bool digitNext = !tail.empty() && tail[0] >= '0' && tail[0] <= '9';
  if (!digitNext) {
    Check(tw::odbc::LeadingInteger(" " + std::to_string(n) + tail) == n);
    char buf[64];
    double d = 0;
    std::memcpy(&d, &n, sizeof d);
    const bool exponentNext = !tail.empty() && (tail[0] == 'e' || tail[0] == 'E' || tail[0] == '.');
    // Subnormal numbers are left out: the reader takes their underflow for zero.
    if (std::isfinite(d) && std::fpclassify(d) != FP_SUBNORMAL && !exponentNext) {
      std::snprintf(buf, sizeof buf, "%.17g", d);
      Check(tw::odbc::LeadingNumber(buf + tail) == d);
    }
  }
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

void FuzzDates(const Input& in) {
  const std::uint8_t* o = in.options;
  const std::string_view extra = in.Field(11);
  // The first and the last day of the valid range are left out: a time on them lies beyond the
  // range and is limited away.
  const int year = 101 + (o[2] * 256 + o[3]) % 9898;
  const int month = 1 + o[0] % 12;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int days = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  const int day = 1 + o[1] % days;
  const int hour = extra.size() > 0 ? static_cast<unsigned char>(extra[0]) % 24 : 0;
  const int minute = extra.size() > 1 ? static_cast<unsigned char>(extra[1]) % 60 : 0;
  const int second = extra.size() > 2 ? static_cast<unsigned char>(extra[2]) % 60 : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, hour,
                minute, second, (o[0] * 7) % 1000);
  const auto d = tw::odbc::DateTimeFromText(text);
  Check(d.has_value());
  Check(tw::YearOf(*d) == year && tw::MonthOf(*d) == month && tw::DayOf(*d) == day);
  Check(tw::HourOf(*d) == hour && tw::MinuteOf(*d) == minute && tw::SecondOf(*d) == second);
  // Either half alone reads too; anything after it but blanks does not.
  Check(tw::odbc::DateTimeFromText(std::string(text).substr(0, 10)).has_value());
  Check(tw::odbc::DateTimeFromText(std::string(text).substr(11, 8)).has_value());
  if (!extra.empty() && extra[0] != ' ' && extra[0] != '\t' && extra[0] != '\r' &&
      extra[0] != '\n' && (extra[0] < '0' || extra[0] > '9')) {
    Check(!tw::odbc::DateTimeFromText(std::string(text) + extra[0]).has_value());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Input in = Split(data, size);
  FuzzBrackets(in);
  FuzzLogin(in);
  FuzzCut(in);
  FuzzNumbers(in);
  FuzzDates(in);
  return 0;
}
