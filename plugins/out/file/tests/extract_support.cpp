#include "extract_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace dravik::test {
namespace {

void ReadTreeInto(const std::string& folder, const std::string& rel,
                  std::map<std::string, std::string>& tree) {
  DIR* dir = opendir((folder + rel).c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    const std::string path = folder + rel + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      char target[4096] = {};
      const ssize_t n = readlink(path.c_str(), target, sizeof(target) - 1);
      tree[rel + name + "@"] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
    } else if (S_ISDIR(st.st_mode)) {
      tree[rel + name + "/"] = "";
      ReadTreeInto(folder, rel + name + "/", tree);
    } else {
      tree[rel + name] = ReadFile(path);
    }
  }
}

}  // namespace

std::map<std::string, std::string> ReadTree(const std::string& folder) {
  std::map<std::string, std::string> tree;
  ReadTreeInto(folder.back() == '/' ? folder : folder + "/", "", tree);
  return tree;
}

std::string DiffTrees(const std::map<std::string, std::string>& expected,
                      const std::map<std::string, std::string>& actual) {
  std::string diff;
  for (const auto& [path, content] : expected) {
    const auto it = actual.find(path);
    if (it == actual.end()) {
      diff += "missing " + path + "\n";
    } else if (it->second != content) {
      diff += "differs " + path + " (" + std::to_string(it->second.size()) + " bytes, expected " +
              std::to_string(content.size()) + ")\n";
    }
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

FatTools::FatTools(std::string folder) : folder_(std::move(folder)) {
  WriteFile(folder_ + "mtoolsrc", "MTOOLS_SKIP_CHECK=1\nMTOOLS_NO_VFAT=1\n");
  WriteFile(folder_ + "mtoolsrc932",
            "MTOOLS_SKIP_CHECK=1\nMTOOLS_NO_VFAT=1\nDEFAULT_CODEPAGE=932\n");
}

bool FatTools::available() const {
  return Run("command -v mkfs.fat && command -v mcopy && command -v mmd && command -v mdel")
             .status == 0;
}

CommandResult FatTools::Run(const std::string& command, bool sjis) const {
  return RunCommand(
      "export PATH=/usr/sbin:/sbin:$PATH LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLSRC=" +
      ShellQuote(folder_ + (sjis ? "mtoolsrc932" : "mtoolsrc")) + "; cd " + ShellQuote(folder_) +
      " && " + command);
}

std::string FatTools::Format(const std::string& shape, const std::string& image) {
  const FatLayout& l = FatLayoutOf(shape);
  const DiskShape& s = ShapeNamed(shape);
  const uint32_t root_entries = (l.data_start - l.root_start) * l.sector_length / 32;
  const uint32_t kilobytes = l.sector_length * s.sectors * s.tracks / 1024;
  char command[256];
  std::snprintf(command, sizeof(command),
                "mkfs.fat -C -a --invariant -F 12 -f 2 -R 1 -n DRAVIKVOL -M 0x%02X -S %u -s %u "
                "-r %u -g 2/%d %s %u",
                l.media, l.sector_length, l.sectors_per_cluster, root_entries, s.sectors,
                ShellQuote(image).c_str(), kilobytes);
  return command;
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
