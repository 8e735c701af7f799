// UNLHA32 or UNZIP32 (ARCHIVE_FORMAT, one target each) on random bytes, on
// archives built from the input and then mutated, and on random command
// lines. Whatever the input, unpacked files land only in the target folder,
// as regular files within the limits.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive_builder.h"
#include "archiver.h"
#include "fuzz_support.h"

namespace {

using dravik::archiver::Format;

// The input read as the choices that shape an archive.
class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  std::string Bytes(size_t n) {
    n = std::min(n, size_ - pos_);
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

std::string BuildLzh(Choices& in) {
  static const char* const kMethods[] = {"-lh0-", "-lh5-", "-lh6-", "-lh7-", "-lhd-", "-lh1-"};
  static const uint16_t kModes[] = {0100644, 0120777, 040755, 020666};
  std::vector<dravik::test::LzhEntry> entries;
  for (int n = 1 + in.Byte() % 4; n > 0; --n) {
    const uint8_t shape = in.Byte();
    std::string name = in.Bytes(in.Byte() % 24);
    if (name.empty()) name = "E";
    dravik::test::LzhEntry e{name, in.Bytes(in.Word() % 2048), kMethods[shape % 6]};
    e.level = (shape & 8) ? 0 : 2;
    if (shape & 0x10) e.directory = in.Bytes(in.Byte() % 12) + "/";
    if (shape & 0x20) e.original_size = in.Word() * 3u;
    if (shape & 0x40) e.crc = in.Word();
    if (shape & 0x80) e.unix_mode = kModes[in.Byte() % 4];
    entries.push_back(std::move(e));
  }
  return dravik::test::BuildLzh(entries);
}

// A few bytes of the built archive overwritten, as damage would.
void Mutate(std::string& bytes, Choices& in) {
  if (bytes.empty()) return;
  for (int n = in.Byte() % 5; n > 0; --n)
    bytes[in.Word() % bytes.size()] = static_cast<char>(in.Byte());
  if (in.Byte() % 8 == 0) bytes.resize(in.Word() % (bytes.size() + 1));
}

// nested: entries may be archives themselves, which the libraries unpack
// in their turn.
std::string BuildZip(Choices& in, bool nested = true) {
  static const uint16_t kMethods[] = {0, 8, 12, 14, 93, 95, 98, 6};
  static const uint32_t kModes[] = {0100644, 0120777, 040755, 020666};
  std::vector<dravik::test::ZipEntry> entries;
  for (int n = 1 + in.Byte() % 4; n > 0; --n) {
    const uint8_t shape = in.Byte();
    dravik::test::ZipEntry e{in.Bytes(in.Byte() % 24), in.Bytes(in.Word() % 2048)};
    if (nested && (shape & 0x10) != 0) {
      const bool lzh = (in.Byte() & 1) != 0;
      e.name += lzh ? ".LZH" : ".zip";
      e.data = lzh ? BuildLzh(in) : BuildZip(in, false);
      Mutate(e.data, in);
    }
    e.method = kMethods[shape % 8];
    if (shape & 0x08) e.flags = in.Word() & 0x0809;
    if (shape & 0x20) e.original_size = in.Word() * 3u;
    if (shape & 0x40) e.crc = in.Word();
    if (shape & 0x80) e.unix_mode = kModes[in.Byte() % 4];
    entries.push_back(std::move(e));
  }
  return dravik::test::BuildZip(entries);
}

void CheckUnpacked(const std::string& folder, const dravik::archiver::Limits& limits) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) std::abort();
  uint64_t files = 0;
  uint64_t total = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (lstat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) std::abort();
    if (static_cast<uint64_t>(st.st_size) > limits.entry_bytes) std::abort();
    total += static_cast<uint64_t>(st.st_size);
    ++files;
  }
  closedir(dir);
  if (files > limits.entries || total > limits.total_bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::Scratch scratch;
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  constexpr Format format = Format::ARCHIVE_FORMAT;
  Choices in(data + 1, size - 1);

  if (mode & 4) {
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto command = dravik::archiver::ParseCommandLine(format, line);
    if (command && (command->archive.find_first_of("\"\r\n") != std::string::npos ||
                    command->folder.find_first_of("\"\r\n") != std::string::npos)) {
      std::abort();
    }
    return 0;
  }

  std::string bytes;
  if (mode & 2) {
    bytes = format == Format::kZip ? BuildZip(in) : BuildLzh(in);
    Mutate(bytes, in);
  } else {
    bytes.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  const std::string source = scratch.WriteSource(
      "source.img", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  dravik::archiver::IsArchive(format, source);
  // Small limits keep every run quick; the limits are enforced the same way.
  const dravik::archiver::Limits limits{
      .entry_bytes = 1 << 20, .total_bytes = 4 << 20, .entries = 64};
  dravik::archiver::ExtractArchive(format, source, scratch.folder() + "out/", limits);
  CheckUnpacked(scratch.folder() + "out/", limits);
  scratch.Clean();
  return 0;
}
