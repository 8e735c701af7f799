#include "archive_builder.h"

#include <algorithm>

namespace dravik::test {
namespace {

void Put16(std::string& out, uint32_t v) {
  out += {static_cast<char>(v), static_cast<char>(v >> 8)};
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Patch16(std::string& out, size_t at, uint32_t v) {
  out.replace(at, 2, std::string{static_cast<char>(v), static_cast<char>(v >> 8)});
}

uint16_t Crc16(const std::string& bytes) {
  uint16_t crc = 0;
  for (char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  return ~crc;
}

// DOS time and date of 1990-01-01 00:00, as one little-endian word.
constexpr uint32_t kDosDateTime = ((10 << 9) | (1 << 5) | 1) << 16;

std::string LzhLevel0(const LzhEntry& e) {
  std::string body = e.method.substr(0, 5);
  Put32(body, static_cast<uint32_t>(e.data.size()));
  Put32(body, e.original_size.value_or(static_cast<uint32_t>(e.data.size())));
  Put32(body, kDosDateTime);
  body += '\x20';  // attribute: archive
  body += '\x00';  // level
  body += static_cast<char>(e.name.size());
  body += e.name;
  Put16(body, e.crc.value_or(Crc16(e.data)));
  uint8_t sum = 0;
  for (char c : body) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return std::string{static_cast<char>(body.size()), static_cast<char>(sum)} + body;
}

void PutExtension(std::string& out, uint8_t type, const std::string& data) {
  Put16(out, static_cast<uint32_t>(3 + data.size()));
  out += static_cast<char>(type);
  out += data;
}

std::string LzhLevel2(const LzhEntry& e) {
  std::string h;
  Put16(h, 0);  // header size, patched below
  h += e.method.substr(0, 5);
  Put32(h, static_cast<uint32_t>(e.data.size()));
  Put32(h, e.original_size.value_or(static_cast<uint32_t>(e.data.size())));
  Put32(h, 631152000);  // 1990-01-01 as time_t
  h += '\x20';
  h += '\x02';  // level
  Put16(h, e.crc.value_or(Crc16(e.data)));
  h += 'U';  // made on Unix
  const size_t crc_at = h.size() + 3;
  PutExtension(h, 0x00, std::string(2, '\0'));  // header CRC, patched below
  PutExtension(h, 0x01, e.name);
  if (!e.directory.empty()) {
    std::string dir = e.directory;
    std::replace(dir.begin(), dir.end(), '/', '\xFF');
    PutExtension(h, 0x02, dir);
  }
  if (e.unix_mode) {
    std::string mode;
    Put16(mode, *e.unix_mode);
    PutExtension(h, 0x50, mode);
  }
  Put16(h, 0);  // end of the extended headers
  Patch16(h, 0, static_cast<uint32_t>(h.size()));
  Patch16(h, crc_at, Crc16(h));
  return h;
}

}  // namespace

std::string BuildLzh(const std::vector<LzhEntry>& entries) {
  std::string out;
  for (const LzhEntry& e : entries) out += (e.level == 0 ? LzhLevel0(e) : LzhLevel2(e)) + e.data;
  out += '\0';
  return out;
}

std::string BuildZip(const std::vector<ZipEntry>& entries) {
  std::string out;
  std::string directory;
  for (const ZipEntry& e : entries) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = e.crc.value_or(Crc32(e.data));
    const uint32_t size = e.original_size.value_or(static_cast<uint32_t>(e.data.size()));
    auto common = [&](std::string& h) {
      Put16(h, 20);  // version needed
      Put16(h, e.flags);
      Put16(h, e.method);
      Put32(h, kDosDateTime);
      Put32(h, crc);
      Put32(h, static_cast<uint32_t>(e.data.size()));
      Put32(h, size);
      Put16(h, static_cast<uint32_t>(e.name.size()));
      Put16(h, static_cast<uint32_t>(e.extra.size()));
    };
    Put32(out, 0x04034B50);
    common(out);
    out += e.name + e.extra + e.data;

    Put32(directory, 0x02014B50);
    Put16(directory, e.unix_mode ? (3 << 8) | 20 : 20);  // made by: Unix or DOS
    common(directory);
    Put32(directory, 0);  // comment length, disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, e.unix_mode ? *e.unix_mode << 16 : 0x20);
    Put32(directory, offset);
    directory += e.name + e.extra;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(out.size());
  out += directory;
  Put32(out, 0x06054B50);
  Put32(out, 0);  // disk numbers
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(directory.size()));
  Put32(out, directory_offset);
  Put16(out, 0);
  return out;
}

std::string UnicodePathField(const std::string& stored, const std::string& utf8,
                             std::optional<uint32_t> crc) {
  std::string field;
  Put16(field, 0x7075);
  Put16(field, static_cast<uint32_t>(5 + utf8.size()));
  field += '\x01';  // version
  Put32(field, crc.value_or(Crc32(stored)));
  return field + utf8;
}

}  // namespace dravik::test
