// A BKDSK file is a plain sector dump whose shape only its extension tells.
#pragma once

#include <cstdint>
#include <string_view>

namespace dravik::bkdsk {

inline constexpr int kAnyTrackCount = 0;

struct Shape {
  uint8_t sectors_per_track;
  int track_count;  // kAnyTrackCount: either of 154 and 160
  // For 26 sectors: the density of the first sector of track 0 (1 = MFM,
  // 0 = FM), else -1.
  int first_mfm;
  // Every sector's size code, except that track 0 of the 26-sector shapes may
  // hold 128-byte sectors instead.
  uint8_t size_code;
  std::string_view extension;
};

inline constexpr Shape kShapes[] = {
    {8, 160, -1, 2, ".DD6"},
    {8, 154, -1, 3, ".HDM"},
    {9, 160, -1, 2, ".DD9"},
    {9, 154, -1, 3, ".HD9"},
    {15, kAnyTrackCount, -1, 2, ".HD5"},
    {16, kAnyTrackCount, -1, 1, ".DDB"},
    {18, kAnyTrackCount, -1, 2, ".HD4"},
    {26, kAnyTrackCount, 1, 1, ".H01"},
    {26, kAnyTrackCount, 0, 1, ".HDB"},
};

}  // namespace dravik::bkdsk
