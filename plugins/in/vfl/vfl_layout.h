// VFL volumes: an MS-DOS floppy stored cylinder by cylinder, each cylinder
// raw, as one fill byte, or as an LH5 stream; on a packed volume every
// cylinder after the first keeps only the clusters its FAT marks in use.
// VFZ containers hold several volumes. Numbers are little-endian; 16-bit
// fields are signed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::vfl {

// VFZ container.
inline constexpr size_t kContainerHeaderSize = 128;
inline constexpr std::string_view kContainerMagic = "VFZ_FILE";
inline constexpr size_t kVersionOffset = 8;
inline constexpr std::string_view kVersion = "0010";
inline constexpr size_t kContainerNameOffset = 12;
inline constexpr size_t kNameSize = 41;  // container and volume names; no NUL of their own
inline constexpr size_t kVolumeCountOffset = 94;
inline constexpr size_t kEntrySize = 32;  // in front of each volume
inline constexpr size_t kEntryLengthOffset = 13;  // u32: the volume's length

// Volume.
inline constexpr std::string_view kVolumeMagic = "VOL_FILE";
inline constexpr size_t kMagicSize = 8;
inline constexpr size_t kVolumeHeaderSize = 256;
inline constexpr size_t kMediaTypeOffset = 28;
inline constexpr size_t kCylinderCountOffset = 32;
inline constexpr size_t kBytesPerSectorOffset = 34;
inline constexpr size_t kSectorsPerCylinderOffset = 36;
inline constexpr size_t kBytesPerCylinderOffset = 38;
inline constexpr size_t kBytesPerClusterOffset = 40;
inline constexpr size_t kSectorsPerClusterOffset = 42;
inline constexpr size_t kFirstFatSectorOffset = 44;
inline constexpr size_t kSectorsPerFatOffset = 46;
inline constexpr size_t kFirstDataSectorOffset = 54;
inline constexpr size_t kPackedOffset = 58;
inline constexpr size_t kVolumeNameOffset = 60;
inline constexpr int kMaxCylinders = 80;

// Cylinder table: one entry per cylinder.
inline constexpr size_t kCylinderEntrySize = 16;
inline constexpr size_t kCylinderTableSize = kMaxCylinders * kCylinderEntrySize;
inline constexpr size_t kStoredLengthOffset = 4;
inline constexpr size_t kStorageOffset = 6;  // signed byte
inline constexpr size_t kFillByteOffset = 7;
inline constexpr size_t kDecodedLengthOffset = 12;
inline constexpr int kStorageRaw = 0;
inline constexpr int kStorageFill = 1;
inline constexpr int kStorageLh5 = 2;

// The largest cylinder the format's own tools handle (1.44M: 36 sectors of
// 512 bytes fit), stored, decoded or expanded; also the room for the FAT.
inline constexpr size_t kCylinderAreaSize = 18688;

// FAT12 entries.
inline constexpr uint16_t kClusterFree = 0x000;
inline constexpr uint16_t kClusterBad = 0xFF7;
inline constexpr int kFirstCluster = 2;

struct MediaType {
  std::string_view label;
  uint8_t fill;  // what free clusters of a packed volume hold
};
inline constexpr MediaType kMediaTypes[] = {
    {"\r\n(1.25M : ", 0xE5}, {"\r\n(1.21M : ", 0xF6}, {"\r\n(1.44M : ", 0xF6},
    {"\r\n(720K : ", 0xF6},  {"\r\n(640K : ", 0xE5},
};

}  // namespace dravik::vfl
