#include "nfd_image.h"

#include <cstring>
#include <stdexcept>

namespace dravik::test {
namespace {

constexpr size_t kCommentAt = 0x10;
constexpr size_t kHeaderSizeAt = 0x110;
constexpr size_t kHeadsAt = 0x115;
constexpr size_t kTableAt = 0x120;
constexpr int kR0Tracks = 163;
constexpr size_t kR0TableEnd = kTableAt + kR0Tracks * 26 * 16;
constexpr size_t kR1TableEnd = kTableAt + 164 * 4;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// One used slot's 16-byte entry; pda_at differs between the revisions.
void PutEntry(std::vector<uint8_t>& b, size_t at, const SectorId& id, uint8_t pda, size_t pda_at) {
  b[at + 0] = id.c;
  b[at + 1] = id.h;
  b[at + 2] = id.r;
  b[at + 3] = id.n;
  b[at + 4] = id.mfm != 0 ? 1 : 0;
  b[at + 5] = id.deleted != 0 ? 1 : 0;
  b[at + pda_at] = pda;
}

}  // namespace

std::vector<uint8_t> NfdImage(const DiskImage& disk, const NfdOptions& options) {
  if (options.comment.size() > 0x100) throw std::invalid_argument("NFD comment over 256 bytes");
  // Each row's data as the record holds it.
  std::vector<std::vector<uint8_t>> rows(disk.track_count);
  size_t cursor = 0;
  for (int t = 0; t < kMaxTracks; ++t) {
    for (const SectorId& id : disk.ids[t]) {
      if (id.c == kEmptySlotMark) continue;
      const uint32_t length = SectorLength(id.n);
      if (t < disk.track_count) {
        rows[t].insert(rows[t].end(), disk.data + cursor, disk.data + cursor + length);
      }
      cursor += length;
    }
  }

  std::vector<uint8_t> file(options.revision == 0 ? kR0TableEnd + 0x10 : kR1TableEnd + 0x10, 0);
  std::memcpy(file.data(), options.revision == 0 ? "T98FDDIMAGE.R0" : "T98FDDIMAGE.R1", 14);
  std::memcpy(file.data() + kCommentAt, options.comment.data(), options.comment.size());
  file[kHeadsAt] = 2;

  if (options.revision == 0) {
    std::memset(file.data() + kTableAt, 0, kR0TableEnd - kTableAt);
    for (int t = 0; t < kR0Tracks; ++t) {
      for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
        const size_t at = kTableAt + (t * 26 + s) * 16;
        if (t >= disk.track_count || disk.ids[t][s].c == kEmptySlotMark) {
          std::memset(file.data() + at, 0xFF, 4);
          continue;
        }
        PutEntry(file, at, disk.ids[t][s], options.pda, 0x0A);
      }
    }
    Put32(file, kHeaderSizeAt, static_cast<uint32_t>(file.size()));
    for (const auto& row : rows) file.insert(file.end(), row.begin(), row.end());
    return file;
  }

  // r1: the maps after the pointer table, then the data.
  std::vector<std::vector<uint8_t>> retry_data(disk.track_count);
  for (int t = 0; t < disk.track_count; ++t) {
    std::vector<const SectorId*> used;
    for (const SectorId& id : disk.ids[t]) {
      if (id.c != kEmptySlotMark) used.push_back(&id);
    }
    std::vector<const NfdRetry*> retries;
    for (const NfdRetry& r : options.retries) {
      if (r.track == t) retries.push_back(&r);
    }
    if (used.empty() && retries.empty()) continue;
    const size_t map = file.size();
    Put32(file, kTableAt + 4 * t, static_cast<uint32_t>(map));
    file.resize(map + 16 * (1 + used.size() + retries.size()), 0);
    Put16(file, map, static_cast<uint32_t>(used.size()));
    Put16(file, map + 2, static_cast<uint32_t>(retries.size()));
    for (size_t s = 0; s < used.size(); ++s) {
      PutEntry(file, map + 16 * (1 + s), *used[s], options.pda, 0x0B);
    }
    for (size_t i = 0; i < retries.size(); ++i) {
      const NfdRetry& r = *retries[i];
      const SectorId& id = disk.ids[t][r.slot];
      const size_t at = map + 16 * (1 + used.size() + i);
      PutEntry(file, at, id, options.pda, 0x0B);
      file[map + 16 * (1 + r.slot) + 0x0A] = 1;  // the sector has retries
      file[at + 9] = static_cast<uint8_t>(r.copies - 1);
      Put32(file, at + 0x0A, SectorLength(id.n));
      for (int c = 0; c < r.copies; ++c) {
        for (uint32_t k = 0; k < SectorLength(id.n); ++k) {
          retry_data[t].push_back(static_cast<uint8_t>(0xA5 ^ (c * 17 + k)));
        }
      }
    }
  }
  file.resize(file.size() + 0x10, 0);
  Put32(file, kHeaderSizeAt, static_cast<uint32_t>(file.size()));
  for (int t = 0; t < disk.track_count; ++t) {
    file.insert(file.end(), rows[t].begin(), rows[t].end());
    file.insert(file.end(), retry_data[t].begin(), retry_data[t].end());
  }
  return file;
}

}  // namespace dravik::test
