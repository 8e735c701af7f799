// Several formats keep a 2:1 interleaved track in R order: R = 1, 14, 2,
// 15, ..., 13, 26 for 26 sectors. This maps a sector's place in the file
// to its slot in the row.
#pragma once

namespace dravik {

// Stored sector k takes slot 2k in the first half of the row and
// 2(k - half) + 1 in the second. For an odd count the first half holds the
// middle sector too, so that every slot stays inside the row (9 sectors:
// 0, 2, 4, 6, 8, 1, 3, 5, 7); an even count splits evenly.
constexpr int InterleavedSlot(int stored_index, int sector_count) {
  const int half = (sector_count + 1) / 2;
  return stored_index < half ? 2 * stored_index : 2 * (stored_index - half) + 1;
}

}  // namespace dravik
