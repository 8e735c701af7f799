// Reads FDD ("VFD1.00") images, the format of the Virtual98 and QSP
// emulators. Every sector carries its full ID in the header table, so IDs are
// copied as stored; a sector whose bytes are all equal is kept only as its
// fill byte and expanded here.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "disk_title.h"
#include "fdd_layout.h"
#include "file_io.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgUnsupportedVersion = "\r\n未対応のFDD形式です";
constexpr std::string_view kDescription = "\r\nVirtual(QSP)形式";

using Header = std::vector<uint8_t>;

bool ReadHeader(InputFile& file, Header& header) {
  header.assign(fdd::kHeaderSize, 0);
  return file.ReadExact(header.data(), header.size());
}

// The comment up to its NUL; nothing when the field lacks one, which no
// writer of the format produces.
std::optional<std::string_view> Comment(const Header& header) {
  const char* field = reinterpret_cast<const char*>(header.data() + fdd::kCommentOffset);
  const void* nul = std::memchr(field, '\0', fdd::kCommentSize);
  if (nul == nullptr) return std::nullopt;
  return std::string_view(field, static_cast<size_t>(static_cast<const char*>(nul) - field));
}

const uint8_t* Entry(const Header& header, int track, int slot) {
  return header.data() + fdd::EntryAt(track, slot);
}

void CopyIds(const Header& header, DiskImage& image) {
  for (int t = 0; t < kMaxTracks; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const uint8_t* e = Entry(header, t, s);
      image.ids[t][s] = SectorId{e[fdd::kEntryC], e[fdd::kEntryH],       e[fdd::kEntryR],
                                 e[fdd::kEntryN], e[fdd::kEntryDeleted], e[fdd::kEntryDensity]};
    }
  }
}

// Row 1 gives the regular geometry (row 0 may be a mixed-density track).
// The disk reaches the last row that holds a sector: writers use only the
// rows below track_count, so ending it at the first empty or irregular row
// would drop every sector after it. Such a row can never lie beyond the last
// sector, so that row alone decides; an empty table still counts one track.
void SetGeometry(DiskImage& image) {
  const SectorId* row1 = image.ids[1];
  int sectors = 0;
  while (sectors < kMaxSectorsPerTrack && !IsEmptySlot(&row1[sectors])) ++sectors;
  image.sectors_per_track = static_cast<uint8_t>(sectors);
  image.size_code = row1[0].n;
  image.head_count = 2;
  const int last = LastRowWithSector(image);
  image.track_count = static_cast<uint8_t>(last < 1 ? 1 : last + 1);
}

int ReadDiskBody(InputFile& file, DiskImage& image, ProgressCallback progress, char* message,
                 char* title) {
  Header header;
  if (!ReadHeader(file, header)) return kResultReadError;
  const std::optional<std::string_view> comment = Comment(header);
  if (!comment) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }

  CopyIds(header, image);
  SetGeometry(image);
  // Every row is decoded, whatever track_count says.
  const std::string_view refusal = CheckSectorTable(image, kMaxTracks, fdd::kMaxTrackBytes);
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }

  SetDiskTitle(image, *comment, title);
  char text[kPluginTitleSize];
  CopySjisText(text, sizeof(text), *comment);

  DiskDataWriter data(image);
  uint64_t position = fdd::kHeaderSize;
  for (int t = 0; t < kMaxTracks; ++t) {
    uint8_t* row = data.Reserve(RowDataLength(image, t));
    if (row == nullptr) {  // the table check rules this out
      SetMessage(message, kMsgImageTooLarge);
      return kResultFailed;
    }
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const uint8_t* e = Entry(header, t, s);
      if (e[fdd::kEntryC] == fdd::kEmpty) continue;
      const uint32_t length = SectorLength(e[fdd::kEntryN]);
      const uint32_t offset = ReadLe32(e + fdd::kEntryOffset);
      if (offset == fdd::kNotStored) {
        std::memset(row, e[fdd::kEntryFill], length);
      } else {
        // Stored sectors usually follow each other; a seek would only drop
        // the read buffer.
        if (offset != position && !file.Seek(offset)) return kResultWriteError;
        if (!file.ReadExact(row, length)) return kResultReadError;
        position = static_cast<uint64_t>(offset) + length;
      }
      row += length;
    }
    // The text holds the title for the first call and afterwards whatever
    // the callback left in it.
    if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
  }
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("FDD形式入力Plug-in Ver.1.00", {kCapDiskImage, kCapTitle}, identity, caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* /*message*/) {
  return SupportExport(path, [&](InputFile& file) {
    Header header;
    if (!ReadHeader(file, header)) return kResultNotMine;
    // The version digits are left to GetFileInfo, which names them.
    return std::memcmp(header.data(), fdd::kMagic, fdd::kFamilyLength) == 0 ? kResultOk
                                                                            : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!ReadHeader(file, header)) return kResultReadError;
    if (std::memcmp(header.data(), fdd::kMagic, fdd::kMagicLength) != 0) {
      SetMessage(message, kMsgUnsupportedVersion);
      return kResultFailed;
    }
    const std::optional<std::string_view> comment = Comment(header);
    if (!comment) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    SetMessage(message, std::string(kDescription) + SjisToUtf8(*comment));
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int /*direct*/,
                           ProgressCallback progress, char* message, char* title) {
  return ReaderExport(path, message, title, nullptr, [&](InputFile& file) {
    return ReadDiskBody(file, *static_cast<DiskImage*>(target), progress, message, title);
  });
}

}  // extern "C"
