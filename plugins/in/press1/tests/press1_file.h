// Press1 files built from generated disks, for the reader's tests and its
// fuzz seeds: each cylinder stored raw, compressed by the test encoder, or
// as its first byte, and blocks that can be spoiled on the way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

using Bytes = std::vector<uint8_t>;

// Offset and length of a cylinder's bytes (rows 2c and 2c + 1) in a disk
// whose rows hold their sectors in R order.
std::pair<size_t, size_t> CylinderSpan(const DiskImage& disk, int cylinder);

struct Press1Record {
  const DiskImage* disk;  // in R order; its track count gives the cylinders
  uint8_t type;
  uint8_t sub_type;
  std::string comment;  // Shift-JIS, up to 80 bytes
  // How each cylinder is stored: 0 raw, 1 compressed, 3 its first byte.
  std::function<uint8_t(int cylinder)> storage;
  // Changes a block (its 5-byte header and data) after it is made.
  std::function<void(int cylinder, Bytes& block)> spoil = nullptr;
};

// The file header with title (Shift-JIS, up to 80 bytes), then the records.
Bytes Press1File(const std::vector<Press1Record>& records, const std::string& title);

}  // namespace dravik::test
