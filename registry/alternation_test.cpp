// Which sightings of one identifier prove it passed from one machine of a
// scope to another and back: one table.
#include "registry/alternation.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavsn::registry {
namespace {

struct AlternationCase {
  const char* name;
  std::vector<Shown> shown;  // machine, first seen, last seen
  int handovers, returns;
  bool alternates;
};

TEST(AlternationTest, CountsHandoversAndReturnsInTimeOrder) {
  const AlternationCase cases[] = {
      {"one machine", {{1, 10, 90}}, 0, 0, false},
      {"moved once: 1 until 30, 2 from 40", {{1, 10, 30}, {2, 40, 90}}, 1, 0, false},
      {"moved at one second: 1's last and 2's first at 30", {{1, 10, 30}, {2, 30, 90}}, 1, 0, false},
      {"moved, the new machine numbered first", {{2, 10, 30}, {1, 40, 90}}, 1, 0, false},
      {"moved on from machine to machine", {{1, 10, 20}, {2, 30, 40}, {3, 50, 60}}, 2, 0, false},
      {"two at the same second only", {{1, 10, 10}, {2, 10, 10}}, 1, 0, false},
      {"A, B, A: 2 seen once inside 1's span", {{1, 10, 90}, {2, 50, 50}}, 2, 1, true},
      {"spans that overlap: A, B, A, B", {{1, 10, 60}, {2, 40, 90}}, 3, 2, true},
      {"three machines in turn and back to the first",
       {{1, 10, 20}, {2, 30, 40}, {3, 50, 60}, {1, 70, 80}},
       3,
       1,
       true},
  };
  for (const AlternationCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Passing passing = PassingOf(c.shown);
    EXPECT_EQ(passing.handovers, c.handovers);
    EXPECT_EQ(passing.returns, c.returns);
    EXPECT_EQ(Alternates(passing), c.alternates);
  }
}

}  // namespace
}  // namespace tavsn::registry
