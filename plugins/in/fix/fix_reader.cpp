// Reads FIX images. Every stored track carries its sectors' IDs, which are
// copied as recorded; tracks may be missing anywhere, so the disk reaches
// its last row that holds a sector.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "byte_order.h"
#include "disk_data.h"
#include "fix_layout.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = uint8_t[fix::kHeaderSize];

std::string_view Field(const Header& header, size_t offset, size_t size) {
  const char* field = reinterpret_cast<const char*>(header + offset);
  return {field, BoundedLength(field, size)};
}

bool IsFix(const Header& header) {
  return header[0] == 0xFF && header[1] == 0xFF &&
         std::all_of(header + fix::kZeroFrom, header + fix::kZeroTo,
                     [](uint8_t b) { return b == 0; });
}

bool Marked(const uint8_t* bytes) { return bytes[0] == 0xFF && bytes[1] == 0xFF; }

const fix::Mode* ModeOf(uint8_t mode, uint8_t sub_mode) {
  for (const fix::Mode& m : fix::kModes) {
    if (m.mode == mode && (m.sub_mode < 0 || m.sub_mode == sub_mode)) return &m;
  }
  return nullptr;
}

std::string BadTrackMark(int track) {
  char text[64];
  std::snprintf(text, sizeof(text), "\r\nTrack:%d トラックヘッダ異常", track);
  return text;
}

std::string UnknownMode(int track, uint8_t mode) {
  char text[96];
  std::snprintf(text, sizeof(text), "\r\nTrack:%d トラックヘッダモード判定異常:%02X", track, mode);
  return text;
}

class FixDisk {
 public:
  FixDisk(InputFile& file, DiskImage& image, char* message)
      : file_(file), image_(image), data_(image), message_(message) {}

  int Read(ProgressCallback progress, char* title) {
    Header header;
    uint8_t table[fix::kTableSize];
    if (!file_.ReadExact(header, sizeof(header))) return kResultReadError;
    CopySjisText(title, kPluginTitleSize, Field(header, fix::kCommentOffset, fix::kCommentSize));
    if (!file_.ReadExact(table, sizeof(table))) return kResultReadError;
    ClearSectorIds(image_);
    image_.head_count = 2;
    image_.track_count = image_.sectors_per_track = image_.size_code = 0;
    char note[kMessageSize] = {};
    for (int t = 0; t < kMaxTracks; ++t) {
      // Entries 0 and 1 stand for a missing track.
      const int64_t start = static_cast<int32_t>(ReadLe32(table + 4 * t) - fix::kPositionBias);
      if (start < 0) continue;
      bool present = false;
      if (const int result = ReadTrack(t, start, present); result != kResultOk) return result;
      if (present && progress != nullptr && progress(t, kMaxTracks, note) != 0) {
        return kResultAborted;
      }
    }
    // A missing track 0 or a gap must not end the disk: writers use only
    // the rows below track_count.
    image_.track_count = static_cast<uint8_t>(LastRowWithSector(image_) + 1);
    return kResultOk;
  }

 private:
  int Refuse(std::string_view text) {
    SetMessage(message_, text);
    return kResultFailed;
  }

  bool ReadAt(int64_t offset, void* bytes, size_t n) {
    return file_.Seek(static_cast<uint64_t>(offset)) && file_.ReadExact(bytes, n);
  }

  int ReadTrack(int t, int64_t start, bool& present) {
    uint8_t head[fix::kTrackHeaderSize];
    if (!ReadAt(start, head, 4)) return kResultReadError;
    if (!Marked(head)) return Refuse(BadTrackMark(t));
    if (Marked(head + fix::kAbsentMarkA)) return kResultOk;
    // A header cut short by the end of the file is a missing track too.
    if (!ReadAt(start, head, sizeof(head)) || Marked(head + fix::kAbsentMarkB)) return kResultOk;
    const fix::Mode* mode = ModeOf(head[fix::kModeOffset], head[fix::kSubModeOffset]);
    if (mode == nullptr) {
      return Refuse(UnknownMode(t, head[fix::kModeOffset]));
    }
    present = true;

    uint8_t count[2];
    if (!ReadAt(start + mode->count_at, count, sizeof(count))) return kResultReadError;
    const int sectors = count[1] != 0 ? count[1] : count[0];
    if (sectors > kMaxSectorsPerTrack) return Refuse(kMsgBadImageData);
    uint8_t records[kMaxSectorsPerTrack * fix::kSectorRecordSize];
    if (!ReadAt(start + mode->records_at, records, sectors * fix::kSectorRecordSize)) {
      return kResultReadError;
    }
    // A recorded C of 0xFF ends the row: it and every record after it stay
    // empty, as they get no data.
    int used = 0;
    for (; used < sectors; ++used) {
      const uint8_t* r = records + used * fix::kSectorRecordSize;
      const uint8_t* id = r + fix::kRecordIdOffset;
      if (id[0] == kEmptySlotMark) break;
      if (SectorLength(id[3]) == 0) return Refuse(kMsgBadImageData);
      const bool fm = (r[fix::kRecordDensityOffset] & fix::kSingleDensity) != 0;
      SetSectorId(image_, t, used, id[0], id[1], id[2], id[3], 0, fm ? 0 : 1);
    }

    if (!file_.Seek(static_cast<uint64_t>(start + mode->data_at +
                                          int64_t{mode->data_per_sector} * sectors))) {
      return kResultReadError;
    }
    for (int s = 0; s < used; ++s) {
      uint8_t skipped[2];
      if (!file_.ReadExact(skipped, mode->skipped)) return kResultReadError;
      uint8_t* sector = data_.Reserve(SectorLength(image_.ids[t][s].n));
      if (sector == nullptr) return Refuse(kMsgImageTooLarge);
      if (!file_.ReadExact(sector, SectorLength(image_.ids[t][s].n))) return kResultReadError;
    }
    if (t == 1) {
      image_.sectors_per_track = static_cast<uint8_t>(used);
      image_.size_code = used > 0 ? image_.ids[1][0].n : 0;
    }
    return kResultOk;
  }

  InputFile& file_;
  DiskImage& image_;
  DiskDataWriter data_;
  char* message_;
};

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "FIX形式入力Plug-in Ver.1.02", {kCapDiskImage, kCapTitle}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, message, kResultReadError, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultNotMine;
    return IsFix(header) ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header, sizeof(header))) return kResultReadError;
    SetMessage(message,
               "\r\nFIX形式（ " + SjisToUtf8(Field(header, fix::kLabelOffset, fix::kLabelSize)) +
                   " ）\r\n" + SjisToUtf8(Field(header, fix::kCommentOffset, fix::kCommentSize)));
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return FixDisk(file, *static_cast<DiskImage*>(target), message).Read(progress, title);
  });
}

}  // extern "C"
