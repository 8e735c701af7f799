// Generated disks for tests: the standard shapes of the era, filled with
// data that differs per sector, and a comparison of two records as writers
// see them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

struct DiskShape {
  const char* name;
  int tracks;             // cylinders x heads
  int sectors;            // per track
  int size_code;          // N
  bool fm_track0 = false; // track 0: 26 FM sectors of 128 bytes (mixed 2HD)
};

// 640K 2DD, 720K 2DD, 1.21M 2HC, 1.25M 2HD, 1.44M 2HD, mixed 2HD (26 x 256,
// track 0 26 x 128 FM).
const std::vector<DiskShape>& StandardShapes();
const DiskShape& ShapeNamed(const std::string& name);

// Fills a zeroed record: IDs C = t / 2, H = t % 2, R = slot + 1, data from
// the seed, the title as given (Shift-JIS bytes).
void BuildDisk(DiskImage& image, const DiskShape& shape, uint32_t seed = 1,
               const std::string& title = "");

// Reorders the used slots of one row, each sector's data moving with its
// ID: slot s takes what slot order[s] held.
void PermuteTrack(DiskImage& image, int track, const std::vector<int>& order);
// A disk of the shape (IDs as BuildDisk makes them) whose sectors hold raw,
// a plain sector dump: tracks in order, each track's sectors in R order.
// What raw does not reach stays zero; what goes past the disk is dropped.
void BuildDiskFromRaw(DiskImage& image, const DiskShape& shape, const std::vector<uint8_t>& raw);

// Contents that compress, as on a disk in use, laid over the data of the
// used slots below track_count: text sectors and blank (0xE5) sectors mixed,
// some whole tracks blank and some whole tracks of noise.
void FillWithMixedContent(DiskImage& image, uint32_t seed = 1);

// Puts every row of 26 sectors into the 2:1 interleaved order R = 1, 14, 2,
// 15, ..., 13, 26 (IDs and data move together), as readers deliver mixed
// 2HD disks that their source stores in R order.
void InterleaveRows(DiskImage& image);

// Ways to spoil a 1.25M record (BuildDisk of "1.25M") that a writer must
// refuse before it makes a file, each with the message it refuses with: N
// above 5, track_count above 160, a row over 9472 bytes, more data than the
// record holds.
struct RecordSpoiler {
  const char* name;
  void (*spoil)(DiskImage&);
  std::string_view message;
};
const std::vector<RecordSpoiler>& RecordSpoilers();

// The raw bytes of a disk: every track's sectors in R order, back to back,
// as a plain sector dump holds them.
std::vector<uint8_t> RawBytes(const DiskImage& image);

// "c h r n deleted mfm" in decimal, for comparing one ID in a test.
std::string IdText(const SectorId& id);

// Empty string when both describe the same disk: track count, every used ID
// below it and its data (walked as writers walk it); else what differs.
std::string CompareDisks(const DiskImage& expected, const DiskImage& actual);

}  // namespace dravik::test
