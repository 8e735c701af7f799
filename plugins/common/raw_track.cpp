#include "raw_track.h"

#include <cstring>
#include <vector>

#include "disk_data.h"
#include "plugin_export.h"

namespace dravik {

bool TrimTrackCount(DiskImage& image, int first_counted) {
  int regular = first_counted;
  while (regular < kMaxTracks) {
    const SectorId& first = image.ids[regular][0];
    if (IsEmptySlot(&first) || first.n != image.size_code) break;
    ++regular;
  }
  bool trimmed = false;
  if (regular == kTrimmedTrackCount && image.track_count != kTrimmedTrackCount) trimmed = true;
  if (image.track_count != kTrimmedTrackCount && image.track_count != kMaxTracks) trimmed = true;
  if (trimmed) image.track_count = kTrimmedTrackCount;
  return trimmed;
}

std::optional<RawTrack> RawTrackOf(const DiskImage& image, int track) {
  const SectorId* row = image.ids[track];
  int count = 0;
  while (count < kMaxSectorsPerTrack && !IsEmptySlot(&row[count])) ++count;
  for (int s = count; s < kMaxSectorsPerTrack; ++s) {
    if (!IsEmptySlot(&row[s])) return std::nullopt;
  }
  if (count == 0) return RawTrack{};
  const uint8_t n = row[0].n;
  if (SectorLength(n) == 0) return std::nullopt;
  uint32_t seen = 0;
  for (int s = 0; s < count; ++s) {
    const int r = row[s].r;
    if (row[s].n != n || r < 1 || r > count || (seen & (1u << r)) != 0) return std::nullopt;
    seen |= 1u << r;
  }
  return RawTrack{count, n};
}

namespace {

// Places each sector of a row at (R - 1) x its length.
void CopyInROrder(const DiskImage& image, int track, const uint8_t* row_data, uint8_t* out) {
  for (int s = 0; s < kMaxSectorsPerTrack && !IsEmptySlot(&image.ids[track][s]); ++s) {
    const SectorId& id = image.ids[track][s];
    const size_t length = SectorLength(id.n);
    std::memcpy(out + (id.r - 1) * length, row_data + s * length, length);
  }
}

}  // namespace

int WriteTracksInROrder(const DiskImage& image, OutputFile& out, ProgressCallback progress,
                        char* note, char* message) {
  DiskDataReader data(image);
  std::vector<uint8_t> buffer;
  for (int t = 0; t < image.track_count; ++t) {
    const auto track = RawTrackOf(image, t);
    const uint8_t* row = track ? data.Take(track->bytes()) : nullptr;
    if (row == nullptr) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    buffer.resize(track->bytes());
    CopyInROrder(image, t, row, buffer.data());
    if (!out.Write(buffer.data(), buffer.size())) return kResultWriteError;
    if (progress != nullptr && progress(t, image.track_count, note) != 0) return kResultAborted;
  }
  return out.Close() ? kResultOk : kResultWriteError;
}

void NumberRow(DiskImage& image, int track, int sectors, uint8_t n, uint8_t mfm) {
  for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
    if (s < sectors) {
      SetSectorId(image, track, s, static_cast<uint8_t>(track / 2), static_cast<uint8_t>(track % 2),
                  static_cast<uint8_t>(s + 1), n, 0, mfm);
    } else {
      image.ids[track][s] = SectorId{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    }
  }
}

void SetRegularDisk(DiskImage& image, const RegularShape& shape) {
  image.track_count = shape.track_count;
  image.head_count = 2;
  image.sectors_per_track = shape.sectors_per_track;
  image.size_code = shape.size_code;
  for (int t = 0; t < kMaxTracks; ++t) {
    NumberRow(image, t, t < shape.track_count ? shape.sectors_per_track : 0, shape.size_code, 1);
  }
}

int ReadRegularTracks(InputFile& file, DiskImage& image, const std::function<bool(int)>& stored,
                      ProgressCallback progress, char* note, char* message) {
  const RegularShape shape{image.track_count, image.sectors_per_track, image.size_code};
  const size_t track_bytes = shape.track_bytes();
  DiskDataWriter data(image);
  for (int t = 0; t < shape.track_count;) {
    // A run of stored tracks (see kDirectReadRun) is one read, from the
    // file straight into the record; a track not stored is one of
    // zeros.
    const bool in_file = stored(t);
    int end = t + 1;
    if (in_file) {
      while (end < shape.track_count && (end - t) * track_bytes < kDirectReadRun &&
             stored(end)) {
        ++end;
      }
    }
    const size_t run = static_cast<size_t>(end - t) * track_bytes;
    uint8_t* track = data.Reserve(run);
    if (track == nullptr) {
      SetMessage(message, kMsgImageTooLarge);
      return kResultFailed;
    }
    if (!in_file) {
      std::memset(track, 0, run);
    } else if (!file.ReadExact(track, run)) {
      return kResultReadError;
    }
    for (; t < end; ++t) {
      if (progress != nullptr && progress(t, shape.track_count, note) != 0) return kResultAborted;
    }
  }
  return kResultOk;
}

}  // namespace dravik
