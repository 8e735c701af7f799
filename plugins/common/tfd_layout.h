// TFD and BKDSK images are plain sector dumps: track after track, each
// track's sectors in R order, nothing else. The file's length is all there
// is to tell the disk's shape by.
#pragma once

#include <cstdint>
#include <string_view>

namespace dravik::tfd {

struct Capacity {
  uint32_t length;
  std::string_view description;
  uint8_t track_count;
  uint8_t sectors_per_track;
  uint8_t size_code;
  // Track 0 holds 128-byte FM sectors; the file keeps every track in R
  // order, the disk had them 2:1 interleaved (R = 1, 14, 2, 15, ...).
  bool diskbasic;
};

inline constexpr Capacity kCapacities[] = {
    {655360, "\r\nTFD形式(640K)", 160, 8, 2, false},
    {737280, "\r\nTFD形式(720K)", 160, 9, 2, false},
    {1021696, "\r\nTFD形式(1MB DISKBASIC)", 154, 26, 1, true},
    {1025024, "\r\nTFD形式(1M 26sector)", 154, 26, 1, false},
    {1228800, "\r\nTFD形式(1.21M)", 160, 15, 2, false},
    {1261568, "\r\nTFD形式(1.25M)", 154, 8, 3, false},
    {1474560, "\r\nTFD形式(1.44M)", 160, 18, 2, false},
};

// The one shape a TFD file holds when written: 2HD, 77 x 2 x 8 x 1024.
inline constexpr int kTfdTrackCount = 154;
inline constexpr int kTfdSectorsPerTrack = 8;
inline constexpr uint8_t kTfdSizeCode = 3;

}  // namespace dravik::tfd
