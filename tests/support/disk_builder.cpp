#include "disk_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "disk_data.h"
#include "plugin_export.h"

namespace dravik::test {

const std::vector<DiskShape>& StandardShapes() {
  static const std::vector<DiskShape> shapes = {
      {"640K", 160, 8, 2},  {"720K", 160, 9, 2},   {"1.21M", 160, 15, 2},
      {"1.25M", 154, 8, 3}, {"1.44M", 160, 18, 2}, {"mixed2HD", 154, 26, 1, true},
  };
  return shapes;
}

const DiskShape& ShapeNamed(const std::string& name) {
  for (const DiskShape& s : StandardShapes()) {
    if (name == s.name) return s;
  }
  throw std::invalid_argument("no shape " + name);
}

void BuildDisk(DiskImage& image, const DiskShape& shape, uint32_t seed,
               const std::string& title) {
  std::memset(&image, 0, sizeof(image));
  std::memcpy(image.title, title.data(), std::min<size_t>(title.size(), kTitleSize - 1));
  image.track_count = static_cast<uint8_t>(shape.tracks);
  image.head_count = 2;
  image.sectors_per_track = static_cast<uint8_t>(shape.sectors);
  image.size_code = static_cast<uint8_t>(shape.size_code);
  std::memset(image.ids, 0xFF, sizeof(image.ids));
  size_t cursor = 0;
  uint32_t state = seed * 2654435761u + 1;
  for (int t = 0; t < shape.tracks; ++t) {
    const bool fm = shape.fm_track0 && t == 0;
    const int n = fm ? 0 : shape.size_code;
    for (int s = 0; s < shape.sectors; ++s) {
      image.ids[t][s] = SectorId{static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                                 static_cast<uint8_t>(s + 1), static_cast<uint8_t>(n), 0,
                                 static_cast<uint8_t>(fm ? 0 : 1)};
      const uint32_t len = SectorLength(static_cast<uint8_t>(n));
      for (uint32_t i = 0; i < len; ++i) {
        state = state * 1103515245u + 12345u;
        image.data[cursor++] = static_cast<uint8_t>(state >> 16);
      }
    }
  }
}

void PermuteTrack(DiskImage& image, int track, const std::vector<int>& order) {
  size_t offset = 0;
  for (int t = 0; t < track; ++t) {
    for (const SectorId& id : image.ids[t]) {
      if (!IsEmptySlot(&id)) offset += SectorLength(id.n);
    }
  }
  std::vector<SectorId> ids(image.ids[track], image.ids[track] + kMaxSectorsPerTrack);
  std::vector<size_t> starts;
  size_t row_length = 0;
  for (const SectorId& id : ids) {
    starts.push_back(offset + row_length);
    if (!IsEmptySlot(&id)) row_length += SectorLength(id.n);
  }
  const std::vector<uint8_t> data(image.data + offset, image.data + offset + row_length);
  size_t cursor = offset;
  for (size_t s = 0; s < order.size(); ++s) {
    const SectorId& id = ids[order[s]];
    image.ids[track][s] = id;
    const uint32_t len = SectorLength(id.n);
    std::memcpy(image.data + cursor, data.data() + (starts[order[s]] - offset), len);
    cursor += len;
  }
}

void BuildDiskFromRaw(DiskImage& image, const DiskShape& shape, const std::vector<uint8_t>& raw) {
  BuildDisk(image, shape);
  size_t used = 0;
  for (int t = 0; t < shape.tracks; ++t) {
    for (int s = 0; s < shape.sectors; ++s) used += SectorLength(image.ids[t][s].n);
  }
  // IDs run in R order, so the record's data is the dump itself.
  std::memset(image.data, 0, sizeof(image.data));
  if (!raw.empty()) std::memcpy(image.data, raw.data(), std::min(used, raw.size()));
}

void FillWithMixedContent(DiskImage& image, uint32_t seed) {
  static const char* const words[] = {"MS-DOS ", "フロッピー ", "sector ", "AUTOEXEC.BAT ",
                                      "\r\n", "COMMAND.COM ", "0123 ", "ゲーム "};
  uint32_t state = seed * 2654435761u + 7;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  size_t cursor = 0;
  for (int t = 0; t < image.track_count && t < kMaxTracks; ++t) {
    const bool blank_track = t % 5 == 2;
    const bool noise_track = t % 7 == 3;
    for (const SectorId& id : image.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      const size_t length = SectorLength(id.n);
      if (cursor + length > sizeof(image.data)) return;
      uint8_t* sector = image.data + cursor;
      cursor += length;
      if (blank_track || (!noise_track && next() % 4 == 0)) {
        std::memset(sector, 0xE5, length);
        continue;
      }
      for (size_t i = 0; i < length;) {
        if (noise_track) {
          sector[i++] = static_cast<uint8_t>(next());
          continue;
        }
        const char* word = words[next() % 8];
        for (; *word != '\0' && i < length; ++word) sector[i++] = static_cast<uint8_t>(*word);
      }
    }
  }
}

void InterleaveRows(DiskImage& image) {
  constexpr int kSlots = kMaxSectorsPerTrack;
  size_t cursor = 0;
  for (auto& row : image.ids) {
    size_t row_length = 0;
    int used = 0;
    for (const SectorId& id : row) {
      if (IsEmptySlot(&id)) continue;
      ++used;
      row_length += SectorLength(id.n);
    }
    if (used == kSlots) {
      const size_t length = row_length / kSlots;
      const std::vector<uint8_t> bytes(image.data + cursor, image.data + cursor + row_length);
      const std::vector<SectorId> ids(row, row + kSlots);
      for (int m = 0; m < kSlots; ++m) {
        const int d = m < kSlots / 2 ? 2 * m : 2 * (m - kSlots / 2) + 1;
        row[d] = ids[m];
        std::memcpy(image.data + cursor + d * length, bytes.data() + m * length, length);
      }
    }
    cursor += row_length;
  }
}

const std::vector<RecordSpoiler>& RecordSpoilers() {
  static const std::vector<RecordSpoiler> spoilers = {
      {"N above 5", [](DiskImage& d) { d.ids[3][2].n = 6; }, kMsgBadImageData},
      {"track_count above 160", [](DiskImage& d) { d.track_count = 161; }, kMsgBadImageData},
      {"a row over 9472 bytes",
       [](DiskImage& d) {
         SetSectorId(d, 153, 8, 76, 1, 9, 3, 0, 1);
         SetSectorId(d, 153, 9, 76, 1, 10, 3, 0, 1);
       },
       kMsgBadImageData},
      {"more data than the record holds",
       [](DiskImage& d) {
         d.track_count = 160;
         for (int t = 0; t < 160; ++t) {
           for (int s = 0; s < 26; ++s) SetSectorId(d, t, s, t / 2, t % 2, s + 1, 2, 0, 1);
         }
         d.ids[159][25].n = 3;  // 512 bytes more than 160 x 26 x 512
       },
       kMsgImageTooLarge},
  };
  return spoilers;
}

std::vector<uint8_t> RawBytes(const DiskImage& image) {
  std::vector<uint8_t> raw;
  size_t cursor = 0;
  for (int t = 0; t < kMaxTracks; ++t) {
    std::vector<std::pair<int, std::vector<uint8_t>>> sectors;
    for (const SectorId& id : image.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      const uint32_t len = SectorLength(id.n);
      if (t < image.track_count) {
        sectors.push_back({id.r, std::vector<uint8_t>(image.data + cursor,
                                                      image.data + cursor + len)});
      }
      cursor += len;
    }
    std::stable_sort(sectors.begin(), sectors.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& s : sectors) raw.insert(raw.end(), s.second.begin(), s.second.end());
  }
  return raw;
}

std::string IdText(const SectorId& id) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%d %d %d %d %d %d", id.c, id.h, id.r, id.n, id.deleted, id.mfm);
  return buf;
}

std::string CompareDisks(const DiskImage& expected, const DiskImage& actual) {
  char buf[160];
  if (expected.track_count != actual.track_count) {
    std::snprintf(buf, sizeof(buf), "track_count %d != %d", expected.track_count,
                  actual.track_count);
    return buf;
  }
  size_t ce = 0;
  size_t ca = 0;
  for (int t = 0; t < expected.track_count; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const SectorId& e = expected.ids[t][s];
      const SectorId& a = actual.ids[t][s];
      if (IsEmptySlot(&e) != IsEmptySlot(&a) ||
          (!IsEmptySlot(&e) && std::memcmp(&e, &a, sizeof(SectorId)) != 0)) {
        std::snprintf(buf, sizeof(buf),
                      "track %d slot %d: id %02x %02x %02x %02x %d %d != %02x %02x %02x %02x %d %d",
                      t, s, e.c, e.h, e.r, e.n, e.deleted, e.mfm, a.c, a.h, a.r, a.n, a.deleted,
                      a.mfm);
        return buf;
      }
      if (IsEmptySlot(&e)) continue;
      const uint32_t len = SectorLength(e.n);
      if (ce + len > kDataCapacity || ca + len > kDataCapacity ||
          std::memcmp(expected.data + ce, actual.data + ca, len) != 0) {
        std::snprintf(buf, sizeof(buf), "track %d slot %d: data differs", t, s);
        return buf;
      }
      ce += len;
      ca += len;
    }
  }
  return {};
}

}  // namespace dravik::test
