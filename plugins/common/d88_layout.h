// The D88 image layout, shared by its reader and writer: a disk header with
// the disk's name, media and size and a table of track offsets, then each
// track as its sectors, every sector a 16-byte header followed by its data.
// Several disks may follow one another in one file. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::d88 {

// Disk header.
inline constexpr size_t kNameSize = 17;  // 16 bytes and a NUL
inline constexpr size_t kNameMaxLength = 16;
inline constexpr size_t kProtectOffset = 0x1A;
inline constexpr size_t kMediaOffset = 0x1B;
inline constexpr size_t kDiskSizeOffset = 0x1C;  // u32, header included
inline constexpr size_t kTrackTableOffset = 0x20;
inline constexpr int kTrackEntries = 164;  // cylinder x 2 + head
inline constexpr size_t kHeaderSize = kTrackTableOffset + 4 * kTrackEntries;
// Some tools write a table of 160 entries; the first track then starts
// where that table ends.
inline constexpr int kShortTrackEntries = 160;
inline constexpr size_t kShortHeaderSize = kTrackTableOffset + 4 * kShortTrackEntries;
static_assert(kHeaderSize == 0x2B0 && kShortHeaderSize == 0x2A0);

inline constexpr uint8_t kWritable = 0x00;
inline constexpr uint8_t kProtected = 0x10;

inline constexpr uint8_t kMedia2D = 0x00;
inline constexpr uint8_t kMedia2DD = 0x10;
inline constexpr uint8_t kMedia2HD = 0x20;
inline constexpr uint8_t kMedia1DD = 0x30;
inline constexpr uint8_t kMedia1D = 0x40;

// The media's name, or "" for a byte that names none.
constexpr std::string_view MediaName(uint8_t media) {
  switch (media) {
    case kMedia2D: return "2D";
    case kMedia2DD: return "2DD";
    case kMedia2HD: return "2HD";
    case kMedia1DD: return "1DD";
    case kMedia1D: return "1D";
    default: return "";
  }
}

// Sector header.
inline constexpr size_t kSectorHeaderSize = 16;
inline constexpr size_t kSectorC = 0;
inline constexpr size_t kSectorH = 1;
inline constexpr size_t kSectorR = 2;
inline constexpr size_t kSectorN = 3;
inline constexpr size_t kSectorCount = 4;     // u16, sectors in this track
inline constexpr size_t kSectorDensity = 6;   // 0x40 FM, else MFM
inline constexpr size_t kSectorDeleted = 7;   // 0x10 deleted-data mark
inline constexpr size_t kSectorStatus = 8;    // the controller's result
inline constexpr size_t kSectorDataSize = 14; // u16, the data that follows

inline constexpr uint8_t kDensityMfm = 0x00;
inline constexpr uint8_t kDensityFm = 0x40;
inline constexpr uint8_t kNotDeleted = 0x00;
inline constexpr uint8_t kDeleted = 0x10;
inline constexpr uint8_t kStatusNormal = 0x00;
inline constexpr uint8_t kStatusDeletedData = 0x10;

}  // namespace dravik::d88
