// Every SQL type the driver reports, read through ReadCol: the value kind it gives, NULLs, long
// columns read on in pieces, and the cut of texts to the display width and the 511-byte copy.
// The simulator gets one extra table for this (typed_sim.py).
#include <gtest/gtest.h>

#include "app/database_unit.h"
#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw {
namespace {

Text Repeat(const Text& t, int n) {
  Text out;
  for (int i = 0; i < n; ++i) out += t;
  return out;
}

class Types : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                      Value::Str(odbctest::kSaPassword), Value::Str("master"), {},
                                      Value::Bool(true)));
    table = unit.Call(kDbOpenTable, {Value::Str("select * from tw_types")});
    ASSERT_NE(table, Value::Int(0)) << unit.lastFailure().message;
  }
  Value Col(const char* name) { return unit.Call(kDbReadCol, {table, Value::Str(name)}); }
  void Next() { unit.Call(kDbMoveNext, {table}); }

  odbctest::Sim sim{true};
  DatabaseUnit unit;
  Value table;
};

TEST_F(Types, ValuesTakeTheKindOfTheirColumn) {
  EXPECT_EQ(Col("id"), Value::Int(1));
  EXPECT_EQ(Col("c_bit"), Value::Bool(true));
  EXPECT_EQ(Col("c_tinyint"), Value::Byte(200));
  EXPECT_EQ(Col("c_smallint"), Value::Short(-1234));
  EXPECT_EQ(Col("c_int"), Value::Int(123456789));
  EXPECT_EQ(Col("c_bigint"), Value::Str("9007199254740993"));
  EXPECT_EQ(Col("c_real"), Value::Float(1.5f));
  EXPECT_EQ(Col("c_float"), Value::Double(-2.25e10));
  EXPECT_EQ(Col("c_decimal"), Value::Str("12345.6789"));
  EXPECT_EQ(Col("c_char"), Value::Str("ab    "));
  EXPECT_EQ(Col("c_varchar"), Value::Str("varchar"));
  EXPECT_EQ(Col("c_nvarchar"), Value::Str("nvarchar"));
  EXPECT_EQ(Col("c_nchar"), Value::Str("nc  "));
  EXPECT_EQ(Col("c_datetime"), Value::DateTime(MakeDate(2020, 10, 8, 13, 45, 30)));
  EXPECT_EQ(Col("c_binary"), Value::Blob({1, 2, 0, 0}));
  EXPECT_EQ(Col("c_varbinary"), Value::Blob({0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}));
  // Long columns are read on until complete.
  const Value image = Col("c_image");
  ASSERT_EQ(image.AsBytes().size(), 10240u);
  EXPECT_EQ(image.AsBytes()[255], 255);
  EXPECT_EQ(image.AsBytes()[10239], 255);
  EXPECT_EQ(Col("c_text"), Value::Str(Repeat("long text ", 500)));
  // A wide long column has neither a fetch type nor a text copy.
  EXPECT_EQ(Col("c_ntext"), Value::Str(""));
  EXPECT_EQ(Col("c_wide"), Value::Str(Text(600, 'w')));
  EXPECT_EQ(Col("c_nwide"), Value::Str(Text(300, 'n')));
  EXPECT_EQ(Col("c_n511"), Value::Str(Text(511, 'x')));
  EXPECT_EQ(Col("c_n600"), Value::Str(Text(600, 'y')));
}

TEST_F(Types, NullsGiveTheEmptyValueOfTheirKind) {
  Next();
  ASSERT_EQ(Col("id"), Value::Int(2));
  EXPECT_EQ(Col("c_bit"), Value::Bool(false));
  EXPECT_EQ(Col("c_tinyint"), Value::Byte(0));
  EXPECT_EQ(Col("c_smallint"), Value::Short(0));
  EXPECT_EQ(Col("c_int"), Value::Int(0));
  EXPECT_EQ(Col("c_real"), Value::Float(0));
  EXPECT_EQ(Col("c_float"), Value::Double(0));
  for (const char* text : {"c_bigint", "c_decimal", "c_char", "c_varchar", "c_nvarchar", "c_nchar",
                           "c_datetime", "c_text", "c_ntext", "c_wide", "c_nwide", "c_n600"}) {
    EXPECT_EQ(Col(text), Value::Str("")) << text;
  }
  for (const char* bytes : {"c_binary", "c_varbinary", "c_image"}) {
    EXPECT_EQ(Col(bytes), Value::Blob({})) << bytes;
  }
}

TEST_F(Types, ChineseTextsAreGbkAndCutOnlyBetweenCharacters) {
  Next();
  Next();
  ASSERT_EQ(Col("id"), Value::Int(3));
  EXPECT_EQ(Col("c_varchar"), Value::Str(Gbk("中文varchar")));
  EXPECT_EQ(Col("c_nvarchar"), Value::Str(Gbk("中文字符")));
  EXPECT_EQ(Col("c_char"), Value::Str(Gbk("中文") + "  "));
  EXPECT_EQ(Col("c_text"), Value::Str(Repeat(Gbk("文本"), 1000)));
  EXPECT_EQ(Col("c_wide"), Value::Str(Repeat(Gbk("中"), 300)));
  // A text copy keeps at most 511 bytes: 255 double-byte characters, never half of one,
  // whether the driver delivered the whole value (300 characters) or cut it (511).
  EXPECT_EQ(Col("c_nwide"), Value::Str(Repeat(Gbk("中"), 255)));
  EXPECT_EQ(Col("c_n511"), Value::Str(Repeat(Gbk("中"), 255)));
  // Read from the driver, a text keeps display width - 1 bytes.
  EXPECT_EQ(Col("c_n600"), Value::Str(Repeat(Gbk("中"), 300)));
  EXPECT_EQ(Col("c_datetime"), Value::DateTime(MakeDate(1753, 1, 1)));
}

TEST_F(Types, AtTheEndEveryColumnGivesItsEmptyValue) {
  Next();
  Next();
  Next();
  EXPECT_EQ(Col("id"), Value::Int(0));
  EXPECT_EQ(Col("c_bit"), Value::Bool(false));
  EXPECT_EQ(Col("c_varchar"), Value::Str(""));
  EXPECT_EQ(Col("c_image"), Value::Blob({}));
}

}  // namespace
}  // namespace tw
