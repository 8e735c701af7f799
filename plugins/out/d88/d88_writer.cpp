// Writes D88 images, the format most of today's PC-98 emulators and disk
// tools read. Every sector carries its own ID, density and deleted mark, and
// a track keeps its sectors in the order the record holds them, which is the
// order they lie on the disk: an interleaved track stays interleaved.
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "byte_order.h"
#include "d88_layout.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "plugin_export.h"

namespace dravik {
namespace {

// No double-density track holds more data than this (250 kbit/s for a fifth
// of a second, gaps and marks included); a disk with a longer track is
// high-density. The record says nothing else about the medium.
constexpr size_t kDoubleDensityTrackBytes = 6250;

struct Layout {
  std::array<uint32_t, d88::kTrackEntries> offsets{};
  std::array<int, kMaxTracks> counts{};  // used slots of each row
  uint32_t disk_size = d88::kHeaderSize;
  uint8_t media = d88::kMedia2DD;
};

Layout PlanLayout(const DiskImage& image) {
  Layout layout;
  size_t longest = 0;
  for (int t = 0; t < image.track_count; ++t) {
    int count = 0;
    for (const SectorId& id : image.ids[t]) count += IsEmptySlot(&id) ? 0 : 1;
    if (count == 0) continue;  // an unformatted track has no offset
    const size_t data = RowDataLength(image, t);
    longest = std::max(longest, data);
    layout.counts[t] = count;
    layout.offsets[t] = layout.disk_size;
    // At most 160 x 26 headers and the record's data: far below 4 GB.
    layout.disk_size += static_cast<uint32_t>(count * d88::kSectorHeaderSize + data);
  }
  layout.media = longest > kDoubleDensityTrackBytes ? d88::kMedia2HD : d88::kMedia2DD;
  return layout;
}

std::vector<uint8_t> BuildHeader(const DiskImage& image, const Layout& layout) {
  std::vector<uint8_t> header(d88::kHeaderSize, 0);
  const std::string_view title(image.title, BoundedLength(image.title, kTitleSize));
  std::memcpy(header.data(), title.data(), SjisPrefixLength(title, d88::kNameMaxLength));
  header[d88::kProtectOffset] = d88::kWritable;
  header[d88::kMediaOffset] = layout.media;
  WriteLe32(header.data() + d88::kDiskSizeOffset, layout.disk_size);
  for (int t = 0; t < d88::kTrackEntries; ++t) {
    WriteLe32(header.data() + d88::kTrackTableOffset + 4 * t, layout.offsets[t]);
  }
  return header;
}

// One track as the file holds it: each used slot's header and data, in slot
// order. data is the row's data in the record.
void BuildTrack(const SectorId* row, int count, const uint8_t* data, std::vector<uint8_t>& track) {
  track.clear();
  for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
    const SectorId& id = row[s];
    if (IsEmptySlot(&id)) continue;
    const uint32_t length = SectorLength(id.n);
    uint8_t h[d88::kSectorHeaderSize] = {};
    h[d88::kSectorC] = id.c;
    h[d88::kSectorH] = id.h;
    h[d88::kSectorR] = id.r;
    h[d88::kSectorN] = id.n;
    WriteLe16(h + d88::kSectorCount, static_cast<uint16_t>(count));
    h[d88::kSectorDensity] = id.mfm != 0 ? d88::kDensityMfm : d88::kDensityFm;
    h[d88::kSectorDeleted] = id.deleted != 0 ? d88::kDeleted : d88::kNotDeleted;
    h[d88::kSectorStatus] = id.deleted != 0 ? d88::kStatusDeletedData : d88::kStatusNormal;
    WriteLe16(h + d88::kSectorDataSize, static_cast<uint16_t>(length));
    track.insert(track.end(), h, h + sizeof(h));
    track.insert(track.end(), data, data + length);
    data += length;
  }
}

int WriteDiskBody(const DiskImage& image, const char* path, ProgressCallback progress,
                  char* message) {
  // No row limit of its own: a sector's length is a 16-bit field, and the
  // longest sector the record holds is 4096 bytes.
  const std::string_view refusal = CheckSectorTable(image, image.track_count, kDataCapacity);
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }
  const Layout layout = PlanLayout(image);
  OutputFile file;
  if (!file.Create(path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, path, file.error()));
    return kResultFailed;
  }
  const std::vector<uint8_t> header = BuildHeader(image, layout);
  if (!file.Write(header.data(), header.size())) return kResultWriteError;

  DiskDataReader data(image);
  std::vector<uint8_t> track;
  char text[kMessageSize] = {};
  for (int t = 0; t < image.track_count; ++t) {
    // The table check guarantees the row's data is inside the record.
    const uint8_t* row_data = data.Take(RowDataLength(image, t));
    if (layout.counts[t] > 0) {
      BuildTrack(image.ids[t], layout.counts[t], row_data, track);
      if (!file.Write(track.data(), track.size())) return kResultWriteError;
    }
    text[0] = '\0';
    if (progress != nullptr && progress(t, image.track_count, text) != 0) return kResultAborted;
  }
  return file.Close() ? kResultOk : kResultWriteError;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo(
        {kKindOutput, "D88形式出力Plug-in Ver.1.00", {kCapDiskImage}, ".D88", "D88形式"}, identity,
        caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return WriterExport(direct, message,
                      [&] { return WriteDiskBody(*image, output_path, progress, message); });
}

}  // extern "C"
