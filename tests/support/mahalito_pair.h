// MAHALITO pairs laid out from a disk record: an ID file (header, then per
// track a count, a density byte and an 8-byte record per sector) and the
// data file with the bytes of the sectors that are not one repeated value.
#pragma once

#include <string>

#include "dravik/disk_image.h"

namespace dravik::test {

// The ID file's signatures, each as the header begins.
inline const std::string kMahalitoSig2hd = "ver 1.10  ";
inline const std::string kMahalitoSig2dd = "2DD ver1.0";
inline const std::string kMahalitoSigRange = "ver 1.20  ";

// One sector record: fill flag, fill byte, C, H, R, N, unused, deleted.
std::string MahalitoRecord(bool fill, int fill_byte, int c, int h, int r, int n,
                           int deleted = 0);

struct MahalitoPair {
  std::string id;
  std::string dat;
};

// The disk as the format stores it: the rows below track_count, each row's
// used slots from 0 on, and every sector whose bytes are all one value as a
// fill record with nothing in the data file. header: signature and
// cylinders.
MahalitoPair MahalitoFiles(const DiskImage& disk, const std::string& header);

}  // namespace dravik::test
