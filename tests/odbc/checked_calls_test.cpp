// The one way the database object makes an ODBC call: a failure records the diagnostics of the
// handle the call was made on, a call still executing is repeated, and each expectation
// accepts exactly its return codes.
#include <gtest/gtest.h>

#include <deque>

#include "runtime/odbc/database.h"

namespace tw {
namespace {

TEST(CheckedCalls, AFailureRecordsTheDiagnosticsOfItsHandle) {
  odbc::DatabasePtr db(new odbc::Database);
  odbc::Diagnostic none;
  db->dbc = odbc::AcquireConnectionHandle(&none);
  ASSERT_NE(db->dbc, nullptr) << none.message;
  db->lastFailure = odbc::OwnFailure("earlier");
  // A statement needs an open connection: the driver manager says so on the connection handle.
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  EXPECT_FALSE(db->OnConnection().Run([&] { return SQLAllocStmt(db->dbc, &stmt); }));
  EXPECT_EQ(odbc::LastFailure(db.get()).sqlState, "08003");
  EXPECT_NE(odbc::LastFailure(db.get()).message, "earlier");
  EXPECT_FALSE(odbc::LastFailure(db.get()).message.empty());
  db.reset();
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
}

TEST(CheckedCalls, RepeatsWhileStillExecutingAndJudgesTheFinalAnswer) {
  std::deque<SQLRETURN> answers;
  int calls = 0;
  auto call = [&] {
    ++calls;
    const SQLRETURN rc = answers.front();
    answers.pop_front();
    return rc;
  };
  odbc::Diagnostic record = odbc::OwnFailure("earlier");
  const SQLHANDLE noHandle = SQL_NULL_HANDLE;
  odbc::CheckedCalls checked(SQL_HANDLE_STMT, noHandle, &record);

  answers = {SQL_STILL_EXECUTING, SQL_STILL_EXECUTING, SQL_NO_DATA};
  EXPECT_TRUE(checked.Run(call, odbc::Expect::Done));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(checked.rc(), SQL_NO_DATA);
  EXPECT_EQ(record.message, "earlier");  // a success leaves the last failure alone

  // No data is no answer to a call that was to deliver something; the failure replaces the
  // record (a handle without diagnostics gives an empty one).
  answers = {SQL_NO_DATA};
  EXPECT_FALSE(checked.Run(call));
  EXPECT_TRUE(record.message.empty());

  for (const SQLRETURN rc : {SQL_SUCCESS, SQL_SUCCESS_WITH_INFO}) {
    answers = {rc};
    EXPECT_TRUE(checked.Run(call)) << rc;
    answers = {rc};
    EXPECT_TRUE(checked.Run(call, odbc::Expect::Row)) << rc;
  }
  for (const SQLRETURN rc : {SQL_ERROR, SQL_INVALID_HANDLE, SQL_NEED_DATA}) {
    for (const odbc::Expect e : {odbc::Expect::Answer, odbc::Expect::Done, odbc::Expect::Row}) {
      answers = {rc};
      EXPECT_FALSE(checked.Run(call, e)) << rc;
    }
  }
}

}  // namespace
}  // namespace tw
