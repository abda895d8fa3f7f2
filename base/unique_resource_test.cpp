#include "base/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavsn {
namespace {

std::vector<int> g_released;

struct CountedTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return -1; }
  static void Release(Handle handle) noexcept { g_released.push_back(handle); }
};
using Counted = UniqueResource<CountedTraits>;

// Every valid handle an owner held is released exactly once, whichever way
// it leaves the owner.
TEST(UniqueResourceTest, ReleasesEveryHandleOnceOnEveryPath) {
  g_released.clear();
  {
    Counted scoped(1);
    Counted replaced(2);
    replaced.reset(3);  // 2 released now
    replaced.reset(3);  // the same handle again: nothing released
    Counted moved(std::move(replaced));
    EXPECT_FALSE(replaced.is_valid());
    Counted assigned(4);
    assigned = std::move(moved);  // 4 released now
    assigned = std::move(assigned);
    EXPECT_EQ(assigned.get(), 3);
    Counted given_up(5);
    EXPECT_EQ(given_up.release(), 5);  // never released by the owner
    Counted empty;
    EXPECT_FALSE(empty);
  }
  EXPECT_EQ(g_released, (std::vector<int>{2, 4, 3, 1}));
}

}  // namespace
}  // namespace tavsn
