#include "extract_support.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace dravik::test {

Tree ReadTree(const std::string& folder) {
  namespace fs = std::filesystem;
  const std::string root = folder.back() == '/' ? folder : folder + "/";
  Tree tree;
  std::error_code error;
  // Links are listed, never followed.
  for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
    const std::string path = entry.path().string();
    const std::string rel = path.substr(root.size());
    if (entry.is_symlink()) {
      tree[rel + "@"] = fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      tree[rel + "/"] = "";
    } else {
      tree[rel] = ReadFile(path);
    }
  }
  return tree;
}

std::string DiffTrees(const Tree& expected, const Tree& actual) {
  std::string diff;
  for (const auto& [path, content] : expected) {
    const auto it = actual.find(path);
    if (it == actual.end()) diff += "missing " + path + "\n";
    if (it != actual.end() && it->second != content) diff += "differs " + path + "\n";
  }
  for (const auto& [path, content] : actual) {
    if (expected.count(path) == 0) diff += "extra " + path + "\n";
  }
  return diff;
}

const FatLayout& FatLayoutOf(const std::string& shape) {
  // The layouts MS-DOS and its PC-98 port format these disks with.
  static const FatLayout layouts[] = {
      {"640K", 0xFB, 512, 2, 2, 5, 12},   {"720K", 0xF9, 512, 3, 2, 7, 14},
      {"1.21M", 0xF9, 512, 7, 1, 15, 29}, {"1.25M", 0xFE, 1024, 2, 1, 5, 11},
      {"1.44M", 0xF0, 512, 9, 1, 19, 33},
  };
  for (const FatLayout& l : layouts) {
    if (shape == l.shape) return l;
  }
  throw std::invalid_argument("no FAT layout for " + shape);
}

FatBuilder::FatBuilder(const std::string& shape) : layout_(FatLayoutOf(shape)) {
  const DiskShape& s = ShapeNamed(shape);
  raw_.assign(size_t{SectorLength(static_cast<uint8_t>(s.size_code))} * s.sectors * s.tracks, 0);
  uint8_t* fat = raw_.data() + layout_.sector_length;
  fat[0] = layout_.media;
  fat[1] = 0xFF;
  fat[2] = 0xFF;
}

void FatBuilder::SetFat(uint32_t entry, uint16_t value) {
  uint8_t* p = raw_.data() + layout_.sector_length + entry * 3 / 2;
  if (entry % 2 == 0) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>((p[1] & 0xF0) | ((value >> 8) & 0x0F));
  } else {
    p[0] = static_cast<uint8_t>((p[0] & 0x0F) | ((value & 0x0F) << 4));
    p[1] = static_cast<uint8_t>(value >> 4);
  }
}

uint8_t* FatBuilder::Root(uint32_t index) {
  return raw_.data() + layout_.root_start * layout_.sector_length + 32 * index;
}

uint8_t* FatBuilder::Cluster(uint32_t cluster) {
  const size_t at = (layout_.data_start + size_t{cluster - 2} * layout_.sectors_per_cluster) *
                    layout_.sector_length;
  if (at + cluster_bytes() > raw_.size()) throw std::out_of_range("cluster past the disk");
  return raw_.data() + at;
}

void FatBuilder::Entry(uint8_t* at, std::string_view name, std::string_view ext, uint8_t attributes,
                       uint16_t cluster, uint32_t size) {
  std::memset(at, 0, 32);
  std::memset(at, ' ', 11);
  std::memcpy(at, name.data(), std::min<size_t>(name.size(), 8));
  std::memcpy(at + 8, ext.data(), std::min<size_t>(ext.size(), 3));
  at[11] = attributes;
  at[26] = static_cast<uint8_t>(cluster);
  at[27] = static_cast<uint8_t>(cluster >> 8);
  for (int i = 0; i < 4; ++i) at[28 + i] = static_cast<uint8_t>(size >> (8 * i));
}

uint16_t FatBuilder::Store(const std::string& data, uint32_t clusters) {
  const uint32_t need = std::max<uint32_t>(
      clusters, static_cast<uint32_t>((data.size() + cluster_bytes() - 1) / cluster_bytes()));
  if (need == 0) return 0;
  const uint16_t first = next_cluster_;
  for (uint32_t i = 0; i < need; ++i) {
    const uint16_t c = next_cluster_++;
    SetFat(c, i + 1 < need ? static_cast<uint16_t>(c + 1) : 0xFFF);
    const size_t from = size_t{i} * cluster_bytes();
    if (from < data.size()) {
      std::memcpy(Cluster(c), data.data() + from,
                  std::min<size_t>(cluster_bytes(), data.size() - from));
    }
  }
  return first;
}

uint16_t FatBuilder::NewFolder(uint16_t parent) {
  const uint16_t c = Store("", 1);
  Entry(InCluster(c, 0), ".", "", 0x10, c, 0);
  Entry(InCluster(c, 1), "..", "", 0x10, parent, 0);
  return c;
}

void FatBuilder::Load(DiskImage& image) const {
  BuildDiskFromRaw(image, ShapeNamed(layout_.shape), raw_);
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t state = seed * 2654435761u + 7;
  for (char& c : out) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return out;
}

}  // namespace dravik::test
