// The FDD ("VFD1.00") image layout, shared by its reader and writer: a fixed
// header block with a 160 x 26 sector table, then the data of the sectors
// whose bytes are not all equal. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dravik/disk_image.h"

namespace dravik::fdd {

inline constexpr char kMagic[] = "VFD1.00";  // written with its NUL
inline constexpr size_t kMagicLength = 7;
inline constexpr size_t kFamilyLength = 3;  // "VFD": all IsSupport looks at

inline constexpr size_t kCommentOffset = 8;
inline constexpr size_t kCommentSize = 128;
inline constexpr size_t kCommentMaxLength = 127;  // leaves room for its NUL

// Two fixed words after the comment, 00 00 and FF FF.
inline constexpr size_t kMarkOffset = 136;
inline constexpr size_t kMarkSize = 4;
inline constexpr uint8_t kMark[kMarkSize] = {0x00, 0x00, 0xFF, 0xFF};

inline constexpr size_t kTableOffset = 220;
inline constexpr size_t kEntrySize = 12;
inline constexpr size_t kHeaderSize = 50172;

// Fields of a table entry.
inline constexpr size_t kEntryC = 0;
inline constexpr size_t kEntryH = 1;
inline constexpr size_t kEntryR = 2;
inline constexpr size_t kEntryN = 3;
inline constexpr size_t kEntryFill = 4;      // the repeated byte of an unstored sector
inline constexpr size_t kEntryDeleted = 5;   // 1 = deleted-data mark
inline constexpr size_t kEntryDensity = 6;   // 1 = MFM, 0 = FM
inline constexpr size_t kEntryCapacity = 7;  // same in every used entry
inline constexpr size_t kEntryOffset = 8;    // u32 absolute file offset of the data

inline constexpr uint8_t kEmpty = 0xFF;
inline constexpr uint8_t kFillOfStored = 0xFF;
inline constexpr uint32_t kNotStored = 0xFFFFFFFF;

// The capacity flag is set from this many bytes of nominal geometry on.
inline constexpr uint64_t kLargeDiskBytes = 1000000;

// Largest row a reader takes; both ends refuse longer ones so that every
// file the writer makes can be read back.
inline constexpr size_t kMaxTrackBytes = 9472;

constexpr size_t EntryAt(int track, int slot) {
  return kTableOffset + (static_cast<size_t>(track) * kMaxSectorsPerTrack + slot) * kEntrySize;
}

static_assert(EntryAt(kMaxTracks, 0) + 32 == kHeaderSize, "table ends 32 bytes before the data");

}  // namespace dravik::fdd
