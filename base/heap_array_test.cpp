#include "base/heap_array.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_base.h"

namespace tavsn {
namespace {

class HeapArrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakebase::ResetHeap();
    live_at_start_ = fakebase::heap().live_blocks;
  }
  void TearDown() override {
    fakebase::ResetHeap();
    EXPECT_EQ(fakebase::heap().live_blocks, live_at_start_) << "a block outlived its array";
  }
  long live_at_start_ = 0;
};

TEST_F(HeapArrayTest, GrowsKeepsOrderAndInsertsInPlace) {
  HeapArray<int> numbers;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(numbers.push_back(i * 2));
  ASSERT_TRUE(numbers.insert(0, -1));
  ASSERT_TRUE(numbers.insert(51, 99));
  ASSERT_EQ(numbers.size(), 102u);
  EXPECT_EQ(numbers[0], -1);
  EXPECT_EQ(numbers[1], 0);
  EXPECT_EQ(numbers[50], 98);
  EXPECT_EQ(numbers[51], 99);
  EXPECT_EQ(numbers[52], 100);
  EXPECT_EQ(numbers[101], 198);
  HeapArray<int> moved(std::move(numbers));
  EXPECT_TRUE(numbers.empty());
  EXPECT_EQ(moved.size(), 102u);
  ASSERT_TRUE(moved.resize(104));
  EXPECT_EQ(moved[103], 0);
}

// Running out of memory is an ordinary result: the array keeps what it had.
TEST_F(HeapArrayTest, FailedGrowthLeavesTheArrayAsItWas) {
  HeapArray<int> numbers;
  fakebase::heap().allocations_left = 1;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(numbers.push_back(i));  // the first block holds 4
  EXPECT_FALSE(numbers.push_back(4));
  EXPECT_FALSE(numbers.insert(0, 9));
  EXPECT_FALSE(numbers.reserve(1000));
  ASSERT_EQ(numbers.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(numbers[i], i);
  EXPECT_EQ(fakebase::heap().failed_allocations, 3);
}

}  // namespace
}  // namespace tavsn
