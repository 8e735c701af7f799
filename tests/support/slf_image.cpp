#include "slf_image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "lha_stream.h"

namespace dravik::test {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// The 2:1 interleave: stored sector k lies in slot 2k in the first half
// (the middle one included for an odd count), 2(k - half) + 1 after it.
int Interleaved(int k, int n) {
  const int half = (n + 1) / 2;
  return k < half ? 2 * k : 2 * (k - half) + 1;
}

struct Row {
  int sectors = 0;
  uint8_t attribute = 0;
  uint8_t deleted = 0;
  std::vector<uint8_t> bytes;  // in R order
};

Row RowOf(const DiskImage& image, int t, const uint8_t*& cursor) {
  Row row;
  const SectorId* ids = image.ids[t];
  while (row.sectors < kMaxSectorsPerTrack && !IsEmptySlot(&ids[row.sectors])) ++row.sectors;
  for (int s = row.sectors; s < kMaxSectorsPerTrack; ++s) {
    if (!IsEmptySlot(&ids[s])) throw std::runtime_error("slf: a gap in a row");
  }
  if (row.sectors == 0) return row;
  const int n = row.sectors;
  bool plain = true;
  bool interleaved = true;
  for (int k = 0; k < n; ++k) {
    plain = plain && ids[k].r == k + 1;
    interleaved = interleaved && ids[Interleaved(k, n)].r == k + 1;
  }
  if (!plain && !interleaved) throw std::runtime_error("slf: a row in no order SLF keeps");
  const uint8_t size_code = ids[0].n;
  for (int s = 0; s < n; ++s) {
    if (ids[s].n != size_code || ids[s].mfm != ids[0].mfm || ids[s].deleted != ids[0].deleted ||
        ids[s].c != t / 2 || ids[s].h != t % 2 || size_code > 3) {
      throw std::runtime_error("slf: an irregular row");
    }
  }
  row.attribute = static_cast<uint8_t>(size_code | (plain ? 0 : 0x40) | (ids[0].mfm ? 0x80 : 0));
  row.deleted = ids[0].deleted != 0 ? 1 : 0;
  const size_t length = 128u << size_code;
  row.bytes.resize(length * static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    const int slot = plain ? k : Interleaved(k, n);
    std::memcpy(row.bytes.data() + length * k, cursor + length * slot, length);
  }
  cursor += row.bytes.size();
  return row;
}

}  // namespace

std::vector<uint8_t> SlfRecordBytes(const SlfRecord& record) {
  std::vector<uint8_t> b(493, 0);
  b[1] = record.flags;
  b[2] = record.file_system;
  b[7] = record.comment_length;
  if (record.comment.size() > 159) throw std::invalid_argument("slf: comment over 159 bytes");
  std::memcpy(b.data() + 8, record.comment.data(), record.comment.size());
  for (int g = 0; g < 3; ++g) {
    b[167 + 2 * g] = record.attributes[g];
    b[168 + 2 * g] = record.sectors[g];
  }
  if (record.tracks.size() != kMaxTracks) throw std::invalid_argument("slf: 160 tracks");
  for (int t = 0; t < kMaxTracks; ++t) {
    const SlfTrack& track = record.tracks[t];
    if (track.stored.size() > 0x3FFF) throw std::invalid_argument("slf: track over 16383 bytes");
    Put16(b, 173 + 2 * t,
          static_cast<uint32_t>(track.stored.size()) | (track.extra ? 0x4000 : 0) |
              (track.raw ? 0x8000 : 0));
    if (track.extra) {
      b.push_back(*track.extra);
      if (*track.extra & 0x02) {
        b.push_back(track.override_attribute);
        b.push_back(0);
      }
    }
    b.insert(b.end(), track.stored.begin(), track.stored.end());
  }
  Put32(b, 3, record.next.value_or(static_cast<uint32_t>(b.size() - 6)));
  return b;
}

std::vector<uint8_t> SlfFile(const std::vector<SlfRecord>& records, uint32_t first_record) {
  if (first_record < 64) throw std::invalid_argument("slf: the program head takes 64 bytes");
  std::vector<uint8_t> b(first_record, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put16(b, 2, first_record % 512);
  Put16(b, 4, first_record / 512 + 1);
  std::memcpy(b.data() + 50, "FDFILEVER200", 12);
  for (const SlfRecord& record : records) {
    const std::vector<uint8_t> bytes = SlfRecordBytes(record);
    b.insert(b.end(), bytes.begin(), bytes.end());
  }
  return b;
}

SlfRecord SlfRecordOf(const DiskImage& image, SlfStorage storage) {
  SlfRecord record;
  const std::string_view title(image.title, strnlen(image.title, sizeof(image.title)));
  record.comment = std::string(title.substr(0, 159));
  std::vector<Row> rows;
  const uint8_t* cursor = image.data;
  for (int t = 0; t < image.track_count && t < kMaxTracks; ++t) rows.push_back(RowOf(image, t, cursor));
  // Each group's header format is that of its first present row.
  std::array<bool, 3> known{};
  for (size_t t = 0; t < rows.size(); ++t) {
    const size_t g = std::min<size_t>(t, 2);
    if (rows[t].sectors == 0 || known[g]) continue;
    known[g] = true;
    record.attributes[g] = rows[t].attribute;
    record.sectors[g] = static_cast<uint8_t>(rows[t].sectors);
  }
  size_t bytes = 0;
  for (const Row& row : rows) bytes += row.bytes.size();
  record.flags = static_cast<uint8_t>((bytes > 1000000 ? 0x01 : 0) |
                                      (image.track_count > 154 ? 0x02 : 0) |
                                      (storage == SlfStorage::kRaw ? 0x10 : 0));

  std::vector<std::vector<uint8_t>> to_pack;
  std::vector<size_t> packed_rows;
  for (size_t t = 0; t < rows.size(); ++t) {
    const Row& row = rows[t];
    if (row.sectors == 0) continue;
    const size_t g = std::min<size_t>(t, 2);
    if (row.sectors != record.sectors[g]) throw std::runtime_error("slf: a row of another count");
    SlfTrack& track = record.tracks[t];
    if (row.attribute != record.attributes[g]) {
      track.extra = static_cast<uint8_t>(0x02 | row.deleted);
      track.override_attribute = row.attribute;
    } else if (row.deleted) {
      track.extra = 0x01;
    }
    const bool blank = std::all_of(row.bytes.begin(), row.bytes.end(),
                                   [&](uint8_t b) { return b == row.bytes[0]; });
    if (storage == SlfStorage::kPacked && blank) {
      track.stored = {row.bytes[0]};
    } else {
      track.stored = row.bytes;
      track.raw = true;
      if (storage == SlfStorage::kPacked) {
        to_pack.push_back(row.bytes);
        packed_rows.push_back(t);
      }
    }
  }
  const auto streams = Lh5Streams(to_pack);
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!streams[i] || streams[i]->size() > 0x3FFF) continue;
    SlfTrack& track = record.tracks[packed_rows[i]];
    track.stored = *streams[i];
    track.raw = false;
  }
  return record;
}

}  // namespace dravik::test
