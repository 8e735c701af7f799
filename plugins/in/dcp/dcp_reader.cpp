// Reads DCP and DCU images. The type byte fixes the shape; a DCU file is
// told from a DCP file by its length, which then holds every track whatever
// the map says. Tracks a DCP file does not store read as zero bytes.
#include <string_view>

#include "dcp_layout.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = uint8_t[dcp::kHeaderSize];

const dcp::Media* MediaOf(uint8_t type) {
  for (const dcp::Media& media : dcp::kMedia) {
    if (media.type == type) return &media;
  }
  return nullptr;
}

bool IsStored(const Header& header, int track) {
  return header[dcp::kMapOffset + track] == dcp::kStored;
}

int64_t DcuLength(const dcp::Media& media) {
  return static_cast<int64_t>(dcp::kHeaderSize + media.shape.track_bytes() * media.shape.track_count);
}

// Only the type byte and the map say "DCP", and a THD hard-disk image of 257
// cylinders begins 01 01 00 00 and then zeros: the length has to fit the
// header too, from the tracks the map stores up to every track.
bool LooksLikeDcp(const Header& header, int64_t length) {
  const dcp::Media* media = MediaOf(header[0]);
  if (media == nullptr) return false;
  for (int t = 0; t < media->checked_map_bytes; ++t) {
    if (header[dcp::kMapOffset + t] > dcp::kStored) return false;
  }
  int64_t stored = 0;
  for (int t = 0; t < media->shape.track_count; ++t) stored += IsStored(header, t) ? 1 : 0;
  const int64_t shortest =
      static_cast<int64_t>(dcp::kHeaderSize + media->shape.track_bytes() * stored);
  return length >= shortest && length <= DcuLength(*media);
}

int ReadDcpDisk(InputFile& file, DiskImage& image, ProgressCallback progress, char* message) {
  Header header;
  if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
  const dcp::Media* media = MediaOf(header[0]);
  if (media == nullptr) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  SetRegularDisk(image, media->shape);
  const int64_t length = file.Size();
  if (length < 0) return kResultReadError;
  const bool every_track = length == DcuLength(*media);
  char note[kMessageSize] = {};
  return ReadRegularTracks(
      file, image, [&](int t) { return every_track || IsStored(header, t); }, progress, note,
      message);
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "DCP/DCU形式入力Plug-in Ver.1.00", {kCapDiskImage}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultReadError, [&](InputFile& file) {
    const int64_t length = file.Size();
    if (length < 0) return kResultReadError;
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultNotMine;
    return LooksLikeDcp(header, length) ? kResultOk : kResultNotMine;
  });
}

// The format has no title: the title buffer is left as the caller gave it.
DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* /*title*/,
                              int16_t* multi_disk) {
  return ReaderExport(path, message, nullptr, multi_disk, [&](InputFile& file) {
    uint8_t type = 0;
    if (!file.ReadExact(&type, 1)) return kResultReadError;
    const dcp::Media* media = MediaOf(type);
    if (media == nullptr) {
      SetMessage(message, "\r\nGetFileInfoでエラーが発生しました 0x01");
      return kResultFailed;
    }
    SetMessage(message, media->label);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadDcpDisk(file, *static_cast<DiskImage*>(target), progress, message);
  });
}

}  // extern "C"
