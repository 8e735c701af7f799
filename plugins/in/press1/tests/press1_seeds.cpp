// Writes fuzz seeds: small Press1 files built as the tests build them, into
// FOLDER/press1_reader_fuzzer/, and compressed blocks for the decoder's
// target into FOLDER/adaptive_huffman_fuzzer/. Run by
// tools/make-fuzz-seeds.sh.
//
//   press1-seeds FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "adaptive_huffman_encoder.h"
#include "disk_builder.h"
#include "press1_file.h"

namespace {

bool Write(const std::string& path, const dravik::test::Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: press1-seeds FOLDER\n");
    return 2;
  }
  namespace t = dravik::test;
  const std::string folder = std::string(argv[1]) + "/press1_reader_fuzzer";
  mkdir(folder.c_str(), 0755);
  auto small = std::make_unique<DiskImage>();
  auto diskbasic = std::make_unique<DiskImage>();
  auto large = std::make_unique<DiskImage>();
  t::BuildDisk(*small, t::ShapeNamed("640K"), 1);
  t::BuildDisk(*diskbasic, t::ShapeNamed("mixed2HD"), 2);
  t::BuildDisk(*large, t::ShapeNamed("1.25M"), 3);
  // Text in the first cylinder, so that the compressed one holds matches.
  const char* text = "10 PRINT \"DISK\"\r\n20 GOTO 10\r\n";
  for (size_t i = 0; i < 4096; ++i) small->data[i] = text[i % std::strlen(text)];
  // One cylinder compressed and one raw; the rest as fill bytes keeps the
  // seeds small.
  auto mostly_fill = [](int c) -> uint8_t { return c == 0 ? 1 : c == 1 ? 0 : 3; };
  const std::string game = "\x83\x51\x81\x5B\x83\x80";
  bool ok =
      Write(folder + "/640K.p1", t::Press1File({{small.get(), 2, 8, game, mostly_fill}}, game));
  ok = Write(folder + "/diskbasic.p1",
             t::Press1File({{diskbasic.get(), 1, 0, "N88", mostly_fill}}, "1MB")) &&
       ok;
  ok = Write(folder + "/two.p1",
             t::Press1File({{large.get(), 4, 0, "A", [](int) -> uint8_t { return 3; }},
                            {small.get(), 2, 2, "B", mostly_fill}},
                           "TWO")) &&
       ok;

  // The decoder's target takes two bytes that choose the expected length,
  // then the block: a short text, a whole cylinder (0xEF 0xFF: 18,495
  // bytes), and one past the tree's first rebuild (0xF0 0x00: 32,500).
  const std::string blocks = std::string(argv[1]) + "/adaptive_huffman_fuzzer";
  mkdir(blocks.c_str(), 0755);
  const struct {
    const char* name;
    uint8_t selector[2];
    const DiskImage* disk;
    size_t length;
  } streams[] = {
      {"text", {0x07, 0xD0}, small.get(), 2000},
      {"cylinder", {0xEF, 0xFF}, diskbasic.get(), 18495},
      {"rebuild", {0xF0, 0x00}, large.get(), 32500},
  };
  for (const auto& s : streams) {
    t::Bytes seed(s.selector, s.selector + 2);
    const t::Bytes block = t::Compress({s.disk->data, s.length});
    seed.insert(seed.end(), block.begin(), block.end());
    ok = Write(blocks + "/" + s.name, seed) && ok;
  }
  return ok ? 0 : 1;
}
