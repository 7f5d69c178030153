// The program's operator new: a failed allocation still asks the new handler first, then
// carries its size to the run-time error report. Not under AddressSanitizer, whose allocator
// ends the process on an allocation it cannot make.
#include <gmock/gmock.h>

#include <new>
#include <vector>

#include "tests/ui/ui_fixture.h"
#include "ui/allocation.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TW_ASAN 1
#endif

namespace tw {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// More than any address space holds: malloc refuses it at once, without touching memory.
constexpr std::size_t kHuge = std::size_t{1} << 50;

int g_handlerCalls = 0;

TEST(Allocation, AFailureAsksTheNewHandlerThenCarriesItsSize) {
#ifdef TW_ASAN
  GTEST_SKIP() << "the sanitizer's allocator ends the process instead";
#endif
  g_handlerCalls = 0;
  // A handler that gives up on its first call, as one with nothing left to free does.
  std::set_new_handler([] {
    ++g_handlerCalls;
    std::set_new_handler(nullptr);
  });
  std::vector<char> buffer;
  std::size_t reported = 0;
  try {
    buffer.reserve(kHuge);
    ADD_FAILURE() << "the allocation succeeded";
  } catch (const std::bad_alloc& e) {
    reported = RequestedBytes(e);
  }
  EXPECT_EQ(reported, kHuge);
  EXPECT_EQ(g_handlerCalls, 1);
  EXPECT_EQ(std::get_new_handler(), nullptr);
  // The nothrow form answers null; a bad_alloc thrown by hand names no size.
  EXPECT_EQ(::operator new(kHuge + 1, std::nothrow), nullptr);
  EXPECT_EQ(RequestedBytes(std::bad_alloc()), 0u);
  buffer.reserve(64);  // and ordinary allocations go on working
  EXPECT_GE(buffer.capacity(), 64u);
}

using AllocationDeathTest = UiTest;

TEST_F(AllocationDeathTest, TheReportNamesTheBytesThatCouldNotBeAllocated) {
#ifdef TW_ASAN
  GTEST_SKIP() << "the sanitizer's allocator ends the process instead";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LoadAndShowMain();
  On(Handler::Connect, [](const std::vector<Value>&) -> Value {
    std::vector<char> buffer;
    buffer.reserve(kHuge);
    return Value::Int(static_cast<int>(buffer.capacity()));
  });
  EXPECT_EXIT(
      backend.Click(M(ids::按钮_连接)), ::testing::ExitedWithCode(255),
      AllOf(HasSubstr(Gbk("错误代码：11")), HasSubstr(Gbk("分配 1125899906842624 字节内存失败!"))));
}

}  // namespace
}  // namespace tw
