// Converts hard-disk images between HDI and THD. A hard disk does not fit
// the floppy record, so this plug-in converts directly: the driver hands it
// the output path, and it copies the cylinders itself under the other
// container's header, one cylinder at a time whatever the disk's size.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_order.h"
#include "file_io.h"
#include "hdi_thd_layout.h"
#include "path_name.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgSameName = "\r\n変換先ファイル名が変換元と同じです";

enum class Container { kHdi, kThd };

struct Source {
  Container container;
  uint64_t data_offset;
  uint64_t data_size;  // as the description states it
  uint32_t cylinders;  // to copy
};

using Header = std::vector<uint8_t>;

// Reads the first 4096 bytes, which hold either header; the file size goes
// to *size. Results: 0, 2 for a file shorter than an HDI header, 6 when the
// file cannot be measured.
int ReadHeader(InputFile& file, Header& header, int64_t* size) {
  *size = file.Size();
  if (*size < 0) return kResultReadError;
  header.assign(hdi_thd::kHdiHeaderSize, 0);
  return file.ReadExact(header.data(), header.size()) ? kResultOk : kResultNotMine;
}

uint32_t Field(const Header& header, size_t offset) { return ReadLe32(header.data() + offset); }

// Which container the header describes, checking every field the layout
// pins down. An HDI must say 256-byte sectors: with any other length its
// data size would still be a whole number of our cylinders, and the copy
// would cut the disk at the wrong place.
std::optional<Source> Classify(const Header& header, int64_t file_size) {
  using namespace hdi_thd;
  if (Field(header, kHdiZero) == 0) {
    const uint32_t cylinders = Field(header, kHdiCylinders);
    const uint32_t data_size = Field(header, kHdiDataSize);
    const uint32_t sector_length = Field(header, kHdiSectorLength);
    const uint32_t sectors = Field(header, kHdiSectors);
    const uint32_t heads = Field(header, kHdiHeads);
    // In full width: a product taken to 32 bits could match a tiny size.
    if (Field(header, kHdiHeaderSizeField) != kHdiHeaderSize || sector_length != kSectorLength ||
        sectors != kSectorsPerTrack || heads != kHeads ||
        data_size != uint64_t{sector_length} * sectors * heads * cylinders) {
      return std::nullopt;
    }
    return Source{Container::kHdi, kHdiHeaderSize, data_size, cylinders};
  }
  for (size_t i = kThdCylinders + 4; i < kThdHeaderSize; ++i) {
    if (header[i] != 0) return std::nullopt;
  }
  const uint64_t data_size = static_cast<uint64_t>(file_size) - kThdHeaderSize;
  if (data_size % kCylinderBytes != 0) return std::nullopt;
  return Source{Container::kThd, kThdHeaderSize, data_size, Field(header, kThdCylinders)};
}

Header TargetHeader(const Source& source) {
  using namespace hdi_thd;
  if (source.container == Container::kThd) {
    Header header(kHdiHeaderSize, 0);
    WriteLe32(header.data() + kHdiHeaderSizeField, kHdiHeaderSize);
    WriteLe32(header.data() + kHdiDataSize, source.cylinders * kCylinderBytes);
    WriteLe32(header.data() + kHdiSectorLength, kSectorLength);
    WriteLe32(header.data() + kHdiSectors, kSectorsPerTrack);
    WriteLe32(header.data() + kHdiHeads, kHeads);
    WriteLe32(header.data() + kHdiCylinders, source.cylinders);
    return header;
  }
  Header header(kThdHeaderSize, 0);
  WriteLe32(header.data() + kThdCylinders, source.cylinders);
  return header;
}

int Convert(const char* path, InputFile& file, const char* output, ProgressCallback progress,
            char* message) {
  Header header;
  int64_t size = 0;
  const int read = ReadHeader(file, header, &size);
  if (read != kResultOk) return kResultReadError;
  // The driver only calls us for a file we recognised; anything else is
  // refused rather than copied under a header it does not fit.
  const std::optional<Source> source = Classify(header, size);
  if (!source) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  if (source->container == Container::kThd && source->cylinders > hdi_thd::kMaxHdiCylinders) {
    SetMessage(message, kMsgImageTooLarge);
    return kResultFailed;
  }
  // A header that claims more than the file holds would fail at its first
  // missing cylinder; find out before anything is written.
  const uint64_t needed =
      source->data_offset + static_cast<uint64_t>(source->cylinders) * hdi_thd::kCylinderBytes;
  if (static_cast<uint64_t>(size) < needed) return kResultReadError;
  if (!file.Seek(source->data_offset)) return kResultReadError;

  const std::string given =
      output == nullptr ? "" : std::string(output, BoundedLength(output, kOutputPathSize));
  const std::optional<std::string> base = PathWithoutExtension(given);
  if (given.empty() || !base) {
    SetMessage(message, kMsgTargetOpenError);
    return kResultFailed;
  }
  const std::string target = *base + (source->container == Container::kHdi ? ".THD" : ".HDI");
  // Also by file, so that a case-blind mount or a link cannot make us
  // truncate the source we are about to read.
  if (SameFile(target, path)) {
    SetMessage(message, kMsgSameName);
    return kResultFailed;
  }
  OutputFile out;
  if (!out.Create(target)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, target, out.error()));
    return kResultFailed;
  }
  const Header target_header = TargetHeader(*source);
  if (!out.Write(target_header.data(), target_header.size())) return kResultWriteError;

  std::vector<uint8_t> cylinder(hdi_thd::kCylinderBytes);
  const int count = static_cast<int>(source->cylinders);
  char text[kPluginTitleSize] = "";
  for (int i = 0; i < count; ++i) {
    if (!file.ReadExact(cylinder.data(), cylinder.size())) return kResultReadError;
    if (!out.Write(cylinder.data(), cylinder.size())) return kResultWriteError;
    text[0] = '\0';
    if (progress != nullptr && progress(i, count, text) != 0) return kResultAborted;
  }
  return out.Close() ? kResultOk : kResultWriteError;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    // The driver names the output with this blank extension; we replace it.
    return FillPluginInfo({kKindInput, "HDI/THD形式変換Plug-in Ver.1.00", {kCapDirect}, ".   "},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return GuardExport(message, [&] {
    SetMessage(message, "");
    InputFile file;
    if (path == nullptr || !file.Open(path)) return kResultFailed;
    Header header;
    int64_t size = 0;
    const int read = ReadHeader(file, header, &size);
    if (read != kResultOk) return read;
    return Classify(header, size) ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    const int64_t size = file.Size();
    uint8_t header[hdi_thd::kThdHeaderSize];
    if (size < 0 || !file.ReadExact(header, sizeof(header))) return kResultReadError;
    const bool hdi = ReadLe32(header + hdi_thd::kHdiZero) == 0;
    const uint64_t data_size = hdi ? ReadLe32(header + hdi_thd::kHdiDataSize)
                                   : static_cast<uint64_t>(size) - hdi_thd::kThdHeaderSize;
    SetMessage(message, std::string(hdi ? "\r\nHDI" : "\r\nTHD") + "形式   SIZE = " +
                            std::to_string(data_size) + " bytes");
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return GuardExport(message, [&] {
    // Without the direct flag the target is a disk record, not a path.
    if ((direct & 0xFFFF) != 1) {
      SetMessage(message, kMsgUnsupportedConversion);
      CopyText(title, kPluginTitleSize, "");
      return kResultFailed;
    }
    return ReaderExport(path, message, title, nullptr, [&](InputFile& file) {
      return Convert(path, file, static_cast<const char*>(target), progress, message);
    });
  });
}

}  // extern "C"
