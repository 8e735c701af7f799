// A source converted by dravik-cli, with every plug-in of the program
// folder, into the image formats that have a reader here to read the result
// back.
#pragma once

#include <string>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

// Converts source to FDD, FDI and BKDSK, each into a folder of its own, and
// expects one output per disk: base.EXT for a single disk, base_01.EXT,
// base_02.EXT, ... for several (base: the source's name without its
// extension). Each output, read back by the reader of its format, must hold
// its disk: every ID and sector for FDD and FDI, the sectors in R order for
// BKDSK, which keeps nothing else.
void ExpectCliConvertsToImages(const std::string& source, const std::vector<const DiskImage*>& disks);

}  // namespace dravik::test
