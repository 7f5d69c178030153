// Result tables: opening a query on a static read-only cursor, moving through it and reading
// fields of the current row, with the bound text copies as the fallback for every read.
#include "runtime/odbc/table.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>

#include "runtime/datetime.h"
#include "runtime/odbc/database.h"
#include "runtime/odbc/sql_text.h"
#include "runtime/text.h"

namespace tw::odbc {
namespace {

std::atomic<TableHandle> g_nextHandle{1};

// Handles are never reused within a run, so a handle kept from a closed table names nothing.
TableHandle NewHandle() {
  TableHandle h = 0;
  while (h == 0) h = g_nextHandle.fetch_add(1);
  return h;
}

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

enum class Fetched { Row, End, Failed };

Fetched Fetch(Database& db, Table& t, SQLUSMALLINT direction) {
  SQLULEN rows = 0;
  SQLUSMALLINT status[1] = {};
  // Truncated data still gives a row; an error in the row does not.
  CheckedCalls fetch = db.OnStatement(t.stmt);
  if (!fetch.Run([&] { return SQLExtendedFetch(t.stmt, direction, 0, &rows, status); },
                 Expect::Row)) {
    return Fetched::Failed;
  }
  return fetch.rc() == SQL_NO_DATA ? Fetched::End : Fetched::Row;
}

bool Describe(Database& db, Table& t) {
  CheckedCalls calls = db.OnStatement(t.stmt);
  SQLSMALLINT count = 0;
  if (!calls.Run([&] { return SQLNumResultCols(t.stmt, &count); })) return false;
  t.columns.resize(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
  for (SQLSMALLINT i = 0; i < count; ++i) {
    Column& c = t.columns[static_cast<std::size_t>(i)];
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameChars = 0;
    if (!calls.Run([&] {
          return SQLDescribeColW(t.stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256, &nameChars,
                                 &c.sqlType, &c.size, &c.digits, &c.nullable);
        })) {
      return false;
    }
    c.name = CutGbk(FromWide(name, std::clamp<SQLSMALLINT>(nameChars, 0, 255)), 255);
    c.displayWidth = DisplayWidth(c);
  }
  return true;
}

bool BindTextCopies(Database& db, Table& t) {
  CheckedCalls calls = db.OnStatement(t.stmt);
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    Column& c = t.columns[i];
    if (!GetsTextCopy(c)) continue;
    auto copy = std::make_unique<TextCopy>();
    if (!calls.Run([&] {
          return SQLBindCol(
              t.stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_C_WCHAR, copy->buffer.data(),
              static_cast<SQLLEN>(copy->buffer.size() * sizeof(SQLWCHAR)), &copy->indicator);
        })) {
      return false;
    }
    c.copy = static_cast<int>(t.copies.size());
    t.copies.push_back(std::move(copy));
  }
  return true;
}

// The copy's text of the current row: at most 511 GBK bytes, "" for NULL.
Text CopyText(const Table& t, const Column& c, bool* lossy) {
  *lossy = false;
  if (c.copy < 0) return {};
  const TextCopy& copy = *t.copies[static_cast<std::size_t>(c.copy)];
  if (copy.indicator == SQL_NULL_DATA) return {};
  const Text text =
      FromWide(copy.buffer.data(), UnitsDelivered(copy.indicator, copy.buffer.size()), lossy);
  return CutGbk(text, kTextCopyBytes - 1);
}

// A field value from a text, by the column's SQL type.
FieldValue FromText(SQLSMALLINT sqlType, const Text& text) {
  FieldValue f;
  switch (sqlType) {
    case SQL_INTEGER:
      f.kind = FieldKind::Int;
      f.integer = std::clamp<std::int64_t>(LeadingInteger(text), INT32_MIN, INT32_MAX);
      break;
    case SQL_SMALLINT:
      f.kind = FieldKind::Short;
      f.integer = std::clamp<std::int64_t>(LeadingInteger(text), INT16_MIN, INT16_MAX);
      break;
    case SQL_TINYINT:
      f.kind = FieldKind::Byte;
      f.integer = std::clamp<std::int64_t>(LeadingInteger(text), 0, UINT8_MAX);
      break;
    case SQL_BIT:
      f.kind = FieldKind::Bool;
      f.integer = LeadingInteger(text) != 0 ? 1 : 0;
      break;
    case SQL_REAL:
      f.kind = FieldKind::Float;
      f.real = static_cast<float>(LeadingNumber(text));
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      f.kind = FieldKind::Double;
      f.real = LeadingNumber(text);
      break;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      f.kind = FieldKind::Bytes;
      break;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      // A driver that delivers the value only to the bound copy still gives a date-time.
      if (const auto d = DateTimeFromText(text)) {
        f.kind = FieldKind::DateTime;
        f.real = *d;
        break;
      }
      f.kind = FieldKind::Text;
      f.text = text;
      break;
    default:
      f.kind = FieldKind::Text;
      f.text = text;
      break;
  }
  return f;
}

// Reads of a field record no failure: a read that gives nothing falls back to the row's text
// copy, and the piecewise reads judge each piece's answer themselves.
template <typename T>
bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType, T* value) {
  SQLLEN indicator = SQL_NULL_DATA;
  return Taken(SQLGetData(stmt, col, cType, value, sizeof(T), &indicator), indicator);
}

GetDataCall GetDataOf(SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT cType) {
  return [=](SQLPOINTER buffer, SQLLEN bytes, SQLLEN* indicator) {
    return SQLGetData(stmt, col, cType, buffer, bytes, indicator);
  };
}

// Reads wide text; a column of known width keeps display width - 1 GBK bytes, a long one is
// read on until complete.
bool ReadText(SQLHSTMT stmt, SQLUSMALLINT col, const Column& c, Text* out, bool* lossy) {
  const bool whole = c.sqlType == SQL_LONGVARCHAR || c.size == 0;
  const std::size_t units =
      whole ? 2048 : static_cast<std::size_t>(std::clamp<std::int64_t>(c.displayWidth, 2, 1 << 20));
  std::u16string wide;
  if (!ReadWideInPieces(GetDataOf(stmt, col, SQL_C_WCHAR), whole, units, &wide)) return false;
  Text text = FromWide(reinterpret_cast<const SQLWCHAR*>(wide.data()), wide.size(), lossy);
  *out = whole ? std::move(text) : CutGbk(text, static_cast<std::size_t>(c.displayWidth - 1));
  return true;
}

// Reads byte data: a column of known size in one piece of that size (at most 16 MiB), a long
// one one byte first to learn its length, then the rest.
bool ReadBytes(SQLHSTMT stmt, SQLUSMALLINT col, const Column& c, Bytes* out) {
  const bool whole = c.sqlType == SQL_LONGVARBINARY || c.size == 0;
  const std::size_t size = static_cast<std::size_t>(std::min<SQLULEN>(c.size, 1 << 24));
  return ReadBytesInPieces(GetDataOf(stmt, col, SQL_C_BINARY), whole, size, out);
}

// Reads the column from the driver by its SQL type; false when it gave no value.
bool ReadFromDriver(const Table& t, const Column& c, SQLUSMALLINT col, FieldValue* f) {
  switch (c.sqlType) {
    case SQL_BIT: {
      unsigned char v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_BIT, &v)) return false;
      f->kind = FieldKind::Bool;
      f->integer = v != 0 ? 1 : 0;
      return true;
    }
    case SQL_TINYINT: {
      unsigned char v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_UTINYINT, &v)) return false;
      f->kind = FieldKind::Byte;
      f->integer = v;
      return true;
    }
    case SQL_SMALLINT: {
      SQLSMALLINT v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_SSHORT, &v)) return false;
      f->kind = FieldKind::Short;
      f->integer = v;
      return true;
    }
    case SQL_INTEGER: {
      SQLINTEGER v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_SLONG, &v)) return false;
      f->kind = FieldKind::Int;
      f->integer = v;
      return true;
    }
    case SQL_REAL: {
      float v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_FLOAT, &v)) return false;
      f->kind = FieldKind::Float;
      f->real = v;
      return true;
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      double v = 0;
      if (!ReadFixed(t.stmt, col, SQL_C_DOUBLE, &v)) return false;
      f->kind = FieldKind::Double;
      f->real = v;
      return true;
    }
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT ts{};
      if (!ReadFixed(t.stmt, col, SQL_C_TIMESTAMP, &ts)) return false;
      f->kind = FieldKind::DateTime;
      f->real = ClampDate(MakeDate(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second));
      return true;
    }
    case SQL_CHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BIGINT:
    case SQL_WVARCHAR:
      if (!ReadText(t.stmt, col, c, &f->text, &f->lossy)) return false;
      f->kind = FieldKind::Text;
      return true;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      if (!ReadBytes(t.stmt, col, c, &f->bytes)) return false;
      f->kind = FieldKind::Bytes;
      return true;
    default:
      return false;
  }
}

}  // namespace

TableHandle OpenTable(Database* db, std::string_view sql) {
  if (db == nullptr) return 0;
  auto slot = std::find_if(db->slots.begin(), db->slots.end(), [](const auto& s) { return !s; });
  if (slot == db->slots.end()) {
    db->Fail("all 30 result tables of the connection are open");
    return 0;
  }
  auto t = std::make_unique<Table>();
  if (!db->OnConnection().Run([&] { return SQLAllocStmt(db->dbc, &t->stmt); })) {
    t->stmt = SQL_NULL_HSTMT;
    return 0;
  }
  db->ApplyQueryTimeout(t->stmt);
  if (!db->staticCursors) {
    db->Fail("the driver offers no static cursors");
    return 0;
  }
  CheckedCalls calls = db->OnStatement(t->stmt);
  auto option = [&](SQLUSMALLINT which, SQLULEN value) {
    return calls.Run([&] { return SQLSetStmtOption(t->stmt, which, value); }, Expect::Done);
  };
  if (!option(SQL_CURSOR_TYPE, SQL_CURSOR_STATIC) ||
      !option(SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY) || !option(SQL_ROWSET_SIZE, 1)) {
    return 0;
  }
  std::u16string text = Wide(TranslateBrackets(sql, db->quote));
  if (!calls.Run([&] { return SQLPrepareW(t->stmt, WideArg(text), SQL_NTS); }, Expect::Done) ||
      !calls.Run([&] { return SQLExecute(t->stmt); }, Expect::Done)) {
    return 0;
  }
  if (!Describe(*db, *t) || !BindTextCopies(*db, *t)) return 0;

  const Fetched first = Fetch(*db, *t, SQL_FETCH_NEXT);
  if (first == Fetched::Failed) return 0;
  t->atEnd = first == Fetched::End;
  t->atBeginning = t->atEnd;
  t->rowCount = t->atEnd ? 0 : 1;
  t->row = t->rowCount;
  // Learn the row count by reading to the end; a failure on the way only ends the count.
  if (!t->atEnd) {
    while (Fetch(*db, *t, SQL_FETCH_NEXT) == Fetched::Row) ++t->rowCount;
    t->row = 1;
    t->atEnd = Fetch(*db, *t, SQL_FETCH_FIRST) != Fetched::Row;
  }
  t->handle = NewHandle();
  *slot = std::move(t);
  return (*slot)->handle;
}

void MoveNext(Database* db, TableHandle table) {
  Table* t = db != nullptr ? db->Find(table) : nullptr;
  if (t == nullptr || t->atEnd) return;
  switch (Fetch(*db, *t, SQL_FETCH_NEXT)) {
    case Fetched::Row:
      ++t->row;
      break;
    case Fetched::End:
      t->atEnd = true;
      break;
    case Fetched::Failed:
      break;
  }
}

bool CloseTable(Database* db, TableHandle table) {
  if (db == nullptr) return false;
  for (auto& slot : db->slots) {
    if (slot && slot->handle == table && table != 0) {
      slot.reset();
      return true;
    }
  }
  db->Fail("no such result table");
  return false;
}

bool ReadColByIndex(Database* db, TableHandle table, int index, FieldValue* field) {
  *field = FieldValue{};
  if (db == nullptr) return false;
  Table* t = db->Find(table);
  if (t == nullptr) {
    db->Fail("no such result table");
    return false;
  }
  const std::int64_t number = static_cast<std::int64_t>(index) + 1;
  if (number < 1 || number > static_cast<std::int64_t>(t->columns.size())) {
    db->Fail("no such column");
    return false;
  }
  const Column& c = t->columns[static_cast<std::size_t>(number - 1)];
  // Past the last row there is no current row: the column's empty value.
  if (t->atEnd) {
    *field = FromText(c.sqlType, {});
    return true;
  }
  try {
    if (ReadFromDriver(*t, c, static_cast<SQLUSMALLINT>(number), field)) return true;
    // NULL, empty, unreadable, or a type read only through the copy (the driver may also
    // refuse a second read of a column it already delivered to the bound copy).
    bool lossy = false;
    *field = FromText(c.sqlType, CopyText(*t, c, &lossy));
    field->lossy = lossy && field->kind == FieldKind::Text;
    return true;
  } catch (const std::bad_alloc&) {
    // A value too big for the memory left: the read fails with the column's empty value, which
    // takes no memory, and the program goes on.
    *field = FromText(c.sqlType, {});
    RecordOutOfMemory(db->lastFailure);
    return false;
  }
}

bool ReadColByName(Database* db, TableHandle table, std::string_view name, FieldValue* field) {
  *field = FieldValue{};
  if (db == nullptr) return false;
  Table* t = db->Find(table);
  if (t == nullptr) {
    db->Fail("no such result table");
    return false;
  }
  for (std::size_t i = 0; i < t->columns.size(); ++i) {
    if (t->columns[i].name == name) return ReadColByIndex(db, table, static_cast<int>(i), field);
  }
  db->Fail("no such column");
  return false;
}

void EmptyVar(FieldValue* field) {
  if (field != nullptr) *field = FieldValue{};
}

}  // namespace tw::odbc
