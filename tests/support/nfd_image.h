// NFD files (revisions 0 and 1) for tests and fuzz seeds, laid out field by
// field from the format's description, independently of the reader. Plain
// C++, so that tools can build it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

// A sector read several times with differing results: r1 keeps the copies
// after the track's data.
struct NfdRetry {
  int track;
  int slot;      // the sector it repeats
  int copies;    // 1 to 256
};

struct NfdOptions {
  int revision = 0;
  std::string comment;  // Shift-JIS, at most 256 bytes
  uint8_t pda = 0x90;   // disk type in every entry
  std::vector<NfdRetry> retries;  // r1 only
};

inline NfdOptions NfdRevision(int revision, std::string comment = "", uint8_t pda = 0x90) {
  NfdOptions options;
  options.revision = revision;
  options.comment = std::move(comment);
  options.pda = pda;
  return options;
}

// The rows of disk below track_count, each entry with the ID, density and
// deleted mark of its slot; r0 keeps a slot's place in its row, r1 lists a
// row's used slots in order.
std::vector<uint8_t> NfdImage(const DiskImage& disk, const NfdOptions& options);

}  // namespace dravik::test
