// Pieces the benchmarks share natively and under Wine: the bare driver (one connection, plain
// batches on forward-only cursors, every row of every result read), the listing it does with the
// least round trips, a wall clock and medians.
#pragma once

#include <string>
#include <vector>

#include "runtime/odbc/odbc_api.h"

namespace tw::bench {

double NowMs();
double Median(std::vector<double> values);

// A fixture with `databases` user databases db0, db1, ... besides the four system ones.
std::string Fixture(int databases);

// The files query the tool runs for one database.
std::string FilesQuery(const std::string& name);

class BareDriver {
 public:
  explicit BareDriver(std::string connection);
  ~BareDriver();
  BareDriver(const BareDriver&) = delete;
  BareDriver& operator=(const BareDriver&) = delete;

  bool Connect();
  void Close();
  // Column 1 of every row, as GBK text.
  std::vector<std::string> Column1(const std::string& sql);
  // Sends the statement as one batch and reads every row of every result.
  bool Run(const std::string& sql);

 private:
  std::string connection_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// The rows of the tool's listing and combo fill with the least round trips: one login, each
// query once. Returns the milliseconds taken; `rows` receives the number of files queries.
double BareListing(BareDriver& bare, int* rows = nullptr);

}  // namespace tw::bench
