// Plain sector dumps (TFD, BKDSK) store each track's sectors in R order and
// nothing else: no IDs, no sizes. What the record holds beyond that cannot be
// written to them, so the writers check every row they write against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "dravik/plugin_api.h"
#include "file_io.h"

namespace dravik {

inline constexpr int kTrimmedTrackCount = 154;  // 77 cylinders x 2 heads
inline constexpr std::string_view kMsgTrackCountAdjusted = "\r\n出力トラック数の調整を行いました";

// Lowers track_count to 154 when the disk's regular format ends there (the
// tracks from first_counted up to 153 keep size_code, track 154 does not) or
// when the count is neither 154 nor 160. True when it changed the count.
bool TrimTrackCount(DiskImage& image, int first_counted);

struct RawTrack {
  int sectors = 0;
  uint8_t size_code = 0;
  size_t bytes() const { return static_cast<size_t>(sectors) * SectorLength(size_code); }
};

// The row as a dump can hold it: used slots 0 .. n-1 with no used slot after
// a gap, R = 1 .. n once each, one size code. nullopt for any other row.
std::optional<RawTrack> RawTrackOf(const DiskImage& image, int track);

// Writes the tracks below track_count, each in R order, and closes the
// file; note goes to the callback after each track. The caller has checked
// every track with RawTrackOf; one that fails it still is never written, but
// refused as bad data. Answers the export's result.
int WriteTracksInROrder(const DiskImage& image, OutputFile& out, ProgressCallback progress,
                        char* note, char* message);

}  // namespace dravik
