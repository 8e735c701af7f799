// Reads VFL volumes and VFZ containers of them. Each cylinder is stored
// raw, as one fill byte or as an LH5 stream; on a packed volume a cylinder
// after the first holds only the clusters its FAT marks in use, and the
// free ones are rebuilt with the fill byte of the volume's media type.
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "lh5_decoder.h"
#include "plugin_export.h"
#include "reader_export.h"
#include "vfl_layout.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgVersion = "\r\nVFZバージョンエラー";
constexpr std::string_view kMsgClusters = "\r\nクラスタ補完失敗";
constexpr uint32_t kSectorLengths[] = {128, 256, 512, 1024, 2048};
// A volume holds at least its header and cylinder table.
constexpr uint64_t kMinimumVolume = vfl::kVolumeHeaderSize + vfl::kCylinderTableSize;

int Signed16(const uint8_t* p) { return static_cast<int16_t>(ReadLe16(p)); }

std::string Name(const uint8_t* field) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, vfl::kNameSize));
}

struct Geometry {
  int media_type = 0;
  int cylinders = 0;
  int bytes_per_sector = 0;
  int sectors_per_cylinder = 0;
  int bytes_per_cylinder = 0;
  int bytes_per_cluster = 0;
  int sectors_per_cluster = 0;
  int first_fat_sector = 0;
  int sectors_per_fat = 0;
  int first_data_sector = 0;
  bool packed = false;
};

Geometry GeometryOf(const uint8_t* h) {
  Geometry g;
  g.media_type = Signed16(h + vfl::kMediaTypeOffset);
  g.cylinders = Signed16(h + vfl::kCylinderCountOffset);
  g.bytes_per_sector = Signed16(h + vfl::kBytesPerSectorOffset);
  g.sectors_per_cylinder = Signed16(h + vfl::kSectorsPerCylinderOffset);
  g.bytes_per_cylinder = Signed16(h + vfl::kBytesPerCylinderOffset);
  g.bytes_per_cluster = Signed16(h + vfl::kBytesPerClusterOffset);
  g.sectors_per_cluster = Signed16(h + vfl::kSectorsPerClusterOffset);
  g.first_fat_sector = Signed16(h + vfl::kFirstFatSectorOffset);
  g.sectors_per_fat = Signed16(h + vfl::kSectorsPerFatOffset);
  g.first_data_sector = Signed16(h + vfl::kFirstDataSectorOffset);
  g.packed = Signed16(h + vfl::kPackedOffset) != 0;
  return g;
}

// Work areas of one ReadDisk call.
struct Areas {
  std::vector<uint8_t> expanded = std::vector<uint8_t>(vfl::kCylinderAreaSize);
  std::vector<uint8_t> decoded = std::vector<uint8_t>(vfl::kCylinderAreaSize);
  std::vector<uint8_t> fat;  // from cylinder 0 of a packed volume
  Lh5Decoder decoder;
};

class VolumeReader {
 public:
  VolumeReader(InputFile& file, DiskImage& image, char* message)
      : file_(file), image_(image), data_(image), message_(message) {}

  int Read(int disk_number, ProgressCallback progress, char* title) {
    uint8_t head[vfl::kContainerHeaderSize];
    if (!file_.ReadExact(head, sizeof(head))) return kResultReadError;
    const bool container =
        std::memcmp(head, vfl::kContainerMagic.data(), vfl::kContainerMagic.size()) == 0;
    uint64_t volume_start = 0;
    uint64_t volume_length = 0;
    if (container) {
      if (std::memcmp(head + vfl::kVersionOffset, vfl::kVersion.data(), vfl::kVersion.size()) !=
          0) {
        return Fail(kMsgVersion);
      }
      uint8_t entry[vfl::kEntrySize];
      if (!file_.ReadExact(entry, sizeof(entry))) return kResultReadError;
      volume_start = vfl::kContainerHeaderSize + vfl::kEntrySize;
      volume_length = ReadLe32(entry + vfl::kEntryLengthOffset);
      for (int k = 1; k < static_cast<int16_t>(disk_number); ++k) {
        // A length too short for a volume would not move the chain on.
        if (volume_length < kMinimumVolume) return kResultReadError;
        const uint64_t next = volume_start + volume_length;
        if (!file_.Seek(next) || !file_.ReadExact(entry, sizeof(entry))) return kResultReadError;
        volume_start = next + vfl::kEntrySize;
        volume_length = ReadLe32(entry + vfl::kEntryLengthOffset);
      }
    } else if (!file_.Seek(0)) {
      return kResultReadError;
    }

    std::vector<uint8_t> header(vfl::kVolumeHeaderSize + vfl::kCylinderTableSize);
    if (!file_.ReadExact(header.data(), header.size())) return kResultReadError;
    table_ = header.data() + vfl::kVolumeHeaderSize;
    geometry_ = GeometryOf(header.data());
    if (const int result = CheckGeometry(); result != kResultOk) return result;

    const Geometry& g = geometry_;
    image_.track_count = static_cast<uint8_t>(2 * g.cylinders);
    image_.head_count = 2;
    image_.sectors_per_track = static_cast<uint8_t>(g.sectors_per_cylinder / 2);
    image_.size_code = size_code_;
    ClearSectorIds(image_);
    for (int t = 0; t < image_.track_count; ++t) {
      for (int j = 0; j < image_.sectors_per_track; ++j) {
        SetSectorId(image_, t, j, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                    static_cast<uint8_t>(j + 1), size_code_, 0, 1);
      }
    }
    const std::string name = Name(header.data() + vfl::kVolumeNameOffset);
    SetDiskTitle(image_, name, title);
    char text[kMessageSize];
    {
      char geometry_text[64];
      std::snprintf(geometry_text, sizeof(geometry_text), "%dTracks : %dSector)\r\n  ",
                    2 * g.cylinders, g.sectors_per_cylinder / 2);
      CopyText(text, sizeof(text),
               std::string(vfl::kMediaTypes[g.media_type].label) + geometry_text +
                   SjisToUtf8(name));
    }

    auto areas = std::make_unique<Areas>();
    for (int c = 0; c < g.cylinders; ++c) {
      if (const int result = ReadCylinder(c, *areas); result != kResultOk) return result;
      if (!data_.Append(areas->expanded.data(), static_cast<size_t>(g.bytes_per_cylinder))) {
        return Fail(kMsgImageTooLarge);  // 80 cylinders of the largest kind fit; kept as a guard
      }
      if (progress != nullptr && progress(c, g.cylinders, text) != 0) return kResultAborted;
    }

    if (!container) return kResultOk;
    // Another volume follows where this one's length says, if that lies
    // past everything this one took.
    const int64_t end = file_.Tell();
    const uint64_t next = volume_start + volume_length;
    if (volume_length < kMinimumVolume || end < 0 || next < static_cast<uint64_t>(end)) {
      return kResultOk;
    }
    uint8_t probe[vfl::kVolumeHeaderSize];
    return file_.Seek(next) && file_.ReadExact(probe, sizeof(probe)) ? kResultMoreDisks
                                                                      : kResultOk;
  }

 private:
  int Fail(std::string_view text) {
    SetMessage(message_, text);
    return kResultFailed;
  }

  int FailNumber(const char* format, int value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return Fail(text);
  }

  // Everything the cylinders rely on, before any is read: the work areas
  // hold a whole cylinder, and a packed volume's FAT, clusters and cluster
  // sizes lie inside them.
  int CheckGeometry() {
    const Geometry& g = geometry_;
    if (g.media_type < 0 || g.media_type > 4) {
      return FailNumber("\r\n謎のディスク形式です:%d", g.media_type);
    }
    size_code_ = 0;
    while (size_code_ < 5 && kSectorLengths[size_code_] != static_cast<uint32_t>(g.bytes_per_sector)) {
      ++size_code_;
    }
    if (size_code_ == 5) return FailNumber("\r\nセクタ長異常:%d", g.bytes_per_sector);
    const int64_t cylinder_bytes =
        static_cast<int64_t>(g.sectors_per_cylinder) * g.bytes_per_sector;
    if (g.cylinders < 0 || g.cylinders > vfl::kMaxCylinders || g.sectors_per_cylinder < 2 ||
        g.sectors_per_cylinder % 2 != 0 || g.sectors_per_cylinder / 2 > kMaxSectorsPerTrack ||
        cylinder_bytes > static_cast<int64_t>(vfl::kCylinderAreaSize) ||
        g.bytes_per_cylinder != cylinder_bytes) {
      return Fail(kMsgBadImageData);
    }
    if (!g.packed) return kResultOk;
    const int64_t fat_offset = static_cast<int64_t>(g.first_fat_sector) * g.bytes_per_sector;
    const int64_t fat_size = static_cast<int64_t>(g.sectors_per_fat) * g.bytes_per_sector;
    if (g.sectors_per_cluster <= 0 || g.bytes_per_cluster <= 0 ||
        g.bytes_per_cluster > g.bytes_per_cylinder || fat_offset < 0 || fat_size <= 0 ||
        fat_offset + fat_size > cylinder_bytes) {
      return Fail(kMsgBadImageData);
    }
    return kResultOk;
  }

  // The cylinder as stored, into the decoded area; its length in *length.
  int Decode(int c, Areas& areas, size_t* length) {
    const uint8_t* entry = table_ + static_cast<size_t>(c) * vfl::kCylinderEntrySize;
    const int stored = Signed16(entry + vfl::kStoredLengthOffset);
    const int storage = static_cast<int8_t>(entry[vfl::kStorageOffset]);
    if (storage == vfl::kStorageFill) {
      *length = static_cast<size_t>(geometry_.bytes_per_cylinder);
      std::memset(areas.decoded.data(), entry[vfl::kFillByteOffset], *length);
      return kResultOk;
    }
    if ((storage != vfl::kStorageRaw && storage != vfl::kStorageLh5) || stored < 0 ||
        static_cast<size_t>(stored) > vfl::kCylinderAreaSize) {
      return Fail(kMsgBadImageData);
    }
    const size_t size = static_cast<size_t>(stored);
    if (storage == vfl::kStorageRaw) {
      *length = size;
      return file_.ReadExact(areas.decoded.data(), size) ? kResultOk : kResultReadError;
    }
    const int decoded = Signed16(entry + vfl::kDecodedLengthOffset);
    if (decoded < 0 || static_cast<size_t>(decoded) > vfl::kCylinderAreaSize) {
      return Fail(kMsgBadImageData);
    }
    if (!file_.ReadExact(areas.expanded.data(), size)) return kResultReadError;
    *length = static_cast<size_t>(decoded);
    if (!areas.decoder.Decode(areas.expanded.data(), size, areas.decoded.data(),
                              areas.decoded.size(), *length)) {
      return Fail(kMsgBadImageData);
    }
    return kResultOk;
  }

  // 12-bit FAT entry of cluster k, or -1 when it lies outside the FAT.
  int FatEntry(const std::vector<uint8_t>& fat, int64_t k) const {
    const int64_t at = k * 3 / 2;
    if (k < 0 || at + 1 >= static_cast<int64_t>(fat.size())) return -1;
    const int pair = fat[at] | (fat[at + 1] << 8);
    return (k % 2 == 0) ? (pair & 0xFFF) : (pair >> 4);
  }

  int ReadCylinder(int c, Areas& areas) {
    size_t length = 0;
    if (const int result = Decode(c, areas, &length); result != kResultOk) return result;
    const Geometry& g = geometry_;
    const size_t cylinder_bytes = static_cast<size_t>(g.bytes_per_cylinder);
    if (g.packed && c == 0) {
      const size_t offset = static_cast<size_t>(g.first_fat_sector) * g.bytes_per_sector;
      const size_t size = static_cast<size_t>(g.sectors_per_fat) * g.bytes_per_sector;
      if (offset + size > length) return Fail(kMsgBadImageData);
      areas.fat.assign(areas.decoded.begin() + static_cast<ptrdiff_t>(offset),
                       areas.decoded.begin() + static_cast<ptrdiff_t>(offset + size));
    }
    if (c == 0 || !g.packed) {
      // Nothing of an earlier cylinder may stand in for bytes not stored.
      if (length < cylinder_bytes) return Fail(kMsgBadImageData);
      std::memcpy(areas.expanded.data(), areas.decoded.data(), cylinder_bytes);
      return kResultOk;
    }

    const vfl::MediaType& media = vfl::kMediaTypes[g.media_type];
    std::memset(areas.expanded.data(), media.fill, cylinder_bytes);
    const size_t cluster_bytes = static_cast<size_t>(g.bytes_per_cluster);
    const int64_t first = (static_cast<int64_t>(c) * g.sectors_per_cylinder - g.first_data_sector) /
                              g.sectors_per_cluster +
                          vfl::kFirstCluster;
    const int clusters = g.sectors_per_cylinder / g.sectors_per_cluster;
    size_t read = 0;
    size_t written = 0;
    for (int64_t k = first; k < first + clusters; ++k) {
      const int entry = FatEntry(areas.fat, k);
      if (entry < 0 || written + cluster_bytes > cylinder_bytes) return Fail(kMsgBadImageData);
      // A free cluster, and a bad one, keep the fill byte: no bytes stored.
      if (entry != vfl::kClusterFree && entry != vfl::kClusterBad) {
        if (read + cluster_bytes > length) return Fail(kMsgBadImageData);
        std::memcpy(areas.expanded.data() + written, areas.decoded.data() + read, cluster_bytes);
        read += cluster_bytes;
      }
      written += cluster_bytes;
    }
    return written == cylinder_bytes ? kResultOk : Fail(kMsgClusters);
  }

  InputFile& file_;
  DiskImage& image_;
  DiskDataWriter data_;
  char* message_;
  Geometry geometry_;
  const uint8_t* table_ = nullptr;
  uint8_t size_code_ = 0;
};

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("VFL/VFZ形式入力Plug-in Ver.1.00", {kCapDiskImage, kCapTitle}, identity,
                         caps);
}

// A source that cannot be opened is 8 here, as this format always answered.
DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  const int result = SupportExport(path, [&](InputFile& file) {
    SetMessage(message, "");
    uint8_t magic[vfl::kMagicSize];
    if (!file.ReadExact(magic, sizeof(magic))) return kResultNotMine;
    const std::string_view text(reinterpret_cast<const char*>(magic), sizeof(magic));
    return text == vfl::kContainerMagic || text == vfl::kVolumeMagic ? kResultOk : kResultNotMine;
  });
  return result == kResultReadError ? kResultFailed : result;
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    uint8_t head[vfl::kContainerHeaderSize];
    if (!file.ReadExact(head, sizeof(head))) return kResultReadError;
    if (std::memcmp(head, vfl::kContainerMagic.data(), vfl::kContainerMagic.size()) != 0) {
      SetMessage(message, "\r\nVFL形式");
      return kResultOk;
    }
    const std::string name = SjisToUtf8(Name(head + vfl::kContainerNameOffset));
    const int volumes = Signed16(head + vfl::kVolumeCountOffset);
    char count[32] = "1";
    if (volumes > 1) {
      std::snprintf(count, sizeof(count), "%d", volumes);
      if (multi_disk != nullptr) *multi_disk = 1;
    }
    SetMessage(message, std::string("\r\nVFZ形式(") + count + "VFL格納)\r\n" + name);
    CopyText(title, kPluginTitleSize, name);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk_number, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    VolumeReader reader(file, *static_cast<DiskImage*>(target), message);
    return reader.Read(disk_number, progress, title);
  });
}

}  // extern "C"
