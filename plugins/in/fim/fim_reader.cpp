// Reads FIM images: the length gives the disk's shape, the header its
// comment, and the sectors follow track after track in R order.
#include <string>
#include <string_view>

#include "byte_order.h"
#include "fim_layout.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = uint8_t[fim::kHeaderSize];

const fim::Capacity* CapacityOf(int64_t length) {
  for (const fim::Capacity& capacity : fim::kCapacities) {
    if (capacity.length == length) return &capacity;
  }
  return nullptr;
}

std::string_view Comment(const Header& header) {
  const char* field = reinterpret_cast<const char*>(header + fim::kCommentOffset);
  return {field, BoundedLength(field, fim::kCommentSize)};
}

// The file's length and header; false when either cannot be had.
bool ReadHeader(InputFile& file, int64_t& length, Header& header) {
  length = file.Size();
  return length >= 0 && file.ReadExact(header, sizeof(header));
}

int ReadFimDisk(InputFile& file, DiskImage& image, ProgressCallback progress, char* message,
                char* title) {
  int64_t length = 0;
  Header header;
  if (!ReadHeader(file, length, header)) return kResultReadError;
  CopySjisText(title, kPluginTitleSize, Comment(header));
  const fim::Capacity* capacity = CapacityOf(length);
  if (capacity == nullptr) return kResultFailed;
  SetRegularDisk(image, capacity->shape);
  char note[kMessageSize] = {};
  return ReadRegularTracks(
      file, image, [](int) { return true; }, progress, note, message);
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "FIM形式入力Plug-in Ver.1.01", {kCapDiskImage, kCapTitle}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultReadError, [&](InputFile& file) {
    const int64_t length = file.Size();
    if (length < 0) return kResultReadError;
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultNotMine;
    const uint32_t track_bytes = ReadLe32(header + fim::kTrackBytesOffset);
    const uint32_t tracks = ReadLe32(header + fim::kTrackCountOffset);
    const bool plausible = track_bytes >= fim::kMinTrackBytes &&
                           track_bytes <= fim::kMaxTrackBytes && tracks >= fim::kMinTrackCount &&
                           tracks <= fim::kMaxTrackCount;
    return plausible && CapacityOf(length) != nullptr ? kResultOk : kResultNotMine;
  });
}

// The header words are IsSupport's alone; here the length decides.
DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    int64_t length = 0;
    Header header;
    if (!ReadHeader(file, length, header)) return kResultReadError;
    const fim::Capacity* capacity = CapacityOf(length);
    if (capacity == nullptr) return kResultFailed;
    SetMessage(message, std::string(capacity->label) + "\r\n" + SjisToUtf8(Comment(header)));
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadFimDisk(file, *static_cast<DiskImage*>(target), progress, message, title);
  });
}

}  // extern "C"
