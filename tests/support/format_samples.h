// Files of every input format, made from a generated disk: the fuzz seeds,
// the sweep of truncations and mutations, and the command-line tests that
// convert every format to every output all take their files from the one
// table here. A format is one row. Plain C++ (failures throw), so that the
// seed tool builds it too.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "disk_builder.h"
#include "dravik/disk_image.h"

namespace dravik::test {

struct SampleFile {
  std::string name;
  std::vector<uint8_t> bytes;
};
// The file to convert first, then the partners it needs beside it. Empty
// when the format cannot hold the disk.
using SampleFiles = std::vector<SampleFile>;

struct InputFormat {
  std::string name;    // "FDD", "D88x3": a file-name-safe word
  std::string reader;  // the input plug-in that takes the files, "fdd_reader.dvr"
  // The files of disk, named base plus the format's extensions. program_dir
  // holds the built plug-ins, for the formats that this program also writes.
  using Maker = std::function<SampleFiles(const DiskImage& disk, const std::string& base,
                                          const std::string& program_dir)>;
  Maker make;
};

// Test names and failure texts show a row by its name.
inline void PrintTo(const InputFormat& format, std::ostream* out) { *out << format.name; }

// Every input format of the program, multi-disk files as rows of their own.
const std::vector<InputFormat>& InputFormats();

// The shapes samples are made of: the standard shapes, and small ones that
// keep sweeps and fuzzing quick where a format holds them.
const std::vector<DiskShape>& SampleShapes();

// The disk of a sample: the shape, filled with mixed content (so that packed
// formats pack), with a Shift-JIS title.
void BuildSampleDisk(DiskImage& disk, const DiskShape& shape, uint32_t seed = 7);

// The files a built output plug-in writes for disk (under the names it
// chooses, with base as their stem), or none when it refuses the disk.
SampleFiles WrittenBy(const std::string& writer_path, const DiskImage& disk,
                      const std::string& base);

// Writes the files into folder (ending in "/"); returns the first one's path.
std::string SaveSample(const SampleFiles& files, const std::string& folder);

}  // namespace dravik::test
