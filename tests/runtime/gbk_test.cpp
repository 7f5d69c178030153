// The GBK converter: round trips, the euro sign, unmappable characters and broken input.
#include <gtest/gtest.h>

#include "runtime/gbk.h"

namespace tw {
namespace {

TEST(Gbk, ChineseRoundTrips) {
  const Text gbk = Gbk("中文");
  EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(GbkToUtf8(gbk), "中文");
  EXPECT_EQ(GbkToUtf16(gbk), u"中文");
  EXPECT_EQ(Utf16ToGbk(u"中文"), gbk);
}
}  // namespace
}  // namespace tw
