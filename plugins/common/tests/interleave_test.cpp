#include "interleave.h"

#include <gtest/gtest.h>

#include <vector>

#include "dravik/disk_image.h"

namespace dravik {
namespace {

TEST(InterleavedSlot, GivesTheTwoToOneOrder) {
  // Slot by slot, the R numbers of a 26-sector track stored in R order.
  std::vector<int> order(26);
  for (int k = 0; k < 26; ++k) order[InterleavedSlot(k, 26)] = k + 1;
  EXPECT_EQ(order, (std::vector<int>{1,  14, 2,  15, 3,  16, 4,  17, 5,  18, 6,  19, 7,
                                     20, 8,  21, 9,  22, 10, 23, 11, 24, 12, 25, 13, 26}));
  // Every count a row can hold, odd ones included, is a permutation of the
  // row's own slots.
  for (int count = 1; count <= kMaxSectorsPerTrack; ++count) {
    std::vector<int> seen(count, 0);
    for (int k = 0; k < count; ++k) {
      const int slot = InterleavedSlot(k, count);
      ASSERT_GE(slot, 0);
      ASSERT_LT(slot, count) << k << " of " << count;
      ++seen[slot];
    }
    EXPECT_EQ(seen, std::vector<int>(count, 1)) << count;
  }
}

}  // namespace
}  // namespace dravik
