#include "netadapter/platform_checks.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "sysinfo/wmi_platform.h"

namespace tavsn::netos {
namespace {

constexpr std::size_t kRecordPart = 400;  // the readable part of one IP Helper record

TEST(PlatformChecksTest, IpHelperRecordsStayInTheirBuffer) {
  struct Case {
    std::uintptr_t offset;
    std::size_t buffer_size;
    bool inside;
  } cases[] = {
      {.offset = 0, .buffer_size = kRecordPart, .inside = true},
      {.offset = 1, .buffer_size = kRecordPart, .inside = false},
      {.offset = kRecordPart, .buffer_size = 2 * kRecordPart, .inside = true},
      {.offset = kRecordPart + 1, .buffer_size = 2 * kRecordPart, .inside = false},
      {.offset = 0, .buffer_size = kRecordPart - 1, .inside = false},
      {.offset = ~std::uintptr_t{0}, .buffer_size = 2 * kRecordPart, .inside = false},  // before the buffer
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecordLiesInBuffer(c.offset, c.buffer_size, kRecordPart), c.inside) << c.offset << "/" << c.buffer_size;
  }
  EXPECT_EQ(MostRecordsIn(3 * kRecordPart - 1, kRecordPart), 2u);
  EXPECT_EQ(MostRecordsIn(100, 0), 0u);
}

TEST(PlatformChecksTest, DetailSizeFailureNamesAnErrorThatExplainsIt) {
  EXPECT_EQ(DetailSizeFailure(kSuccess), kErrorInvalidData);
  EXPECT_EQ(DetailSizeFailure(kErrorInsufficientBuffer), kErrorInvalidData);
  EXPECT_EQ(DetailSizeFailure(kErrorAccessDenied), kErrorAccessDenied);
}

TEST(PlatformChecksTest, OnlyAWholeByteArrayThatFitsIsCopied) {
  EXPECT_TRUE(wmios::ByteArrayFits(0, 0));
  EXPECT_TRUE(wmios::ByteArrayFits(63999, 63999));
  EXPECT_FALSE(wmios::ByteArrayFits(64000, 63999));
  EXPECT_FALSE(wmios::ByteArrayFits(0xFFFFFFFFu, 63999));
}

}  // namespace
}  // namespace tavsn::netos
