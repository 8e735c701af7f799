// STDFILE images: an 8-byte header, a 128-byte record per track listing each
// sector's R, N and data position, and a data area in 128-byte units. A
// sector whose data is not stored is given by one fill byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::stdfile {

inline constexpr size_t kHeaderSize = 8;
inline constexpr char kMagic[4] = {'S', 'T', 'D', 'A'};
inline constexpr size_t kCylindersOffset = 7;  // cylinders - 1
inline constexpr int kMaxCylinderByte = 79;    // 160 tracks

inline constexpr size_t kRecordSize = 128;
inline constexpr size_t kRecordsSize = 160 * kRecordSize;
inline constexpr size_t kDescriptorsOffset = 4;  // 4 bytes per sector: R, N, position
inline constexpr uint8_t kNotStored = 0xFF;      // position's high byte: a fill byte instead

inline constexpr uint64_t kDataUnit = 128;
inline constexpr uint64_t kDataStart = 164;  // in units: byte 20992
inline constexpr uint64_t kDataOffset = kDataStart * kDataUnit;

}  // namespace dravik::stdfile
