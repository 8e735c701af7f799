// LH5 streams made by an independent archiver: files are packed with `lha`
// (jlha-utils) and the compressed bytes are taken back out of the archive's
// member headers (levels 0, 1 and 2). Plain C++ without GoogleTest, so the
// benchmarks can use it too; failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::test {

struct LzhMember {
  std::string name;
  std::string method;  // "-lh5-", or "-lh0-" for a file stored as it is
  int header_level = 0;
  uint32_t original_size = 0;
  std::vector<uint8_t> payload;  // the member's data, headers stripped
};

// Every member of an .lzh archive, in archive order.
std::vector<LzhMember> ParseLzh(const std::vector<uint8_t>& archive);

// Whether `lha` can be run.
bool HaveLha();

// The archive `lha` makes of the contents, each a file of its own (named
// f00000, f00001, ...), with member headers of the given level.
std::vector<uint8_t> LhaArchive(const std::vector<std::vector<uint8_t>>& contents,
                                int header_level = 2);

// One lh5 stream per content, from one run of `lha`. lha stores a file it
// cannot shrink (an empty or one-byte file, noise) as it is: such an entry
// is nullopt.
std::vector<std::optional<std::vector<uint8_t>>> Lh5Streams(
    const std::vector<std::vector<uint8_t>>& contents, int header_level = 2);

}  // namespace dravik::test
