#include "format_files.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "disk_builder.h"

namespace dravik::test {
namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A text into a field, cut to the field; shorter texts end in NUL.
void PutText(Bytes& b, size_t at, size_t field, const std::string& text) {
  std::memcpy(b.data() + at, text.data(), std::min(field, text.size()));
}

}  // namespace

std::vector<std::vector<Sector>> Rows(const DiskImage& disk) {
  std::vector<std::vector<Sector>> rows(disk.track_count);
  size_t cursor = 0;
  for (int t = 0; t < kMaxTracks; ++t) {
    for (const SectorId& id : disk.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      const uint32_t length = SectorLength(id.n);
      if (t < disk.track_count) rows[t].push_back({id, disk.data + cursor, length});
      cursor += length;
    }
  }
  return rows;
}

namespace {

void Append(Bytes& b, const uint8_t* data, size_t n) { b.insert(b.end(), data, data + n); }

}  // namespace

Bytes FixFile(const DiskImage& disk, const FixOptions& o) {
  Bytes file(256 + 640, 0);
  file[0] = file[1] = 0xFF;
  file[2] = 0x12;  // not looked at
  PutText(file, 16, 16, o.label);
  PutText(file, 32, 224, o.comment);
  const auto rows = Rows(disk);
  for (size_t t = 0; t < rows.size(); ++t) {
    const auto& row = rows[t];
    if (row.empty()) continue;  // absent: table entry 0
    const uint32_t m = static_cast<uint32_t>(row.size());
    // Where the count, the sector records and the first sector's data lie.
    uint32_t a = 60, p = 296, x = 606 + 64 * m;  // mode 20
    if (o.mode == 0) a = 76, p = 312, x = 626 + 64 * m;
    if (o.mode == 6 && o.sub_mode == 1) a = 60, p = 296, x = 634 + 64 * m;
    if (o.mode == 6 && o.sub_mode != 1) a = 68, p = 304, x = 618 + 64 * m;
    if (o.mode == 10) a = 60, p = 296, x = 312 + 32 * m;
    const size_t s = file.size();
    Put32(file, 256 + 4 * t, static_cast<uint32_t>(s + 2));
    Bytes record(x, 0);
    record[0] = record[1] = 0xFF;
    record[8] = static_cast<uint8_t>(o.mode);
    record[16] = static_cast<uint8_t>(o.sub_mode);
    if (o.count_in_second_byte) {
      record[a] = 0x77;
      record[a + 1] = static_cast<uint8_t>(m);
    } else {
      record[a] = static_cast<uint8_t>(m);
    }
    for (uint32_t k = 0; k < m; ++k) {
      uint8_t* r = record.data() + p + 32 * k;
      std::memset(r, 0x33, 32);  // bytes the format gives no meaning here
      r[14] = row[k].id.c, r[15] = row[k].id.h, r[16] = row[k].id.r, r[17] = row[k].id.n;
      r[24] = row[k].id.mfm != 0 ? 0x40 : 0xC0;
    }
    for (const Sector& sector : row) {
      if (o.mode != 10) record.insert(record.end(), {'M', 'M'});
      Append(record, sector.data, sector.length);
    }
    Append(file, record.data(), record.size());
  }
  return file;
}

int64_t FixTrackStart(const Bytes& file, int track) {
  const size_t at = 256 + 4 * track;
  return static_cast<int64_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                              static_cast<uint32_t>(file[at + 3]) << 24) - 2;
}

Bytes FimFile(const DiskImage& disk, const std::string& comment) {
  Bytes file(256, 0);
  Put32(file, 4, disk.sectors_per_track * SectorLength(disk.size_code));
  Put32(file, 8, disk.track_count);
  PutText(file, 32, 224, comment);
  const Bytes raw = RawBytes(disk);
  Append(file, raw.data(), raw.size());
  return file;
}

Bytes DipFile(const DiskImage& disk, const std::string& comment) {
  // Sized first: growing a 7-byte list trips a false -Warray-bounds of GCC 12 at -O3.
  Bytes file(256, 0);
  const uint8_t head[] = {0x01, 0x08, 0x00, 0x13, 0x41, 0x00, 0x01};
  std::copy(std::begin(head), std::end(head), file.begin());
  PutText(file, 16, 240, comment);
  const Bytes raw = RawBytes(disk);
  Append(file, raw.data(), raw.size());
  return file;
}

Bytes DcpFile(const DiskImage& disk, int type, const Bytes& map, bool every_track) {
  Bytes file(162, 0);
  file[0] = static_cast<uint8_t>(type);
  std::copy_n(map.begin(), std::min<size_t>(map.size(), 160), file.begin() + 1);
  const auto rows = Rows(disk);
  for (size_t t = 0; t < rows.size(); ++t) {
    if (!every_track && (t >= map.size() || map[t] != 1)) continue;
    for (const Sector& sector : rows[t]) Append(file, sector.data, sector.length);
  }
  return file;
}

Bytes StdFile(const DiskImage& disk, uint8_t byte4, uint8_t byte5) {
  Bytes file(20992, 0);
  std::memcpy(file.data(), "STDA", 4);
  file[4] = byte4;
  file[5] = byte5;
  file[6] = 0x5A;  // not looked at
  file[7] = static_cast<uint8_t>(disk.track_count / 2 - 1);
  const auto rows = Rows(disk);
  for (size_t t = 0; t < rows.size(); ++t) {
    const auto& row = rows[t];
    const size_t record = 8 + 128 * t;
    file[record] = static_cast<uint8_t>(row.size());
    file[record + 1] = row.empty() ? 1 : row[0].id.mfm;
    for (size_t k = 0; k < row.size(); ++k) {
      const Sector& s = row[k];
      uint8_t* d = file.data() + record + 4 + 4 * k;
      d[0] = s.id.r;
      d[1] = s.id.n;
      if (std::all_of(s.data, s.data + s.length, [&](uint8_t b) { return b == s.data[0]; })) {
        d[2] = s.data[0];
        d[3] = 0xFF;
        continue;
      }
      Put16(file, record + 6 + 4 * k, static_cast<uint32_t>((file.size() - 20992) / 128));
      Append(file, s.data, s.length);
    }
  }
  return file;
}

Bytes DfcnvFile(const DiskImage& disk, const std::string& comment) {
  Bytes file(136, 0);
  std::memcpy(file.data(), "##DFcnv##", 10);
  PutText(file, 94, 42, comment);
  for (const auto& row : Rows(disk)) {
    uint32_t length = 0;
    for (const Sector& s : row) length += s.length;
    file.insert(file.end(), {0x50, row.empty() ? uint8_t{0} : row[0].id.n, 0, 0});
    Put16(file, file.size() - 2, length);
    for (const Sector& s : row) Append(file, s.data, s.length);
  }
  return file;
}

std::string SjisGameTitle(int number) {
  return "\x83\x51\x81\x5B\x83\x80 " + std::to_string(number);
}

std::string Utf8GameTitle(int number) { return "ゲーム " + std::to_string(number); }

}  // namespace dravik::test
