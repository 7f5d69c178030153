// The database unit's methods with typed arguments and results.
#include "app/database_calls.h"

#include <utility>
#include <vector>

#include "app/database_unit.h"
#include "app/sql_texts.h"
#include "ui/frame.h"

namespace tw {

Value DatabaseCalls::Call(int method, const std::vector<Value>& args) {
  return frame_.CallMethod({kMainWindow, unit_}, method, args);
}

bool DatabaseCalls::Connect(const Text& server, const Text& user, const Text& password) {
  return Call(kDbConnectSqlServer, {Value::Str(server), Value::Str(user), Value::Str(password),
                                    Value::Str("master"), Value(), Value::Bool(true)})
      .AsBool();
}

void DatabaseCalls::Close() {
  Call(kDbCloseDatabase, {});
}

bool DatabaseCalls::Connected() {
  return Call(kDbConnected, {}).AsBool();
}

int DatabaseCalls::Open(std::string_view sql) {
  return static_cast<int>(
      Call(kDbOpenTable, {Value::Str(sql::ForBracketTranslation(sql))}).Integer());
}

void DatabaseCalls::MoveNext(int table) {
  Call(kDbMoveNext, {Value::Int(table)});
}

Value DatabaseCalls::Read(int table, int column) {
  return Call(kDbReadCol, {Value::Int(table), Value::Int(column)});
}

Value DatabaseCalls::Read(int table, std::string_view field) {
  return Call(kDbReadCol, {Value::Int(table), Value::Str(Text(field))});
}

bool DatabaseCalls::LastReadLossy() {
  return Call(kDbLastReadLossy, {}).AsBool();
}

bool DatabaseCalls::Execute(std::string_view sql) {
  return Call(kDbExecuteSql, {Value::Str(sql::ForBracketTranslation(sql))}).AsBool();
}

bool DatabaseCalls::CloseTable(int table) {
  return Call(kDbCloseTable, {Value::Int(table)}).AsBool();
}

bool DatabaseCalls::LastStatementHad(int number) {
  return Call(kDbLastStatementHad, {Value::Int(number)}).AsBool();
}

Text DatabaseCalls::LastServerMessage() {
  const Value message = Call(kDbLastErrorText, {});
  std::string_view text = message.AsText();
  // "[FreeTDS][SQL Server]..." or "[Microsoft][ODBC SQL Server Driver][SQL Server]...".
  while (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) break;
    text.remove_prefix(close + 1);
  }
  return Text(text);
}

Text DatabaseCalls::LastSqlState() {
  return Call(kDbLastSqlState, {}).AsText();
}

int DatabaseCalls::LastNativeError() {
  return static_cast<int>(Call(kDbLastNativeError, {}).Integer());
}

Text DatabaseCalls::LastMessage() {
  return Call(kDbLastErrorMessage, {}).AsText();
}

bool DatabaseCalls::LastFailureLostConnection() {
  const Text state = LastSqlState();
  if (state.empty()) return LastMessage() == "not connected";
  if (state.starts_with("08")) return true;
  // FreeTDS names what it met on the socket before it calls the link lost: an unexpected end
  // of the stream, a failed read or write.
  const int native = LastNativeError();
  return native == 20017 || native == 20004 || native == 20006;
}

}  // namespace tw
