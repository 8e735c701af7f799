// Reads DIP images: the signature and the exact length tell them, the
// geometry is fixed, and the comment is the disk's title.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "dip_layout.h"
#include "disk_title.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = uint8_t[dip::kHeaderSize];

bool HasSignature(const Header& header) {
  return std::memcmp(header, dip::kSignature, sizeof(dip::kSignature)) == 0;
}

std::string SignatureDump(const Header& h) {
  char text[128];
  std::snprintf(text, sizeof(text),
                "\r\nDIPヘッダ異常:\r\n%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x\r\n"
                "%02x,%02x,%02x,%02x,%02x,%02x,%02x",
                h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10], h[11], h[12],
                h[13], h[14]);
  return text;
}

int ReadDipDisk(InputFile& file, DiskImage& image, ProgressCallback progress, char* message,
                char* title) {
  Header header;
  if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
  const char* field = reinterpret_cast<const char*>(header + dip::kCommentOffset);
  const std::string_view comment(field, BoundedLength(field, dip::kCommentSize));
  SetDiskTitle(image, comment, title);
  // The callback gets the title with the first track and afterwards whatever
  // it left in the text.
  char note[kMessageSize];
  CopyText(note, sizeof(note), "\r\n" + SjisToUtf8(comment));

  SetRegularDisk(image, dip::kShape);
  return ReadRegularTracks(
      file, image, [](int) { return true; }, progress, note, message);
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "DIP形式入力Plug-in Ver.1.01", {kCapDiskImage, kCapTitle}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultReadError, [&](InputFile& file) {
    const int64_t length = file.Size();
    if (length < 0) return kResultReadError;
    Header header;
    if (length != dip::kFileLength || !file.ReadExact(header, sizeof(header))) {
      return kResultNotMine;
    }
    return HasSignature(header) ? kResultOk : kResultNotMine;
  });
}

// The length is left to IsSupport: a file cut short shows when it is read.
DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
    if (!HasSignature(header)) {
      SetMessage(message, SignatureDump(header));
      return kResultFailed;
    }
    SetMessage(message, "\r\nDIP形式(1.25M)");
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadDipDisk(file, *static_cast<DiskImage*>(target), progress, message, title);
  });
}

}  // extern "C"
