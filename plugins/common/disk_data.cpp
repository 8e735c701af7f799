#include "disk_data.h"

#include <cstring>
#include <map>
#include <utility>

#include "plugin_export.h"

namespace dravik {

bool DiskDataWriter::Append(const void* bytes, size_t n) {
  uint8_t* dest = Reserve(n);
  if (dest == nullptr) return false;
  if (n != 0) std::memcpy(dest, bytes, n);
  return true;
}

uint8_t* DiskDataWriter::Reserve(size_t n) {
  if (n > kDataCapacity - used_) return nullptr;
  uint8_t* dest = image_.data + used_;
  used_ += n;
  return dest;
}

const uint8_t* DiskDataReader::Take(size_t n) {
  if (n > kDataCapacity - used_) return nullptr;
  const uint8_t* src = image_.data + used_;
  used_ += n;
  return src;
}

const uint8_t* DiskDataReader::View(size_t offset, size_t n) const {
  if (offset > kDataCapacity || n > kDataCapacity - offset) return nullptr;
  return image_.data + offset;
}

void ClearSectorIds(DiskImage& image) {
  std::memset(image.ids, kEmptySlotMark, sizeof(image.ids));
}

void SetSectorId(DiskImage& image, int track, int slot, uint8_t c, uint8_t h,
                 uint8_t r, uint8_t n, uint8_t deleted, uint8_t mfm) {
  image.ids[track][slot] = SectorId{c, h, r, n, deleted, mfm};
}

int LastRowWithSector(const DiskImage& image, int limit) {
  if (limit > kMaxTracks) limit = kMaxTracks;
  for (int t = limit - 1; t >= 0; --t) {
    for (const SectorId& id : image.ids[t]) {
      if (!IsEmptySlot(&id)) return t;
    }
  }
  return -1;
}

void SetStoredTableGeometry(DiskImage& image) {
  const int last = LastRowWithSector(image);
  image.track_count = static_cast<uint8_t>(last < 1 ? 1 : last + 1);
  image.head_count = 2;
  std::map<std::pair<int, int>, int> rows_of_shape;
  std::pair<int, int> best{0, 0};
  int best_rows = 0;
  for (int t = 0; t <= last; ++t) {
    int count = 0;
    while (count < kMaxSectorsPerTrack && !IsEmptySlot(&image.ids[t][count])) ++count;
    if (count == 0) continue;
    const std::pair<int, int> shape{count, image.ids[t][0].n};
    const int rows = ++rows_of_shape[shape];
    if (rows > best_rows) {
      best_rows = rows;
      best = shape;
    }
  }
  image.sectors_per_track = static_cast<uint8_t>(best.first);
  image.size_code = static_cast<uint8_t>(best.second);
}

size_t RowDataLength(const DiskImage& image, int track, bool* valid) {
  size_t total = 0;
  bool ok = true;
  for (const SectorId& id : image.ids[track]) {
    if (IsEmptySlot(&id)) continue;
    const uint32_t len = SectorLength(id.n);
    if (len == 0) ok = false;
    total += len;
  }
  if (valid != nullptr) *valid = ok;
  return total;
}

std::string_view CheckSectorTable(const DiskImage& image, int rows, size_t max_row_bytes) {
  if (rows < 0 || rows > kMaxTracks) return kMsgBadImageData;
  size_t total = 0;
  size_t longest = 0;
  for (int t = 0; t < rows; ++t) {
    bool valid = true;
    const size_t row = RowDataLength(image, t, &valid);
    if (!valid) return kMsgBadImageData;
    total += row;
    if (row > longest) longest = row;
  }
  if (total > static_cast<size_t>(kDataCapacity)) return kMsgImageTooLarge;
  if (longest > max_row_bytes) return kMsgBadImageData;
  return {};
}

}  // namespace dravik
