// Reads DFcnv images. Each track record gives one size code and the number
// of data bytes; the reader numbers the sectors itself, takes FM for
// 128-byte sectors, and counts the tracks as it meets them.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "byte_order.h"
#include "dfcnv_layout.h"
#include "disk_data.h"
#include "plugin_export.h"
#include "raw_track.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = uint8_t[dfcnv::kHeaderSize];

std::string_view Comment(const Header& header) {
  const char* field = reinterpret_cast<const char*>(header + dfcnv::kCommentOffset);
  return {field, BoundedLength(field, dfcnv::kCommentSize)};
}

// The sector count of a track record; -1 for a record no track can be
// made of: a size code without a length, a negative length, more bytes than
// a track holds, more sectors than a row, or bytes that no sector would own
// (they would shift every later track's data).
int SectorCount(uint8_t n, int length) {
  const int sector = static_cast<int>(SectorLength(n));
  if (sector == 0 || length < 0 || length > dfcnv::kMaxTrackBytes || length % sector != 0 ||
      length / sector > kMaxSectorsPerTrack) {
    return -1;
  }
  return length / sector;
}

int ReadDfcnvDisk(InputFile& file, DiskImage& image, ProgressCallback progress, char* message,
                  char* title) {
  Header header;
  if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
  CopySjisText(title, kPluginTitleSize, Comment(header));
  image.head_count = 2;
  image.track_count = 0;
  DiskDataWriter data(image);
  char note[kMessageSize] = {};
  for (int t = 0; t < kMaxTracks; ++t) {
    uint8_t record[dfcnv::kTrackHeaderSize];
    // The file simply ends after its last track; nothing follows a short
    // record header.
    if (!file.ReadExact(record, sizeof(record))) break;
    if (record[0] != dfcnv::kTrackMark) {
      SetMessage(message, "\r\nDFconvトラックヘッダ異常");
      return kResultFailed;
    }
    const uint8_t n = record[1];
    const int length = static_cast<int16_t>(ReadLe16(record + 2));
    const int sectors = SectorCount(n, length);
    if (sectors < 0) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    NumberRow(image, t, sectors, n, n != 0 ? 1 : 0);
    if (t == 1) {
      image.sectors_per_track = static_cast<uint8_t>(sectors);
      image.size_code = n;
    }
    uint8_t* track = data.Reserve(static_cast<size_t>(length));
    if (track == nullptr) {
      SetMessage(message, kMsgImageTooLarge);
      return kResultFailed;
    }
    if (!file.ReadExact(track, static_cast<size_t>(length))) return kResultReadError;
    image.track_count = static_cast<uint8_t>(t + 1);
    if (progress != nullptr && progress(t, kMaxTracks, note) != 0) return kResultAborted;
  }
  // A file that ends before its first track is cut short, not a disk
  // without tracks.
  if (image.track_count == 0) return kResultReadError;
  // Rows no record reached are empty, not the caller's zero bytes, which
  // would read as sectors.
  for (int t = image.track_count; t < kMaxTracks; ++t) NumberRow(image, t, 0, 0, 0);
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput,
                           "DFCNV形式変換Plug-in Ver.0.11β",
                           {kCapDiskImage, kCapKeepExtension, kCapTitle}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultFailed, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultNotMine;
    return std::memcmp(header, dfcnv::kMagic, sizeof(dfcnv::kMagic)) == 0 ? kResultOk
                                                                          : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
    if (std::any_of(header + dfcnv::kReservedOffset, header + dfcnv::kCommentOffset,
                    [](uint8_t b) { return b != 0; })) {
      SetMessage(message, "\r\n未対応のDFcnv形式です");
      return kResultFailed;
    }
    SetMessage(message, "\r\nDFcnv形式\r\n" + SjisToUtf8(Comment(header)));
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadDfcnvDisk(file, *static_cast<DiskImage*>(target), progress, message, title);
  });
}

}  // extern "C"
