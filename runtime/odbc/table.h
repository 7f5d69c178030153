// The result tables of a connection: opening a query, whose result is read whole at once,
// moving through it, reading fields of the current row by number or name, and releasing a table.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/odbc/connection.h"

namespace tw::odbc {

// The value of one field of the current row.
enum class FieldKind : std::uint8_t {
  None = 0,
  Byte = 1,
  Short = 2,
  Int = 3,
  Float = 5,
  Double = 6,
  Bool = 7,
  Text = 8,
  DateTime = 9,
  Bytes = 10,
};
struct FieldValue {
  FieldKind kind = FieldKind::None;
  std::int64_t integer = 0;  // byte, short, int, bool
  double real = 0.0;         // float, double, date-time
  Text text;
  Bytes bytes;
  bool lossy = false;  // a text holding characters GBK cannot represent, each as '?'
};

TableHandle OpenTable(Database* db, std::string_view sql);
void MoveNext(Database* db, TableHandle table);
// Releases one table and its slot; false when the handle names no open table.
bool CloseTable(Database* db, TableHandle table);
bool ReadColByIndex(Database* db, TableHandle table, int index, FieldValue* field);
bool ReadColByName(Database* db, TableHandle table, std::string_view name, FieldValue* field);
void EmptyVar(FieldValue* field);

}  // namespace tw::odbc
