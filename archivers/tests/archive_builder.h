// Archives written byte by byte, for cases no archiver tool makes: hostile
// names, links, devices, lying sizes, encrypted flags. Each field is set as
// the format's layout gives it, little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dravik::test {

uint16_t Crc16(const std::string& bytes);  // LZH: CRC-16/ARC
uint32_t Crc32(const std::string& bytes);  // ZIP

struct LzhEntry {
  LzhEntry(std::string n, std::string d) : name(std::move(n)), data(std::move(d)) {}
  LzhEntry& Method(std::string m) {
    method = std::move(m);
    return *this;
  }
  LzhEntry& Level(int l) {
    level = l;
    return *this;
  }
  LzhEntry& Directory(std::string d) {
    directory = std::move(d);
    return *this;
  }
  LzhEntry& OriginalSize(uint32_t s) {
    original_size = s;
    return *this;
  }
  LzhEntry& Crc(uint16_t c) {
    crc = c;
    return *this;
  }
  LzhEntry& UnixMode(uint16_t m) {
    unix_mode = m;
    return *this;
  }

  std::string name;  // raw header bytes (Shift-JIS); level 0 may hold "\"
  std::string data;  // stored as given: the payload for -lh0-, else the compressed stream
  std::string method = "-lh0-";
  int level = 2;                          // 0 or 2
  std::string directory;                  // level 2: "DIR/SUB/" (written with 0xFF separators)
  std::optional<uint32_t> original_size;  // default: data's size
  std::optional<uint16_t> crc;            // default: Crc16(data)
  std::optional<uint16_t> unix_mode;      // level 2: extended header 0x50
};

// The entries and the end mark.
std::string BuildLzh(const std::vector<LzhEntry>& entries);

struct ZipEntry {
  ZipEntry(std::string n, std::string d) : name(std::move(n)), data(std::move(d)) {}
  ZipEntry& Method(uint16_t m) {
    method = m;
    return *this;
  }
  ZipEntry& Flags(uint16_t f) {
    flags = f;
    return *this;
  }
  ZipEntry& UnixMode(uint32_t m) {
    unix_mode = m;
    return *this;
  }
  ZipEntry& OriginalSize(uint32_t s) {
    original_size = s;
    return *this;
  }
  ZipEntry& Crc(uint32_t c) {
    crc = c;
    return *this;
  }

  std::string name;  // raw bytes
  std::string data;  // stored as given: the payload for method 0, else the compressed stream
  uint16_t method = 0;
  uint16_t flags = 0;                     // bit 0: encrypted, bit 11: UTF-8 name
  std::optional<uint32_t> unix_mode;      // made on Unix with this st_mode
  std::optional<uint32_t> original_size;  // default: data's size
  std::optional<uint32_t> crc;            // default: Crc32 of data
};

// Local headers, central directory and its end record.
std::string BuildZip(const std::vector<ZipEntry>& entries);

}  // namespace dravik::test
