// Reading a result whole as its table opens: the columns as the driver describes them, how each
// is read, and every row's fields taken from the driver once each, in column order, unbound
// (a driver may answer nothing to SQLGetData on a bound column, and a column may be read only
// once per row). The copy is held within a memory bound.
#include <algorithm>
#include <limits>

#include "runtime/datetime.h"
#include "runtime/odbc/database.h"
#include "runtime/odbc/sql_text.h"

namespace tw::odbc {
namespace {

bool IsLongType(SQLSMALLINT t) {
  return t == SQL_LONGVARCHAR || t == SQL_LONGVARBINARY;
}

std::int64_t DisplayWidth(const Column& c) {
  const auto size = static_cast<std::int64_t>(
      std::min<SQLULEN>(c.size, static_cast<SQLULEN>(std::numeric_limits<std::int32_t>::max())));
  if (c.sqlType == SQL_NUMERIC || c.sqlType == SQL_DECIMAL) return size + 3;
  if (IsLongType(c.sqlType)) return 1;
  return size + 1;
}

// Long and binary columns, and columns wider than a copy holds, do not get a text copy.
bool GetsTextCopy(const Column& c) {
  return !(c.sqlType >= SQL_LONGVARBINARY && c.sqlType <= SQL_LONGVARCHAR) &&
         c.displayWidth <= static_cast<std::int64_t>(kTextCopyBytes);
}

// The fixed types are read as their C type. Character data that fits a text copy gives the
// copy, as the copy is what a read of such a column has always given; wider character data is
// read to its display width, long text whole. Any other type has only its copy, if any.
Reading ReadingOf(const Column& c) {
  switch (c.sqlType) {
    case SQL_BIT:
      return Reading::Bit;
    case SQL_TINYINT:
      return Reading::Byte;
    case SQL_SMALLINT:
      return Reading::Short;
    case SQL_INTEGER:
      return Reading::Int;
    case SQL_REAL:
      return Reading::Float;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Reading::Double;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      return Reading::DateTime;
    case SQL_CHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BIGINT:
    case SQL_WVARCHAR:
      return GetsTextCopy(c) ? Reading::CopyText : Reading::Text;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return Reading::Bytes;
    default:
      return GetsTextCopy(c) ? Reading::CopyText : Reading::None;
  }
}

// Reads of a field record no failure: a field the driver does not give stays empty, and the
// piecewise reads judge each piece's answer themselves.
template <typename T>
bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType, T* value) {
  SQLLEN indicator = SQL_NULL_DATA;
  // The call comes first: the indicator is looked at only once the driver has filled it.
  const SQLRETURN rc = SQLGetData(stmt, col, cType, value, sizeof(T), &indicator);
  return Taken(rc, indicator);
}

template <typename T>
Cell Integer(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType) {
  T v = 0;
  if (!ReadFixed(stmt, col, cType, &v)) return {};
  return std::int64_t{v};
}

GetDataCall GetDataOf(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType) {
  return [=](SQLPOINTER buffer, SQLLEN bytes, SQLLEN* indicator) {
    return SQLGetData(stmt, col, cType, buffer, bytes, indicator);
  };
}

// Wide text: one piece of `units` (terminator included), or the whole value for a long one.
Cell WideText(SQLHSTMT stmt, SQLUSMALLINT col, bool whole, std::size_t units, std::size_t cap) {
  std::u16string wide;
  if (!ReadWideInPieces(GetDataOf(stmt, col, SQL_C_WCHAR), whole, units, &wide, cap)) return {};
  return wide;
}

// One field of the current row; `cap` is the room the result has left.
Cell ReadField(SQLHSTMT stmt, SQLUSMALLINT col, const Column& c, std::size_t cap) {
  switch (c.reading) {
    case Reading::Bit: {
      Cell v = Integer<unsigned char>(stmt, col, SQL_C_BIT);
      if (auto* bit = std::get_if<std::int64_t>(&v)) *bit = *bit != 0 ? 1 : 0;
      return v;
    }
    case Reading::Byte:
      return Integer<unsigned char>(stmt, col, SQL_C_UTINYINT);
    case Reading::Short:
      return Integer<SQLSMALLINT>(stmt, col, SQL_C_SSHORT);
    case Reading::Int:
      return Integer<SQLINTEGER>(stmt, col, SQL_C_SLONG);
    case Reading::Float: {
      float v = 0;
      if (!ReadFixed(stmt, col, SQL_C_FLOAT, &v)) return {};
      return static_cast<double>(v);
    }
    case Reading::Double: {
      double v = 0;
      if (!ReadFixed(stmt, col, SQL_C_DOUBLE, &v)) return {};
      return v;
    }
    case Reading::DateTime: {
      SQL_TIMESTAMP_STRUCT ts{};
      if (!ReadFixed(stmt, col, SQL_C_TIMESTAMP, &ts)) return {};
      return ClampDate(MakeDate(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second));
    }
    case Reading::CopyText:
      // The copy holds 512 units, enough for 511 GBK bytes.
      return WideText(stmt, col, false, kTextCopyBytes, cap);
    case Reading::Text: {
      const bool whole = c.sqlType == SQL_LONGVARCHAR || c.size == 0;
      const std::size_t units =
          whole ? 2048
                : static_cast<std::size_t>(std::clamp<std::int64_t>(c.displayWidth, 2, 1 << 20));
      return WideText(stmt, col, whole, units, cap);
    }
    case Reading::Bytes: {
      // A column of known size in one piece of that size (at most 16 MiB), a long one one byte
      // first to learn its length, then the rest.
      const bool whole = c.sqlType == SQL_LONGVARBINARY || c.size == 0;
      const auto size = static_cast<std::size_t>(std::min<SQLULEN>(c.size, 1 << 24));
      Bytes bytes;
      if (!ReadBytesInPieces(GetDataOf(stmt, col, SQL_C_BINARY), whole, size, &bytes, cap))
        return {};
      return bytes;
    }
    case Reading::None:
      break;
  }
  return {};
}

// The memory a field takes in the copy.
std::size_t Footprint(const Cell& cell) {
  std::size_t bytes = sizeof(Cell);
  if (const auto* text = std::get_if<std::u16string>(&cell)) bytes += text->size() * 2;
  if (const auto* data = std::get_if<Bytes>(&cell)) bytes += data->size();
  return bytes;
}

enum class Fetched : std::uint8_t { Row, End, Failed };

Fetched Fetch(Database& db, SQLHSTMT stmt) {
  // An error in the row (01S01) fails the fetch.
  CheckedCalls fetch = db.OnStatement(stmt);
  if (!fetch.Run([&] { return SQLFetch(stmt); }, Expect::Row)) return Fetched::Failed;
  return fetch.rc() == SQL_NO_DATA ? Fetched::End : Fetched::Row;
}

}  // namespace

bool DescribeResult(Database& db, SQLHSTMT stmt, Table* t) {
  CheckedCalls calls = db.OnStatement(stmt);
  SQLSMALLINT count = 0;
  if (!calls.Run([&] { return SQLNumResultCols(stmt, &count); })) return false;
  t->columns.resize(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
  for (SQLSMALLINT i = 0; i < count; ++i) {
    Column& c = t->columns[static_cast<std::size_t>(i)];
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameChars = 0;
    if (!calls.Run([&] {
          return SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256, &nameChars,
                                 &c.sqlType, &c.size, &c.digits, &c.nullable);
        })) {
      return false;
    }
    c.name = CutGbk(FromWide(name, std::clamp<SQLSMALLINT>(nameChars, 0, 255)), 255);
    c.displayWidth = DisplayWidth(c);
    c.reading = ReadingOf(c);
  }
  return true;
}

Filled ReadResult(Database& db, SQLHSTMT stmt, Table* t) {
  const std::size_t limit = ResultLimitBytes();
  std::size_t used = 0;
  for (;;) {
    const Fetched fetched = Fetch(db, stmt);
    if (fetched == Fetched::Failed && t->rowCount == 0) return Filled::FirstFetchFailed;
    if (fetched != Fetched::Row) return Filled::Whole;
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
      // A value that would pass the bound is read one byte beyond it at most.
      const std::size_t cap = limit - used + 1;
      t->cells.push_back(ReadField(stmt, static_cast<SQLUSMALLINT>(i + 1), t->columns[i], cap));
      used += Footprint(t->cells.back());
      if (used > limit) {
        db.Fail(kResultTooLargeMessage);
        return Filled::OverTheBound;
      }
    }
    ++t->rowCount;
  }
}

}  // namespace tw::odbc
