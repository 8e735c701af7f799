// The Press1 file layout. All numbers are little-endian.
//
//   file header (94 bytes), then disk records back to back;
//   a record: its header (117 bytes), one block per cylinder, and at its end
//   a table of u32 block offsets, one per cylinder, counted from the
//   record's start;
//   a block: a 5-byte header whose last byte says how the cylinder is
//   stored, then its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::press1 {

inline constexpr size_t kFileHeaderSize = 94;
inline constexpr std::string_view kMagic = "FICT";  // at offset 0
inline constexpr size_t kKindOffset = 13;
inline constexpr uint8_t kKind = 'P';
inline constexpr size_t kFileTitleOffset = 14;
inline constexpr size_t kTextSize = 80;  // file title and disk comment, NUL-padded

inline constexpr size_t kRecordHeaderSize = 117;
inline constexpr size_t kRecordLengthOffset = 0;  // u32, the whole record
inline constexpr size_t kCommentOffset = 5;
inline constexpr size_t kDiskTypeOffset = 87;
inline constexpr size_t kSubTypeOffset = 99;  // read for disk type 2 only
inline constexpr size_t kOffsetEntrySize = 4;

inline constexpr size_t kBlockHeaderSize = 5;
inline constexpr size_t kStorageOffset = 4;  // in the block header
inline constexpr uint8_t kStoredRaw = 0;
inline constexpr uint8_t kStoredCompressed = 1;
inline constexpr uint8_t kStoredFill = 3;  // the cylinder is its first data byte, repeated

// The largest block data a record may hold: a cylinder of the largest disk
// (18,432 bytes) and some room.
inline constexpr size_t kMaxBlockData = 18688;

inline constexpr int kAnySubType = -1;

struct DiskType {
  uint8_t type;
  int sub_type;
  std::string_view label;
  uint8_t track_count;
  uint8_t sectors_per_track;
  uint8_t size_code;
  // N88-BASIC's 1 MB layout: track 0 holds 26 FM sectors of 128 bytes, and
  // every track is stored in R order but read 2:1 interleaved.
  bool diskbasic;
};

inline constexpr DiskType kDiskTypes[] = {
    {1, kAnySubType, "\r\n(N88DISK-BASIC 1MB)", 154, 26, 1, true},
    {2, 18, "\r\n(1.44M)", 160, 18, 2, false},
    {2, 8, "\r\n(640KB)", 160, 8, 2, false},
    {2, 2, "\r\n(N88DISK-BASIC 640KB)", 160, 26, 1, false},
    {4, kAnySubType, "\r\n(1.25M)", 154, 8, 3, false},
    {0x31, kAnySubType, "\r\n(GAME)", 154, 8, 3, false},
};

}  // namespace dravik::press1
