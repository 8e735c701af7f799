// One file of every format, of every shape the format holds, probed the way
// the program probes it: input plug-ins are asked in the sorted order of
// their file names, and the first that answers 0 takes the file. Each file
// must be taken by its own reader. A format added later is one row of the
// table below.
//
// The same files then go the long way round through D88: read by their own
// reader, written as D88, read back, written as FDD and read back; the disk
// must survive every step.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "disk_builder.h"
#include "format_files.h"
#include "mahalito_pair.h"
#include "nfd_image.h"
#include "press1_file.h"
#include "slf_image.h"
#include "test_support.h"
#include "vfl_image.h"

namespace dravik {
namespace {

using Bytes = std::vector<uint8_t>;
// The files of one sample, the one to drop first; none when the format
// cannot hold the disk.
using Files = std::vector<std::pair<std::string, Bytes>>;

struct Sample {
  const char* format;
  const char* reader;
  std::function<Files(const DiskImage&)> build;
};

bool Built(const std::string& plugin) { return test::FileExists(test::ProgramDir() + plugin); }

// The file a built writer of the program folder makes (under the name it
// chooses), copies times over.
std::function<Files(const DiskImage&)> Written(const std::string& writer, int copies = 1) {
  return [=](const DiskImage& disk) -> Files {
    if (!Built(writer)) return {};
    test::TempDir dir;
    auto copy = test::NewDiskImage();
    std::memcpy(copy.get(), &disk, sizeof(DiskImage));
    if (test::LoadBuiltPlugin(writer).WriteDisk(*copy, dir / "DISK.OUT").result != kResultOk) {
      return {};
    }
    const std::vector<std::string> names = test::ListFolder(dir.path());
    if (names.size() != 1) return {};
    const std::string one = test::ReadFile(dir / names[0]);
    Bytes bytes;
    for (int i = 0; i < copies; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
    return {{names[0], bytes}};
  };
}

// A file laid out by a test builder.
std::function<Files(const DiskImage&)> Made(const std::string& name,
                                            std::function<Bytes(const DiskImage&)> build) {
  return [=](const DiskImage& disk) -> Files {
    Bytes bytes = build(disk);
    if (bytes.empty()) return {};
    return {{name, std::move(bytes)}};
  };
}

// The VFL media type of a regular disk, or -1 when VFL has none for it.
int VflMedia(const DiskImage& d) {
  const struct {
    int tracks, sectors, n, media;
  } media[] = {{154, 8, 3, 0}, {160, 15, 2, 1}, {160, 18, 2, 2}, {160, 9, 2, 3}, {160, 8, 2, 4}};
  for (const auto& m : media) {
    if (d.track_count == m.tracks && d.sectors_per_track == m.sectors && d.size_code == m.n) {
      return m.media;
    }
  }
  return -1;
}

// A Press1 file of a shape its header has a type for, every cylinder raw;
// none for the others. Its N88-BASIC types read back interleaved, which is
// not the disk the file was made from, so they are left to its own tests.
Bytes Press1Of(const DiskImage& d) {
  const struct {
    const char* shape;
    uint8_t type, sub_type;
  } types[] = {{"640K", 2, 8}, {"1.44M", 2, 18}, {"1.25M", 4, 0x12}};
  for (const auto& t : types) {
    const test::DiskShape& s = test::ShapeNamed(t.shape);
    if (d.track_count == s.tracks && d.sectors_per_track == s.sectors &&
        d.size_code == s.size_code && d.ids[0][0].mfm != 0) {
      return test::Press1File({{&d, t.type, t.sub_type, "DISK", [](int) -> uint8_t { return 0; }}},
                              "DISK");
    }
  }
  return {};
}

bool Is1_25M(const DiskImage& d) {
  return d.track_count == 154 && d.sectors_per_track == 8 && d.size_code == 3;
}

// A MAHALITO pair of the two shapes its fixed headers name: the ID file,
// dropped, and its data file.
Files MahalitoOf(const DiskImage& d) {
  const bool is_640k = d.track_count == 160 && d.sectors_per_track == 8 && d.size_code == 2;
  if (!Is1_25M(d) && !is_640k) return {};
  const char cylinders = is_640k ? 80 : 77;
  const test::MahalitoPair pair = test::MahalitoFiles(
      d, (is_640k ? test::kMahalitoSig2dd : test::kMahalitoSig2hd) + cylinders);
  return {{is_640k ? "DISK.2DD" : "DISK.2HD", Bytes(pair.id.begin(), pair.id.end())},
          {"DISK.dat", Bytes(pair.dat.begin(), pair.dat.end())}};
}

// A regular MFM disk of tracks x sectors x (128 << n): one size code in
// every slot, as the formats that number their sectors themselves hold.
bool IsRegular(const DiskImage& d, int tracks, int sectors, int n) {
  return d.track_count == tracks && d.sectors_per_track == sectors && d.size_code == n &&
         d.ids[0][0].n == n;
}

bool IsFimShape(const DiskImage& d) {
  return IsRegular(d, 160, 8, 2) || IsRegular(d, 160, 9, 2) || IsRegular(d, 154, 26, 1) ||
         IsRegular(d, 160, 15, 2) || IsRegular(d, 154, 8, 3) || IsRegular(d, 160, 18, 2);
}

// The DCP/DCU media type of a disk, 0 when it has none.
int DcpType(const DiskImage& d) {
  return IsRegular(d, 154, 8, 3)    ? 1
         : IsRegular(d, 160, 15, 2) ? 2
         : IsRegular(d, 160, 18, 2) ? 3
         : IsRegular(d, 160, 8, 2)  ? 4
                                    : 0;
}

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"D88", "d88_reader.dvr", Written("d88_writer.dvw")},
      {"D88, three disks", "d88_reader.dvr", Written("d88_writer.dvw", 3)},
      {"FDD", "fdd_reader.dvr", Written("fdd_writer.dvw")},
      {"FDI", "fdi_reader.dvr", Written("fdi_writer.dvw")},
      {"TFD", "tfd_reader.dvr", Written("tfd_writer.dvw")},
      {"BKDSK", "tfd_reader.dvr", Written("bkdsk_writer.dvw")},
      {"NFD r0", "nfd_reader.dvr",
       Made("DISK.NFD", [](const DiskImage& d) { return test::NfdImage(d, test::NfdRevision(0)); })},
      {"NFD r1", "nfd_reader.dvr",
       Made("DISK.NFD", [](const DiskImage& d) { return test::NfdImage(d, test::NfdRevision(1)); })},
      {"SLF", "slf_reader.dvr", Made("DISK.SLF", [](const DiskImage& d) {
         return test::SlfFile({test::SlfRecordOf(d, test::SlfStorage::kRaw)});
       })},
      {"VFL", "vfl_reader.dvr", Made("DISK.VFL", [](const DiskImage& d) {
         if (VflMedia(d) < 0) return Bytes{};
         return test::VflVolumeBytes(test::VflVolumeOf(d, VflMedia(d), test::VflStorage::kRaw, false));
       })},
      {"VFZ", "vfl_reader.dvr", Made("DISK.VFZ", [](const DiskImage& d) {
         if (VflMedia(d) < 0) return Bytes{};
         return test::VfzFile({test::VflVolumeOf(d, VflMedia(d), test::VflStorage::kRaw, false)},
                              "DISK");
       })},
      {"DIP", "dip_reader.dvr", Made("DISK.DIP", [](const DiskImage& d) {
         return Is1_25M(d) ? test::DipFile(d, test::SjisGameTitle(1)) : Bytes{};
       })},
      {"Press1", "press1_reader.dvr", Made("DISK.P1", Press1Of)},
      {"MAHALITO", "mahalito_reader.dvr", MahalitoOf},
      {"FIM", "fim_reader.dvr", Made("DISK.FIM", [](const DiskImage& d) {
         return IsFimShape(d) ? test::FimFile(d, "FIM") : Bytes{};
       })},
      {"DCU", "dcp_reader.dvr", Made("DISK.DCU", [](const DiskImage& d) {
         const int type = DcpType(d);
         return type != 0 ? test::DcpFile(d, type, Bytes(160, 0), true) : Bytes{};
       })},
      // A DCP file whose map stores every track: the same bytes read as DCU.
      {"DCP", "dcp_reader.dvr", Made("DISK.DCP", [](const DiskImage& d) {
         const int type = DcpType(d);
         return type != 0 ? test::DcpFile(d, type, Bytes(160, 1), false) : Bytes{};
       })},
      {"FIX mode 0", "fix_reader.dvr",
       Made("DISK.FIX", [](const DiskImage& d) { return test::FixFile(d, {.mode = 0}); })},
      {"FIX mode 10", "fix_reader.dvr",
       Made("DISK.FIX", [](const DiskImage& d) { return test::FixFile(d, {.mode = 10}); })},
      {"STDFILE", "std_reader.dvr",
       Made("DISK.STD", [](const DiskImage& d) { return test::StdFile(d); })},
      {"DFcnv", "dfcnv_reader.dvr",
       Made("DISK.DFC", [](const DiskImage& d) { return test::DfcnvFile(d, "DFCNV"); })},
  };
  return samples;
}

std::vector<test::DiskShape> Shapes() {
  std::vector<test::DiskShape> shapes = test::StandardShapes();
  shapes.push_back({"1M26", 154, 26, 1});
  return shapes;
}

// Sorted, as the program loads them.
std::vector<std::string> Readers() {
  std::vector<std::string> names;
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.ends_with(".dvr")) names.push_back(name);
  }
  return names;
}

TEST(Recognition, EveryFileIsTakenByItsOwnReader) {
  const std::vector<std::string> readers = Readers();
  std::vector<test::LoadedPlugin> loaded;
  for (const std::string& r : readers) loaded.emplace_back(test::ProgramDir() + r);
  for (const Sample& sample : Samples()) {
    if (!Built(sample.reader)) continue;
    int probed = 0;
    for (const test::DiskShape& shape : Shapes()) {
      SCOPED_TRACE(std::string(sample.format) + " / " + shape.name);
      auto disk = test::NewDiskImage();
      test::BuildDisk(*disk, shape, 17, "RECOGNITION");
      const Files files = sample.build(*disk);
      if (files.empty()) continue;
      test::TempDir dir;
      for (const auto& [name, bytes] : files) test::WriteFile(dir / name, bytes);
      std::string taker = "no reader";
      for (size_t r = 0; r < readers.size(); ++r) {
        if (loaded[r].IsSupport(dir / files[0].first).result == kResultOk) {
          taker = readers[r];
          break;
        }
      }
      EXPECT_EQ(taker, sample.reader);
      ++probed;
    }
    EXPECT_GT(probed, 0) << sample.format << ": no file made";
  }
}

// Files of every format the tests can lay out, readers built or not: the
// D88 reader is asked first of all (sorted by name), and the NFD reader
// before most, so neither may take any of them.
TEST(Recognition, TheD88AndNfdReadersTakeNoFileOfAnotherFormat) {
  const std::string comment = test::SjisGameTitle(2);
  const auto fix = [&](int mode, int sub_mode, bool second) {
    return [=](const DiskImage& d) {
      return test::FixFile(d, {mode, sub_mode, "FIX", comment, second});
    };
  };
  const auto dcp = [](int type, bool every_track) {
    return [=](const DiskImage& d) { return test::DcpFile(d, type, Bytes(160, 1), every_track); };
  };
  const struct {
    const char* format;
    std::function<Bytes(const DiskImage&)> build;
  } foreign[] = {
      {"FIX mode 0", fix(0, 0, false)},
      {"FIX mode 6", fix(6, 1, true)},
      {"FIX mode 10", fix(10, 0, false)},
      {"FIX mode 20", fix(20, 0, true)},
      {"FIM", [&](const DiskImage& d) { return test::FimFile(d, comment); }},
      {"DIP", [&](const DiskImage& d) { return test::DipFile(d, comment); }},
      {"DCP", dcp(1, false)},
      {"DCU", dcp(4, true)},
      {"STDFILE", [](const DiskImage& d) { return test::StdFile(d); }},
      {"DFcnv", [&](const DiskImage& d) { return test::DfcnvFile(d, comment); }},
      {"Press1", Press1Of},
  };
  std::vector<test::LoadedPlugin> readers;
  for (const char* name : {"d88_reader.dvr", "nfd_reader.dvr"}) {
    if (Built(name)) readers.push_back(test::LoadBuiltPlugin(name));
  }
  if (readers.empty()) GTEST_SKIP() << "no D88 or NFD reader";
  test::TempDir dir;
  for (const auto& f : foreign) {
    for (const test::DiskShape& shape : Shapes()) {
      SCOPED_TRACE(std::string(f.format) + " / " + shape.name);
      auto disk = test::NewDiskImage();
      test::BuildDisk(*disk, shape, 29, comment);
      const Bytes bytes = f.build(*disk);
      if (bytes.empty()) continue;
      test::WriteFile(dir / "DISK.IMG", bytes);
      for (const test::LoadedPlugin& reader : readers) {
        EXPECT_NE(reader.IsSupport(dir / "DISK.IMG").result, kResultOk);
      }
    }
  }
}

TEST(Recognition, EveryFormatGoesThroughD88AndFddUnchanged) {
  if (!Built("d88_writer.dvw") || !Built("d88_reader.dvr")) GTEST_SKIP() << "no D88 plug-ins";
  const auto d88_writer = test::LoadBuiltPlugin("d88_writer.dvw");
  const auto d88_reader = test::LoadBuiltPlugin("d88_reader.dvr");
  const auto fdd_writer = test::LoadBuiltPlugin("fdd_writer.dvw");
  const auto fdd_reader = test::LoadBuiltPlugin("fdd_reader.dvr");
  auto first = test::NewDiskImage();
  auto second = test::NewDiskImage();
  auto third = test::NewDiskImage();
  for (const Sample& sample : Samples()) {
    if (!Built(sample.reader)) continue;
    const test::LoadedPlugin reader = test::LoadBuiltPlugin(sample.reader);
    for (const test::DiskShape& shape : Shapes()) {
      SCOPED_TRACE(std::string(sample.format) + " / " + shape.name);
      auto disk = test::NewDiskImage();
      test::BuildDisk(*disk, shape, 23, "\x83\x51\x81\x5B\x83\x80");
      const Files files = sample.build(*disk);
      if (files.empty()) continue;
      test::TempDir dir;
      for (const auto& [name, bytes] : files) test::WriteFile(dir / name, bytes);
      std::memset(first.get(), 0, sizeof(DiskImage));
      const auto read = reader.ReadDisk(dir / files[0].first, *first);
      ASSERT_TRUE(read.result == kResultOk || read.result == kResultMoreDisks) << read.message;
      // Formats that number sectors themselves may interleave a track;
      // what goes on from here must keep every slot as it is.
      EXPECT_EQ(test::RawBytes(*first), test::RawBytes(*disk));

      std::memcpy(second.get(), first.get(), sizeof(DiskImage));
      ASSERT_EQ(d88_writer.WriteDisk(*second, dir / "VIA.D88").result, kResultOk);
      std::memset(second.get(), 0, sizeof(DiskImage));
      ASSERT_EQ(d88_reader.ReadDisk(dir / "VIA.D88", *second).result, kResultOk);
      EXPECT_EQ(test::CompareDisks(*first, *second), "");

      ASSERT_EQ(fdd_writer.WriteDisk(*second, dir / "VIA.FDD").result, kResultOk);
      std::memset(third.get(), 0, sizeof(DiskImage));
      ASSERT_EQ(fdd_reader.ReadDisk(dir / "VIA.FDD", *third).result, kResultOk);
      EXPECT_EQ(test::CompareDisks(*first, *third), "");
    }
  }
}

}  // namespace
}  // namespace dravik
