// DIP images hold one shape only, the 1.25M 2HD disk, behind a header of a
// fixed signature and a comment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raw_track.h"

namespace dravik::dip {

inline constexpr size_t kHeaderSize = 256;
inline constexpr uint8_t kSignature[16] = {0x01, 0x08, 0x00, 0x13, 0x41, 0x00, 0x01};
inline constexpr size_t kCommentOffset = 16;
inline constexpr size_t kCommentSize = 240;
inline constexpr RegularShape kShape{154, 8, 3};
inline constexpr int64_t kFileLength = kHeaderSize + 154 * 8 * 1024;

}  // namespace dravik::dip
