#include "raw_track.h"

#include <cstring>

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

void CopyInROrder(const DiskImage& image, int track, const uint8_t* row_data, uint8_t* out) {
  for (int s = 0; s < kMaxSectorsPerTrack && !IsEmptySlot(&image.ids[track][s]); ++s) {
    const SectorId& id = image.ids[track][s];
    const size_t length = SectorLength(id.n);
    std::memcpy(out + (id.r - 1) * length, row_data + s * length, length);
  }
}

}  // namespace dravik
