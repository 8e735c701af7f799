#include "press1_file.h"

#include <algorithm>
#include <cstring>

#include "adaptive_huffman_encoder.h"
#include "byte_order.h"
#include "disk_data.h"

namespace dravik::test {

std::pair<size_t, size_t> CylinderSpan(const DiskImage& disk, int cylinder) {
  size_t offset = 0;
  for (int t = 0; t < 2 * cylinder; ++t) offset += RowDataLength(disk, t);
  return {offset, RowDataLength(disk, 2 * cylinder) + RowDataLength(disk, 2 * cylinder + 1)};
}

namespace {

Bytes RecordBytes(const Press1Record& r) {
  Bytes record(117, 0);
  std::memcpy(record.data() + 5, r.comment.data(), std::min<size_t>(r.comment.size(), 80));
  record[87] = r.type;
  record[99] = r.sub_type;
  const int cylinders = r.disk->track_count / 2;
  Bytes table(4 * cylinders);
  for (int c = 0; c < cylinders; ++c) {
    const auto [offset, length] = CylinderSpan(*r.disk, c);
    const Bytes raw(r.disk->data + offset, r.disk->data + offset + length);
    const uint8_t storage = r.storage(c);
    Bytes block = {0, 0, 0, 0, storage};
    const Bytes data = storage == 1 ? Compress(raw) : storage == 3 ? Bytes{raw[0]} : raw;
    block.insert(block.end(), data.begin(), data.end());
    if (r.spoil) r.spoil(c, block);
    WriteLe32(table.data() + 4 * c, static_cast<uint32_t>(record.size()));
    record.insert(record.end(), block.begin(), block.end());
  }
  record.insert(record.end(), table.begin(), table.end());
  WriteLe32(record.data(), static_cast<uint32_t>(record.size()));
  return record;
}

}  // namespace

Bytes Press1File(const std::vector<Press1Record>& records, const std::string& title) {
  Bytes file(94, 0);
  std::memcpy(file.data(), "FICT", 4);
  file[13] = 'P';
  std::memcpy(file.data() + 14, title.data(), std::min<size_t>(title.size(), 80));
  for (const Press1Record& r : records) {
    const Bytes bytes = RecordBytes(r);
    file.insert(file.end(), bytes.begin(), bytes.end());
  }
  return file;
}

}  // namespace dravik::test
