// Reads NFD images of the T98-Next emulator, revisions 0 and 1. Both keep
// every sector's full ID, density and deleted mark, copied as stored. r1 may
// also keep the data of sectors read several times with differing results
// (retries); only the first reading reaches the record, and the log says
// what was left out.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "nfd_layout.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

// Sector size codes of real controllers go up to this; a larger one is
// damage rather than a sector the record cannot hold.
constexpr uint8_t kLargestSizeCode = 8;

struct Header {
  int revision = 0;
  std::string comment;  // Shift-JIS, as stored
  uint32_t header_size = 0;
};

// Result 6 for a file too short to hold the header, 8 with the message for
// one of another kind.
int ReadHeader(InputFile& file, Header& header, char* message) {
  uint8_t h[nfd::kTableOffset];
  if (!file.Seek(0) || !file.ReadExact(h, sizeof(h))) return kResultReadError;
  const std::string_view magic(reinterpret_cast<const char*>(h), nfd::kMagicSize);
  if (magic == nfd::kMagicR0) {
    header.revision = 0;
  } else if (magic == nfd::kMagicR1) {
    header.revision = 1;
  } else {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  const char* comment = reinterpret_cast<const char*>(h + nfd::kCommentOffset);
  header.comment.assign(comment, strnlen(comment, nfd::kCommentSize));
  header.header_size = ReadLe32(h + nfd::kHeaderSizeOffset);
  return kResultOk;
}

// Where a row's data lies in the file.
struct Row {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// The decoded sector table: the record's IDs, each row's data, and what the
// log should hear.
struct Table {
  std::array<Row, kMaxTracks> rows{};
  std::optional<uint8_t> pda;  // of the first sector
  int retries = 0;
  uint64_t retry_bytes = 0;
};

// One entry's ID into the record, after checking what the record can hold.
std::string_view PlaceSector(DiskImage& image, int t, int s, const uint8_t* e) {
  const uint8_t n = e[nfd::kEntryN];
  if (n > kMaxSizeCode) return n <= kLargestSizeCode ? kMsgImageTooLarge : kMsgBadImageData;
  if (t >= kMaxTracks || s >= kMaxSectorsPerTrack) return kMsgImageTooLarge;
  image.ids[t][s] = SectorId{e[nfd::kEntryC],
                             e[nfd::kEntryH],
                             e[nfd::kEntryR],
                             n,
                             static_cast<uint8_t>(e[nfd::kEntryDdam] != 0 ? 1 : 0),
                             static_cast<uint8_t>(e[nfd::kEntryMfm] != 0 ? 1 : 0)};
  return {};
}

// r0: one fixed table; the data of its used entries follows the header in
// table order.
std::string_view DecodeR0(InputFile& file, const Header& header, uint64_t file_size,
                          DiskImage& image, Table& table) {
  if (header.header_size < nfd::kR0TableEnd || header.header_size > file_size) {
    return kMsgBadImageData;
  }
  std::vector<uint8_t> entries(nfd::kR0TableEnd - nfd::kTableOffset);
  if (!file.Seek(nfd::kTableOffset) || !file.ReadExact(entries.data(), entries.size())) {
    return kMsgBadImageData;
  }
  uint64_t offset = header.header_size;
  for (int t = 0; t < nfd::kR0Tracks; ++t) {
    uint64_t length = 0;
    for (int s = 0; s < nfd::kR0Slots; ++s) {
      const uint8_t* e = entries.data() + (t * nfd::kR0Slots + s) * nfd::kEntrySize;
      if (e[nfd::kEntryC] == nfd::kUnused) continue;
      if (const std::string_view refusal = PlaceSector(image, t, s, e); !refusal.empty()) {
        return refusal;
      }
      if (!table.pda) table.pda = e[nfd::kR0EntryPda];
      length += SectorLength(e[nfd::kEntryN]);
    }
    if (t < kMaxTracks) table.rows[t] = {offset, length};
    offset += length;
  }
  return offset <= file_size ? std::string_view{} : kMsgBadImageData;
}

// r1: a map per track; each track's data is its sectors' in map order, then
// the copies its retry entries describe.
std::string_view DecodeR1(InputFile& file, const Header& header, uint64_t file_size,
                          DiskImage& image, Table& table) {
  if (header.header_size < nfd::kR1TableEnd || header.header_size > file_size) {
    return kMsgBadImageData;
  }
  uint8_t pointers[4 * nfd::kR1Tracks];
  if (!file.Seek(nfd::kTableOffset) || !file.ReadExact(pointers, sizeof(pointers))) {
    return kMsgBadImageData;
  }
  uint64_t offset = header.header_size;
  std::vector<uint8_t> map;
  for (int t = 0; t < nfd::kR1Tracks; ++t) {
    const uint32_t at = ReadLe32(pointers + 4 * t);
    if (at == 0) continue;
    uint8_t head[nfd::kMapHeaderSize];
    if (at < nfd::kR1TableEnd || at + uint64_t{sizeof(head)} > file_size || !file.Seek(at) ||
        !file.ReadExact(head, sizeof(head))) {
      return kMsgBadImageData;
    }
    const int sectors = ReadLe16(head + nfd::kMapSectorCount);
    const int retries = ReadLe16(head + nfd::kMapRetryCount);
    const uint64_t map_bytes = uint64_t{nfd::kEntrySize} * (sectors + retries);
    if (sectors > 0 && (t >= kMaxTracks || sectors > kMaxSectorsPerTrack)) return kMsgImageTooLarge;
    if (at + sizeof(head) + map_bytes > file_size) return kMsgBadImageData;
    map.resize(map_bytes);
    if (!file.ReadExact(map.data(), map.size())) return kMsgBadImageData;
    uint64_t length = 0;
    for (int s = 0; s < sectors; ++s) {
      const uint8_t* e = map.data() + s * nfd::kEntrySize;
      if (const std::string_view refusal = PlaceSector(image, t, s, e); !refusal.empty()) {
        return refusal;
      }
      if (!table.pda) table.pda = e[nfd::kR1EntryPda];
      length += SectorLength(e[nfd::kEntryN]);
    }
    if (t < kMaxTracks) table.rows[t] = {offset, length};
    offset += length;
    for (int r = 0; r < retries; ++r) {
      const uint8_t* e = map.data() + (sectors + r) * nfd::kEntrySize;
      const uint64_t bytes =
          (uint64_t{e[nfd::kRetryCopiesLessOne]} + 1) * ReadLe32(e + nfd::kRetryLength);
      table.retry_bytes += bytes;
      offset += bytes;
    }
    table.retries += retries;
    if (offset > file_size) return kMsgBadImageData;
  }
  return {};
}

std::string Describe(const Header& header, std::optional<uint8_t> pda) {
  std::string text = header.revision == 0 ? "\r\nNFD r0形式" : "\r\nNFD r1形式";
  const std::string_view media = pda ? nfd::PdaName(*pda) : "";
  if (!media.empty()) text += "(" + std::string(media) + ")";
  if (!header.comment.empty()) text += " " + SjisToUtf8(header.comment);
  return text;
}

// The disk type of the first sector, for describing the file without
// reading it whole.
std::optional<uint8_t> FirstPda(InputFile& file, const Header& header) {
  uint8_t e[nfd::kEntrySize];
  if (header.revision == 0) {
    for (int i = 0; i < nfd::kR0Tracks * nfd::kR0Slots; ++i) {
      if (!file.Seek(nfd::kTableOffset + i * nfd::kEntrySize) || !file.ReadExact(e, sizeof(e))) {
        return std::nullopt;
      }
      if (e[nfd::kEntryC] != nfd::kUnused) return e[nfd::kR0EntryPda];
    }
    return std::nullopt;
  }
  for (int t = 0; t < nfd::kR1Tracks; ++t) {
    uint8_t pointer[4];
    if (!file.Seek(nfd::kTableOffset + 4 * t) || !file.ReadExact(pointer, sizeof(pointer))) {
      return std::nullopt;
    }
    const uint32_t at = ReadLe32(pointer);
    if (at == 0) continue;
    uint8_t head[nfd::kMapHeaderSize];
    if (!file.Seek(at) || !file.ReadExact(head, sizeof(head))) return std::nullopt;
    if (ReadLe16(head + nfd::kMapSectorCount) == 0) continue;
    if (!file.ReadExact(e, sizeof(e))) return std::nullopt;
    return e[nfd::kR1EntryPda];
  }
  return std::nullopt;
}

int ReadDiskBody(InputFile& file, DiskImage& image, ProgressCallback progress, char* message,
                 char* title) {
  Header header;
  if (const int result = ReadHeader(file, header, message); result != kResultOk) return result;
  const int64_t size = file.Size();
  if (size < 0) return kResultReadError;
  SetDiskTitle(image, header.comment, title);

  ClearSectorIds(image);
  Table table;
  std::string_view refusal =
      header.revision == 0 ? DecodeR0(file, header, static_cast<uint64_t>(size), image, table)
                           : DecodeR1(file, header, static_cast<uint64_t>(size), image, table);
  if (refusal.empty()) refusal = CheckSectorTable(image, kMaxTracks, kDataCapacity);
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }
  SetStoredTableGeometry(image);

  DiskDataWriter data(image);
  char text[kMessageSize] = {};
  for (int t = 0; t < kMaxTracks; ++t) {
    const Row& row = table.rows[t];
    if (row.length > 0) {
      uint8_t* dest = data.Reserve(row.length);
      if (dest == nullptr) {  // the table check rules this out
        SetMessage(message, kMsgImageTooLarge);
        return kResultFailed;
      }
      if (!file.Seek(row.offset)) return kResultReadError;
      if (!file.ReadExact(dest, row.length)) return kResultReadError;
    }
    text[0] = '\0';
    if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
  }
  if (table.retries > 0) {
    char note[160];
    std::snprintf(note, sizeof(note), "\r\nリトライデータ(%d件、%lluバイト)を読み飛ばしました",
                  table.retries, static_cast<unsigned long long>(table.retry_bytes));
    SetMessage(message, note);
  }
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("NFD形式入力Plug-in Ver.1.00", {kCapDiskImage, kCapTitle}, identity, caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* /*message*/) {
  return SupportExport(path, [&](InputFile& file) {
    char magic[nfd::kMagicSize];
    if (!file.ReadExact(magic, sizeof(magic))) return kResultNotMine;
    const std::string_view text(magic, sizeof(magic));
    return text == nfd::kMagicR0 || text == nfd::kMagicR1 ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (const int result = ReadHeader(file, header, message); result != kResultOk) return result;
    SetMessage(message, Describe(header, FirstPda(file, header)));
    CopySjisText(title, kPluginTitleSize, header.comment);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadDiskBody(file, *static_cast<DiskImage*>(target), progress, message, title);
  });
}

}  // extern "C"
