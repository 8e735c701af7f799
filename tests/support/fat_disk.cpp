#include "fat_disk.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "test_support.h"

namespace dravik::test {

std::vector<uint8_t> MakeFatDump(const std::string& shape, const std::vector<FatFile>& files,
                                 const std::vector<std::string>& delete_after) {
  // PC-98 1.25M disks have 1024-byte sectors; the rest are the usual PC
  // formats.
  static const std::map<std::string, std::pair<std::string, int>> kFormats = {
      {"640K", {"-g 2/8 -s 2 -r 112 -f 2 -M 0xFB", 640}},
      {"720K", {"-g 2/9 -s 2 -r 112 -f 2 -M 0xF9", 720}},
      {"1.21M", {"-g 2/15 -s 1 -r 224 -f 2 -M 0xF9", 1200}},
      {"1.25M", {"-S 1024 -s 1 -g 2/8 -f 2 -r 192 -M 0xFE", 1232}},
      {"1.44M", {"-g 2/18 -s 1 -r 224 -f 2 -M 0xF0", 1440}},
  };
  const auto format = kFormats.find(shape);
  if (format == kFormats.end()) {
    ADD_FAILURE() << "no FAT format for " << shape;
    return {};
  }
  TempDir dir;
  const std::string image = dir / "disk.img";
  std::string script = "cd " + ShellQuote(dir.path()) +
                       " && export PATH=\"$PATH:/usr/sbin:/sbin\" MTOOLS_SKIP_CHECK=1 && mkfs.fat -F 12 -C " +
                       format->second.first + " disk.img " + std::to_string(format->second.second);
  std::set<std::string> folders;
  for (size_t i = 0; i < files.size(); ++i) {
    const FatFile& file = files[i];
    for (size_t slash = file.path.find('/'); slash != std::string::npos;
         slash = file.path.find('/', slash + 1)) {
      const std::string folder = file.path.substr(0, slash);
      if (folders.insert(folder).second) script += " && mmd -i disk.img ::/" + ShellQuote(folder);
    }
    const std::string local = "file" + std::to_string(i);
    WriteFile(dir / local, file.contents);
    script += " && mcopy -i disk.img " + local + " ::/" + ShellQuote(file.path);
  }
  for (const std::string& path : delete_after) script += " && mdel -i disk.img ::/" + ShellQuote(path);
  const CommandResult made = RunCommand(script);
  EXPECT_EQ(made.status, 0) << made.err;
  const std::string bytes = ReadFile(image);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void SetFatEntry(std::vector<uint8_t>& dump, int k, int value) {
  const int bytes_per_sector = dump[11] | (dump[12] << 8);
  const int reserved = dump[14] | (dump[15] << 8);
  const int fats = dump[16];
  const int sectors_per_fat = dump[22] | (dump[23] << 8);
  for (int copy = 0; copy < fats; ++copy) {
    uint8_t* fat = dump.data() + (reserved + copy * sectors_per_fat) * bytes_per_sector;
    uint8_t* p = fat + k * 3 / 2;
    if (k % 2 == 0) {
      p[0] = static_cast<uint8_t>(value);
      p[1] = static_cast<uint8_t>((p[1] & 0xF0) | ((value >> 8) & 0x0F));
    } else {
      p[0] = static_cast<uint8_t>((p[0] & 0x0F) | ((value << 4) & 0xF0));
      p[1] = static_cast<uint8_t>(value >> 4);
    }
  }
}

}  // namespace dravik::test
