// Result tables: opening a query, which reads its result whole and frees the statement, moving
// through the copy and reading fields of its current row by the rules of each column's type.
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

// A field value from a text copy, by the column's SQL type; an empty copy gives the column's
// empty value.
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
      // A copy that reads as a date-time gives one; an empty copy gives an empty text.
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

// A text as a read gives it: `limit` GBK bytes at most, cut between characters.
Text GbkOf(const std::u16string& wide, std::size_t limit, bool* lossy) {
  const Text text = FromWide(reinterpret_cast<const SQLWCHAR*>(wide.data()), wide.size(), lossy);
  return text.size() > limit ? CutGbk(text, limit) : text;
}

// The field value of a column from its field in the copy. A field the driver gave nothing for
// (NULL, empty, unreadable) and a column read through no fetch type give the column's empty
// value, as an empty text copy converts to.
FieldValue FieldOf(const Column& c, const Cell& cell) {
  FieldValue f;
  const auto* integer = std::get_if<std::int64_t>(&cell);
  const auto* real = std::get_if<double>(&cell);
  const auto* wide = std::get_if<std::u16string>(&cell);
  const auto* bytes = std::get_if<Bytes>(&cell);
  switch (c.reading) {
    case Reading::Bit:
    case Reading::Byte:
    case Reading::Short:
    case Reading::Int:
      if (integer == nullptr) break;
      f.kind = c.reading == Reading::Bit     ? FieldKind::Bool
               : c.reading == Reading::Byte  ? FieldKind::Byte
               : c.reading == Reading::Short ? FieldKind::Short
                                             : FieldKind::Int;
      f.integer = *integer;
      return f;
    case Reading::Float:
    case Reading::Double:
    case Reading::DateTime:
      if (real == nullptr) break;
      f.kind = c.reading == Reading::Float    ? FieldKind::Float
               : c.reading == Reading::Double ? FieldKind::Double
                                              : FieldKind::DateTime;
      f.real = *real;
      return f;
    case Reading::CopyText: {
      if (wide == nullptr) break;
      bool lossy = false;
      f = FromText(c.sqlType, GbkOf(*wide, kTextCopyBytes - 1, &lossy));
      f.lossy = lossy && f.kind == FieldKind::Text;
      return f;
    }
    case Reading::Text: {
      if (wide == nullptr) break;
      const bool whole = c.sqlType == SQL_LONGVARCHAR || c.size == 0;
      f.kind = FieldKind::Text;
      f.text = GbkOf(*wide,
                     whole ? std::numeric_limits<std::size_t>::max()
                           : static_cast<std::size_t>(c.displayWidth - 1),
                     &f.lossy);
      return f;
    }
    case Reading::Bytes:
      if (bytes == nullptr) break;
      f.kind = FieldKind::Bytes;
      f.bytes = *bytes;
      return f;
    case Reading::None:
      break;
  }
  return FromText(c.sqlType, {});
}

// The statement of an opening: freed when the opening ends, whatever way it ends.
class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() {
    // Unchecked: a statement that cannot be freed cannot be freed again either. A result not
    // read to its end is cancelled by the driver as it frees the statement.
    if (handle != SQL_NULL_HSTMT) (void)SQLFreeStmt(handle, SQL_DROP);
  }
  SQLHSTMT handle = SQL_NULL_HSTMT;
};

// Moves past every further result of the batch, so that the connection is free.
void SkipFurtherResults(SQLHSTMT stmt) {
  CheckedCalls skip(SQL_HANDLE_STMT, stmt);
  for (int i = 0; i < 1000 && skip.Run([&] { return SQLMoreResults(stmt); }); ++i) {
  }
}

// Runs the query and reads its result whole into a new table; none when the query failed.
std::unique_ptr<Table> ReadTable(Database& db, std::string_view sql) {
  Statement stmt;
  if (!db.OnConnection().Run([&] { return SQLAllocStmt(db.dbc, &stmt.handle); })) {
    stmt.handle = SQL_NULL_HSTMT;
    return nullptr;
  }
  db.ApplyQueryTimeout(stmt.handle);
  // A new statement is forward-only and read-only, so the batch runs as one plain request whose
  // result is read at once; no cursor is asked of the server.
  CheckedCalls calls = db.OnStatement(stmt.handle);
  std::u16string text = Wide(TranslateBrackets(sql, db.quote));
  if (!calls.Run([&] { return SQLExecDirectW(stmt.handle, WideArg(text), SQL_NTS); },
                 Expect::Done)) {
    return nullptr;
  }
  auto t = std::make_unique<Table>();
  if (!DescribeResult(db, stmt.handle, t.get())) return nullptr;
  const Filled filled = ReadResult(db, stmt.handle, t.get());
  if (filled != Filled::Whole) return nullptr;
  SkipFurtherResults(stmt.handle);
  // The cursor stands on the first row, or at the end of an empty result.
  t->atEnd = t->rowCount == 0;
  t->atBeginning = t->atEnd;
  t->row = t->atEnd ? 0 : 1;
  return t;
}
}  // namespace

TableHandle OpenTable(Database* db, std::string_view sql) {
  if (db == nullptr) return 0;
  auto slot = std::find_if(db->slots.begin(), db->slots.end(), [](const auto& s) { return !s; });
  if (slot == db->slots.end()) {
    db->Fail("all 30 result tables of the connection are open");
    return 0;
  }
  try {
    std::unique_ptr<Table> t = ReadTable(*db, sql);
    if (!t) return 0;
    t->handle = NewHandle();
    *slot = std::move(t);
    return (*slot)->handle;
  } catch (const std::bad_alloc&) {
    // A result too big for the memory left fails to open, and the program goes on.
    RecordOutOfMemory(db->lastFailure);
    return 0;
  }
}

void MoveNext(Database* db, TableHandle table) {
  Table* t = db != nullptr ? db->Find(table) : nullptr;
  if (t == nullptr || t->atEnd) return;
  if (t->row < t->rowCount) {
    ++t->row;
  } else {
    t->atEnd = true;
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
    *field = FieldOf(c, t->At(t->row, static_cast<std::size_t>(number - 1)));
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
