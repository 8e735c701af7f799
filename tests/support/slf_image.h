// SLF files for tests and benchmarks, laid out field by field from the
// format's description: a program head with the maker's mark, then disk
// records. Plain C++ (failures throw std::runtime_error), so the benchmarks
// and the fuzz-seed tool build it too.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

struct SlfTrack {
  std::vector<uint8_t> stored;    // empty: the track is absent
  bool raw = false;               // descriptor bit 15
  std::optional<uint8_t> extra;   // descriptor bit 14 and the extra byte
  uint8_t override_attribute = 0; // follows the extra byte (with a spare 0) when it has bit 1
};

struct SlfRecord {
  uint8_t flags = 0;  // bit 0 2HD, bit 1 160 tracks, bit 4 stored without compression
  uint8_t file_system = 1;
  uint8_t comment_length = 0x9F;
  std::string comment;  // Shift-JIS, at most 159 bytes
  // Attribute and sector count of track 0, track 1 and every later track.
  std::array<uint8_t, 3> attributes{};
  std::array<uint8_t, 3> sectors{};
  std::vector<SlfTrack> tracks = std::vector<SlfTrack>(kMaxTracks);
  std::optional<uint32_t> next;  // the stored L; by default the record's length less 6
};

// The record's bytes, header and tracks.
std::vector<uint8_t> SlfRecordBytes(const SlfRecord& record);

// A program head that puts the first record at first_record (at least 64),
// then the records back to back.
std::vector<uint8_t> SlfFile(const std::vector<SlfRecord>& records, uint32_t first_record = 0x230);

enum class SlfStorage {
  kRaw,     // every track raw (descriptor bit 15), the flag bit 4 set
  kPacked,  // a track of one repeated byte as that byte, others as lha's lh5 streams
            // (raw where lha would not shrink them)
};

// A record of the disk's rows below track_count, each stored in R order. A
// row in the 2:1 interleaved order is marked so; a row whose attribute
// differs from its group's header attribute carries an override; a row of
// deleted sectors sets the extra byte's bit 0; an empty row is absent.
// Every row must be regular: R = 1 .. n in order or interleaved, one N,
// one density, one deleted mark, its group's sector count.
SlfRecord SlfRecordOf(const DiskImage& image, SlfStorage storage);

}  // namespace dravik::test
