#include "lha_stream.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "archive_expander.h"

namespace dravik::test {
namespace {

uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
  if (at + 2 > b.size()) throw std::runtime_error("lzh: header runs past the archive");
  return b[at] | (b[at + 1] << 8);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return Le16(b, at) | (Le16(b, at + 2) << 16);
}

std::string Bytes(const std::vector<uint8_t>& b, size_t at, size_t n) {
  if (at + n > b.size()) throw std::runtime_error("lzh: header runs past the archive");
  return std::string(b.begin() + static_cast<ptrdiff_t>(at),
                     b.begin() + static_cast<ptrdiff_t>(at + n));
}

// Walks a chain of extended headers, each ending in the size of the next;
// the first size stands at first_size_at. Takes the file name (type 1).
// Returns the offset behind the chain.
size_t WalkExtendedHeaders(const std::vector<uint8_t>& b, size_t first_size_at,
                           LzhMember& member) {
  size_t at = first_size_at + 2;
  for (uint32_t size = Le16(b, first_size_at); size != 0; size = Le16(b, at - 2)) {
    if (size < 3) throw std::runtime_error("lzh: extended header too short");
    if (b.at(at) == 0x01) member.name = Bytes(b, at + 1, size - 3);
    at += size;
  }
  return at;
}

std::string Quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class ScratchFolder {
 public:
  ScratchFolder() : path_(MakePrivateTempFolder()) {
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
  }
  ~ScratchFolder() { RemoveTree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string MemberName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof(name), "f%05zu", index);
  return name;
}

}  // namespace

std::vector<LzhMember> ParseLzh(const std::vector<uint8_t>& b) {
  std::vector<LzhMember> members;
  size_t at = 0;
  while (at < b.size() && b[at] != 0) {
    LzhMember m;
    m.method = Bytes(b, at + 2, 5);
    const uint32_t packed = Le32(b, at + 7);
    m.original_size = Le32(b, at + 11);
    m.header_level = b.at(at + 20);
    size_t data = 0;
    uint64_t data_size = packed;
    if (m.header_level == 0 || m.header_level == 1) {
      const size_t base_end = at + 2 + b[at];  // the first byte counts the rest but one
      m.name = Bytes(b, at + 22, b.at(at + 21));
      data = base_end;
      if (m.header_level == 1) {
        // The packed size counts the extended headers too.
        data = WalkExtendedHeaders(b, base_end - 2, m);
        if (data - base_end > packed) throw std::runtime_error("lzh: bad level-1 sizes");
        data_size = packed - (data - base_end);
      }
    } else if (m.header_level == 2) {
      data = at + Le16(b, at);
      WalkExtendedHeaders(b, at + 24, m);
    } else {
      throw std::runtime_error("lzh: unknown header level");
    }
    if (data + data_size > b.size()) throw std::runtime_error("lzh: member runs past the archive");
    m.payload.assign(b.begin() + static_cast<ptrdiff_t>(data),
                     b.begin() + static_cast<ptrdiff_t>(data + data_size));
    members.push_back(std::move(m));
    at = data + data_size;
  }
  return members;
}

bool HaveLha() { return std::system("command -v lha >/dev/null 2>&1") == 0; }

std::vector<uint8_t> LhaArchive(const std::vector<std::vector<uint8_t>>& contents,
                                int header_level) {
  if (header_level < 0 || header_level > 2) throw std::invalid_argument("header level");
  ScratchFolder folder;
  std::string names;
  for (size_t i = 0; i < contents.size(); ++i) {
    std::ofstream out(folder / MemberName(i), std::ios::binary);
    out.write(reinterpret_cast<const char*>(contents[i].data()),
              static_cast<std::streamsize>(contents[i].size()));
    if (!out) throw std::runtime_error("cannot write " + MemberName(i));
    names += " " + MemberName(i);
  }
  // The level digit must follow the command letter directly.
  const std::string command = "cd " + Quote(folder.path()) + " && lha a" +
                              std::to_string(header_level) + "q archive.lzh" + names +
                              " >lha.log 2>&1 </dev/null";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("lha failed: " + command);
  std::ifstream in(folder / "archive.lzh", std::ios::binary);
  std::vector<uint8_t> archive((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  if (archive.empty()) throw std::runtime_error("lha made no archive");
  return archive;
}

std::vector<std::optional<std::vector<uint8_t>>> Lh5Streams(
    const std::vector<std::vector<uint8_t>>& contents, int header_level) {
  std::vector<std::optional<std::vector<uint8_t>>> streams(contents.size());
  if (contents.empty()) return streams;
  size_t found = 0;
  for (LzhMember& m : ParseLzh(LhaArchive(contents, header_level))) {
    size_t index = 0;
    if (m.name.size() != 6 || std::sscanf(m.name.c_str(), "f%05zu", &index) != 1 ||
        index >= contents.size() || m.header_level != header_level ||
        m.original_size != contents[index].size()) {
      throw std::runtime_error("lha made an unexpected member " + m.name);
    }
    ++found;
    if (m.method == "-lh5-") streams[index] = std::move(m.payload);
  }
  if (found != contents.size()) throw std::runtime_error("lha left out a file");
  return streams;
}

}  // namespace dravik::test
