// FAT12 floppies made by mkfs.fat and filled by mtools: an image that no
// code of this project laid out, for readers of formats that store MS-DOS
// disks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dravik::test {

struct FatFile {
  std::string path;  // "README.TXT", "SUB/DATA.BIN": folders are made as needed
  std::string contents;
};

// The raw dump of a fresh disk of a standard shape ("640K", "720K",
// "1.21M", "1.25M", "1.44M") holding the files, in order; delete_after
// names files removed again at the end, leaving free clusters between used
// ones. Fails the current test when a tool fails.
std::vector<uint8_t> MakeFatDump(const std::string& shape, const std::vector<FatFile>& files,
                                 const std::vector<std::string>& delete_after = {});

// Sets FAT entry k in every copy of the FAT of a dump (BPB read from its
// boot sector).
void SetFatEntry(std::vector<uint8_t>& dump, int k, int value);

}  // namespace dravik::test
