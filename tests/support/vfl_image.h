// VFL volumes and VFZ containers for tests and benchmarks, laid out field
// by field from the format's description. Plain C++ (failures throw
// std::runtime_error), as slf_image.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

struct VflCylinder {
  int8_t storage = 0;  // 0 raw, 1 fill, 2 lh5
  uint8_t fill = 0;
  std::vector<uint8_t> stored;
  int16_t decoded_length = 0;  // lh5: what the stream expands to
};

struct VflVolume {
  int16_t media_type = 0;  // 0 1.25M, 1 1.21M, 2 1.44M, 3 720K, 4 640K
  int16_t cylinders = 0;
  int16_t bytes_per_sector = 0;
  int16_t sectors_per_cylinder = 0;
  int16_t bytes_per_cylinder = 0;
  int16_t bytes_per_cluster = 0;
  int16_t sectors_per_cluster = 0;
  int16_t first_fat_sector = 0;
  int16_t sectors_per_fat = 0;
  int16_t first_data_sector = 0;
  int16_t packed = 0;
  std::string name;  // Shift-JIS, at most 41 bytes
  std::vector<VflCylinder> table;  // at most 80
};

// "VOL_FILE", the header, the cylinder table, the stored cylinders.
std::vector<uint8_t> VflVolumeBytes(const VflVolume& volume);

// A container: its header, then each volume behind a 32-byte entry that
// gives its length. count < 0 writes the number of volumes.
std::vector<uint8_t> VfzFile(const std::vector<VflVolume>& volumes, const std::string& name,
                             int count = -1, const std::string& version = "0010");

enum class VflStorage {
  kRaw,     // every cylinder raw
  kPacked,  // a cylinder of one repeated byte as a fill, others as lha's lh5
            // streams (raw where lha would not shrink them)
};

// The volume of a regular disk (every row below track_count: the same
// sectors in R order, one N). Its FAT geometry comes from the boot sector's
// BPB when there is one. pack_clusters: every cylinder after the first keeps
// only the clusters that the FAT marks in use (neither free nor bad).
VflVolume VflVolumeOf(const DiskImage& image, int media_type, VflStorage storage,
                      bool pack_clusters);

// The disk a packed volume of image gives back: the clusters of cylinders
// after the first that the FAT marks free or bad hold fill instead.
void FillUnusedClusters(DiskImage& image, uint8_t fill);

}  // namespace dravik::test
