// Plain sector dumps (TFD, BKDSK) store each track's sectors in R order and
// nothing else: no IDs, no sizes. What the record holds beyond that cannot be
// written to them, so the writers check every row they write against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Reader side. Formats that store no IDs describe a disk of one regular
// shape and keep each track's sectors in R order; the reader numbers them.
struct RegularShape {
  uint8_t track_count;
  uint8_t sectors_per_track;
  uint8_t size_code;
  size_t track_bytes() const { return sectors_per_track * size_t{SectorLength(size_code)}; }
};

// Slots 0 .. sectors - 1 of the row become C = track / 2, H = track % 2,
// R = slot + 1 of size code n, not deleted; the rest of the row is emptied.
void NumberRow(DiskImage& image, int track, int sectors, uint8_t n, uint8_t mfm);

// The geometry of a regular MFM disk and its whole ID table: every row
// below track_count numbered, every other row empty.
void SetRegularDisk(DiskImage& image, const RegularShape& shape);

// Reads the tracks below track_count from the file's position, one track
// length each; a track that stored() declines is zero bytes and takes
// nothing from the file. note goes to progress(t, track_count) after each
// track. Answers 0, 1 (aborted), 6 (short read), or 8 with message for a
// shape the record cannot hold.
int ReadRegularTracks(InputFile& file, DiskImage& image, const std::function<bool(int)>& stored,
                      ProgressCallback progress, char* note, char* message);

}  // namespace dravik
