// Reads SLF images: disk records behind a small MS-DOS program, each track
// stored as one repeated byte, as raw bytes or as an LH5 stream, in R order
// (an interleave bit says how the sectors lie on the track). A file may hold
// several disks; ReadDisk reads one per call and answers 9 while another
// follows.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "interleave.h"
#include "lh5_decoder.h"
#include "plugin_export.h"
#include "reader_export.h"
#include "slf_layout.h"

namespace dravik {
namespace {

using Header = std::array<uint8_t, slf::kHeaderSize>;

struct TrackFormat {
  uint8_t attribute;
  uint8_t sectors;
};

// Tracks 0 and 1 have a format of their own; every later track shares one.
TrackFormat HeaderFormat(const Header& header, int track) {
  const size_t at = slf::kTrackFormatOffset + 2 * static_cast<size_t>(std::min(track, 2));
  return {header[at], header[at + 1]};
}

uint16_t Descriptor(const Header& header, int track) {
  return ReadLe16(header.data() + slf::kDescriptorOffset + 2 * static_cast<size_t>(track));
}

// The least room a record's contents take: the header, every present
// track's stored bytes, every extra byte.
uint64_t MinimumRecordSize(const Header& header) {
  uint64_t size = slf::kHeaderSize;
  for (int t = 0; t < kMaxTracks; ++t) {
    const uint16_t d = Descriptor(header, t);
    size += (d & slf::kStoredLengthMask) + ((d & slf::kHasExtraByte) != 0 ? 1 : 0);
  }
  return size;
}

// Where the record after the one at `start` begins. A record whose length
// would put its successor inside its own contents ends the chain, so that
// no file makes the caller ask for disk after disk.
std::optional<uint64_t> NextRecord(const Header& header, uint64_t start) {
  const uint64_t next = start + ReadLe32(header.data() + slf::kNextOffset) + slf::kNextBias;
  if (next < start + MinimumRecordSize(header)) return std::nullopt;
  return next;
}

// The first record lies behind the program's image: (pages - 1) * 512 plus
// the bytes of the last page.
int ReadFirstHeader(InputFile& file, Header& header, uint64_t& start) {
  uint8_t lead[slf::kLeadSize];
  if (!file.ReadExact(lead, sizeof(lead))) return kResultReadError;
  const int64_t first = (static_cast<int64_t>(ReadLe16(lead + slf::kPageCountOffset)) - 1) *
                            static_cast<int64_t>(slf::kPageSize) +
                        ReadLe16(lead + slf::kLastPageBytesOffset);
  if (first < 0) return kResultReadError;
  start = static_cast<uint64_t>(first);
  if (!file.Seek(start) || !file.ReadExact(header.data(), header.size())) return kResultReadError;
  return kResultOk;
}

std::string Description(const Header& header) {
  const uint8_t flags = header[slf::kFlagsOffset];
  std::string text = (flags & slf::kFlag2hd) != 0 ? "\r\n2HD  " : "\r\n2DD  ";
  text += (flags & slf::kFlag160Tracks) != 0 ? "160Tracks  " : "154Tracks  ";
  text += (flags & slf::kFlagUncompressed) != 0 ? "無圧縮  " : "圧縮  ";
  text += header[slf::kFileSystemOffset] != 0 ? "MS-DOS  " : "MS-DOS以外  ";
  return text;
}

// Work areas of one ReadDisk call.
struct TrackBuffers {
  std::vector<uint8_t> stored = std::vector<uint8_t>(slf::kTrackAreaSize);
  std::vector<uint8_t> decoded = std::vector<uint8_t>(slf::kTrackAreaSize);
  Lh5Decoder decoder;
};

class DiskReader {
 public:
  DiskReader(InputFile& file, DiskImage& image, char* message)
      : file_(file), image_(image), data_(image), message_(message) {}

  int Read(int disk_number, ProgressCallback progress, char* title) {
    uint64_t start = 0;
    if (const int result = ReadFirstHeader(file_, header_, start); result != kResultOk) {
      return result;
    }
    for (int k = 1; k < static_cast<int16_t>(disk_number); ++k) {
      const std::optional<uint64_t> next = NextRecord(header_, start);
      if (!next || !file_.Seek(*next) || !file_.ReadExact(header_.data(), header_.size())) {
        return kResultReadError;
      }
      start = *next;
    }

    std::string description = Description(header_);
    const uint8_t comment_length = header_[slf::kCommentLengthOffset];
    if (comment_length != slf::kCommentSize) {
      char text[64];
      std::snprintf(text, sizeof(text), "\r\nコメント長データ異常 : %02x", comment_length);
      return Fail(text);
    }
    std::string_view comment(reinterpret_cast<const char*>(header_.data() + slf::kCommentOffset),
                             slf::kCommentSize);
    comment = comment.substr(0, comment.find('\0'));
    SetDiskTitle(image_, comment, title);
    description += "\r\n" + SjisToUtf8(comment);
    for (int t = 0; t < 3; ++t) {
      if (HeaderFormat(header_, t).sectors > kMaxSectorsPerTrack) return Fail(kMsgBadImageData);
    }

    ClearSectorIds(image_);
    auto buffers = std::make_unique<TrackBuffers>();
    char text[kMessageSize];
    CopyText(text, sizeof(text), description);
    for (int t = 0; t < kMaxTracks; ++t) {
      if (const int result = ReadTrack(t, *buffers); result != kResultOk) return result;
      // The callback logs the description once and empties it.
      if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
    }
    // Writers use only the rows below the count: it reaches the last
    // present track, whatever lies absent before it.
    image_.track_count = static_cast<uint8_t>(LastRowWithSector(image_) + 1);
    image_.head_count = 2;
    image_.sectors_per_track = HeaderFormat(header_, 2).sectors;
    image_.size_code = HeaderFormat(header_, 2).attribute & slf::kSizeCodeMask;

    const std::optional<uint64_t> next = NextRecord(header_, start);
    const int64_t end = file_.Tell();
    if (!next || end < 0 || *next < static_cast<uint64_t>(end)) return kResultOk;
    Header following;
    return file_.Seek(*next) && file_.ReadExact(following.data(), following.size())
               ? kResultMoreDisks
               : kResultOk;
  }

 private:
  int Fail(std::string_view text) {
    SetMessage(message_, text);
    return kResultFailed;
  }

  int ReadTrack(int t, TrackBuffers& buffers) {
    const uint16_t descriptor = Descriptor(header_, t);
    const size_t stored_length = descriptor & slf::kStoredLengthMask;
    const TrackFormat format = HeaderFormat(header_, t);
    // Without an override the track keeps its header attribute, never one
    // left over from an earlier track.
    uint8_t attribute = format.attribute;
    uint8_t deleted = 0;
    if ((descriptor & slf::kHasExtraByte) != 0) {
      uint8_t extra = 0;
      if (!file_.ReadExact(&extra, 1)) return kResultReadError;
      deleted = extra & slf::kExtraDeleted;
      if ((extra & slf::kExtraOverride) != 0) {
        uint8_t pair[slf::kOverrideSize];
        if (!file_.ReadExact(pair, sizeof(pair))) return kResultReadError;
        attribute = pair[0];
      }
    }
    if (stored_length == 0) return kResultOk;  // absent: its row stays empty

    const int sectors = format.sectors;
    const uint8_t size_code = attribute & slf::kSizeCodeMask;
    const size_t sector_length = SectorLength(size_code);
    const size_t length = static_cast<size_t>(sectors) * sector_length;
    if (length > slf::kTrackAreaSize) return Fail(kMsgBadImageData);
    if (!file_.ReadExact(buffers.stored.data(), stored_length)) return kResultReadError;
    const uint8_t* track = buffers.decoded.data();
    if (stored_length == 1) {
      std::memset(buffers.decoded.data(), buffers.stored[0], length);
    } else if ((descriptor & slf::kStoredRaw) != 0) {
      if (stored_length < length) return Fail(kMsgBadImageData);
      track = buffers.stored.data();
    } else if (!buffers.decoder.Decode(buffers.stored.data(), stored_length, buffers.decoded.data(),
                                       buffers.decoded.size(), length)) {
      return Fail(kMsgBadImageData);
    }

    uint8_t* row = data_.Reserve(length);
    if (row == nullptr) return Fail(kMsgImageTooLarge);
    const bool interleaved = (attribute & slf::kInterleaved) != 0;
    const uint8_t mfm = (attribute & slf::kMfm) != 0 ? 1 : 0;
    for (int k = 0; k < sectors; ++k) {
      const int slot = interleaved ? InterleavedSlot(k, sectors) : k;
      SetSectorId(image_, t, slot, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                  static_cast<uint8_t>(k + 1), size_code, deleted, mfm);
      std::memcpy(row + static_cast<size_t>(slot) * sector_length, track + k * sector_length,
                  sector_length);
    }
    return kResultOk;
  }

  InputFile& file_;
  DiskImage& image_;
  DiskDataWriter data_;
  char* message_;
  Header header_{};
};

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("SLF形式入力Plug-in Ver.1.01", {kCapDiskImage, kCapTitle}, identity,
                         caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, [&](InputFile& file) {
    SetMessage(message, "");
    uint8_t lead[slf::kRecognitionSize];
    if (!file.ReadExact(lead, sizeof(lead))) return kResultNotMine;
    const bool mine =
        std::memcmp(lead, slf::kProgramMagic.data(), slf::kProgramMagic.size()) == 0 &&
        std::memcmp(lead + slf::kMarkOffset, slf::kMark.data(), slf::kMark.size()) == 0;
    return mine ? kResultOk : kResultNotMine;
  });
}

// A second disk counts when at least 495 bytes lie behind the first record;
// a file that ends right behind it holds one disk.
DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    uint64_t start = 0;
    if (const int result = ReadFirstHeader(file, header, start); result != kResultOk) {
      return result;
    }
    const std::optional<uint64_t> next = NextRecord(header, start);
    uint8_t probe[2 + slf::kHeaderSize];
    const bool several = next && file.Seek(*next) && file.ReadExact(probe, sizeof(probe));
    if (multi_disk != nullptr) *multi_disk = several ? 1 : 0;
    SetMessage(message, several ? "\r\nSLF形式(複数DISK)" : "\r\nSLF形式(1 DISK)");
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk_number, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    DiskReader reader(file, *static_cast<DiskImage*>(target), message);
    return reader.Read(disk_number, progress, title);
  });
}

}  // extern "C"
