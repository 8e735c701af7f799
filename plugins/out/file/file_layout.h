// The disk layouts the FILE extractor understands: FAT12 on the usual PC-98
// and PC shapes (recognised by geometry and FAT bytes, not by a boot
// sector), a compact FAT12 variant, and two flat directory tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::file_layout {

// One row of the standard FAT layouts, chosen by the disk's geometry.
struct FatShape {
  int sectors_per_track;
  int track_count;  // 0: any
  uint8_t media;    // FAT byte 0
  uint32_t sector_length;
  uint32_t fat_sectors;
  uint32_t sectors_per_cluster;
  uint32_t root_start;  // root directory runs up to data_start
  uint32_t data_start;
  uint32_t cluster_limit;  // L: entries 0 to L + 1 are checked and decoded
};

inline constexpr FatShape kFatShapes[] = {
    {8, 160, 0xFB, 512, 2, 2, 5, 12, 634},    // 640K
    {8, 154, 0xFE, 1024, 2, 1, 5, 11, 1222},  // 1.25M
    {9, 160, 0xF9, 512, 3, 2, 7, 14, 713},    // 720K
    {9, 154, 0xFE, 1024, 2, 1, 5, 11, 1222},  // 1.25M layout on 9 sectors
    {15, 0, 0xF9, 512, 7, 1, 15, 29, 2372},   // 1.21M
    {18, 0, 0xF0, 512, 9, 1, 19, 33, 2850},   // 1.44M
};
inline constexpr uint32_t kFatStartSector = 1;  // the first copy is the one read

// The track-count adjustment looks from this track upward.
inline constexpr int kShortTrackCount = 154;
inline constexpr int kFullTrackCount = 160;

// FAT12 entries.
inline constexpr int kFatTableEntries = 4096;
inline constexpr uint16_t kUndecoded = 0xFFFF;
inline constexpr uint16_t kBadCluster = 0xFF7;
inline constexpr uint16_t kEndMark = 0xFF8;  // and above
inline constexpr uint16_t kFirstDataCluster = 2;

// Directory entry, 32 bytes.
inline constexpr size_t kDirEntrySize = 32;
inline constexpr size_t kDirNameSize = 8;
inline constexpr size_t kDirExtOffset = 8;
inline constexpr size_t kDirExtSize = 3;
inline constexpr size_t kDirAttrOffset = 11;
inline constexpr size_t kDirTimeOffset = 22;     // u16: hour << 11 | minute << 5 | second / 2
inline constexpr size_t kDirDateOffset = 24;     // u16: (year - 1980) << 9 | month << 5 | day
inline constexpr size_t kDirClusterOffset = 26;  // u16
inline constexpr size_t kDirSizeOffset = 28;     // u32
inline constexpr uint8_t kAttrVolume = 0x08;     // also set in long-name entries
inline constexpr uint8_t kAttrDirectory = 0x10;

// VFAT long names: entries of attributes 0x0F (read-only, hidden, system,
// volume) before the short entry, last part first, each holding 13 UTF-16
// units and the checksum of the short entry's 11 name bytes.
inline constexpr uint8_t kAttrLongNameMask = 0x3F;
inline constexpr uint8_t kAttrLongName = 0x0F;
inline constexpr uint8_t kLongNameOrdinalMask = 0x1F;
inline constexpr uint8_t kLongNameLastPart = 0x40;
inline constexpr size_t kLongNameTypeOffset = 12;  // 0 for a name part
inline constexpr size_t kLongNameChecksumOffset = 13;
inline constexpr size_t kLongNameMaxParts = 20;
inline constexpr size_t kLongNameUnitsPerPart = 13;
inline constexpr size_t kLongNameUnitOffsets[kLongNameUnitsPerPart] = {1,  3,  5,  7,  9,  14, 16,
                                                                       18, 20, 22, 24, 28, 30};
inline constexpr uint8_t kEntryUnused = 0x00;
inline constexpr uint8_t kEntryDot = 0x2E;
inline constexpr uint8_t kEntryDeleted = 0xE5;
inline constexpr uint8_t kEntryE5Escape = 0x05;  // stands for a first byte of 0xE5

// Compact FAT layout: 1024-byte sectors, a two-sector FAT at 0x400 and a
// one-sector root directory.
inline constexpr uint32_t kCompactSectorLength = 1024;
inline constexpr size_t kCompactFatOffset = 0x400;
inline constexpr size_t kCompactFatBytes = 2048;
inline constexpr uint32_t kCompactLastEntry = 1361;
inline constexpr uint32_t kCompactClusterLimit = 1362;  // higher values below 0xFF7 are refused
inline constexpr uint32_t kCompactRootSector9 = 4;      // 9 sectors per track
inline constexpr uint32_t kCompactRootSector = 3;       // any other shape

// Flat tables: 24-byte entries, a 12-byte ASCII name NUL-padded.
inline constexpr size_t kFlatEntrySize = 24;
inline constexpr size_t kFlatNameSize = 12;
inline constexpr size_t kFlatStartLimit = 0x134000;  // a file may start up to here

// Banked table: at 0xA0000, file data addressed by bank and offset; the
// 8,192 bytes of the table are not part of any file.
inline constexpr size_t kBankedTableOffset = 0xA0000;
inline constexpr size_t kBankedTableBytes = 8192;
inline constexpr size_t kBankSize = 8192;
inline constexpr size_t kBankedBankOffset = 13;    // u8
inline constexpr size_t kBankedOffsetOffset = 14;  // u16
inline constexpr size_t kBankedSizeOffset = 16;    // u32

// Sector table: at 0x400, file data addressed by 1024-byte sector and offset.
inline constexpr size_t kSectorTableOffset = 0x400;
inline constexpr size_t kSectorTableUnit = 1024;
inline constexpr size_t kSectorSectorOffset = 14;  // u16
inline constexpr size_t kSectorOffsetOffset = 16;  // u16
inline constexpr size_t kSectorSizeOffset = 18;    // u32

}  // namespace dravik::file_layout
