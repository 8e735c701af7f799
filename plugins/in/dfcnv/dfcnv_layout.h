// DFcnv images: a 136-byte header with a comment, then one record per track
// (a mark, the sectors' size code and the data length, then the data),
// until the file ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::dfcnv {

inline constexpr size_t kHeaderSize = 136;
inline constexpr char kMagic[10] = "##DFcnv##";  // with its NUL
inline constexpr size_t kReservedOffset = 10;    // up to the comment, all zero
inline constexpr size_t kCommentOffset = 94;
inline constexpr size_t kCommentSize = 42;

inline constexpr size_t kTrackHeaderSize = 4;
inline constexpr uint8_t kTrackMark = 0x50;
inline constexpr int kMaxTrackBytes = 9472;

}  // namespace dravik::dfcnv
