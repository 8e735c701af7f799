// DCP and DCU images: a media type that fixes the disk's shape, a map byte
// per track, then the tracks' sectors in R order. A DCP file stores only the
// tracks its map marks; a DCU file stores them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "raw_track.h"

namespace dravik::dcp {

inline constexpr size_t kHeaderSize = 162;
inline constexpr size_t kMapOffset = 1;
inline constexpr uint8_t kStored = 1;

struct Media {
  uint8_t type;
  std::string_view label;
  RegularShape shape;
  int checked_map_bytes;  // tracks whose map byte recognition looks at
};

inline constexpr Media kMedia[] = {
    {1, "\r\nDCP/DCU形式(1.25M)", {154, 8, 3}, 154},
    {2, "\r\nDCP/DCU形式(1.21M)", {160, 15, 2}, 154},
    {3, "\r\nDCP/DCU形式(1.44M)", {160, 18, 2}, 160},
    {4, "\r\nDCP/DCU形式(640M)", {160, 8, 2}, 160},
};

}  // namespace dravik::dcp
