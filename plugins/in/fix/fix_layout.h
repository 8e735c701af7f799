// FIX images: a 256-byte header with two texts, the file positions of 160
// tracks, and a record per stored track: a track header, 32-byte sector
// records with the IDs, then the sectors' data. Where each part of a track
// record lies depends on its mode.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::fix {

inline constexpr size_t kHeaderSize = 256;
inline constexpr size_t kZeroFrom = 3, kZeroTo = 16;  // bytes 3 to 15 are zero
inline constexpr size_t kLabelOffset = 16, kLabelSize = 16;
inline constexpr size_t kCommentOffset = 32, kCommentSize = 224;

inline constexpr size_t kTableOffset = 256;
inline constexpr size_t kTableSize = 160 * 4;
inline constexpr uint32_t kPositionBias = 2;  // a table entry is the record's position + 2

inline constexpr size_t kTrackHeaderSize = 17;
inline constexpr size_t kAbsentMarkA = 2, kAbsentMarkB = 10;  // 0xFF 0xFF: no track
inline constexpr size_t kModeOffset = 8;
inline constexpr size_t kSubModeOffset = 16;

inline constexpr size_t kSectorRecordSize = 32;
inline constexpr size_t kRecordIdOffset = 14;  // C, H, R, N
inline constexpr size_t kRecordDensityOffset = 24;
inline constexpr uint8_t kSingleDensity = 0x80;

struct Mode {
  uint8_t mode;
  int sub_mode;  // -1: any
  uint32_t count_at;
  uint32_t records_at;
  uint32_t data_at;          // plus data_per_sector x the sector count
  uint32_t data_per_sector;
  uint32_t skipped;          // bytes before each sector's data
};

// Mode 6 with sub-mode 1 comes before the row for any other sub-mode.
inline constexpr Mode kModes[] = {
    {0, -1, 76, 312, 626, 64, 2},  {6, 1, 60, 296, 634, 64, 2},  {6, -1, 68, 304, 618, 64, 2},
    {10, -1, 60, 296, 312, 32, 0}, {20, -1, 60, 296, 606, 64, 2},
};

}  // namespace dravik::fix
