// SLF files: a small MS-DOS program, then one or more disk records behind
// its image, each a fixed header and the stored contents of up to 160
// tracks. All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::slf {

// The program's header: bytes in its last 512-byte page, its page count,
// and the maker's mark.
inline constexpr size_t kLeadSize = 48;         // what ReadDisk takes of it
inline constexpr size_t kRecognitionSize = 64;  // what IsSupport takes
inline constexpr std::string_view kProgramMagic = "MZ";
inline constexpr size_t kLastPageBytesOffset = 2;
inline constexpr size_t kPageCountOffset = 4;
inline constexpr size_t kPageSize = 512;
inline constexpr size_t kMarkOffset = 50;
inline constexpr std::string_view kMark = "FDFILEVER200";

// A disk record's header.
inline constexpr size_t kHeaderSize = 493;
inline constexpr size_t kFlagsOffset = 1;
inline constexpr size_t kFileSystemOffset = 2;
inline constexpr size_t kNextOffset = 3;      // u32 L: the next record is L + 6 from this one
inline constexpr uint64_t kNextBias = 6;
inline constexpr size_t kCommentLengthOffset = 7;
inline constexpr size_t kCommentOffset = 8;
inline constexpr uint8_t kCommentSize = 0x9F;
// Attribute and sector count: track 0, track 1, every other track.
inline constexpr size_t kTrackFormatOffset = 167;
inline constexpr int kTrackFormatGroups = 3;
inline constexpr size_t kDescriptorOffset = 173;  // u16 per track

// Disk flags, for the description only.
inline constexpr uint8_t kFlag2hd = 0x01;
inline constexpr uint8_t kFlag160Tracks = 0x02;
inline constexpr uint8_t kFlagUncompressed = 0x10;

// Track descriptor.
inline constexpr uint16_t kStoredLengthMask = 0x3FFF;  // 0: track absent
inline constexpr uint16_t kHasExtraByte = 0x4000;
inline constexpr uint16_t kStoredRaw = 0x8000;

// Attribute byte (the header's, or an override).
inline constexpr uint8_t kSizeCodeMask = 0x03;
inline constexpr uint8_t kInterleaved = 0x40;
inline constexpr uint8_t kMfm = 0x80;

// Extra byte.
inline constexpr uint8_t kExtraDeleted = 0x01;
inline constexpr uint8_t kExtraOverride = 0x02;  // an attribute and a spare byte follow
inline constexpr size_t kOverrideSize = 2;

// The longest track the format's own tools handle, stored or decoded.
inline constexpr size_t kTrackAreaSize = 16896;

}  // namespace dravik::slf
