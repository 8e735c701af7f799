#include "vfl_image.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "lha_stream.h"

namespace dravik::test {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, int v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(static_cast<unsigned>(v) >> 8);
}

struct Regular {
  int cylinders;
  int sectors;  // per track
  int size_code;
  size_t sector_bytes() const { return 128u << size_code; }
  size_t cylinder_bytes() const { return sector_bytes() * 2 * sectors; }
};

// A disk whose data is a plain dump: every row the same sectors, R = 1 .. n.
Regular RegularOf(const DiskImage& image) {
  if (image.track_count % 2 != 0) throw std::runtime_error("vfl: an odd track count");
  Regular r{image.track_count / 2, image.sectors_per_track, image.size_code};
  for (int t = 0; t < image.track_count; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const SectorId& id = image.ids[t][s];
      const bool used = s < r.sectors;
      if (used != !IsEmptySlot(&id) ||
          (used && (id.r != s + 1 || id.n != r.size_code || id.c != t / 2 || id.h != t % 2))) {
        throw std::runtime_error("vfl: an irregular row");
      }
    }
  }
  return r;
}

struct Fat {
  int bytes_per_sector;
  int sectors_per_cluster;
  int first_fat_sector;
  int sectors_per_fat;
  int first_data_sector;
};

// The boot sector's BPB, when it has one that fits the disk.
std::optional<Fat> FatOf(const DiskImage& image, const Regular& r) {
  const uint8_t* b = image.data;
  const auto le16 = [b](int at) { return b[at] | (b[at + 1] << 8); };
  Fat f{le16(11), b[13], le16(14), le16(22), 0};
  const int root_entries = le16(17);
  if (f.bytes_per_sector != static_cast<int>(r.sector_bytes()) || f.sectors_per_cluster == 0 ||
      b[16] == 0 || f.sectors_per_fat == 0) {
    return std::nullopt;
  }
  f.first_data_sector = f.first_fat_sector + b[16] * f.sectors_per_fat +
                        (root_entries * 32 + f.bytes_per_sector - 1) / f.bytes_per_sector;
  return f;
}

int FatEntry(const DiskImage& image, const Fat& f, int k) {
  const uint8_t* fat = image.data + static_cast<size_t>(f.first_fat_sector) * f.bytes_per_sector;
  const int pair = fat[k * 3 / 2] | (fat[k * 3 / 2 + 1] << 8);
  return k % 2 == 0 ? (pair & 0xFFF) : (pair >> 4);
}

// Calls take(k, first byte offset) for every cluster that begins in
// cylinder c (c >= 1) and lies inside the disk.
template <class Take>
void ForEachCluster(const Regular& r, const Fat& f, int c, Take&& take) {
  const int spc = 2 * r.sectors;
  const int total = r.cylinders * spc;
  for (int s = c * spc; s < (c + 1) * spc; ++s) {
    const int rel = s - f.first_data_sector;
    if (rel < 0 || rel % f.sectors_per_cluster != 0 || s + f.sectors_per_cluster > total) continue;
    take(rel / f.sectors_per_cluster + 2, static_cast<size_t>(s) * r.sector_bytes());
  }
}

}  // namespace

std::vector<uint8_t> VflVolumeBytes(const VflVolume& v) {
  std::vector<uint8_t> b(256 + 1280, 0);
  std::memcpy(b.data(), "VOL_FILE", 8);
  Put16(b, 28, v.media_type);
  Put16(b, 32, v.cylinders);
  Put16(b, 34, v.bytes_per_sector);
  Put16(b, 36, v.sectors_per_cylinder);
  Put16(b, 38, v.bytes_per_cylinder);
  Put16(b, 40, v.bytes_per_cluster);
  Put16(b, 42, v.sectors_per_cluster);
  Put16(b, 44, v.first_fat_sector);
  Put16(b, 46, v.sectors_per_fat);
  Put16(b, 54, v.first_data_sector);
  Put16(b, 58, v.packed);
  if (v.name.size() > 41) throw std::invalid_argument("vfl: name over 41 bytes");
  std::memcpy(b.data() + 60, v.name.data(), v.name.size());
  if (v.table.size() > 80) throw std::invalid_argument("vfl: over 80 cylinders");
  for (size_t c = 0; c < v.table.size(); ++c) {
    const VflCylinder& cylinder = v.table[c];
    const size_t at = 256 + 16 * c;
    Put16(b, at + 4, static_cast<int>(cylinder.stored.size()));
    b[at + 6] = static_cast<uint8_t>(cylinder.storage);
    b[at + 7] = cylinder.fill;
    Put16(b, at + 12, cylinder.decoded_length);
    b.insert(b.end(), cylinder.stored.begin(), cylinder.stored.end());
  }
  return b;
}

std::vector<uint8_t> VfzFile(const std::vector<VflVolume>& volumes, const std::string& name,
                             int count, const std::string& version) {
  std::vector<uint8_t> b(128, 0);
  std::memcpy(b.data(), "VFZ_FILE", 8);
  std::memcpy(b.data() + 8, version.data(), std::min<size_t>(version.size(), 4));
  std::memcpy(b.data() + 12, name.data(), std::min<size_t>(name.size(), 41));
  Put16(b, 94, count < 0 ? static_cast<int>(volumes.size()) : count);
  for (const VflVolume& volume : volumes) {
    const std::vector<uint8_t> bytes = VflVolumeBytes(volume);
    std::vector<uint8_t> entry(32, 0);
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) entry[13 + i] = static_cast<uint8_t>(length >> (8 * i));
    b.insert(b.end(), entry.begin(), entry.end());
    b.insert(b.end(), bytes.begin(), bytes.end());
  }
  return b;
}

VflVolume VflVolumeOf(const DiskImage& image, int media_type, VflStorage storage,
                      bool pack_clusters) {
  const Regular r = RegularOf(image);
  VflVolume v;
  v.media_type = static_cast<int16_t>(media_type);
  v.cylinders = static_cast<int16_t>(r.cylinders);
  v.bytes_per_sector = static_cast<int16_t>(r.sector_bytes());
  v.sectors_per_cylinder = static_cast<int16_t>(2 * r.sectors);
  v.bytes_per_cylinder = static_cast<int16_t>(r.cylinder_bytes());
  v.name = std::string(image.title, strnlen(image.title, 41));
  const std::optional<Fat> fat = FatOf(image, r);
  if (fat) {
    v.bytes_per_cluster = static_cast<int16_t>(fat->sectors_per_cluster * fat->bytes_per_sector);
    v.sectors_per_cluster = static_cast<int16_t>(fat->sectors_per_cluster);
    v.first_fat_sector = static_cast<int16_t>(fat->first_fat_sector);
    v.sectors_per_fat = static_cast<int16_t>(fat->sectors_per_fat);
    v.first_data_sector = static_cast<int16_t>(fat->first_data_sector);
  } else if (pack_clusters) {
    throw std::runtime_error("vfl: no FAT to pack by");
  }
  v.packed = pack_clusters ? 1 : 0;

  std::vector<std::vector<uint8_t>> cylinders;
  for (int c = 0; c < r.cylinders; ++c) {
    const uint8_t* bytes = image.data + static_cast<size_t>(c) * r.cylinder_bytes();
    if (!pack_clusters || c == 0) {
      cylinders.emplace_back(bytes, bytes + r.cylinder_bytes());
      continue;
    }
    std::vector<uint8_t> kept;
    const size_t cluster_bytes = static_cast<size_t>(v.bytes_per_cluster);
    ForEachCluster(r, *fat, c, [&](int k, size_t offset) {
      const int entry = FatEntry(image, *fat, k);
      if (entry == 0 || entry == 0xFF7) return;
      kept.insert(kept.end(), image.data + offset, image.data + offset + cluster_bytes);
    });
    cylinders.push_back(std::move(kept));
  }

  std::vector<std::vector<uint8_t>> to_pack;
  std::vector<size_t> packed_cylinders;
  for (size_t c = 0; c < cylinders.size(); ++c) {
    const std::vector<uint8_t>& bytes = cylinders[c];
    VflCylinder cylinder;
    const bool blank = std::all_of(bytes.begin(), bytes.end(),
                                   [&](uint8_t b) { return b == bytes.front(); });
    if (storage == VflStorage::kPacked && blank) {
      cylinder.storage = 1;
      cylinder.fill = bytes.empty() ? 0xE5 : bytes.front();
    } else {
      cylinder.stored = bytes;
      if (storage == VflStorage::kPacked) {
        to_pack.push_back(bytes);
        packed_cylinders.push_back(c);
      }
    }
    v.table.push_back(std::move(cylinder));
  }
  const auto streams = Lh5Streams(to_pack);
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!streams[i]) continue;
    VflCylinder& cylinder = v.table[packed_cylinders[i]];
    cylinder.decoded_length = static_cast<int16_t>(cylinder.stored.size());
    cylinder.stored = *streams[i];
    cylinder.storage = 2;
  }
  return v;
}

void FillUnusedClusters(DiskImage& image, uint8_t fill) {
  const Regular r = RegularOf(image);
  const std::optional<Fat> fat = FatOf(image, r);
  if (!fat) throw std::runtime_error("vfl: no FAT");
  const size_t cluster_bytes = static_cast<size_t>(fat->sectors_per_cluster) * r.sector_bytes();
  // The FAT is read before any cluster changes; cylinder 0 stays as it is.
  std::vector<std::pair<size_t, bool>> clusters;
  for (int c = 1; c < r.cylinders; ++c) {
    ForEachCluster(r, *fat, c, [&](int k, size_t offset) {
      const int entry = FatEntry(image, *fat, k);
      clusters.push_back({offset, entry == 0 || entry == 0xFF7});
    });
  }
  for (const auto& [offset, unused] : clusters) {
    if (unused) std::memset(image.data + offset, fill, cluster_bytes);
  }
}

}  // namespace dravik::test
