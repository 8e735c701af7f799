#include "mahalito_pair.h"

#include <algorithm>

#include "dravik/disk_image.h"

namespace dravik::test {
namespace {

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

}  // namespace

std::string MahalitoRecord(bool fill, int fill_byte, int c, int h, int r, int n, int deleted) {
  return Byte(fill) + Byte(fill_byte) + Byte(c) + Byte(h) + Byte(r) + Byte(n) + Byte(0) +
         Byte(deleted);
}

MahalitoPair MahalitoFiles(const DiskImage& disk, const std::string& header) {
  MahalitoPair pair{header, ""};
  size_t cursor = 0;
  for (int t = 0; t < disk.track_count; ++t) {
    int count = 0;
    while (count < kMaxSectorsPerTrack && !IsEmptySlot(&disk.ids[t][count])) ++count;
    pair.id += Byte(count) + Byte(count == 0 ? 1 : disk.ids[t][0].mfm);
    for (int s = 0; s < count; ++s) {
      const SectorId& id = disk.ids[t][s];
      const uint32_t length = SectorLength(id.n);
      const uint8_t* bytes = disk.data + cursor;
      const bool fill = std::all_of(bytes, bytes + length, [&](uint8_t b) { return b == bytes[0]; });
      pair.id += MahalitoRecord(fill, fill ? bytes[0] : 0, id.c, id.h, id.r, id.n, id.deleted);
      if (!fill) pair.dat.append(reinterpret_cast<const char*>(bytes), length);
      cursor += length;
    }
  }
  return pair;
}

}  // namespace dravik::test
