// The database object's driver-free texts: identifier-quote translation, the login's file data
// source and connection string, GBK cutting and the leading numbers of text copies.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/odbc/sql_text.h"
#include "runtime/text.h"

namespace tw::odbc {
namespace {

TEST(TranslateBrackets, QuotesIdentifiersOutsideLiteralsOnly) {
  EXPECT_EQ(TranslateBrackets("select [name] from [t]", '"'), "select \"name\" from \"t\"");
  EXPECT_EQ(TranslateBrackets("select [[x]] from t", '"'), "select [x] from t");
  EXPECT_EQ(TranslateBrackets("select '[a]' , [b]", '"'), "select '[a]' , \"b\"");
  // A doubled quote inside a literal keeps the literal open.
  EXPECT_EQ(TranslateBrackets("select 'it''s [x]' , [y]", '"'), "select 'it''s [x]' , \"y\"");
  // An empty literal opens and closes nothing.
  EXPECT_EQ(TranslateBrackets("select '' + [y]", '"'), "select '' + \"y\"");
  // An unclosed literal protects the rest of the text.
  EXPECT_EQ(TranslateBrackets("select 'abc [x]", '"'), "select 'abc [x]");
  EXPECT_EQ(TranslateBrackets("[a]", ' '), " a ");
  EXPECT_EQ(TranslateBrackets("", '"'), "");
}

TEST(TranslateBrackets, NeverSplitsDoubleByteCharacters) {
  // GBK trail bytes may equal '[' (0x5B) or ']' (0x5D): 0x81 0x5B is one character.
  const Text sql = std::string("select \x81\x5B, [a]\x81\x5D", 16);
  EXPECT_EQ(TranslateBrackets(sql, '"'), std::string("select \x81\x5B, \"a\"\x81\x5D", 16));
  const Text chinese = Gbk("select [名称] from [表]");
  EXPECT_EQ(TranslateBrackets(chinese, '"'), Gbk("select \"名称\" from \"表\""));
}

TEST(ConnectionValue, BracesOnlyWhatWouldEndEarly) {
  EXPECT_EQ(ConnectionValue("sa"), "sa");
  EXPECT_EQ(ConnectionValue("127.0.0.1,1433"), "127.0.0.1,1433");
  EXPECT_EQ(ConnectionValue("in side"), "in side");
  EXPECT_EQ(ConnectionValue("pa;ss"), "{pa;ss}");
  EXPECT_EQ(ConnectionValue("a}b"), "{a}}b}");
  EXPECT_EQ(ConnectionValue("{x"), "{{x}");
  EXPECT_EQ(ConnectionValue(" lead"), "{ lead}");
  EXPECT_EQ(ConnectionValue("trail "), "{trail }");
  EXPECT_EQ(ConnectionValue(""), "");
}

TEST(BuildDsnTexts, LaysOutEveryPartInOrder) {
  const DsnTexts t = BuildDsnTexts({"10.0.0.5", "sa", "secret", "master", "HOST1"});
  EXPECT_EQ(t.file,
            "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=10.0.0.5\r\nUID=sa\r\nDATABASE=master\r\n"
            "WSID=HOST1\r\n");
  EXPECT_EQ(t.tail,
            ";DRIVER=SQL Server;SERVER=10.0.0.5;UID=sa;PWD=secret;DATABASE=master;WSID=HOST1;");
  EXPECT_EQ(ComposeConnectionString("/tmp/~sqlsrv.dsn", t.tail),
            "ODBC;FILEDSN=/tmp/~sqlsrv.dsn;DRIVER=SQL Server;SERVER=10.0.0.5;UID=sa;PWD=secret;"
            "DATABASE=master;WSID=HOST1;");
}

TEST(BuildDsnTexts, LeavesOutEmptyParts) {
  const DsnTexts none = BuildDsnTexts({});
  EXPECT_EQ(none.file, "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=\r\n");
  EXPECT_EQ(none.tail, ";DRIVER=SQL Server;SERVER=;");
  const DsnTexts noUser = BuildDsnTexts({"s", "", "p", "", ""});
  EXPECT_EQ(noUser.file, "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=s\r\n");
  EXPECT_EQ(noUser.tail, ";DRIVER=SQL Server;SERVER=s;PWD=p;");
}

TEST(BuildDsnTexts, PasswordNeverInFileAndBracedInString) {
  const DsnTexts t = BuildDsnTexts({"s", "u", "pa;ss", "master", "H"});
  EXPECT_EQ(t.file.find("pa;ss"), std::string::npos);
  EXPECT_EQ(t.file.find("PWD"), std::string::npos);
  EXPECT_NE(t.tail.find(";PWD={pa;ss};"), std::string::npos);
  // The file keeps values as typed: it is read line by line.
  const DsnTexts odd = BuildDsnTexts({"s", "u;x", "p", "", ""});
  EXPECT_NE(odd.file.find("\r\nUID=u;x"), std::string::npos);
  EXPECT_NE(odd.tail.find(";UID={u;x};"), std::string::npos);
}

TEST(DriverConnectionString, StripsTheStoredPrefixOnly) {
  EXPECT_EQ(DriverConnectionString("ODBC;FILEDSN=x;DRIVER=y;"), "FILEDSN=x;DRIVER=y;");
  EXPECT_EQ(DriverConnectionString("odbc;DRIVER=y;"), "DRIVER=y;");
  EXPECT_EQ(DriverConnectionString("DRIVER=y;"), "DRIVER=y;");
  EXPECT_EQ(DriverConnectionString("ODBC"), "ODBC");
  EXPECT_EQ(DriverConnectionString(""), "");
}

TEST(CutGbk, KeepsWholeCharactersWithinTheLimit) {
  EXPECT_EQ(CutGbk("abcdef", 4), "abcd");
  const Text zh = Gbk("中文字");  // 6 bytes
  EXPECT_EQ(CutGbk(zh, 6), zh);
  EXPECT_EQ(CutGbk(zh, 5), Gbk("中文"));
  EXPECT_EQ(CutGbk("a" + zh, 4), "a" + Gbk("中"));
  EXPECT_EQ(CutGbk(zh, 0), "");
}

TEST(LeadingNumbers, ReadWhatADriverPrints) {
  EXPECT_EQ(LeadingInteger("42"), 42);
  EXPECT_EQ(LeadingInteger("  -17abc"), -17);
  EXPECT_EQ(LeadingInteger("+5"), 5);
  EXPECT_EQ(LeadingInteger("12.9"), 12);
  EXPECT_EQ(LeadingInteger("x1"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999999"), INT64_MAX);
  EXPECT_DOUBLE_EQ(LeadingNumber("3.5"), 3.5);
  EXPECT_DOUBLE_EQ(LeadingNumber(" -1.25e2xyz"), -125.0);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("abc"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e-400"), 0.0);
  EXPECT_TRUE(std::isinf(LeadingNumber("1e400")));
  // Words are no numbers, whatever a number parser makes of them.
  for (const char* word : {"NAN", "nan(1)", "-inf", "Infinity", "+.e1", "."}) {
    EXPECT_EQ(LeadingNumber(word), 0.0) << word;
  }
}

}  // namespace
}  // namespace tw::odbc

namespace tw::odbc {
namespace {

TEST(DateTimeFromText, ReadsTheDriversDateAndTimeTexts) {
  EXPECT_EQ(DateTimeFromText("2020-10-08 13:45:30.123"), MakeDate(2020, 10, 8, 13, 45, 30));
  EXPECT_EQ(DateTimeFromText("2020-10-08"), MakeDate(2020, 10, 8));
  EXPECT_EQ(DateTimeFromText("1899-12-30 06:00:00"), 0.25);
  EXPECT_EQ(DateTimeFromText("06:00:00"), 0.25);
  EXPECT_EQ(DateTimeFromText("0050-01-01 00:00:00"), kMinDate);  // before year 100: limited
  EXPECT_FALSE(DateTimeFromText("").has_value());
  EXPECT_FALSE(DateTimeFromText("2020-13-01").has_value());
  EXPECT_FALSE(DateTimeFromText("hello").has_value());
  EXPECT_FALSE(DateTimeFromText("2020-10-08 25:00:00").has_value());
  EXPECT_FALSE(DateTimeFromText("2020-10-08 10:00:00 x").has_value());
}

}  // namespace
}  // namespace tw::odbc
