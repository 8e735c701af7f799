// Archives written byte by byte, for cases no archiver tool makes: hostile
// names, links, devices, lying sizes, encrypted flags. data is stored as
// given (the payload for -lh0- and ZIP method 0, else a compressed stream);
// sizes and CRCs left unset are those of data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::test {

struct LzhEntry {
  std::string name = {};  // raw header bytes (Shift-JIS); level 0 may hold "\"
  std::string data = {};
  std::string method = "-lh0-";
  int level = 2;               // 0 or 2
  std::string directory = {};  // level 2: "DIR/SUB/"
  std::optional<uint32_t> original_size = {};
  std::optional<uint16_t> crc = {};
  std::optional<uint16_t> unix_mode = {};  // level 2: extended header 0x50
};
std::string BuildLzh(const std::vector<LzhEntry>& entries);

struct ZipEntry {
  std::string name = {};  // raw bytes
  std::string data = {};
  uint16_t method = 0;
  uint16_t flags = 0;                      // bit 0: encrypted, bit 11: UTF-8 name
  std::optional<uint32_t> unix_mode = {};  // made on Unix with this st_mode
  std::optional<uint32_t> original_size = {};
  std::optional<uint32_t> crc = {};
  std::string extra = {};  // extra fields, in both headers
};
std::string BuildZip(const std::vector<ZipEntry>& entries);

// Info-ZIP's Unicode path extra field (0x7075) for a stored name; its CRC is
// that of stored unless given.
std::string UnicodePathField(const std::string& stored, const std::string& utf8,
                             std::optional<uint32_t> crc = {});

}  // namespace dravik::test
