// A typed wrapper over the methods of one 外部数据库 unit of the main window, so that handlers
// never build argument vectors. SQL goes in as the server is to receive it.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace tw {

class Frame;

class DatabaseCalls {
 public:
  DatabaseCalls(Frame& frame, int unit) : frame_(frame), unit_(unit) {}

  // Logs in to the database "master" without any driver dialog; true when connected.
  bool Connect(const Text& server, const Text& user, const Text& password);
  void Close();
  // Whether the unit holds a connection: never opened, closed, or a reopen that failed say no.
  bool Connected();
  // A result table positioned on its first row; 0 when the query failed.
  int Open(std::string_view sql);
  void MoveNext(int table);
  Value Read(int table, int column);  // 1-based
  Value Read(int table, std::string_view field);
  // Whether the last Read gave a text in which characters GBK cannot hold became '?'.
  bool LastReadLossy();
  bool Execute(std::string_view sql);
  bool CloseTable(int table);

  // Whether the last Execute received the server message `number` (a severity-10 one too).
  bool LastStatementHad(int number);

  // The last failure as the driver described it.
  Text LastSqlState();
  int LastNativeError();
  Text LastMessage();
  // The principal diagnostic's text alone, without the driver's bracketed prefixes.
  Text LastServerMessage();
  // True when the last failure says the connection itself is gone (SQLSTATE class 08, the
  // driver's own network errors, or no connection at all), so that a new login may help.
  bool LastFailureLostConnection();

 private:
  Value Call(int method, const std::vector<Value>& args);

  Frame& frame_;
  int unit_;
};

}  // namespace tw
