// HDI and THD: two containers for one hard-disk layout, 33 sectors of 256
// bytes per track and 8 heads. Both hold whole cylinders back to back after
// their header; only the header differs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::hdi_thd {

inline constexpr uint32_t kSectorLength = 256;
inline constexpr uint32_t kSectorsPerTrack = 33;
inline constexpr uint32_t kHeads = 8;
inline constexpr uint32_t kCylinderBytes = kSectorLength * kSectorsPerTrack * kHeads;
static_assert(kCylinderBytes == 0x10800);

// HDI: a 4096-byte header of little-endian 32-bit fields, the rest zero.
// Its first field is 0, which tells it from a THD.
inline constexpr size_t kHdiHeaderSize = 4096;
inline constexpr size_t kHdiZero = 0;
inline constexpr size_t kHdiType = 4;
inline constexpr size_t kHdiHeaderSizeField = 8;
inline constexpr size_t kHdiDataSize = 12;
inline constexpr size_t kHdiSectorLength = 16;
inline constexpr size_t kHdiSectors = 20;
inline constexpr size_t kHdiHeads = 24;
inline constexpr size_t kHdiCylinders = 28;

// The data size field is 32 bits wide: no HDI holds more cylinders.
inline constexpr uint32_t kMaxHdiCylinders = UINT32_MAX / kCylinderBytes;

// THD: a 256-byte header, the cylinder count then zeros.
inline constexpr size_t kThdHeaderSize = 256;
inline constexpr size_t kThdCylinders = 0;

}  // namespace dravik::hdi_thd
