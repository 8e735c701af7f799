// Reads MAHALITO image pairs. The user drops the ID file; the ".dat" file
// beside it is claimed too, but only to be skipped with a word in the log,
// so that dropping a whole folder does not report it as an unknown format.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "disk_data.h"
#include "mahalito_layout.h"
#include "partner_file.h"
#include "path_name.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgDataFileMissing = "\r\nMAHALITOデータファイルが開けません";
constexpr std::string_view kMsgSkipped = "\r\n...スキップします。";

struct Version {
  std::string_view signature;
  std::string_view description;
};

constexpr Version kVersions[] = {
    {mahalito::kSignature2hd, "\r\nMAHALITO(2HD)形式"},
    {mahalito::kSignature2dd, "\r\nMAHALITO(2DD)形式"},
    {mahalito::kSignatureRange, "\r\nMAHALITO(v1.20)形式"},
};

bool HasSignature(const uint8_t* head, std::string_view signature) {
  return std::memcmp(head, signature.data(), mahalito::kSignatureSize) == 0;
}

const Version* FindVersion(const uint8_t* head) {
  for (const Version& v : kVersions) {
    if (HasSignature(head, v.signature)) return &v;
  }
  return nullptr;
}

// Recognition is looser than the version test: each position may match any
// of the signatures. Files of early tools mixed them, and GetFileInfo
// still names only the three it knows.
bool LooksLikeIdFile(const uint8_t* head) {
  for (size_t i = 0; i < mahalito::kSignatureSize; ++i) {
    bool any = false;
    for (const Version& v : kVersions) any = any || head[i] == static_cast<uint8_t>(v.signature[i]);
    if (!any) return false;
  }
  return true;
}

// Whether path names a convertible ID file.
bool IsIdFile(const std::string& path) {
  InputFile file;
  uint8_t head[mahalito::kCountHeaderSize];
  return file.Open(path) && file.ReadExact(head, sizeof(head)) && FindVersion(head) != nullptr;
}

// The ".dat" half of a pair: its ID file stands beside it. The partner must
// really be an ID file, not merely be named like one: a raw image called
// GAME.2HD next to an unrelated GAME.DAT must not make us hide GAME.DAT.
bool IsDataHalf(const std::string& path) {
  const auto parts = SplitPath(path);
  if (!parts || ToUpperAscii(parts->extension) != ToUpperAscii(mahalito::kDataExtension)) return false;
  const auto base = PathWithoutExtension(path);
  if (!base || !FindPartnerFile(*base + std::string(mahalito::kDataExtension))) return false;
  for (std::string_view extension : mahalito::kIdExtensions) {
    const auto id_file = FindPartnerFile(*base + std::string(extension));
    if (id_file && IsIdFile(*id_file)) return true;
  }
  return false;
}

// Tracks in the file, from its header: twice the cylinder count, or twice
// the cylinder range of the v1.20 layout. Computed in full width, so that a
// count the record cannot take is refused instead of wrapping to a small one.
int ReadTrackCount(InputFile& id_file, int* tracks, char* message) {
  uint8_t head[mahalito::kRangeHeaderSize];
  if (!id_file.ReadExact(head, mahalito::kCountHeaderSize)) return kResultReadError;
  if (HasSignature(head, mahalito::kSignatureRange)) {
    if (!id_file.ReadExact(head + mahalito::kCountHeaderSize, 1)) return kResultReadError;
    const int first = head[mahalito::kFirstCylinderOffset];
    const int end = head[mahalito::kEndCylinderOffset];
    if (end < first) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    *tracks = 2 * (end - first);
  } else {
    *tracks = 2 * head[mahalito::kCylinderCountOffset];
  }
  if (*tracks > kMaxTracks) {
    SetMessage(message, kMsgImageTooLarge);
    return kResultFailed;
  }
  return kResultOk;
}

// Row 1 gives the regular geometry (row 0 may be a mixed-density track):
// its used slots and the size of its first sector.
void SetGeometry(DiskImage& image, int tracks) {
  image.track_count = static_cast<uint8_t>(tracks);
  image.head_count = 2;
  image.sectors_per_track = 0;
  image.size_code = 0;
  if (tracks < 2) return;
  for (const SectorId& id : image.ids[1]) {
    if (IsEmptySlot(&id)) continue;
    if (image.sectors_per_track == 0) image.size_code = id.n;
    ++image.sectors_per_track;
  }
}

int ReadPair(const char* path, InputFile& id_file, DiskImage& image, ProgressCallback progress,
             char* message) {
  const auto base = PathWithoutExtension(path);
  const auto data_path =
      base ? FindPartnerFile(*base + std::string(mahalito::kDataExtension)) : std::nullopt;
  InputFile data_file;
  if (!data_path || !data_file.Open(*data_path)) {
    SetMessage(message, kMsgDataFileMissing);
    return kResultFailed;
  }
  int tracks = 0;
  if (const int result = ReadTrackCount(id_file, &tracks, message); result != kResultOk) {
    return result;
  }

  ClearSectorIds(image);
  DiskDataWriter data(image);
  // The data of a record with C = 0xFF is read and dropped: its slot is
  // empty to every consumer, so its bytes in the record would shift every
  // later sector.
  uint8_t discarded[4096];
  static_assert(sizeof(discarded) == 128u << kMaxSizeCode);
  char text[kPluginTitleSize] = "";
  for (int t = 0; t < kMaxTracks; ++t) {
    if (t < tracks) {
      uint8_t track[mahalito::kTrackHeaderSize];
      if (!id_file.ReadExact(track, sizeof(track))) return kResultReadError;
      const int count = static_cast<int8_t>(track[mahalito::kTrackSectorCount]);
      // More records than a row has slots would leave the rest of the ID
      // file to be read out of step.
      if (count > kMaxSectorsPerTrack) {
        SetMessage(message, kMsgBadImageData);
        return kResultFailed;
      }
      for (int s = 0; s < count; ++s) {
        uint8_t record[mahalito::kSectorRecordSize];
        if (!id_file.ReadExact(record, sizeof(record))) return kResultReadError;
        const uint8_t n = record[mahalito::kRecordN];
        if (n > kMaxSizeCode) {
          SetMessage(message, kMsgBadImageData);
          return kResultFailed;
        }
        const size_t length = SectorLength(n);
        const bool empty = record[mahalito::kRecordC] == kEmptySlotMark;
        uint8_t* bytes = empty ? discarded : data.Reserve(length);
        if (bytes == nullptr) {
          SetMessage(message, kMsgImageTooLarge);
          return kResultFailed;
        }
        if (record[mahalito::kRecordFillFlag] != 0) {
          std::memset(bytes, record[mahalito::kRecordFillByte], length);
        } else if (!data_file.ReadExact(bytes, length)) {
          return kResultReadError;
        }
        if (!empty) {
          SetSectorId(image, t, s, record[mahalito::kRecordC], record[mahalito::kRecordH],
                      record[mahalito::kRecordR], n, record[mahalito::kRecordDeleted],
                      track[mahalito::kTrackDensity]);
        }
      }
    }
    text[0] = '\0';
    if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
  }
  SetGeometry(image, tracks);
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "MAHALITO形式入力Plug-in Ver.1.00", {kCapDiskImage}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return GuardExport(message, [&] {
    InputFile file;
    if (path == nullptr || !file.Open(path)) return kResultReadError;
    uint8_t head[mahalito::kCountHeaderSize];
    if (!file.ReadExact(head, sizeof(head))) return kResultNotMine;
    if (LooksLikeIdFile(head)) return kResultOk;
    if (!IsDataHalf(path)) return kResultNotMine;
    SetMessage(message, kMsgSkipped);
    return kResultSkipped;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    uint8_t head[mahalito::kCountHeaderSize];
    if (!file.ReadExact(head, sizeof(head))) return kResultReadError;
    const Version* version = FindVersion(head);
    if (version == nullptr) return kResultFailed;
    SetMessage(message, version->description);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadPair(path, file, *static_cast<DiskImage*>(target), progress, message);
  });
}

}  // extern "C"
