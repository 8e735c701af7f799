// FIM images: a 256-byte header with a comment, then a plain sector dump.
// The file's length names the disk; two header words only make the
// recognition stricter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "raw_track.h"

namespace dravik::fim {

inline constexpr size_t kHeaderSize = 256;
inline constexpr size_t kTrackBytesOffset = 4;
inline constexpr size_t kTrackCountOffset = 8;
inline constexpr uint32_t kMinTrackBytes = 4096, kMaxTrackBytes = 9216;
inline constexpr uint32_t kMinTrackCount = 154, kMaxTrackCount = 160;
inline constexpr size_t kCommentOffset = 32;
inline constexpr size_t kCommentSize = 224;

struct Capacity {
  int64_t length;
  std::string_view label;
  RegularShape shape;
};

inline constexpr Capacity kCapacities[] = {
    {655616, "\r\nFIM形式(640K)", {160, 8, 2}},
    {737536, "\r\nFIM形式(720K)", {160, 9, 2}},
    {1025280, "\r\nFIM形式(1M 26sector)", {154, 26, 1}},
    {1229056, "\r\nFIM形式(1.21M)", {160, 15, 2}},
    {1261824, "\r\nFIM形式(1.25M)", {154, 8, 3}},
    {1474816, "\r\nFIM形式(1.44M)", {160, 18, 2}},
};

}  // namespace dravik::fim
