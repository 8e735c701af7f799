// A source converted by dravik-cli, with every plug-in of the program
// folder, into the image formats that have a reader here to read the result
// back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

// What some readers add to the plain case.
struct CliExtras {
  // Outputs are named NAME_EXT, the source's extension in capitals.
  bool keeps_extension = false;
  // Converted with --comment: the comment file beside the outputs holds
  // "  OUTPUT : title" for each disk, or nothing when the title is empty.
  std::optional<std::string> title{};
};

// Converts source to FDD, FDI and BKDSK, each into a folder of its own, and
// expects one output per disk: base.EXT for a single disk, base_01.EXT,
// base_02.EXT, ... for several (base: the source's name without its
// extension, or NAME_EXT). Each output, read back by the reader of its
// format, must hold its disk: every ID and sector for FDD, the same for FDI
// in any order within a track (FDI keeps no IDs, so a reader gives mixed
// 2HD disks back 2:1 interleaved), the sectors in R order for BKDSK, which
// keeps nothing else.
void ExpectCliConvertsToImages(const std::string& source, const std::vector<const DiskImage*>& disks,
                               const CliExtras& extras = {});

// dravik-cli --info names the reader that takes source by its description
// and logs what it says of the file (UTF-8, with the log's line breaks).
void ExpectCliDescribes(const std::string& source, const std::string& plugin,
                        const std::string& description);

}  // namespace dravik::test
