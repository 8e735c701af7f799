// The NFD image layouts of the T98-Next emulator, revisions 0 and 1: a
// common header (magic, comment, header size), then either one fixed table of
// every sector's ID (r0) or a pointer per track to a map of its sectors (r1).
// Sector data starts where the header size says, track after track.
// Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::nfd {

inline constexpr size_t kMagicSize = 16;  // the text, NUL-padded
inline constexpr std::string_view kMagicR0{"T98FDDIMAGE.R0\0\0", kMagicSize};
inline constexpr std::string_view kMagicR1{"T98FDDIMAGE.R1\0\0", kMagicSize};

inline constexpr size_t kCommentOffset = 0x10;
inline constexpr size_t kCommentSize = 0x100;
inline constexpr size_t kHeaderSizeOffset = 0x110;  // u32: where sector data starts
inline constexpr size_t kProtectOffset = 0x114;
inline constexpr size_t kHeadsOffset = 0x115;
inline constexpr size_t kTableOffset = 0x120;

// r0: 163 tracks x 26 entries of 16 bytes.
inline constexpr int kR0Tracks = 163;
inline constexpr int kR0Slots = 26;
inline constexpr size_t kEntrySize = 16;
inline constexpr size_t kR0TableEnd = kTableOffset + kR0Tracks * kR0Slots * kEntrySize;

// Sector entry fields, both revisions.
inline constexpr size_t kEntryC = 0;  // 0xFF: unused (r0)
inline constexpr size_t kEntryH = 1;
inline constexpr size_t kEntryR = 2;
inline constexpr size_t kEntryN = 3;
inline constexpr size_t kEntryMfm = 4;   // 1 = MFM
inline constexpr size_t kEntryDdam = 5;  // 1 = deleted data
inline constexpr size_t kR0EntryPda = 0x0A;
inline constexpr size_t kR1EntryRetry = 0x0A;
inline constexpr size_t kR1EntryPda = 0x0B;
inline constexpr uint8_t kUnused = 0xFF;

// r1: 164 track pointers (0 = no track), each to a map: a 16-byte record,
// then an entry per sector, then an entry per retry record.
inline constexpr int kR1Tracks = 164;
inline constexpr size_t kR1TableEnd = kTableOffset + 4 * kR1Tracks;
inline constexpr size_t kMapHeaderSize = 16;
inline constexpr size_t kMapSectorCount = 0;  // u16
inline constexpr size_t kMapRetryCount = 2;   // u16
// Retry entry: the sector read again, copies of its data after the track's.
inline constexpr size_t kRetryCopiesLessOne = 9;
inline constexpr size_t kRetryLength = 0x0A;  // u32, one copy

// The disk type byte (PDA) by its name.
constexpr std::string_view PdaName(uint8_t pda) {
  switch (pda) {
    case 0x10: return "2DD";
    case 0x30: return "1.44M";
    case 0x90: return "2HD";
    default: return "";
  }
}

}  // namespace dravik::nfd
