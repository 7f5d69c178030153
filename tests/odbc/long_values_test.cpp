// Long values against a driver that cannot be trusted: a length claimed by the server never
// becomes an allocation beyond the cap, a value that never ends stops at the cap, and memory
// that runs out while a column is read fails that read with the column's empty value instead
// of throwing out of the database object.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/database_unit.h"
#include "runtime/odbc/database.h"
#include "tests/odbc/odbc_test_support.h"

// Allocations through operator new on the test's thread larger than this many bytes fail while
// it is not 0, as if memory had run out. Every form is replaced so that allocation and release
// always meet in malloc and free, under the sanitizers too.
namespace {
thread_local std::size_t g_failAbove = 0;

void* Allocate(std::size_t n) {
  if (g_failAbove != 0 && n > g_failAbove) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) {
  return Allocate(n);
}
void* operator new[](std::size_t n) {
  return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace tw {
namespace {

using odbc::kMaxLongValueBytes;

class MemoryLimit {
 public:
  explicit MemoryLimit(std::size_t bytes) { g_failAbove = bytes; }
  ~MemoryLimit() { g_failAbove = 0; }
  MemoryLimit(const MemoryLimit&) = delete;
  MemoryLimit& operator=(const MemoryLimit&) = delete;
};

// A driver that streams `total` bytes of a repeating pattern (0, 1, ... 250) and reports either
// the true remaining length, a made-up one, or no total at all. It records the largest buffer
// it was handed and how often it was called.
struct StreamingDriver {
  std::size_t total = 0;
  std::size_t sent = 0;
  SQLLEN claimed = -1;  // >= 0: the remaining length it pretends; SQL_NO_TOTAL: none
  bool wide = false;
  std::size_t calls = 0;
  std::size_t largestBuffer = 0;

  SQLRETURN operator()(SQLPOINTER buffer, SQLLEN bytes, SQLLEN* indicator) {
    ++calls;
    largestBuffer = std::max(largestBuffer, static_cast<std::size_t>(bytes));
    if (sent >= total && calls > 1) return SQL_NO_DATA;
    const std::size_t room = wide ? static_cast<std::size_t>(bytes) / 2 - 1 : bytes;
    const std::size_t left = total - sent;
    const std::size_t n = std::min(room, left);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = sent + i;
      if (wide) {
        // 'a', then surrogate pairs (U+1F600): an odd position holds a high surrogate.
        static_cast<char16_t*>(buffer)[i] = at == 0 ? u'a' : (at % 2 == 1 ? 0xD83D : 0xDE00);
      } else {
        static_cast<unsigned char*>(buffer)[i] = static_cast<unsigned char>(at % 251);
      }
    }
    if (wide) static_cast<char16_t*>(buffer)[n] = 0;
    const std::size_t unit = wide ? 2 : 1;
    *indicator =
        claimed >= 0 || claimed == SQL_NO_TOTAL ? claimed : static_cast<SQLLEN>(left * unit);
    sent += n;
    return n < left ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  }
};

odbc::GetDataCall Call(StreamingDriver& d) {
  return [&d](SQLPOINTER b, SQLLEN n, SQLLEN* i) { return d(b, n, i); };
}

TEST(LongValues, AClaimedLengthNeverBecomesAnAllocationBeyondTheCap) {
  // The server says 1 PiB follows; it sends a little more than the cap.
  StreamingDriver d;
  d.total = kMaxLongValueBytes + 4096;
  d.claimed = SQLLEN{1} << 50;
  Bytes out;
  ASSERT_TRUE(odbc::ReadBytesInPieces(Call(d), true, 0, &out));
  EXPECT_LE(d.largestBuffer, kMaxLongValueBytes);
  ASSERT_EQ(out.size(), kMaxLongValueBytes);  // what was read is kept, up to the cap
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1000], 1000 % 251);
  EXPECT_EQ(out.back(), (kMaxLongValueBytes - 1) % 251);
}

TEST(LongValues, AValueWithoutATotalStopsAtTheCap) {
  StreamingDriver bytes;
  bytes.total = 2 * kMaxLongValueBytes;
  bytes.claimed = SQL_NO_TOTAL;
  Bytes b;
  ASSERT_TRUE(odbc::ReadBytesInPieces(Call(bytes), true, 0, &b));
  EXPECT_EQ(b.size(), kMaxLongValueBytes);
  EXPECT_LE(bytes.calls, kMaxLongValueBytes / 65536 + 2);

  StreamingDriver text;
  text.wide = true;
  text.total = kMaxLongValueBytes;  // units: twice the cap in bytes
  text.claimed = SQL_NO_TOTAL;
  std::u16string w;
  ASSERT_TRUE(odbc::ReadWideInPieces(Call(text), true, 2048, &w));
  // Cut at the cap, and before a surrogate pair that the cap would split.
  EXPECT_EQ(w.size(), kMaxLongValueBytes / 2 - 1);
  EXPECT_EQ(w.back(), 0xDE00);
  EXPECT_LE(text.largestBuffer, 4096u);
}

TEST(LongValues, HonestValuesComeWhole) {
  StreamingDriver bytes;
  bytes.total = 300000;
  Bytes b;
  ASSERT_TRUE(odbc::ReadBytesInPieces(Call(bytes), true, 0, &b));
  EXPECT_EQ(b.size(), 300000u);
  EXPECT_EQ(bytes.calls, 2u);  // one byte to learn the length, then the rest
  EXPECT_EQ(b[299999], 299999 % 251);

  StreamingDriver fixed;
  fixed.total = 8;
  Bytes f;
  ASSERT_TRUE(odbc::ReadBytesInPieces(Call(fixed), false, 16, &f));
  EXPECT_EQ(f.size(), 8u);

  StreamingDriver text;
  text.wide = true;
  text.total = 5001;
  std::u16string w;
  ASSERT_TRUE(odbc::ReadWideInPieces(Call(text), true, 2048, &w));
  EXPECT_EQ(w.size(), 5001u);

  StreamingDriver empty;
  Bytes e;
  EXPECT_FALSE(odbc::ReadBytesInPieces(Call(empty), true, 0, &e));
}

class FailedReads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                      Value::Str(odbctest::kSaPassword), Value::Str("master"), {},
                                      Value::Bool(true)));
  }
  Value Open() { return unit.Call(kDbOpenTable, {Value::Str("select * from tw_types")}); }
  Value Col(const Value& table, const char* name) {
    return unit.Call(kDbReadCol, {table, Value::Str(name)});
  }

  odbctest::Sim sim{true};
  DatabaseUnit unit;
};

TEST_F(FailedReads, OutOfMemoryGivesTheColumnsEmptyValue) {
  const Value table = Open();
  ASSERT_NE(table, Value::Int(0)) << unit.lastFailure().message;
  {
    // The long columns need more than 6000 bytes, everything else less.
    const MemoryLimit limit(6000);
    EXPECT_EQ(Col(table, "c_image"), Value::Blob({}));
    EXPECT_EQ(unit.lastFailure().message, odbc::kOutOfMemoryMessage);
    EXPECT_EQ(Col(table, "c_text"), Value::Str(""));
    EXPECT_EQ(unit.lastFailure().message, odbc::kOutOfMemoryMessage);
    EXPECT_EQ(Col(table, "c_int"), Value::Int(123456789));
    EXPECT_EQ(Col(table, "c_varchar"), Value::Str("varchar"));
  }
  // The object goes on working: a new table reads the long values whole.
  const Value again = Open();
  ASSERT_NE(again, Value::Int(0)) << unit.lastFailure().message;
  EXPECT_EQ(Col(again, "c_image").AsBytes().size(), 10240u);
  EXPECT_EQ(Col(again, "c_text").AsText().size(), 5000u);
}

TEST_F(FailedReads, SayWhy) {
  const Value table = Open();
  ASSERT_NE(table, Value::Int(0));
  EXPECT_EQ(Col(table, "no_such_column"), Value::Str(""));
  EXPECT_EQ(unit.lastFailure().message, "no such column");
  EXPECT_EQ(unit.Call(kDbReadCol, {Value::Int(12345), Value::Int(1)}), Value::Str(""));
  EXPECT_EQ(unit.lastFailure().message, "no such result table");
  unit.CloseDatabase();
  EXPECT_EQ(Col(table, "id"), Value::Str(""));
  EXPECT_EQ(unit.lastFailure().message, "not connected");
}

}  // namespace
}  // namespace tw
