// Reads STDFILE ("STDA") images. R, N and the density come from the file,
// C and H from the track's place; sectors are gathered from wherever their
// record points, or made of their fill byte.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk_data.h"
#include "plugin_export.h"
#include "raw_track.h"
#include "reader_export.h"
#include "std_layout.h"

namespace dravik {
namespace {

using Header = uint8_t[stdfile::kHeaderSize];

int TrackCount(const Header& header) { return (header[stdfile::kCylindersOffset] + 1) * 2; }

class StdDisk {
 public:
  StdDisk(InputFile& file, DiskImage& image, char* message)
      : file_(file), image_(image), data_(image), message_(message) {}

  int Read(ProgressCallback progress) {
    Header header;
    if (!file_.ReadExact(header, sizeof(header))) return kResultReadError;
    // 80 cylinders fill the record's 160 rows.
    if (header[stdfile::kCylindersOffset] > stdfile::kMaxCylinderByte) return Refuse(kMsgBadImageData);
    records_.resize(stdfile::kRecordsSize);
    if (!file_.ReadExact(records_.data(), records_.size())) return kResultReadError;
    image_.track_count = static_cast<uint8_t>(TrackCount(header));
    image_.head_count = 2;
    // Track 1 gives the regular format; a count past a row's 26 slots
    // describes no row of the disk.
    const int row1 = Sectors(1);
    image_.sectors_per_track = static_cast<uint8_t>(row1);
    image_.size_code = row1 > 0 ? Descriptor(1, 0)[1] : 0;
    if (!file_.Seek(stdfile::kDataOffset)) return kResultReadError;
    position_ = stdfile::kDataOffset;
    char note[kMessageSize] = {};
    for (int t = 0; t < kMaxTracks; ++t) {
      const int sectors = t < image_.track_count ? Sectors(t) : 0;
      NumberRow(image_, t, 0, 0, 0);
      for (int k = 0; k < sectors; ++k) {
        if (const int result = ReadSector(t, k); result != kResultOk) return result;
      }
      if (progress != nullptr && progress(t, kMaxTracks, note) != 0) return kResultAborted;
    }
    return kResultOk;
  }

 private:
  int Refuse(std::string_view text) {
    SetMessage(message_, text);
    return kResultFailed;
  }
  const uint8_t* Record(int t) const { return records_.data() + t * stdfile::kRecordSize; }
  const uint8_t* Descriptor(int t, int k) const {
    return Record(t) + stdfile::kDescriptorsOffset + 4 * k;
  }
  int Sectors(int t) const { return std::min<int>(Record(t)[0], kMaxSectorsPerTrack); }

  int ReadSector(int t, int k) {
    const uint8_t* d = Descriptor(t, k);
    const uint32_t length = SectorLength(d[1]);
    if (length == 0) return Refuse(kMsgBadImageData);
    uint8_t* sector = data_.Reserve(length);
    if (sector == nullptr) return Refuse(kMsgImageTooLarge);
    SetSectorId(image_, t, k, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), d[0], d[1],
                0, Record(t)[1]);
    if (d[3] == stdfile::kNotStored) {
      std::memset(sector, d[2], length);
      return kResultOk;
    }
    const uint64_t offset = (d[2] + 256u * d[3] + stdfile::kDataStart) * stdfile::kDataUnit;
    // Sectors mostly follow each other; a seek would only drop the buffer.
    if (offset != position_ && !file_.Seek(offset)) return kResultReadError;
    if (!file_.ReadExact(sector, length)) return kResultReadError;
    position_ = offset + length;
    return kResultOk;
  }

  InputFile& file_;
  DiskImage& image_;
  DiskDataWriter data_;
  char* message_;
  std::vector<uint8_t> records_;
  uint64_t position_ = 0;
};

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo(
        {kKindInput, "STDFILE形式入力Plug-in Ver.1.01", {kCapDiskImage, kCapKeepExtension}},
        identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultFailed, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultNotMine;
    return std::memcmp(header, stdfile::kMagic, sizeof(stdfile::kMagic)) == 0 ? kResultOk
                                                                              : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
    char text[96];
    std::snprintf(text, sizeof(text), "\r\nSTDFIL形式( %d Tracks : %d / %d )", TrackCount(header),
                  header[5], header[4]);
    SetMessage(message, text);
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return StdDisk(file, *static_cast<DiskImage*>(target), message).Read(progress);
  });
}

}  // extern "C"
