// The SQL texts with names put in, and the size texts, against the examples the tool must show.
#include <gtest/gtest.h>

#include <random>

#include "app/size_text.h"
#include "app/sql_texts.h"
#include "runtime/gbk.h"
#include "runtime/odbc/sql_text.h"

namespace tw {
namespace {

TEST(SqlTexts, OrdinaryNamesGoInAsTheyAre) {
  EXPECT_EQ(sql::SetRecoverySimple("sales"), "ALTER DATABASE sales SET RECOVERY SIMPLE ");
  EXPECT_EQ(sql::Use("sales"), "USE sales");
  EXPECT_EQ(sql::ShrinkLog("sales_log"), "DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)");
  EXPECT_EQ(sql::SetRecovery("sales", "FULL"), "ALTER DATABASE sales SET RECOVERY FULL");
  EXPECT_EQ(sql::FilesQuery("sales"),
            "select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
            "sys.master_files where database_id=db_id(N'sales');");
  EXPECT_EQ(sql::Use(Gbk("销售库")), Gbk("USE 销售库"));
  EXPECT_EQ(sql::Use("_a1@#$"), "USE _a1@#$");
}

TEST(SqlTexts, OtherNamesAreQuoted) {
  EXPECT_EQ(sql::Use("x]y"), "USE [x]]y]");
  EXPECT_EQ(sql::Use("has space"), "USE [has space]");
  EXPECT_EQ(sql::Use("1abc"), "USE [1abc]");
  EXPECT_EQ(sql::Use("@v"), "USE [@v]");
  EXPECT_EQ(sql::Use("select"), "USE [select]");
  EXPECT_EQ(sql::Use(""), "USE []");
  EXPECT_EQ(sql::Use(std::string(129, 'a')), "USE [" + std::string(129, 'a') + "]");
  EXPECT_EQ(sql::Use(std::string(128, 'a')), "USE " + std::string(128, 'a'));
  const Text hostile = sql::FilesQuery("x'); DROP DATABASE y; --");
  EXPECT_EQ(hostile.substr(hostile.find("db_id")), "db_id(N'x''); DROP DATABASE y; --');");
  EXPECT_EQ(sql::ShrinkLog("a'b_log"), "DBCC SHRINKFILE (N'a''b_log' , 0, TRUNCATEONLY)");
  // A GBK character whose second byte is ']' or '\'' is one character, never doubled.
  const Text trail = "\x81]";
  EXPECT_EQ(sql::LiteralBody(trail + "'"), trail + "''");
}

TEST(SqlTexts, TheDatabaseObjectDeliversExactlyWhatWasMeant) {
  // Whatever the text, the object's bracket translation undoes the doubling exactly.
  std::mt19937 rng(7);
  const char alphabet[] = {'[', ']', '\'', 'a', ' ', '"', '\x81', '\xA1'};
  for (int round = 0; round < 20000; ++round) {
    Text t;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) t += alphabet[rng() % sizeof alphabet];
    ASSERT_EQ(odbc::TranslateBrackets(sql::ForBracketTranslation(t), '"'), t) << t;
  }
  const Text cleanup = sql::SetRecoverySimple("sales");
  EXPECT_EQ(sql::ForBracketTranslation(cleanup), cleanup);
}

TEST(SizeTexts, TheExamplesOfTheListingsAndRefresh) {
  EXPECT_EQ(size_text::LocalListing(512), "512 KB");
  EXPECT_EQ(size_text::LocalListing(1536), "1.536 MB");
  EXPECT_EQ(size_text::LocalListing(2097151), "2.097151 GB");
  EXPECT_EQ(size_text::LocalListing(0), "0 KB");
  EXPECT_EQ(size_text::Server(128 / 124.0f), "1.03 MB");
  EXPECT_EQ(size_text::Server(64 / 124.0f), "516.13 KB");
  EXPECT_EQ(size_text::Server(1024 / 124.0f), "8.26 MB");
  EXPECT_EQ(size_text::Server(1.024f - 0.00000005f), "1.02 MB");  // within the tolerance
  EXPECT_EQ(size_text::Server(1100), "1.1 GB");
  EXPECT_EQ(size_text::Local(1500 / 1024.0f), "1.46484 KB");
  EXPECT_EQ(size_text::FreedServer(1030), "1.03 GB");
  EXPECT_EQ(size_text::FreedServer(1000), "1000 MB");
  EXPECT_EQ(size_text::FreedServer(12.5f), "12.5 MB");
  EXPECT_EQ(size_text::FreedServer(0.5f), "500 KB");
  EXPECT_EQ(size_text::Local(-1.0f), "-1 KB");  // a log that grew: the lowest range
}

}  // namespace
}  // namespace tw
