// The 外部数据库 unit: argument checks and conversions around the connection layer, the file
// data source written around every login, and the method table the frame calls. No exception
// leaves the unit: memory that runs out inside a method fails that method with its failure
// value and the failure "out of memory".
#include "app/database_unit.h"

#include <algorithm>
#include <new>
#include <utility>

#include "runtime/odbc/odbc_platform.h"
#include "runtime/odbc/sql_text.h"
#include "runtime/text.h"

namespace tw {
namespace {

const Value& Arg(const std::vector<Value>& args, std::size_t i) {
  static const Value kAbsent;
  return i < args.size() ? args[i] : kAbsent;
}

odbc::TableHandle HandleOf(const Value& v) {
  return NumericToInt(v).value_or(0);
}

Value ToValue(odbc::FieldValue&& f) {
  switch (f.kind) {
    case odbc::FieldKind::Byte:
      return Value::Byte(static_cast<std::uint8_t>(f.integer));
    case odbc::FieldKind::Short:
      return Value::Short(static_cast<std::int16_t>(f.integer));
    case odbc::FieldKind::Int:
      return Value::Int(static_cast<std::int32_t>(f.integer));
    case odbc::FieldKind::Float:
      return Value::Float(static_cast<float>(f.real));
    case odbc::FieldKind::Double:
      return Value::Double(f.real);
    case odbc::FieldKind::Bool:
      return Value::Bool(f.integer != 0);
    case odbc::FieldKind::Text:
      return Value::Str(std::move(f.text));
    case odbc::FieldKind::DateTime:
      return Value::DateTime(f.real);
    case odbc::FieldKind::Bytes:
      return Value::Blob(std::move(f.bytes));
    case odbc::FieldKind::None:
      break;
  }
  return Value::Str({});
}

}  // namespace

DatabaseUnit::~DatabaseUnit() {
  CloseDatabase();
}

void DatabaseUnit::Refused(const char* why) {
  lastFailure_ = odbc::OwnFailure(why);
}

void DatabaseUnit::NoteFailure() {
  lastFailure_ = odbc::LastFailure(db_.get());
}

bool DatabaseUnit::ConnectSqlServer(const Value& server, const Value& user, const Value& password,
                                    const Value& database, const Value& readOnly,
                                    const Value& noPrompt) {
  return Guarded(false, [&] {
    odbc::LoginParts login;
    login.server = server.AsText();
    login.user = user.AsText();
    login.password = password.AsText();
    login.database = database.AsText();
    login.workstation = odbc::ComputerNameForDsn();
    const odbc::DsnTexts dsn = odbc::BuildDsnTexts(login);
    const Text path = odbc::TempFolder() + "~sqlsrv.dsn";
    // The file only repeats what the connection string says; a file that cannot be written
    // leaves the connection string to stand on its own.
    (void)odbc::WriteDsnFile(path, dsn.file);
    odbc::Diagnostic failure;
    odbc::DatabasePtr db = odbc::NewOpenDatabase(odbc::ComposeConnectionString(path, dsn.tail),
                                                 IsTrue(readOnly), IsTrue(noPrompt), &failure);
    (void)odbc::DeleteDsnFile(path);
    if (!db) {
      lastFailure_ = failure;
      return false;
    }
    // The new connection replaces the old one only once it stands.
    db_ = std::move(db);
    return true;
  });
}

void DatabaseUnit::CloseDatabase() {
  odbc::CloseDatabase(db_);
}

odbc::TableHandle DatabaseUnit::OpenTable(const Value& sql) {
  return Guarded(odbc::TableHandle{0}, [&] {
    if (sql.AsText().empty()) {
      Refused("empty SQL text");
      return 0;
    }
    if (!db_) {
      Refused("not connected");
      return 0;
    }
    const odbc::TableHandle h = odbc::OpenTable(db_.get(), sql.AsText());
    if (h == 0) NoteFailure();
    return h;
  });
}

void DatabaseUnit::MoveNext(const Value& table) {
  Guarded(0, [&] {
    odbc::MoveNext(db_.get(), HandleOf(table));
    return 0;
  });
}

bool DatabaseUnit::CloseTable(const Value& table) {
  return Guarded(false, [&] {
    if (!db_) {
      Refused("not connected");
      return false;
    }
    if (odbc::CloseTable(db_.get(), HandleOf(table))) return true;
    NoteFailure();
    return false;
  });
}

Value DatabaseUnit::ReadCol(const Value& table, const Value& field) {
  odbc::FieldValue f;
  lastReadLossy_ = false;
  try {
    bool read = false;
    if (field.IsText()) {
      read = odbc::ReadColByName(db_.get(), HandleOf(table), field.AsText(), &f);
    } else if (field.IsNumeric()) {
      const std::int32_t n = NumericToInt(field).value_or(0);
      // Column numbers count from 1; 0 and below name no column.
      read = odbc::ReadColByIndex(db_.get(), HandleOf(table), n >= 1 ? n - 1 : -1, &f);
    }
    lastReadLossy_ = f.lossy;
    if (!read) {
      if (db_) {
        NoteFailure();
      } else {
        Refused("not connected");
      }
    }
  } catch (const std::bad_alloc&) {
    odbc::RecordOutOfMemory(lastFailure_);
    // The empty value of what was being read.
    const odbc::FieldKind kind = f.kind;
    f = odbc::FieldValue{};
    f.kind = kind;
  }
  // The value moves into the result: a long one is never copied.
  return ToValue(std::move(f));
}

bool DatabaseUnit::ExecuteSql(const Value& sql, const std::vector<Value>& params) {
  return Guarded(false, [&] {
    if (sql.AsText().empty()) {
      Refused("empty SQL text");
      return false;
    }
    if (!db_) {
      Refused("not connected");
      return false;
    }
    std::vector<odbc::SqlParam> list;
    for (const Value& p : params) {
      if (p.IsText()) {
        list.push_back({p.AsText().c_str(), -1});
      } else if (p.IsBytes()) {
        list.push_back({p.AsBytes().data(), static_cast<std::int64_t>(p.AsBytes().size())});
      }
    }
    const bool ok =
        odbc::ExecuteSql(db_.get(), sql.AsText(), list.data(), static_cast<int>(list.size()));
    if (!ok) NoteFailure();
    return ok;
  });
}

Value DatabaseUnit::Call(int method, const std::vector<Value>& args) {
  return Guarded(Value(), [&] { return Dispatch(method, args); });
}

Value DatabaseUnit::Dispatch(int method, const std::vector<Value>& args) {
  switch (method) {
    case kDbConnectSqlServer:
      return Value::Bool(ConnectSqlServer(Arg(args, 0), Arg(args, 1), Arg(args, 2), Arg(args, 3),
                                          Arg(args, 4), Arg(args, 5)));
    case kDbCloseDatabase:
      CloseDatabase();
      return {};
    case kDbOpenTable:
      return Value::Int(OpenTable(Arg(args, 0)));
    case kDbMoveNext:
      MoveNext(Arg(args, 0));
      return {};
    case kDbReadCol:
      return ReadCol(Arg(args, 0), Arg(args, 1));
    case kDbExecuteSql:
      return Value::Bool(ExecuteSql(
          Arg(args, 0), args.size() > 1 ? std::vector<Value>(args.begin() + 1, args.end())
                                        : std::vector<Value>{}));
    case kDbCloseTable:
      return Value::Bool(CloseTable(Arg(args, 0)));
    case kDbLastSqlState:
      return Value::Str(lastFailure_.sqlState);
    case kDbLastNativeError:
      return Value::Int(lastFailure_.nativeError);
    case kDbLastErrorMessage:
      return Value::Str(lastFailure_.message);
    case kDbLastReadLossy:
      return Value::Bool(lastReadLossy_);
    case kDbLastErrorText:
      return Value::Str(lastFailure_.principalMessage);
    case kDbLastStatementHad: {
      const auto& messages = odbc::LastStatementMessages(db_.get());
      const std::int32_t number = ToInt(Arg(args, 0));
      return Value::Bool(std::find(messages.begin(), messages.end(), number) != messages.end());
    }
    case kDbConnected:
      return Value::Bool(connected());
    default:
      return {};
  }
}

void RegisterDatabaseUnit(Frame& frame) {
  frame.RegisterUnitKind(UnitKind::Database, [] { return std::make_unique<DatabaseUnit>(); });
}

}  // namespace tw
