// The GBK converter: round trips, the euro sign, unmappable characters and broken input,
// which must come out as '?' without losing what follows.
#include <gtest/gtest.h>

#include <string>

#include "runtime/gbk.h"

namespace tw {
namespace {

TEST(Gbk, ChineseRoundTrips) {
  const Text gbk = Gbk("中文 ok");
  EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4 ok");
  EXPECT_EQ(GbkToUtf8(gbk), "中文 ok");
  EXPECT_EQ(GbkToUtf16(gbk), u"中文 ok");
  EXPECT_EQ(Utf16ToGbk(u"中文 ok"), gbk);
  EXPECT_EQ(Gbk("运行时出错!"), Utf16ToGbk(u"运行时出错!"));
  EXPECT_EQ(Gbk(""), "");
  EXPECT_EQ(GbkToUtf16(""), u"");
}

TEST(Gbk, EuroIsByte80AsInCodePage936) {
  EXPECT_EQ(Gbk("€"), "\x80");
  EXPECT_EQ(GbkToUtf8("\x80"), "€");
  EXPECT_EQ(GbkToUtf16("5\x80"), u"5€");
}

TEST(Gbk, EmbeddedZeroBytesSurvive) {
  const std::string bytes("a\0\xD6\xD0", 4);
  EXPECT_EQ(GbkToUtf16(bytes), std::u16string(u"a\0中", 3));
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"a\0中", 3)), bytes);
}

TEST(Gbk, UnmappableBecomesQuestionMark) {
  EXPECT_EQ(Utf16ToGbk(u"a😀b"), "a?b");  // a surrogate pair is one character
  EXPECT_EQ(Utf8ToGbk("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("xก中"), "x?" + Gbk("中"));
}

TEST(Gbk, BrokenInputDoesNotStopTheConversion) {
  const std::string leadThenDel("a\x81\x7F", 3);  // 0x7F is never a second byte
  EXPECT_EQ(GbkToUtf8(leadThenDel), "a?\x7F");
  EXPECT_EQ(GbkToUtf8("a\x81"), "a?");      // lead byte cut off at the end
  EXPECT_EQ(GbkToUtf16("\x81 b"), u"? b");  // the space after a broken lead byte stays
  EXPECT_EQ(Utf8ToGbk("a\xC3(b"), "a?(b");  // broken UTF-8 sequence
  EXPECT_EQ(Utf8ToGbk(std::string("\xE4\xB8") + "a"), "?a");   // cut-off sequence
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"\xD800x", 2)), "?x");  // lone surrogate
}

TEST(Gbk, EveryDoubleByteCharacterRoundTrips) {
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const Text c{static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string wide = GbkToUtf16(c);
      ASSERT_EQ(wide.size(), 1u) << lead << ' ' << trail;
      if (wide == u"?") continue;
      ++mapped;
      ASSERT_EQ(Utf16ToGbk(wide), c) << lead << ' ' << trail;
      ASSERT_EQ(Utf8ToGbk(GbkToUtf8(c)), c) << lead << ' ' << trail;
    }
  }
  EXPECT_GT(mapped, 21000);  // GBK holds 21886 characters
}

}  // namespace
}  // namespace tw
