// Helpers for the FILE extractor's tests: a FAT12 volume built byte by byte
// (for the damaged and hostile disks that no tool makes), and a snapshot of
// a host folder tree to compare with what was put on the disk.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik::test {

// Everything below folder, by path relative to it: a file maps to its
// bytes, a folder ("A/B/") to "", a symbolic link ("L@") to its target.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string& folder);

// "" when both trees are equal; else the paths missing, extra or different.
std::string DiffTrees(const Tree& expected, const Tree& actual);

// Where a standard FAT12 layout puts its parts, in sectors.
struct FatLayout {
  const char* shape;  // a DiskShape name
  uint8_t media;
  uint32_t sector_length;
  uint32_t fat_sectors;
  uint32_t sectors_per_cluster;
  uint32_t root_start;
  uint32_t data_start;
};
const FatLayout& FatLayoutOf(const std::string& shape);

class FatBuilder {
 public:
  // A blank volume: FAT bytes 0 to 2 are media, FF, FF, everything else 0.
  explicit FatBuilder(const std::string& shape);

  std::vector<uint8_t>& raw() { return raw_; }
  uint32_t cluster_bytes() const { return layout_.sector_length * layout_.sectors_per_cluster; }

  void SetFat(uint32_t entry, uint16_t value);
  uint8_t* Root(uint32_t index);
  uint8_t* Cluster(uint32_t cluster);
  uint8_t* InCluster(uint32_t cluster, uint32_t index) { return Cluster(cluster) + 32 * index; }

  static void Entry(uint8_t* at, std::string_view name, std::string_view ext, uint8_t attributes,
                    uint16_t cluster, uint32_t size);
  // A fresh chain (from the next unused cluster) holding data and ending in
  // an end mark; 0 for empty data. clusters: how many to take at least.
  uint16_t Store(const std::string& data, uint32_t clusters = 0);
  // A fresh directory cluster with "." and ".." entries.
  uint16_t NewFolder(uint16_t parent);

  void Load(DiskImage& image) const;

 private:
  FatLayout layout_;
  std::vector<uint8_t> raw_;
  uint16_t next_cluster_ = 2;
};

// Data that differs from byte to byte and from seed to seed.
std::string Pattern(size_t size, uint32_t seed);

}  // namespace dravik::test
