// Reads D88 images: one or more disks back to back, each a header with a
// table of track offsets, each track its sectors with their full IDs. IDs,
// densities and deleted marks are copied as stored. Files from the wild
// differ from the layout in a few known ways (big-endian sector counts,
// unused offsets pointing at the end of the disk, a disk size that is not
// the file's); those are read tolerantly and named in the log.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "d88_layout.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

// Far more than any real file holds; it bounds the walk over a crafted one.
constexpr int kMaxDisks = 255;
// Sector size codes of real controllers go up to this; a larger one is
// damage rather than a sector the record cannot hold.
constexpr uint8_t kLargestSizeCode = 8;

struct Disk {
  uint64_t start = 0;   // in the file
  uint64_t extent = 0;  // bytes of the file that belong to this disk
  uint32_t size_field = 0;
  size_t header_size = d88::kHeaderSize;
  uint8_t media = 0;
  std::string name;  // Shift-JIS, as stored
  std::array<uint32_t, d88::kTrackEntries> offsets{};
};

struct Chain {
  std::vector<Disk> disks;
  std::string_view refusal;  // set when the file cannot be read as D88 at all
};

// A header that could begin a disk at start; available is what the file
// holds from there. Every field the layout pins down is checked, since this
// is all that tells a D88 file from any other.
std::optional<Disk> ParseHeader(const uint8_t* h, size_t got, uint64_t start, uint64_t available) {
  if (got < d88::kShortHeaderSize) return std::nullopt;
  const uint8_t protect = h[d88::kProtectOffset];
  if (protect != d88::kWritable && protect != d88::kProtected) return std::nullopt;
  Disk disk;
  disk.start = start;
  disk.media = h[d88::kMediaOffset];
  if (d88::MediaName(disk.media).empty()) return std::nullopt;
  disk.size_field = ReadLe32(h + d88::kDiskSizeOffset);
  const auto offset = [&](int t) { return ReadLe32(h + d88::kTrackTableOffset + 4 * t); };
  uint32_t first = 0;
  for (int t = 0; t < d88::kShortTrackEntries && first == 0; ++t) first = offset(t);
  const bool short_table = first == d88::kShortHeaderSize || got < d88::kHeaderSize;
  disk.header_size = short_table ? d88::kShortHeaderSize : d88::kHeaderSize;
  if (disk.size_field < disk.header_size) return std::nullopt;
  const uint64_t bound = std::max<uint64_t>(disk.size_field, available);
  const int entries = short_table ? d88::kShortTrackEntries : d88::kTrackEntries;
  for (int t = 0; t < entries; ++t) {
    const uint32_t at = offset(t);
    if (at != 0 && (at < disk.header_size || at > bound)) return std::nullopt;
    disk.offsets[t] = at;
  }
  const char* name = reinterpret_cast<const char*>(h);
  disk.name.assign(name, strnlen(name, d88::kNameSize));
  return disk;
}

std::optional<Disk> HeaderAt(InputFile& file, uint64_t start, uint64_t file_size) {
  if (start >= file_size || !file.Seek(start)) return std::nullopt;
  uint8_t h[d88::kHeaderSize];
  const size_t got = file.Read(h, sizeof(h));
  return ParseHeader(h, got, start, file_size - start);
}

// The disks of the file, each stepped to by the disk size of the one before.
// The last disk owns the rest of the file, whatever its size field says.
Chain WalkDisks(InputFile& file) {
  Chain chain;
  const int64_t size = file.Size();
  if (size < 0) return chain;
  const uint64_t file_size = static_cast<uint64_t>(size);
  std::optional<Disk> disk = HeaderAt(file, 0, file_size);
  while (disk) {
    const uint64_t next_start = disk->start + disk->size_field;
    std::optional<Disk> next = HeaderAt(file, next_start, file_size);
    disk->extent = next ? disk->size_field : file_size - disk->start;
    chain.disks.push_back(std::move(*disk));
    if (next && chain.disks.size() == kMaxDisks) {
      chain.refusal = kMsgBadImageData;
      break;
    }
    disk = std::move(next);
  }
  return chain;
}

// The sector count of a track as stored, or as some tools store it,
// big-endian; nothing when it is neither.
std::optional<int> SectorCount(const uint8_t* h, bool* big_endian) {
  const uint16_t count = ReadLe16(h + d88::kSectorCount);
  *big_endian = false;
  if (count <= 0xFF) return count;
  if ((count & 0xFF) != 0) return std::nullopt;
  *big_endian = true;
  return count >> 8;
}

// What was read other than the layout says, for the log.
struct Notes {
  bool short_table = false;
  uint64_t size_mismatch_extent = 0;
  bool size_mismatch = false;
  int big_endian_tracks = 0;
  int unused_at_end = 0;
  int resized_sectors = 0;
  std::string first_resized;
  int error_status = 0;

  std::string Text(const Disk& disk) const {
    std::string text;
    char line[256];
    if (short_table) text += "\r\nトラック表が160個の形式です";
    if (size_mismatch) {
      std::snprintf(line, sizeof(line),
                    "\r\nディスクサイズ欄(%uバイト)がファイル上の大きさ(%lluバイト)と違います",
                    disk.size_field, static_cast<unsigned long long>(size_mismatch_extent));
      text += line;
    }
    if (big_endian_tracks > 0) {
      std::snprintf(line, sizeof(line),
                    "\r\nセクタ数がビッグエンディアンで記録されたトラックを読みました(%d個)",
                    big_endian_tracks);
      text += line;
    }
    if (unused_at_end > 0) {
      std::snprintf(line, sizeof(line),
                    "\r\nディスクの終わりを指す未使用のトラック位置を読み飛ばしました(%d個)",
                    unused_at_end);
      text += line;
    }
    if (resized_sectors > 0) {
      std::snprintf(line, sizeof(line),
                    "\r\nデータ長がNの長さと違うセクタを%d個、Nの長さに合わせました(最初は%s)",
                    resized_sectors, first_resized.c_str());
      text += line;
    }
    if (error_status > 0) {
      std::snprintf(line, sizeof(line),
                    "\r\nエラーステータス付きのセクタが%d個あります(ステータスは変換先に残りません)",
                    error_status);
      text += line;
    }
    return text;
  }
};

// Reads one disk of the chain into the record, row by row: the file's
// track t is the record's row t.
class DiskReader {
 public:
  DiskReader(InputFile& file, const Disk& disk, DiskImage& image)
      : file_(file), disk_(disk), image_(image), data_(image) {}

  // Result code; a refusal leaves its message in *refusal.
  int Read(ProgressCallback progress, std::string_view* refusal) {
    notes_.short_table = disk_.header_size == d88::kShortHeaderSize;
    notes_.size_mismatch = disk_.size_field != disk_.extent;
    notes_.size_mismatch_extent = disk_.extent;
    ClearSectorIds(image_);
    char text[kMessageSize] = {};
    for (int t = 0; t < d88::kTrackEntries; ++t) {
      const int result = ReadTrack(t, refusal);
      if (result != kResultOk) return result;
      if (t >= kMaxTracks) continue;
      text[0] = '\0';
      if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
    }
    SetStoredTableGeometry(image_);
    return kResultOk;
  }

  const Notes& notes() const { return notes_; }

 private:
  // Reads the 16-byte sector header at offset (from the disk's start), if
  // the disk holds it.
  bool HeaderAt(uint64_t offset, uint8_t* h) {
    if (offset + d88::kSectorHeaderSize > disk_.extent) return false;
    return Seek(offset) && Take(h, d88::kSectorHeaderSize);
  }
  bool Seek(uint64_t offset) {
    if (offset == position_) return true;
    position_ = offset;
    return file_.Seek(disk_.start + offset);
  }
  bool Take(void* bytes, size_t n) {
    position_ += n;
    return file_.ReadExact(bytes, n);
  }

  // An offset of 0 is no track. So is one at the end of the disk, which
  // some tools write for unformatted tracks, unless a track really starts
  // there (the disk size field being short of the file).
  bool Unused(uint32_t offset) {
    if (offset == 0) return true;
    if (offset != disk_.size_field) return false;
    uint8_t h[d88::kSectorHeaderSize];
    bool swapped = false;
    if (!HeaderAt(offset, h)) return true;
    const std::optional<int> count = SectorCount(h, &swapped);
    return !count || *count == 0 ||
           offset + d88::kSectorHeaderSize + ReadLe16(h + d88::kSectorDataSize) > disk_.extent;
  }

  int ReadTrack(int t, std::string_view* refusal) {
    const uint32_t offset = disk_.offsets[t];
    if (Unused(offset)) {
      if (offset != 0) ++notes_.unused_at_end;
      return kResultOk;
    }
    uint8_t h[d88::kSectorHeaderSize];
    if (offset > disk_.extent) return Refuse(refusal, kMsgBadImageData);
    if (!HeaderAt(offset, h)) return Refuse(refusal, kMsgBadImageData);
    bool big_endian = false;
    const std::optional<int> count = SectorCount(h, &big_endian);
    if (!count) return Refuse(refusal, kMsgBadImageData);
    if (*count == 0) return kResultOk;
    if (t >= kMaxTracks || *count > kMaxSectorsPerTrack) return Refuse(refusal, kMsgImageTooLarge);
    if (big_endian) ++notes_.big_endian_tracks;

    uint64_t at = offset;
    for (int s = 0; s < *count; ++s) {
      if (s > 0 && !HeaderAt(at, h)) return Refuse(refusal, kMsgBadImageData);
      const uint8_t n = h[d88::kSectorN];
      if (n > kMaxSizeCode) {
        return Refuse(refusal, n <= kLargestSizeCode ? kMsgImageTooLarge : kMsgBadImageData);
      }
      const uint32_t stored = ReadLe16(h + d88::kSectorDataSize);
      at += d88::kSectorHeaderSize;
      if (at + stored > disk_.extent) return Refuse(refusal, kMsgBadImageData);
      const uint32_t length = SectorLength(n);
      uint8_t* dest = data_.Reserve(length);
      if (dest == nullptr) return Refuse(refusal, kMsgImageTooLarge);
      // Short data is padded with zeros, long data cut to the ID's length.
      const uint32_t kept = std::min(stored, length);
      if (!Take(dest, kept)) return kResultReadError;
      std::memset(dest + kept, 0, length - kept);
      at += stored;
      if (stored != length) NoteResized(t, h, stored);
      const uint8_t status = h[d88::kSectorStatus];
      if (status != d88::kStatusNormal && status != d88::kStatusDeletedData) ++notes_.error_status;
      image_.ids[t][s] = SectorId{h[d88::kSectorC],
                                  h[d88::kSectorH],
                                  h[d88::kSectorR],
                                  n,
                                  static_cast<uint8_t>(h[d88::kSectorDeleted] != 0 ? 1 : 0),
                                  static_cast<uint8_t>(h[d88::kSectorDensity] & d88::kDensityFm
                                                           ? 0
                                                           : 1)};
    }
    return kResultOk;
  }

  void NoteResized(int t, const uint8_t* h, uint32_t stored) {
    if (notes_.resized_sectors++ > 0) return;
    char text[96];
    std::snprintf(text, sizeof(text), "トラック%d R=%d N=%d、%uバイト", t, h[d88::kSectorR],
                  h[d88::kSectorN], stored);
    notes_.first_resized = text;
  }

  static int Refuse(std::string_view* refusal, std::string_view message) {
    *refusal = message;
    return kResultFailed;
  }

  InputFile& file_;
  const Disk& disk_;
  DiskImage& image_;
  DiskDataWriter data_;
  Notes notes_;
  uint64_t position_ = ~uint64_t{0};  // in the disk; unknown at first
};

// Whether the first disk looks like a D88 disk beyond its header: its first
// track begins with a sector header that fits, or, holding no track, it is
// exactly a bare header. A header alone is too weak a test: a hard-disk
// image's header can pass it.
bool FirstDiskPlausible(InputFile& file, const Chain& chain) {
  const Disk& disk = chain.disks.front();
  for (const uint32_t offset : disk.offsets) {
    if (offset == 0 || offset == disk.size_field) continue;
    uint8_t h[d88::kSectorHeaderSize];
    if (offset + sizeof(h) > disk.extent || !file.Seek(disk.start + offset) ||
        !file.ReadExact(h, sizeof(h))) {
      return false;
    }
    bool big_endian = false;
    const std::optional<int> count = SectorCount(h, &big_endian);
    return count && *count > 0 &&
           offset + sizeof(h) + ReadLe16(h + d88::kSectorDataSize) <= disk.extent;
  }
  return disk.size_field == disk.header_size && disk.extent == disk.size_field;
}

std::string Describe(const Disk& disk) {
  std::string text = "D88形式(" + std::string(d88::MediaName(disk.media)) + ")";
  if (!disk.name.empty()) text += " " + SjisToUtf8(disk.name);
  return text;
}

int ReadDiskBody(InputFile& file, int disk_number, DiskImage& image, ProgressCallback progress,
                 char* message, char* title) {
  const Chain chain = WalkDisks(file);
  const int count = static_cast<int>(chain.disks.size());
  if (!chain.refusal.empty() || disk_number < 1 || disk_number > count) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  const Disk& disk = chain.disks[disk_number - 1];
  SetDiskTitle(image, disk.name, title);
  DiskReader reader(file, disk, image);
  std::string_view refusal;
  const int result = reader.Read(progress, &refusal);
  if (result == kResultFailed) {
    SetMessage(message, refusal);
    return result;
  }
  if (result != kResultOk) return result;
  std::string text;
  if (count > 1) {
    text = "\r\nディスク" + std::to_string(disk_number) + "/" + std::to_string(count) + ": " +
           Describe(disk);
  }
  SetMessage(message, text + reader.notes().Text(disk));
  return disk_number < count ? kResultMoreDisks : kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("D88形式入力Plug-in Ver.1.00", {kCapDiskImage, kCapTitle}, identity, caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* /*message*/) {
  return SupportExport(path, [&](InputFile& file) {
    const Chain chain = WalkDisks(file);
    return !chain.disks.empty() && FirstDiskPlausible(file, chain) ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    const Chain chain = WalkDisks(file);
    if (chain.disks.empty() || !chain.refusal.empty()) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    const Disk& first = chain.disks.front();
    std::string text = "\r\n" + Describe(first);
    if (chain.disks.size() > 1) {
      text += " ほか" + std::to_string(chain.disks.size() - 1) + "枚";
      if (multi_disk != nullptr) *multi_disk = 1;
    }
    SetMessage(message, text);
    CopySjisText(title, kPluginTitleSize, first.name);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk_number, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadDiskBody(file, disk_number, *static_cast<DiskImage*>(target), progress, message,
                        title);
  });
}

}  // extern "C"
