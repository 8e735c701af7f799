// Fuzz driver for the FILE extractor, linked with its objects. Noise in the
// data area almost never forms a FAT volume or a flat table, so the input is
// laid out where the extractor looks: on a disk of a shape it knows, as the
// FAT, root directory and clusters, or as one of the flat tables. Whatever
// the disk holds, nothing may appear outside the scratch output folder.
//
// Input: byte 0 picks the layout (low 2 bits) and the shape; for the FAT
// layouts byte 1 gives the FAT bytes (x2) and byte 2 the root bytes (x4)
// that follow, the rest fills the clusters from the first one on.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "dravik/plugin_api.h"
#include "fuzz_support.h"

namespace {

struct Shape {
  int tracks;
  int sectors;
  int size_code;
  uint8_t media;
  size_t fat_offset;   // the FAT, after its three fixed bytes
  size_t root_offset;  // the standard layout's root directory
  size_t data_offset;  // and its first cluster
};

// 1.44M, 1.25M, 1.21M, 720K and 640K with their standard FAT layouts.
constexpr Shape kShapes[] = {
    {160, 18, 2, 0xF0, 512, 19 * 512, 33 * 512}, {154, 8, 3, 0xFE, 1024, 5 * 1024, 11 * 1024},
    {160, 15, 2, 0xF9, 512, 15 * 512, 29 * 512}, {160, 9, 2, 0xF9, 512, 7 * 512, 14 * 512},
    {160, 8, 2, 0xFB, 512, 5 * 512, 12 * 512},
};

int Progress(int, int, char* message) {
  if (message != nullptr) message[0] = '\0';
  return 0;
}

// Copies up to n bytes of the input to at, within the data area.
void Place(DiskImage& image, size_t at, const uint8_t*& data, size_t& size, size_t n) {
  n = std::min({n, size, at < kDataCapacity ? kDataCapacity - at : 0});
  std::memcpy(image.data + at, data, n);
  data += n;
  size -= n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::Scratch scratch;
  static auto* image = new DiskImage;
  if (size < 3) return 0;
  const int layout = data[0] & 3;
  const Shape& shape = kShapes[(data[0] >> 2) % std::size(kShapes)];
  const size_t fat_bytes = size_t{data[1]} * 2;
  const size_t root_bytes = size_t{data[2]} * 4;
  data += 3;
  size -= 3;

  std::memset(image, 0, sizeof(*image));
  image->track_count = static_cast<uint8_t>(shape.tracks);
  image->head_count = 2;
  image->sectors_per_track = static_cast<uint8_t>(shape.sectors);
  image->size_code = static_cast<uint8_t>(shape.size_code);
  std::memset(image->ids, 0xFF, sizeof(image->ids));
  for (int t = 0; t < shape.tracks; ++t) {
    for (int s = 0; s < shape.sectors; ++s) {
      image->ids[t][s] = SectorId{static_cast<uint8_t>(t / 2),
                                  static_cast<uint8_t>(t % 2),
                                  static_cast<uint8_t>(s + 1),
                                  static_cast<uint8_t>(shape.size_code),
                                  0,
                                  1};
    }
  }

  switch (layout) {
    case 0: {  // standard FAT
      uint8_t* fat = image->data + shape.fat_offset;
      fat[0] = shape.media;
      fat[1] = fat[2] = 0xFF;
      Place(*image, shape.fat_offset + 3, data, size, fat_bytes);
      Place(*image, shape.root_offset, data, size, root_bytes);
      Place(*image, shape.data_offset, data, size, size);
      break;
    }
    case 1: {  // compact FAT: root sector 4 on 9-sector shapes, else 3
      const size_t root = (shape.sectors == 9 ? 4 : 3) * 1024;
      std::memset(image->data + 0x400, 0xFF, 3);
      Place(*image, 0x403, data, size, fat_bytes);
      Place(*image, root, data, size, root_bytes);
      Place(*image, root + 1024, data, size, size);
      break;
    }
    case 2:  // banked table, with the file data just before it
      Place(*image, 0xA0000, data, size, fat_bytes + root_bytes);
      Place(*image, 0x9F000, data, size, 0x1000);
      break;
    default:  // sector table
      Place(*image, 0x400, data, size, size);
      break;
  }

  char message[kMessageSize] = {};
  const std::string out = scratch.folder() + "out/DISK.";
  WriteDisk(image, out.c_str(), 0, &Progress, message);
  dravik::fuzz::CheckTexts(message, nullptr);
  scratch.Clean();
  return 0;
}
