// FILE output: copies the files of the disk into a folder tree instead of
// writing an image. Four passes look for files, each in its own layout; the
// folder is named after the source (the output path without its ".").
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "file_io.h"
#include "file_layout.h"
#include "host_tree.h"
#include "plugin_export.h"
#include "text.h"

namespace dravik::file_extractor {
namespace {

namespace fl = file_layout;

constexpr std::string_view kCreateFailed = "の作成失敗";
constexpr std::string_view kWriteFailed = "の書込失敗";
constexpr std::string_view kMsgNothingFound = "\r\n出力可能なファイルは見つかりませんでした";

// DOS paths end long before this depth; a deeper tree is a damaged or
// hostile directory.
constexpr size_t kMaxFolderDepth = 32;
constexpr size_t kMaxPathBytes = PATH_MAX - 1;
// A sound disk's files, even found by two passes, hold at most twice its
// bytes; the rest of the margin is for cross-linked files on damaged disks.
// Anything beyond is chains or tables pointing at the same data over and
// over, which would fill the host's disk.
constexpr uint64_t kOutputBudget = 4ull * kDataCapacity;

using FatTable = std::array<uint16_t, fl::kFatTableEntries>;

// The disk as a run of logical sectors: the image's sector data back to
// back. It ends where the used sectors of the disk's tracks end, so nothing
// past the disk is ever taken for file data.
class DiskBytes {
 public:
  explicit DiskBytes(const DiskImage& image) : reader_(image) {
    size_t total = 0;
    for (int t = 0; t < image.track_count && t < kMaxTracks; ++t) {
      total += RowDataLength(image, t);
    }
    size_ = std::min<size_t>(total, kDataCapacity);
  }
  size_t size() const { return size_; }
  // The n bytes at offset, or nullptr when they are not all on the disk.
  const uint8_t* At(uint64_t offset, uint64_t n) const {
    if (offset > size_ || n > size_ - offset) return nullptr;
    return reader_.View(static_cast<size_t>(offset), static_cast<size_t>(n));
  }

 private:
  DiskDataReader reader_;
  size_t size_ = 0;
};

// Where a FAT layout keeps its directories and clusters.
struct FatGeometry {
  uint32_t sector_length;
  uint32_t sectors_per_cluster;
  uint32_t root_start;  // sectors; the root runs up to data_start
  uint32_t data_start;
  uint32_t last_entry;  // the highest FAT entry decoded
};

// Cluster numbers that may be read: decoded, and wholly on the disk.
class Clusters {
 public:
  Clusters(const FatGeometry& g, const DiskBytes& disk)
      : data_offset_(uint64_t{g.data_start} * g.sector_length),
        bytes_(uint64_t{g.sector_length} * g.sectors_per_cluster) {
    const uint64_t room = disk.size() > data_offset_ ? disk.size() - data_offset_ : 0;
    count_ = std::min<uint64_t>(room / bytes_, g.last_entry - 1);
  }
  bool IsData(uint32_t c) const {
    return c >= fl::kFirstDataCluster && c - fl::kFirstDataCluster < count_;
  }
  uint64_t Offset(uint32_t c) const { return data_offset_ + (c - fl::kFirstDataCluster) * bytes_; }
  uint64_t bytes() const { return bytes_; }
  // A chain longer than this visits some cluster twice.
  uint64_t count() const { return count_; }

 private:
  uint64_t data_offset_;
  uint64_t bytes_;
  uint64_t count_ = 0;
};

// Entries 0 to last; false when the FAT is too short to hold them.
bool DecodeFat12(const uint8_t* fat, size_t size, uint32_t last, FatTable& table) {
  table.fill(fl::kUndecoded);
  if (last >= table.size() || size_t{last} * 3 / 2 + 2 > size) return false;
  for (uint32_t i = 0; i <= last; ++i) {
    const uint8_t* p = fat + size_t{i} * 3 / 2;
    table[i] =
        static_cast<uint16_t>(i % 2 == 0 ? p[0] | ((p[1] & 0x0F) << 8) : (p[0] >> 4) | (p[1] << 4));
  }
  return true;
}

// Whether entries first to last all hold a cluster up to limit, a reserved or
// bad value, or an end mark.
bool FatValuesInRange(const FatTable& table, uint32_t first, uint32_t last, uint32_t limit) {
  for (uint32_t i = first; i <= last; ++i) {
    if (table[i] > limit && table[i] < fl::kBadCluster) return false;
  }
  return true;
}

// Images read from a 160-track dump of a 154-track disk, or with odd track
// counts, are taken as the 154-track disk.
void AdjustTrackCount(DiskImage& image) {
  int u = fl::kShortTrackCount;
  while (u < fl::kFullTrackCount && image.ids[u][0].n == image.size_code) ++u;
  if (u == fl::kShortTrackCount) image.track_count = fl::kShortTrackCount;
  if (image.track_count != fl::kFullTrackCount) image.track_count = fl::kShortTrackCount;
}

const fl::FatShape* FindShape(const DiskImage& image) {
  for (const fl::FatShape& s : fl::kFatShapes) {
    if (s.sectors_per_track == image.sectors_per_track &&
        (s.track_count == 0 || s.track_count == image.track_count)) {
      return &s;
    }
  }
  return nullptr;
}

std::string TrimSpaces(const uint8_t* field, size_t size) {
  while (size > 0 && field[size - 1] == ' ') --size;
  return std::string(reinterpret_cast<const char*>(field), size);
}

// A flat-table entry's name: the bytes before its first NUL.
std::string FlatName(const uint8_t* entry) {
  size_t n = 0;
  while (n < fl::kFlatNameSize && entry[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(entry), n);
}

bool PrintableOrNul(const uint8_t* bytes, size_t n) {
  return std::all_of(bytes, bytes + n,
                     [](uint8_t b) { return b == 0 || (b >= 0x20 && b <= 0x7E); });
}

// The long name gathered from the entries before a short entry.
class LongName {
 public:
  void Reset() { parts_ = 0; }
  // Takes one long-name entry. A part out of order, or of another checksum,
  // drops what was gathered.
  void Take(const uint8_t* entry) {
    const uint8_t sequence = entry[0];
    const size_t ordinal = sequence & fl::kLongNameOrdinalMask;
    if ((sequence & fl::kLongNameLastPart) != 0) {
      parts_ = ordinal;
      next_ = ordinal;
      checksum_ = entry[fl::kLongNameChecksumOffset];
      units_.fill(0);
    }
    if (parts_ == 0 || ordinal == 0 || ordinal > fl::kLongNameMaxParts || ordinal != next_ ||
        entry[fl::kLongNameChecksumOffset] != checksum_ || entry[fl::kLongNameTypeOffset] != 0) {
      Reset();
      return;
    }
    for (size_t k = 0; k < fl::kLongNameUnitsPerPart; ++k) {
      units_[(ordinal - 1) * fl::kLongNameUnitsPerPart + k] =
          ReadLe16(entry + fl::kLongNameUnitOffsets[k]);
    }
    --next_;
  }
  // The long name (UTF-8) of the short entry when every part was there and
  // they belong to it; then the parts are used up.
  std::optional<std::string> NameOf(const uint8_t* short_entry) {
    const bool whole = parts_ != 0 && next_ == 0;
    const size_t parts = parts_;
    Reset();
    if (!whole) return std::nullopt;
    uint8_t sum = 0;
    for (size_t i = 0; i < fl::kDirNameSize + fl::kDirExtSize; ++i) {
      sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_entry[i]);
    }
    if (sum != checksum_) return std::nullopt;
    std::u16string name(units_.data(), parts * fl::kLongNameUnitsPerPart);
    name.resize(std::min(name.size(), name.find(u'\0')));
    if (name.empty()) return std::nullopt;
    std::string utf8 = Utf16ToUtf8(name);
    // Too long for a host name: the short name serves instead.
    if (utf8.size() > NAME_MAX) return std::nullopt;
    return utf8;
  }

 private:
  size_t parts_ = 0;  // 0: nothing gathered
  size_t next_ = 0;   // the ordinal expected next
  uint8_t checksum_ = 0;
  std::array<char16_t, fl::kLongNameMaxParts * fl::kLongNameUnitsPerPart> units_{};
};

// A directory entry's date and time (local time, as MS-DOS kept it), when
// it holds one.
std::optional<timespec> EntryTime(const uint8_t* entry) {
  const uint16_t time = ReadLe16(entry + fl::kDirTimeOffset);
  const uint16_t date = ReadLe16(entry + fl::kDirDateOffset);
  std::tm tm{};
  tm.tm_year = 80 + (date >> 9);
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  if (date == 0 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 58) {
    return std::nullopt;
  }
  const int day = tm.tm_mday;
  const time_t t = std::mktime(&tm);
  // mktime moves a 31st of April on to May: no such date was stored.
  if (t == static_cast<time_t>(-1) || tm.tm_mday != day) return std::nullopt;
  return timespec{t, 0};
}

struct Span {
  uint64_t offset;
  uint64_t length;
};

class Extractor {
 public:
  Extractor(const DiskImage& image, std::string folder, ProgressCallback progress)
      : image_(image), disk_(image), tree_(std::move(folder)), progress_(progress) {}

  // The result of the extraction; message() explains it.
  int Run();
  const std::string& message() const { return message_; }

 private:
  // Each step answers kResultOk to go on, else the result to end with.
  int StandardFatPass(const fl::FatShape& shape);
  int BankedPass();
  int SectorPass();
  int CompactFatPass(const fl::FatShape& shape);

  int Passes();
  int Walk(const FatGeometry& geometry, const FatTable& fat);
  int WriteFatFile(const HostFolder& folder, const std::string& rel, const std::string& name,
                   const uint8_t* entry, const FatTable& fat, const Clusters& clusters);
  int WriteFlatFile(const std::string& name, std::initializer_list<Span> pieces);
  int OpenOutputFolder();

  int Fail(int result, std::string text) {
    message_ = std::move(text);
    return result;
  }
  int FatError(uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "\r\nFAT異常[%03x]", value);
    return Fail(kResultFailed, text);
  }

  const DiskImage& image_;
  DiskBytes disk_;
  OutputTree tree_;
  ProgressCallback progress_;
  int files_ = 0;
  bool found_ = false;
  bool early_found_ = false;
  uint64_t written_ = 0;
  std::string message_;
};

int Extractor::Run() {
  const int result = Passes();
  // An extraction that wrote nothing leaves nothing behind, not even the
  // folder it made; what stood there before stays.
  if (files_ == 0) tree_.RemoveMadeFolders();
  return result;
}

int Extractor::Passes() {
  if (const fl::FatShape* shape = FindShape(image_)) {
    if (int r = StandardFatPass(*shape)) return r;
    if (int r = BankedPass()) return r;
    if (!early_found_) {
      if (int r = SectorPass()) return r;
    }
    if (!found_) {
      if (int r = CompactFatPass(*shape)) return r;
    }
  }
  if (files_ == 0) return Fail(kResultFailed, std::string(kMsgNothingFound));
  return Fail(kResultOk, "\r\n" + std::to_string(files_) + "個のファイルを出力しました");
}

int Extractor::OpenOutputFolder() {
  if (tree_.Open()) return kResultOk;
  return Fail(kResultFailed, PathMessage(tree_.folder(), kCreateFailed));
}

int Extractor::StandardFatPass(const fl::FatShape& shape) {
  const uint32_t s = shape.sector_length;
  const size_t fat_size = size_t{shape.fat_sectors} * s;
  const uint8_t* fat = disk_.At(uint64_t{fl::kFatStartSector} * s, fat_size);
  if (fat == nullptr || fat[0] != shape.media || fat[1] != 0xFF || fat[2] != 0xFF) {
    return kResultOk;
  }
  const uint32_t last = shape.cluster_limit + 1;
  FatTable table;
  if (!DecodeFat12(fat, fat_size, last, table)) return kResultOk;
  // Entries 0 and 1 hold the media byte and an end mark (0xFF0 on a 1.44M
  // disk), not clusters; the media byte was checked above.
  if (!FatValuesInRange(table, 2, last, shape.cluster_limit + 2)) return kResultOk;
  if (uint64_t{shape.data_start} * s > disk_.size()) return kResultOk;

  if (int r = OpenOutputFolder()) return r;
  found_ = early_found_ = true;
  return Walk({s, shape.sectors_per_cluster, shape.root_start, shape.data_start, last}, table);
}

int Extractor::CompactFatPass(const fl::FatShape& shape) {
  const uint8_t* fat = disk_.At(fl::kCompactFatOffset, fl::kCompactFatBytes);
  if (fat == nullptr || fat[0] != 0xFF || fat[1] != 0xFF || fat[2] != 0xFF) return kResultOk;
  FatTable table;
  if (!DecodeFat12(fat, fl::kCompactFatBytes, fl::kCompactLastEntry, table) ||
      !FatValuesInRange(table, 0, fl::kCompactLastEntry, fl::kCompactClusterLimit)) {
    return kResultOk;
  }
  const uint32_t root =
      shape.sectors_per_track == 9 ? fl::kCompactRootSector9 : fl::kCompactRootSector;
  if (uint64_t{root + 1} * fl::kCompactSectorLength > disk_.size()) return kResultOk;

  if (int r = OpenOutputFolder()) return r;
  return Walk(
      {fl::kCompactSectorLength, shape.sectors_per_cluster, root, root + 1, fl::kCompactLastEntry},
      table);
}

int Extractor::Walk(const FatGeometry& g, const FatTable& fat) {
  const Clusters clusters(g, disk_);
  struct Level {
    HostFolder folder;  // closed for the root: that is the output folder
    uint64_t cursor;
    uint64_t end;
    uint32_t cluster;              // the directory's current cluster; 0 for the root
    size_t rel_size;               // length of the relative path outside this level
    std::optional<timespec> time;  // of the directory's entry
    LongName long_name = {};
  };
  std::vector<Level> levels;
  levels.push_back({HostFolder(), uint64_t{g.root_start} * g.sector_length,
                    uint64_t{g.data_start} * g.sector_length, 0, 0, std::nullopt});
  std::string rel;  // "" or "/A/B": the folder of the deepest level
  // A directory cluster is read once: a chain or a tree that comes back to
  // one is a loop, and two directories sharing one would repeat a subtree.
  std::vector<bool> directory_cluster_seen(fl::kFatTableEntries);
  const int progress_total = static_cast<int>(uint64_t{g.data_start} * g.sector_length);
  char progress_text[kMessageSize];

  while (true) {
    Level& level = levels.back();
    if (level.cursor >= level.end) {
      if (levels.size() == 1) return kResultOk;
      // Checked before the next entry is read, so a subdirectory that was
      // its parent's last entry of a cluster resumes in the next cluster.
      const uint32_t next = fat[level.cluster];
      if (next >= fl::kEndMark || next == 0) {
        // Set last: every file made in the folder changed its time.
        if (level.time) {
          const timespec times[2] = {{0, UTIME_OMIT}, *level.time};
          futimens(level.folder.fd(), times);
        }
        rel.resize(level.rel_size);
        levels.pop_back();
        continue;
      }
      if (!clusters.IsData(next) || directory_cluster_seen[next]) return FatError(next);
      directory_cluster_seen[next] = true;
      level.cluster = next;
      level.cursor = clusters.Offset(next);
      level.end = level.cursor + clusters.bytes();
      continue;
    }
    const uint8_t* entry = disk_.At(level.cursor, fl::kDirEntrySize);
    if (entry == nullptr) return Fail(kResultFailed, std::string(kMsgBadImageData));
    level.cursor += fl::kDirEntrySize;

    const uint8_t first = entry[0];
    const uint8_t attributes = entry[fl::kDirAttrOffset];
    const bool in_use = first != fl::kEntryUnused && first != fl::kEntryDeleted;
    if (in_use && (attributes & fl::kAttrLongNameMask) == fl::kAttrLongName) {
      level.long_name.Take(entry);
    } else if (!in_use || first == fl::kEntryDot || (attributes & fl::kAttrVolume) != 0) {
      level.long_name.Reset();
    } else {
      std::string name = TrimSpaces(entry, fl::kDirNameSize);
      // 0x05 stands for a first byte of 0xE5, a Shift-JIS lead byte.
      if (first == fl::kEntryE5Escape) name[0] = static_cast<char>(fl::kEntryDeleted);
      const std::string ext = TrimSpaces(entry + fl::kDirExtOffset, fl::kDirExtSize);
      // A folder keeps its extension too: DATA.1 and DATA.2 stay apart.
      const std::string short_name = ext.empty() ? name : name + "." + ext;
      // The long name where one belongs to the entry, else the 8.3 one.
      const std::string disk_name =
          level.long_name.NameOf(entry).value_or(SjisToFileName(short_name));
      const HostFolder& folder = levels.size() == 1 ? tree_.root() : level.folder;

      if ((attributes & fl::kAttrDirectory) != 0) {
        const uint16_t start = ReadLe16(entry + fl::kDirClusterOffset);
        if (levels.size() > kMaxFolderDepth) {
          return Fail(kResultFailed, std::string(kMsgBadImageData));
        }
        if (!clusters.IsData(start) || directory_cluster_seen[start]) return FatError(start);
        const std::string host = tree_.Claim(rel, disk_name);
        const std::string path = tree_.PathOf(rel, host);
        HostFolder sub;
        if (path.size() <= kMaxPathBytes) sub = tree_.Enter(folder, rel, host);
        if (!sub.is_open()) return Fail(kResultFailed, PathMessage(path, kCreateFailed));
        directory_cluster_seen[start] = true;
        const uint64_t at = clusters.Offset(start);
        levels.push_back(
            {std::move(sub), at, at + clusters.bytes(), start, rel.size(), EntryTime(entry)});
        rel += "/" + host;
      } else if (int r = WriteFatFile(folder, rel, disk_name, entry, fat, clusters)) {
        return r;
      }
    }

    if (progress_ != nullptr) {
      progress_text[0] = '\0';
      if (progress_(static_cast<int>(levels.back().cursor), progress_total, progress_text) != 0) {
        return kResultAborted;
      }
    }
  }
}

int Extractor::WriteFatFile(const HostFolder& folder, const std::string& rel,
                            const std::string& name, const uint8_t* entry, const FatTable& fat,
                            const Clusters& clusters) {
  const std::string host = tree_.Claim(rel, name);
  const std::string path = tree_.PathOf(rel, host);
  OutputFile out;
  if (path.size() > kMaxPathBytes || !out.CreateIn(folder.fd(), host)) {
    return Fail(kResultFailed, PathMessage(path, kCreateFailed));
  }
  const uint32_t size = ReadLe32(entry + fl::kDirSizeOffset);
  uint32_t c = ReadLe16(entry + fl::kDirClusterOffset);
  uint64_t done = 0;
  uint64_t steps = 0;
  while (done < size) {
    // Stops free, reserved and bad clusters, end marks, clusters past the
    // disk, and chains that loop back on themselves.
    if (!clusters.IsData(c) || ++steps > clusters.count()) return FatError(c);
    const uint64_t n = std::min<uint64_t>(clusters.bytes(), size - done);
    if (written_ + n > kOutputBudget) return Fail(kResultFailed, std::string(kMsgBadImageData));
    if (!out.Write(disk_.At(clusters.Offset(c), n), n)) {
      return Fail(kResultWriteError, PathMessage(path, kWriteFailed));
    }
    written_ += n;
    done += n;
    if (done < size) c = fat[c];
  }
  if (size != 0 && fat[c] < fl::kEndMark && fat[c] != 0) return FatError(fat[c]);
  if (!out.Close()) return Fail(kResultWriteError, PathMessage(path, kWriteFailed));
  // The file keeps the date it has on the disk, as a copy with mcopy -m
  // would; one the entry does not give keeps the time of extraction.
  if (const auto time = EntryTime(entry)) {
    const timespec times[2] = {{0, UTIME_OMIT}, *time};
    utimensat(folder.fd(), host.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  ++files_;
  return kResultOk;
}

int Extractor::WriteFlatFile(const std::string& name, std::initializer_list<Span> pieces) {
  uint64_t total = 0;
  for (const Span& piece : pieces) {
    if (disk_.At(piece.offset, piece.length) == nullptr) {
      return Fail(kResultFailed, std::string(kMsgBadImageData));
    }
    total += piece.length;
  }
  if (written_ + total > kOutputBudget) return Fail(kResultFailed, std::string(kMsgBadImageData));
  const std::string host = tree_.Claim("", SjisToFileName(name));
  const std::string path = tree_.PathOf("", host);
  OutputFile out;
  if (path.size() > kMaxPathBytes || !out.CreateIn(tree_.root().fd(), host)) {
    return Fail(kResultFailed, PathMessage(path, kCreateFailed));
  }
  for (const Span& piece : pieces) {
    if (!out.Write(disk_.At(piece.offset, piece.length), piece.length)) {
      return Fail(kResultWriteError, PathMessage(path, kWriteFailed));
    }
  }
  if (!out.Close()) return Fail(kResultWriteError, PathMessage(path, kWriteFailed));
  written_ += total;
  ++files_;
  return kResultOk;
}

int Extractor::BankedPass() {
  for (uint64_t at = fl::kBankedTableOffset;; at += fl::kFlatEntrySize) {
    const uint8_t* e = disk_.At(at, fl::kFlatEntrySize);
    if (e == nullptr) return kResultOk;
    const uint64_t start =
        uint64_t{e[fl::kBankedBankOffset]} * fl::kBankSize + ReadLe16(e + fl::kBankedOffsetOffset);
    if (e[0] == 0 || e[fl::kFlatNameSize] != 0 || !PrintableOrNul(e, fl::kFlatNameSize + 1) ||
        start > fl::kFlatStartLimit) {
      return kResultOk;
    }
    found_ = early_found_ = true;
    if (int r = OpenOutputFolder()) return r;
    const uint64_t size = ReadLe32(e + fl::kBankedSizeOffset);
    const uint64_t table = fl::kBankedTableOffset;
    int r;
    if (start < table && start + size > table) {
      // The file runs on past the table region.
      r = WriteFlatFile(FlatName(e), {{start, table - start},
                                      {table + fl::kBankedTableBytes, start + size - table}});
    } else {
      r = WriteFlatFile(FlatName(e), {{start, size}});
    }
    if (r != kResultOk) return r;
  }
}

int Extractor::SectorPass() {
  for (uint64_t at = fl::kSectorTableOffset;; at += fl::kFlatEntrySize) {
    const uint8_t* e = disk_.At(at, fl::kFlatEntrySize);
    if (e == nullptr) return kResultOk;
    const uint64_t start = uint64_t{ReadLe16(e + fl::kSectorSectorOffset)} * fl::kSectorTableUnit +
                           ReadLe16(e + fl::kSectorOffsetOffset);
    if (e[0] == 0 || e[fl::kFlatNameSize] != 0 || e[fl::kFlatNameSize + 1] != 0 ||
        !PrintableOrNul(e, fl::kFlatNameSize + 2) || start > fl::kFlatStartLimit) {
      return kResultOk;
    }
    found_ = true;
    if (int r = OpenOutputFolder()) return r;
    if (int r = WriteFlatFile(FlatName(e), {{start, ReadLe32(e + fl::kSectorSizeOffset)}})) {
      return r;
    }
  }
}

// The output path ends in the plug-in's extension "."; the folder does not.
std::string FolderOf(const char* output_path) {
  std::string folder(output_path);
  if (!folder.empty() && folder.back() == '.') folder.pop_back();
  return folder;
}

}  // namespace
}  // namespace dravik::file_extractor

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return dravik::GuardExport(nullptr, [&] {
    return dravik::FillPluginInfo(
        {kKindOutput, "FILE出力Plug-in Ver.1.11", {kCapDiskImage, kCapTitle}, ".", "FILE形式"},
        identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return dravik::WriterExport(direct, message, [&] {
    if (image == nullptr || output_path == nullptr) {
      dravik::SetMessage(message, dravik::kMsgInternalError);
      return kResultFailed;
    }
    using namespace dravik::file_extractor;
    AdjustTrackCount(*image);
    Extractor extractor(*image, FolderOf(output_path), progress);
    const int result = extractor.Run();
    dravik::SetMessage(message, extractor.message());
    return result;
  });
}

}  // extern "C"
