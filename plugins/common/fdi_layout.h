// The two FDI image layouts, shared by their reader and writer. Both have a
// 4096-byte header followed by every track's sectors in R order, back to
// back. Plain FDI gives one geometry for the disk; FDI2 carries a list of
// 16-byte track records. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::fdi {

inline constexpr size_t kHeaderSize = 4096;

// Plain FDI: eight u32 fields; the first is 0.
inline constexpr size_t kPlainZero = 0;
inline constexpr size_t kPlainMediaType = 4;
inline constexpr size_t kPlainHeaderSize = 8;
inline constexpr size_t kPlainDataSize = 12;
inline constexpr size_t kPlainSectorLength = 16;
inline constexpr size_t kPlainSectors = 20;
inline constexpr size_t kPlainHeads = 24;
inline constexpr size_t kPlainCylinders = 28;

// FDI2.
inline constexpr char kFdi2Magic[4] = {'F', 'D', 'I', '2'};
inline constexpr size_t kFdi2MediaType = 4;
inline constexpr size_t kFdi2HeaderSize = 8;
inline constexpr size_t kFdi2DataSize = 12;
inline constexpr size_t kFdi2ListOffset = 16;
inline constexpr size_t kFdi2RecordCount = 20;
inline constexpr size_t kFdi2ListStart = 32;  // where the writer puts the list

inline constexpr size_t kRecordSize = 16;
inline constexpr size_t kRecordKind = 0;
inline constexpr size_t kRecordFlags = 1;  // media byte; bit 3 = FM
inline constexpr size_t kRecordTrack = 2;  // kind 2
inline constexpr size_t kRecordSectors = 3;
inline constexpr size_t kRecordCylinder = 8;  // kind 1: number of cylinders
inline constexpr size_t kRecordHead = 9;      // kind 1: number of heads
inline constexpr size_t kRecordSectorsAgain = 10;
inline constexpr size_t kRecordN = 11;
inline constexpr size_t kRecordDataOffset = 12;  // u32, from the end of the header

inline constexpr uint8_t kKindAllTracks = 1;
inline constexpr uint8_t kKindOneTrack = 2;

// Media types: bits 4 to 7 name the medium, bit 3 marks FM.
inline constexpr uint32_t kMedia2DD = 0x10;  // 640K/720K
inline constexpr uint32_t kMedia144 = 0x30;  // 1.44M
inline constexpr uint32_t kMedia2HD = 0x90;  // 1.25M/1.21M
inline constexpr uint32_t kMediaFm = 0x08;
inline constexpr uint32_t kMediaClassMask = 0xF0;

// Sector count of the second record when the list starts at 32: with the FM
// bit it tells a mixed 2HD disk whose tracks are stored 2:1 interleaved.
inline constexpr size_t kInterleaveProbe = kFdi2ListStart + kRecordSize + kRecordSectors;
inline constexpr uint8_t kInterleavedSectors = 26;

// Largest track either end takes: one sector length per track and at most
// 26 sectors make every real track fit.
inline constexpr size_t kMaxTrackBytes = 9472;

}  // namespace dravik::fdi
