#include "support/allocation.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <new>

namespace velk {
namespace {

TEST(Allocation, ZeroBytesAreServedAndCopiesAreExact) {
  void* block = allocate(0);
  EXPECT_NE(block, nullptr);
  block = reallocate(block, 0);
  EXPECT_NE(block, nullptr);
  std::free(block);
  block = allocate_zeroed(0, 8);
  EXPECT_NE(block, nullptr);
  std::free(block);
  char* copy = duplicate_string("tarn1xx");
  EXPECT_STREQ(copy, "tarn1xx");
  std::free(copy);
  copy = duplicate_prefix("tarn1xx", 4);
  EXPECT_STREQ(copy, "tarn");
  std::free(copy);
  copy = duplicate_prefix("as", 10);
  EXPECT_STREQ(copy, "as");
  std::free(copy);
}

TEST(Allocation, ExhaustionIsReportedWithTheSize) {
  set_allocation_program_name("velk++");
  EXPECT_EXIT(out_of_memory(123), ::testing::ExitedWithCode(1),
              "^\nvelk\\+\\+: out of memory allocating 123 bytes\n$");
  set_allocation_program_name("");
  EXPECT_EXIT(out_of_memory(7), ::testing::ExitedWithCode(1),
              "^\nout of memory allocating 7 bytes\n$");
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZER_ALLOCATOR 1
#endif
#endif

#ifndef SANITIZER_ALLOCATOR
TEST(Allocation, OperatorNewReportsExhaustionAndExits) {
  set_allocation_program_name("velk++");
  volatile std::size_t huge = SIZE_MAX / 2;
  EXPECT_EXIT(
      {
        void* block = ::operator new(huge);
        ::operator delete(block);
      },
      ::testing::ExitedWithCode(1),
      "out of memory allocating " + std::to_string(SIZE_MAX / 2) + " bytes");
  // The nothrow form still returns null.
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
}
#endif

} // namespace
} // namespace velk
