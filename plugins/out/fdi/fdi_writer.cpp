// Writes FDI images for the Anex86 emulator: plain FDI, one geometry for the
// whole disk, when the disk has a regular shape, else FDI2 with one record
// per track. Neither stores sector IDs: a track is understood to hold
// R = 1 to its sector count, all of one length, so its sectors are written in
// R order, and a track that cannot be described that way is refused.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_data.h"
#include "fdi_layout.h"
#include "file_io.h"
#include "plugin_export.h"

namespace dravik {
namespace {

// One track as the file will hold it.
struct Track {
  int count = 0;                                     // used slots, all leading
  std::array<uint8_t, kMaxSectorsPerTrack> order{};  // slots by ascending R
  bool numbered = true;                              // R values are exactly 1 to count
  bool mfm = true;                                   // every sector MFM
  uint8_t n = 0;                                     // of every sector
  const uint8_t* data = nullptr;                     // its sectors in table order
};

std::string UnrepresentableTrack(int t) {
  char text[96];
  std::snprintf(text, sizeof(text), "\r\nトラック%dはFDI形式で表せません", t);
  return text;
}

// Lays out every track below track_count; answers a refusal or "".
std::string PlanTracks(const DiskImage& image, std::vector<Track>& tracks) {
  const std::string_view refusal = CheckSectorTable(image, image.track_count, fdi::kMaxTrackBytes);
  if (!refusal.empty()) return std::string(refusal);

  tracks.assign(image.track_count, Track{});
  DiskDataReader data(image);
  for (int t = 0; t < image.track_count; ++t) {
    const SectorId* row = image.ids[t];
    Track& track = tracks[t];
    while (track.count < kMaxSectorsPerTrack && !IsEmptySlot(&row[track.count])) ++track.count;
    // A sector after a gap, or a second sector length, has no place in a
    // format that numbers a track's sectors 1 to n with one length.
    for (int s = track.count; s < kMaxSectorsPerTrack; ++s) {
      if (!IsEmptySlot(&row[s])) return UnrepresentableTrack(t);
    }
    track.n = track.count > 0 ? row[0].n : 0;
    std::array<bool, kMaxSectorsPerTrack + 1> seen{};
    for (int s = 0; s < track.count; ++s) {
      if (row[s].n != track.n) return UnrepresentableTrack(t);
      if (row[s].mfm == 0) track.mfm = false;
      const uint8_t r = row[s].r;
      if (r < 1 || r > track.count || seen[r]) track.numbered = false;
      if (r <= track.count) seen[r] = true;
      track.order[s] = static_cast<uint8_t>(s);
    }
    // Sorting by R keeps a renumbered track's sectors in a defined order;
    // equal R values keep their table order.
    std::stable_sort(track.order.begin(), track.order.begin() + track.count,
                     [row](uint8_t a, uint8_t b) { return row[a].r < row[b].r; });
    track.data = data.Take(static_cast<size_t>(track.count) * SectorLength(track.n));
    if (track.data == nullptr) return std::string(kMsgImageTooLarge);  // ruled out above
  }
  return {};
}

// Plain FDI describes every track by the header alone: 154 or 160 tracks on
// one or two heads, each exactly sectors_per_track MFM sectors of size_code,
// numbered 1 to that count.
bool FitsPlainFdi(const DiskImage& image, const std::vector<Track>& tracks) {
  if (image.track_count != 154 && image.track_count != 160) return false;
  if (image.head_count != 1 && image.head_count != 2) return false;
  for (const Track& track : tracks) {
    if (track.count != image.sectors_per_track) return false;
    if (track.count == 0) continue;
    if (!track.mfm || !track.numbered || track.n != image.size_code) return false;
  }
  return true;
}

// Both variants name the medium alike; plain FDI meets only 154 and 160.
uint32_t MediaType(const DiskImage& image) {
  if (image.track_count != 160) return fdi::kMedia2HD;
  if (image.sectors_per_track == 18) return fdi::kMedia144;
  if (image.sectors_per_track == 15) return fdi::kMedia2HD;
  return fdi::kMedia2DD;
}

void BuildPlainHeader(const DiskImage& image, uint8_t* header) {
  const uint32_t length = SectorLength(image.size_code);
  const uint32_t cylinders = image.track_count / image.head_count;
  WriteLe32(header + fdi::kPlainMediaType, MediaType(image));
  WriteLe32(header + fdi::kPlainHeaderSize, fdi::kHeaderSize);
  WriteLe32(header + fdi::kPlainDataSize,
            image.head_count * cylinders * length * image.sectors_per_track);
  WriteLe32(header + fdi::kPlainSectorLength, length);
  WriteLe32(header + fdi::kPlainSectors, image.sectors_per_track);
  WriteLe32(header + fdi::kPlainHeads, image.head_count);
  WriteLe32(header + fdi::kPlainCylinders, cylinders);
}

void BuildFdi2Header(const DiskImage& image, const std::vector<Track>& tracks, uint8_t* header) {
  uint32_t media = MediaType(image);
  if (image.ids[0][0].mfm == 0) media |= fdi::kMediaFm;
  std::memcpy(header, fdi::kFdi2Magic, sizeof(fdi::kFdi2Magic));
  WriteLe32(header + fdi::kFdi2MediaType, media);
  WriteLe32(header + fdi::kFdi2HeaderSize, fdi::kHeaderSize);
  WriteLe32(header + fdi::kFdi2ListOffset, fdi::kFdi2ListStart);
  WriteLe32(header + fdi::kFdi2RecordCount, image.track_count);
  const uint8_t media_byte = static_cast<uint8_t>(media);
  uint32_t offset = 0;
  for (int t = 0; t < image.track_count; ++t) {
    const Track& track = tracks[t];
    uint8_t* record = header + fdi::kFdi2ListStart + fdi::kRecordSize * t;
    record[fdi::kRecordKind] = fdi::kKindOneTrack;
    record[fdi::kRecordFlags] = image.ids[t][0].mfm != 0
                                    ? static_cast<uint8_t>(media_byte & fdi::kMediaClassMask)
                                    : static_cast<uint8_t>(media_byte | fdi::kMediaFm);
    record[fdi::kRecordTrack] = static_cast<uint8_t>(t);
    record[fdi::kRecordSectors] = static_cast<uint8_t>(track.count);
    record[fdi::kRecordCylinder] = static_cast<uint8_t>(t / 2);
    record[fdi::kRecordHead] = static_cast<uint8_t>(t % 2);
    record[fdi::kRecordSectorsAgain] = static_cast<uint8_t>(track.count);
    record[fdi::kRecordN] = image.ids[t][0].n;
    WriteLe32(record + fdi::kRecordDataOffset, offset);
    offset += track.count * SectorLength(image.ids[t][0].n);
  }
  WriteLe32(header + fdi::kFdi2DataSize, offset);
}

int WriteDiskBody(DiskImage& image, const char* path, ProgressCallback progress,
                  char* message) {
  std::vector<Track> tracks;
  const std::string refusal = PlanTracks(image, tracks);
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }
  std::vector<uint8_t> header(fdi::kHeaderSize, 0);
  if (FitsPlainFdi(image, tracks)) {
    BuildPlainHeader(image, header.data());
  } else {
    BuildFdi2Header(image, tracks, header.data());
  }

  OutputFile file;
  if (!file.Create(path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, path, file.error()));
    return kResultFailed;
  }
  if (!file.Write(header.data(), header.size())) return kResultWriteError;

  std::array<uint8_t, fdi::kMaxTrackBytes> buffer;
  char text[kMessageSize] = {};
  for (int t = 0; t < image.track_count; ++t) {
    const Track& track = tracks[t];
    const size_t length = SectorLength(track.n);
    for (int i = 0; i < track.count; ++i) {
      std::memcpy(buffer.data() + i * length, track.data + track.order[i] * length, length);
    }
    if (!file.Write(buffer.data(), track.count * length)) return kResultWriteError;
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
        {kKindOutput, "FDI形式出力Plug-in Ver.1.04", {kCapDiskImage}, ".FDI", "FDI形式(Anex86用)"},
        identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return WriterExport(direct, message,
                      [&] { return WriteDiskBody(*image, output_path, progress, message); });
}

}  // extern "C"
