// Value conversions and the text commands on GBK texts, with double-byte boundaries, empty
// texts and out-of-range numbers; the base64 codec of binary settings values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/base64.h"
#include "runtime/gbk.h"
#include "runtime/text.h"

namespace tw {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(TextBasics, LengthCompareConcat) {
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength(Gbk("中a")), 3);
  EXPECT_EQ(TextCompare("", ""), 0);
  EXPECT_GT(TextCompare("a", "B"), 0);
  EXPECT_LT(TextCompare("ab", "abc"), 0);
  EXPECT_GT(TextCompare("\x80", "a"), 0);  // bytes compare unsigned
  EXPECT_EQ(TextConcat(Text(), Text(), Text()), "");
  EXPECT_EQ(TextConcat(Text("a"), Gbk("中"), Text("b")), "a" + Gbk("中") + "b");
}

TEST(ToText, IntegersAndBool) {
  EXPECT_EQ(ToText(Value::Int(-5)), "-5");
  EXPECT_EQ(ToText(Value::Byte(255)), "255");
  EXPECT_EQ(ToText(Value::Short(-32768)), "-32768");
  EXPECT_EQ(ToText(Value::Int(kMin)), "-2147483648");
  EXPECT_EQ(ToText(Value::Int64(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(ToText(Value::Bool(true)), Gbk("真"));
  EXPECT_EQ(ToText(Value::Bool(false)), Gbk("假"));
}

TEST(ToText, Doubles) {
  EXPECT_EQ(ToText(Value::Double(0.1 + 0.2)), "0.3");
  EXPECT_EQ(ToText(Value::Double(1e13)), "1e+013");
  EXPECT_EQ(ToText(Value::Double(1234567890123.0)), "1234567890123");
  EXPECT_EQ(ToText(Value::Double(12345678901234.0)), "1.234567890123e+013");
  EXPECT_EQ(ToText(Value::Double(0.00001)), "1e-005");
  EXPECT_EQ(ToText(Value::Double(-1.5e-5)), "-1.5e-005");
  EXPECT_EQ(ToText(Value::Double(0.0001)), "0.0001");
  EXPECT_EQ(ToText(Value::Double(2.5e-300)), "2.5e-300");
  EXPECT_EQ(ToText(Value::Double(-0.0)), "0");
  EXPECT_EQ(ToText(Value::Double(std::nan(""))), "nan");
  EXPECT_EQ(ToText(Value::Double(-std::numeric_limits<double>::infinity())), "-inf");
}

TEST(ToText, FloatsRoundHalfAwayFromZeroToSixDigits) {
  EXPECT_EQ(ToText(Value::Float(1.25f)), "1.25");
  EXPECT_EQ(ToText(Value::Float(0.1f)), "0.1");
  // 1234565 is exact in a float; plain "%.6g" would round the half to even (123456).
  EXPECT_EQ(ToText(Value::Float(1234565.0f)), "1.23457e+006");
  EXPECT_EQ(ToText(Value::Float(999999.5f)), "1e+006");
  EXPECT_EQ(ToText(Value::Float(100000.0f)), "100000");
  EXPECT_EQ(ToText(Value::Float(1e-5f)), "1e-005");
  EXPECT_EQ(ToText(Value::Float(std::numeric_limits<float>::max())), "3.40282e+038");
  EXPECT_EQ(ToText(Value::Float(std::numeric_limits<float>::denorm_min())), "1.4013e-045");
  EXPECT_EQ(ToText(Value::Float(std::numeric_limits<float>::infinity())), "inf");
}

TEST(ToText, OtherKinds) {
  EXPECT_EQ(ToText(Value::Str(Gbk("中文"))), Gbk("中文"));
  EXPECT_EQ(ToText(Value::Blob({'a', 'b', 0, 'c'})), "ab");
  EXPECT_EQ(ToText(Value::Blob({'a', 'b'})), "ab");
  EXPECT_EQ(ToText(Value::Blob({})), "");
  EXPECT_EQ(ToText(Value()), "");
  EXPECT_EQ(ToText(Value::SubPtr(0x1234)), "");
  EXPECT_EQ(ToText(Value::Unit({1, 2})), "");
}

TEST(ToInt, Texts) {
  EXPECT_EQ(ToInt(Value::Str("  42abc")), 42);
  EXPECT_EQ(ToInt(Value::Str("abc")), 0);
  EXPECT_EQ(ToInt(Value::Str("")), 0);
  EXPECT_EQ(ToInt(Value::Str("-")), 0);
  EXPECT_EQ(ToInt(Value::Str("+7")), 7);
  EXPECT_EQ(ToInt(Value::Str("\t\r\n -8")), -8);
  EXPECT_EQ(ToInt(Value::Str("- 8")), 0);
  EXPECT_EQ(ToInt(Value::Str(Gbk("１２"))), 12);
  EXPECT_EQ(ToInt(Value::Str(Gbk("　－３４"))), -34);  // ideographic space, full-width minus
  EXPECT_EQ(ToInt(Value::Str("-2147483648")), kMin);
  EXPECT_EQ(ToInt(Value::Str("2147483647")), kMax);
  // Beyond 32 bits the result saturates instead of wrapping.
  EXPECT_EQ(ToInt(Value::Str("2147483648")), kMax);
  EXPECT_EQ(ToInt(Value::Str("-2147483649")), kMin);
  EXPECT_EQ(ToInt(Value::Str("-" + std::string(5000, '9'))), kMin);
}

TEST(ToInt, Numbers) {
  EXPECT_EQ(ToInt(Value::Double(-3.9)), -3);
  EXPECT_EQ(ToInt(Value::Float(3.9f)), 3);
  EXPECT_EQ(ToInt(Value::Double(-0.0)), 0);
  EXPECT_EQ(ToInt(Value::Double(std::nan(""))), 0);
  EXPECT_EQ(ToInt(Value::Double(3e9)), kMax);
  EXPECT_EQ(ToInt(Value::Double(-std::numeric_limits<double>::infinity())), kMin);
  EXPECT_EQ(ToInt(Value::Double(-2147483648.9)), kMin);
  EXPECT_EQ(ToInt(Value::Int64(5000000000)), kMax);
  EXPECT_EQ(ToInt(Value::Int64(-5000000000)), kMin);
  EXPECT_EQ(ToInt(Value::Byte(200)), 200);
  EXPECT_EQ(ToInt(Value::Bool(true)), 1);
  EXPECT_EQ(ToInt(Value::SubPtr(0x100000005)), 5);
  EXPECT_EQ(ToInt(Value::DateTime(5.5)), 0);
  EXPECT_EQ(ToInt(Value::Blob({'1'})), 0);
  EXPECT_EQ(ToInt(Value()), 0);
}

TEST(NumericToInt, OnlyNumericKinds) {
  EXPECT_EQ(NumericToInt(Value::Byte(200)), 200);
  EXPECT_EQ(NumericToInt(Value::Int64(-9)), -9);
  EXPECT_EQ(NumericToInt(Value::Double(-3.9)), -3);
  EXPECT_EQ(NumericToInt(Value::Bool(true)), std::nullopt);
  EXPECT_EQ(NumericToInt(Value::Str("5")), std::nullopt);
  EXPECT_EQ(NumericToInt(Value::DateTime(1.0)), std::nullopt);
  EXPECT_EQ(NumericToInt(Value()), std::nullopt);
}

TEST(FullToHalfWidth, MapsTheListedCharactersOnly) {
  EXPECT_EQ(FullToHalfWidth(Gbk("ＡＢｚ！～")), "ABz!~");
  EXPECT_EQ(FullToHalfWidth("\xA1\xA1\xA1\xAB\xA1\xEE\xA1\xEF"), " ~**");
  EXPECT_EQ(FullToHalfWidth(Gbk("中a")), Gbk("中a"));
  // The second byte of 中-like characters is never taken as the start of a full-width one.
  EXPECT_EQ(FullToHalfWidth("\xB0\xA3\xA3\xC1"),
            "\xB0\xA3"
            "A");
  EXPECT_EQ(FullToHalfWidth("a\xA3"), "a\xA3");
}

TEST(Round, HalfAwayFromZeroWithBias) {
  EXPECT_EQ(Round(2.675, 2), 2.68);
  EXPECT_EQ(Round(1.005, 2), 1.01);
  EXPECT_EQ(Round(-1.5), -2.0);
  EXPECT_EQ(Round(0.49999), 0.0);
  EXPECT_EQ(Round(1234, -2), 1200.0);
  EXPECT_EQ(Round(1250, -2), 1300.0);
  EXPECT_EQ(Round(-2.5, 0), -3.0);
  EXPECT_TRUE(std::signbit(Round(-0.0, 2)));
  EXPECT_TRUE(std::isnan(Round(std::nan(""), 2)));
  EXPECT_EQ(Round(1.5, 400), 1.5);
  EXPECT_EQ(Round(1e300, 10), 1e300);
  EXPECT_EQ(Round(5.0, -400), 0.0);
  EXPECT_EQ(Round(5.0, kMin), 0.0);
  EXPECT_EQ(Round(1.25, kMax), 1.25);
}

TEST(FindText, Positions) {
  EXPECT_EQ(FindText(Gbk("正在连接..."), Gbk("正在连接")), 1);
  EXPECT_EQ(FindText(Gbk("正在连接..."), "..."), 9);
  EXPECT_EQ(FindText("abc", "x"), -1);
  EXPECT_EQ(FindText("abc", "bcd"), -1);
  EXPECT_EQ(FindText("abab", "ab", 2), 3);
  EXPECT_EQ(FindText("abab", "ab", kMin), 1);
  EXPECT_EQ(FindText("abc", "c", 4), -1);
  EXPECT_EQ(FindText("abc", "c", kMax), -1);
  EXPECT_EQ(FindText("abc", ""), 1);
  EXPECT_EQ(FindText("", ""), -1);
  EXPECT_EQ(FindText("", "a"), -1);
}

TEST(FindText, DoubleByteAndCase) {
  // "\xB0\x41" is one character: its second byte is no "A".
  EXPECT_EQ(FindText("\xB0\x41\x42", "AB"), -1);
  EXPECT_EQ(FindText("\xB0\x41\x41", "A"), 3);
  // A lead byte at the very end is half a character: it ends the search and is never found.
  EXPECT_EQ(FindText("ab\xB0", "x"), -1);
  EXPECT_EQ(FindText("ab\xB0", "\xB0"), -1);
  EXPECT_EQ(FindText("ab\xB0", "\xB0", 3), -1);
  EXPECT_EQ(FindText("ab\xB0", "\xB0", {}, true), -1);
  EXPECT_EQ(FindText("\xB0", "\xB0"), -1);
  EXPECT_EQ(FindText("a\xB0\xB0", "\xB0"), 2);  // a whole character "\xB0\xB0" starts there
  EXPECT_EQ(FindText("ab\xB0", "b"), 2);
  EXPECT_EQ(FindText("xABC", "abc", {}, true), 2);
  EXPECT_EQ(FindText("xABC", "abc", {}, false), -1);
  EXPECT_EQ(FindText(Gbk("中A"), Gbk("中a"), {}, true), 1);
  // Loose comparison folds letters only, never the second byte of two different characters.
  EXPECT_EQ(FindText("\xB0\x61", "\xB0\x41", {}, true), -1);
}

TEST(ToLower, SingleByteLettersOnly) {
  EXPECT_EQ(ToLower(Gbk("ABC中Zz1")), Gbk("abc中zz1"));
  EXPECT_EQ(ToLower("\xB0\x41\x41"), "\xB0\x41\x61");
  EXPECT_EQ(ToLower("A\xB0"), "a\xB0");
}

TEST(TrimText, SpacesAndFullWidthSpaces) {
  EXPECT_EQ(TrimText("  \xA1\xA1"
                     "ab c\xA1\xA1"),
            "ab c");
  EXPECT_EQ(TrimText("  \xA1\xA1 "), "");
  EXPECT_EQ(TrimText(""), "");
  EXPECT_EQ(TrimText("\tab "), "\tab");
  EXPECT_EQ(TrimText("a \xA1\xA1 b"), "a \xA1\xA1 b");
  // Trailing "\xA1\xA1" here is a character's second byte and a lone lead byte.
  EXPECT_EQ(TrimText("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
  EXPECT_EQ(TrimText(" \xB0\xA1 "), "\xB0\xA1");
}

TEST(ReplaceText, CountsStartAndCase) {
  EXPECT_EQ(ReplaceText("-1", "-1", "0", {}, {}, true), "0");
  EXPECT_EQ(ReplaceText("abc", ""), "abc");
  EXPECT_EQ(ReplaceText("", "a", "b"), "");
  EXPECT_EQ(ReplaceText("aaa", "a", "b", {}, 1), "baa");
  EXPECT_EQ(ReplaceText("aaa", "a", "b", {}, 0), "aaa");
  EXPECT_EQ(ReplaceText("aaa", "a", "b", {}, -1), "bbb");
  EXPECT_EQ(ReplaceText("aaa", "a", "b", 2), "abb");
  EXPECT_EQ(ReplaceText("aaa", "a", "b", kMin, kMax), "bbb");
  EXPECT_EQ(ReplaceText("ABC", "b", "x"), "AxC");
  EXPECT_EQ(ReplaceText("ABC", "b", "x", {}, {}, true), "ABC");
  EXPECT_EQ(ReplaceText("ab", "b", "bb"), "abb");
  EXPECT_EQ(ReplaceText("ab", "abc", "x"), "ab");
  EXPECT_EQ(ReplaceText("abab", "ab"), "");
}

TEST(ReplaceText, DoubleByteBoundaries) {
  EXPECT_EQ(ReplaceText("\xB0\x41\x41", "A", "x"), "\xB0\x41x");
  EXPECT_EQ(ReplaceText("ab\xB0", "b", "c"), "ac\xB0");
  EXPECT_EQ(ReplaceText(Gbk("数据库_log"), Gbk("库"), "X"), Gbk("数据X_log"));
  EXPECT_EQ(ReplaceText("\xB0\x61", "\xB0\x41", "x"), "\xB0\x61");
  // A lead byte at the very end is no character start: it is copied, never replaced.
  EXPECT_EQ(ReplaceText("ab\xB0", "\xB0", "x"), "ab\xB0");
  EXPECT_EQ(ReplaceText("\xB0", "\xB0", "x", {}, {}, true), "\xB0");
  EXPECT_EQ(ReplaceText("\xB0\xB0\xB0", "\xB0", "x"), "xx\xB0");
  EXPECT_EQ(ReplaceText("b\xB0", "b", "\xB0"), "\xB0\xB0");
}

TEST(Base64, EncodesAndDecodesEveryPaddingAndByte) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"},
                                                       {"\xFF\xFE\x00"s, "//4A"},
                                                       {"\x00\xFB\xEF\xBE"s, "APvvvg=="}};
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(Base64Encode(bytes), text);
    EXPECT_EQ(Base64Decode(text), bytes) << text;
  }
  // Only what the encoder writes decodes: no blanks or line breaks, no short or misplaced
  // padding, no stray bits in the last character.
  for (const char* bad : {"Zg", "Zg=", "Z===", "Zh==", "Zm9=", "Zm=v", "Zg==Zg==", "Zm9v\r\n",
                          " Zm9v", "Zm-v", "Zm_v"}) {
    EXPECT_EQ(Base64Decode(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace tw
