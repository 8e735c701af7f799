// Writes FDD ("VFD1.00") images for the Virtual98 emulator. The header block
// holds a 160 x 26 table with every sector's ID and the file offset of its
// data; a sector whose bytes are all equal stores only that byte.
#include <cstring>
#include <string_view>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "fdd_layout.h"
#include "file_io.h"
#include "plugin_export.h"

namespace dravik {
namespace {

// At most 127 bytes of the title, cut so that no half of a double-byte
// character is left at the end: the field is scanned from its start, since a
// trail byte may lie in the lead-byte range too.
void PutTitle(const DiskImage& image, uint8_t* field) {
  const size_t length = BoundedLength(image.title, kTitleSize);
  std::memcpy(field, image.title,
              length < fdd::kCommentMaxLength ? length : fdd::kCommentMaxLength);
  constexpr size_t kLast = fdd::kCommentMaxLength - 1;
  size_t i = 0;
  while (i < kLast) i += IsSjisLeadByte(field[i]) ? 2 : 1;
  if (i == kLast && IsSjisLeadByte(field[kLast])) field[kLast] = 0;
}

void PutEmptyEntry(uint8_t* e) {
  std::memset(e, fdd::kEmpty, fdd::kEntryOffset);
  WriteLe32(e + fdd::kEntryOffset, fdd::kNotStored);
}

bool AllBytesEqual(const uint8_t* bytes, size_t length) {
  return length <= 1 || std::memcmp(bytes, bytes + 1, length - 1) == 0;
}

// Builds the header block; answers a refusal message or an empty text.
std::string_view BuildHeader(const DiskImage& image, std::vector<uint8_t>& header) {
  const std::string_view refusal = CheckSectorTable(image, image.track_count, fdd::kMaxTrackBytes);
  if (!refusal.empty()) return refusal;

  header.assign(fdd::kHeaderSize, 0);
  std::memcpy(header.data(), fdd::kMagic, sizeof(fdd::kMagic));
  PutTitle(image, header.data() + fdd::kCommentOffset);
  std::memcpy(header.data() + fdd::kMarkOffset, fdd::kMark, fdd::kMarkSize);

  // A size_code without a length counts as 0 bytes, never as a table index.
  const uint64_t nominal = static_cast<uint64_t>(SectorLength(image.size_code)) *
                           image.sectors_per_track * image.track_count;
  const uint8_t large = nominal >= fdd::kLargeDiskBytes ? 1 : 0;

  DiskDataReader data(image);
  uint32_t file_offset = fdd::kHeaderSize;
  for (int t = 0; t < kMaxTracks; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      uint8_t* e = header.data() + fdd::EntryAt(t, s);
      const SectorId& id = image.ids[t][s];
      if (t >= image.track_count || IsEmptySlot(&id)) {
        PutEmptyEntry(e);
        continue;
      }
      e[fdd::kEntryC] = id.c;
      e[fdd::kEntryH] = id.h;
      e[fdd::kEntryR] = id.r;
      e[fdd::kEntryN] = id.n;
      e[fdd::kEntryDeleted] = id.deleted != 0 ? 1 : 0;
      e[fdd::kEntryDensity] = id.mfm != 0 ? 1 : 0;
      e[fdd::kEntryCapacity] = large;
      const uint32_t length = SectorLength(id.n);
      const uint8_t* bytes = data.Take(length);
      if (bytes == nullptr) return kMsgImageTooLarge;  // the table check rules this out
      if (AllBytesEqual(bytes, length)) {
        e[fdd::kEntryFill] = bytes[0];
        WriteLe32(e + fdd::kEntryOffset, fdd::kNotStored);
      } else {
        e[fdd::kEntryFill] = fdd::kFillOfStored;
        WriteLe32(e + fdd::kEntryOffset, file_offset);
        file_offset += length;
      }
    }
  }
  return {};
}

int WriteDiskBody(DiskImage& image, const char* path, ProgressCallback progress,
                  char* message) {
  std::vector<uint8_t> header;
  const std::string_view refusal = BuildHeader(image, header);
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }
  OutputFile file;
  if (!file.Create(path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, path, file.error()));
    return kResultFailed;
  }
  if (!file.Write(header.data(), header.size())) return kResultWriteError;

  // Table order is data order: every stored sector lands at its offset.
  // Stored sectors that follow one another in the record go out as one
  // write, most disks' data in a few large pieces instead of a call per
  // sector.
  DiskDataReader data(image);
  const uint8_t* run = nullptr;
  size_t run_length = 0;
  char text[kMessageSize] = {};
  for (int t = 0; t < kMaxTracks; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const uint8_t* e = header.data() + fdd::EntryAt(t, s);
      if (e[fdd::kEntryC] == fdd::kEmpty) continue;
      const uint32_t length = SectorLength(e[fdd::kEntryN]);
      const uint8_t* bytes = data.Take(length);
      if (ReadLe32(e + fdd::kEntryOffset) == fdd::kNotStored) continue;
      if (run != nullptr && run + run_length == bytes) {
        run_length += length;
        continue;
      }
      if (run_length > 0 && !file.Write(run, run_length)) return kResultWriteError;
      run = bytes;
      run_length = length;
    }
    text[0] = '\0';
    if (progress != nullptr && progress(t, image.track_count, text) != 0) return kResultAborted;
  }
  if (run_length > 0 && !file.Write(run, run_length)) return kResultWriteError;
  return file.Close() ? kResultOk : kResultWriteError;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindOutput,
                           "FDD形式出力Plug-in Ver.1.00",
                           {kCapDiskImage},
                           ".FDD",
                           "FDD形式(Virtual98用)"},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return WriterExport(direct, message,
                      [&] { return WriteDiskBody(*image, output_path, progress, message); });
}

}  // extern "C"
