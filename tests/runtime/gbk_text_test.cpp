// Where the callers of the GBK stepper and of the leading-number reader need different answers:
// 0x80 leads a double-byte character in the value commands, the settings reader and the SQL
// texts, but stands alone (the euro sign) in the edit fields; the database object's numbers
// skip fewer blanks than the value commands and the day field, and saturate at 64 bits.
#include <climits>

#include "app/sql_texts.h"
#include "runtime/ini.h"
#include "runtime/leading_number.h"
#include "runtime/odbc/sql_text.h"
#include "runtime/text.h"
#include "tests/ui/ui_fixture.h"

namespace tw {
namespace {

TEST(GbkCallers, ZeroX80LeadsInTheValueCommandsSettingsAndSqlTexts) {
  EXPECT_EQ(FindText("\x80\x61", "a"), -1);
  EXPECT_EQ(FullToHalfWidth("\x80\xA3\xC1"), "\x80\xA3\xC1");
  // Settings in GBK step 0x80 with its trail byte; a UTF-8 file is compared byte by byte.
  EXPECT_EQ(ini::CutValue("\x80]", 1), "");
  EXPECT_EQ(ini::CutValue("\x80]", 1, ini::Charset::Utf8), "\x80");
  EXPECT_EQ(odbc::TranslateBrackets("\x80][\x80", '"'), "\x80]\"\x80");
  EXPECT_EQ(sql::Identifier("\x80]"), "[\x80]]");
  EXPECT_EQ(sql::ForBracketTranslation("\x80]'"), "\x80]'");
}

class GbkEditFieldTest : public UiTest {
 protected:
  void SetUp() override {
    LoadAndShowMain();
    frame.WriteProp(M(ids::编辑框_日), prop::kVisible, Value::Bool(true));
  }
  Text Edited(int id, const char* before, std::string_view typed) {
    frame.WriteProp(M(id), prop::kEditText, Value::Str(before));
    EXPECT_TRUE(backend.Type(M(id), typed));
    return frame.ReadProp(M(id), prop::kEditText).AsText();
  }
  Text DayAfterLeaving(const char* text) {
    frame.WriteProp(M(ids::编辑框_日), prop::kEditText, Value::Str(text));
    EXPECT_TRUE(backend.Focus(M(ids::编辑框_日)));
    EXPECT_TRUE(backend.Focus(M(ids::编辑框_IP)));
    return frame.ReadProp(M(ids::编辑框_日), prop::kEditText).AsText();
  }
};

TEST_F(GbkEditFieldTest, ZeroX80StandsAloneAndTheDayFieldSaturatesAt32Bits) {
  EXPECT_EQ(Edited(ids::编辑框_IP, "\x80\x61", "\b"), "\x80");
  EXPECT_EQ(Edited(ids::编辑框_IP, "", "\x80\b"), "");
  EXPECT_EQ(Edited(ids::编辑框_IP, "a\x81", "\b"), "a");  // a lone lead byte is one character
  EXPECT_EQ(DayAfterLeaving("4294967296"), "2147483647");
  EXPECT_EQ(DayAfterLeaving("-99999999999"), "-2147483648");
}

TEST(LeadingNumberCallers, BlanksAndRangeDifferBetweenValuesAndColumns) {
  EXPECT_EQ(ToInt(Value::Str("\v\f5")), 5);
  EXPECT_EQ(ToInt(Value::Str("4294967296")), INT_MAX);
  EXPECT_EQ(odbc::LeadingInteger("\v5"), 0);
  EXPECT_EQ(odbc::LeadingInteger(" \t\r\n-5"), -5);
  EXPECT_EQ(odbc::LeadingInteger("9223372036854775808"), LLONG_MAX);
  EXPECT_EQ(odbc::LeadingInteger("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(odbc::LeadingInteger("-9223372036854775809"), LLONG_MIN);
  EXPECT_EQ(odbc::LeadingNumber("\v1.5"), 0.0);
  // The Win32 day field reads its wide text by the same rule as ToInt.
  const auto wide = [](std::wstring_view t) {
    return LeadingWhole32(t, Blanks::SpaceAndTabToReturn);
  };
  EXPECT_EQ(wide(L"\v\f-12x"), -12);
  EXPECT_EQ(wide(L"\u30005"), 0);  // an ideographic space is no blank here
  EXPECT_EQ(wide(L"99999999999999999999999"), INT_MAX);
  EXPECT_EQ(wide(L"-2147483649"), INT_MIN);
}

}  // namespace
}  // namespace tw
