// Writes seeds for the fuzz targets of the readers, into
// SEEDS_FOLDER/<reader>_fuzzer/:
//   make-image-seeds SEEDS_FOLDER [PROGRAM_FOLDER]
// small files of the formats only read here (SLF, VFL and VFZ, their tracks
// and cylinders packed by lha, FIX, FIM, DIP, DCP, STDFILE, DFcnv and NFD),
// and the sample file of every input format in every shape it holds, up to
// a size (the formats this program also writes need the writers of
// PROGRAM_FOLDER). The files are kept small where the format allows:
// libFuzzer mutates within the longest seed.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk_builder.h"
#include "format_files.h"
#include "format_samples.h"
#include "nfd_image.h"
#include "slf_image.h"
#include "vfl_image.h"

namespace {

using namespace dravik;

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// 2 cylinders of 2 x 4 sectors of 128 bytes with a FAT12 BPB: one FAT
// sector, one root sector, data from sector 3, clusters of one sector.
std::unique_ptr<DiskImage> SmallFatDisk() {
  auto disk = std::make_unique<DiskImage>();
  test::BuildDisk(*disk, {"small", 4, 4, 0}, 5, "SEED");
  test::FillWithMixedContent(*disk, 5);
  uint8_t* boot = disk->data;
  std::memset(boot, 0, 128);
  boot[11] = 128;  // bytes per sector
  boot[13] = 1;    // sectors per cluster
  boot[14] = 1;    // reserved sectors
  boot[16] = 1;    // FATs
  boot[17] = 4;    // root entries
  boot[22] = 1;    // sectors per FAT
  uint8_t* fat = disk->data + 128;
  std::memset(fat, 0, 128);
  // Clusters 2 to 14: in use, free, bad, in use, ...
  const int entries[] = {0xFF0, 0xFFF, 0xFFF, 0xFFF, 0x000, 0xFF7, 0xFFF, 0x000,
                         0xFFF, 0xFFF, 0x000, 0xFFF, 0xFFF, 0x000, 0xFFF, 0xFFF};
  for (int k = 0; k < 16; k += 2) {
    fat[k * 3 / 2] = static_cast<uint8_t>(entries[k]);
    fat[k * 3 / 2 + 1] = static_cast<uint8_t>((entries[k] >> 8) | (entries[k + 1] << 4));
    fat[k * 3 / 2 + 2] = static_cast<uint8_t>(entries[k + 1] >> 4);
  }
  return disk;
}

// Formats that store no packed data: 4-track disks where the format takes
// any shape, its smallest shape where the length is fixed.
void SaveSectorFormatSeeds(const std::string& folder) {
  using test::Bytes;
  const std::string comment = test::SjisGameTitle(1);
  const test::DiskShape small = {"small", 4, 8, 1};
  const test::DiskShape mixed = {"mixed", 4, 26, 1, true};
  const auto fix = [&](int mode, int sub_mode, bool second) {
    return [=](const DiskImage& d) {
      return test::FixFile(d, {mode, sub_mode, "FIX", comment, second});
    };
  };
  const auto dcp = [](int type) {
    return [=](const DiskImage& d) {
      Bytes map(160, 0);
      map[0] = map[1] = 1;
      return test::DcpFile(d, type, map, false);
    };
  };
  const auto fim = [&](const DiskImage& d) { return test::FimFile(d, comment); };
  const auto dip = [&](const DiskImage& d) { return test::DipFile(d, comment); };
  const auto std_file = [](const DiskImage& d) { return test::StdFile(d); };
  const auto dfcnv = [&](const DiskImage& d) { return test::DfcnvFile(d, comment); };
  const struct {
    const char* target;
    const char* name;
    test::DiskShape shape;
    std::function<Bytes(const DiskImage&)> make;
  } seeds[] = {
      {"fix_reader", "mode0.fix", small, fix(0, 0, false)},
      {"fix_reader", "mode6.fix", mixed, fix(6, 1, true)},
      {"fix_reader", "mode10.fix", small, fix(10, 0, false)},
      {"fix_reader", "mode20.fix", small, fix(20, 0, true)},
      {"fim_reader", "640k.fim", test::ShapeNamed("640K"), fim},
      {"dip_reader", "1.25m.dip", test::ShapeNamed("1.25M"), dip},
      {"dcp_reader", "1.25m.dcp", test::ShapeNamed("1.25M"), dcp(1)},
      {"dcp_reader", "640k.dcp", test::ShapeNamed("640K"), dcp(4)},
      {"std_reader", "small.std", small, std_file},
      {"std_reader", "mixed.std", mixed, std_file},
      {"dfcnv_reader", "small.dfc", small, dfcnv},
      {"dfcnv_reader", "mixed.dfc", mixed, dfcnv},
  };
  auto disk = std::make_unique<DiskImage>();
  for (const auto& seed : seeds) {
    const std::string dir = folder + "/" + seed.target + "_fuzzer/";
    mkdir(dir.c_str(), 0755);
    test::BuildDisk(*disk, seed.shape, 1, comment);
    std::memset(disk->data + 1024, 0xE5, 2048);  // sectors STDFILE keeps as a fill byte
    Save(dir + seed.name, seed.make(*disk));
  }
}

// A sample larger than this would slow every run of its target down.
constexpr size_t kMaxSampleSeed = 256 * 1024;

void SaveFormatSamples(const std::string& folder, const std::string& program_folder) {
  auto disk = std::make_unique<DiskImage>();
  for (const test::InputFormat& format : test::InputFormats()) {
    const std::string reader = format.reader.substr(0, format.reader.find('.'));
    const std::string dir = folder + "/" + reader + "_fuzzer/";
    mkdir(dir.c_str(), 0755);
    for (const test::DiskShape& shape : test::SampleShapes()) {
      test::BuildSampleDisk(*disk, shape);
      test::SampleFiles files;
      try {
        files = format.make(*disk, "S", program_folder);
      } catch (const std::exception& e) {
        // A writer not built in this build: its format is seeded elsewhere.
        std::fprintf(stderr, "make-image-seeds: %s: %s\n", format.name.c_str(), e.what());
        break;
      }
      // Formats of two files are fuzzed by targets of their own.
      if (files.size() != 1 || files[0].bytes.size() > kMaxSampleSeed) continue;
      const size_t dot = files[0].name.rfind('.');
      Save(dir + format.name + "_" + shape.name + files[0].name.substr(dot), files[0].bytes);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make-image-seeds SEEDS_FOLDER [PROGRAM_FOLDER]\n");
    return 2;
  }
  const std::string slf = std::string(argv[1]) + "/slf_reader_fuzzer/";
  const std::string vfl = std::string(argv[1]) + "/vfl_reader_fuzzer/";
  mkdir(argv[1], 0755);
  mkdir(slf.c_str(), 0755);
  mkdir(vfl.c_str(), 0755);
  const std::string nfd = std::string(argv[1]) + "/nfd_reader_fuzzer/";
  mkdir(nfd.c_str(), 0755);
  try {
    auto disk = std::make_unique<DiskImage>();
    // 6 tracks of 4 x 128 and 26 x 128 interleaved: fill, raw and lh5 tracks.
    test::BuildDisk(*disk, {"small", 6, 4, 0}, 1, "SEED");
    test::FillWithMixedContent(*disk, 1);
    const test::SlfRecord packed = test::SlfRecordOf(*disk, test::SlfStorage::kPacked);
    Save(slf + "packed.slf", test::SlfFile({packed}, 64));
    auto mixed = std::make_unique<DiskImage>();
    test::BuildDisk(*mixed, {"mixed", 2, 26, 0, true}, 2, "SEED2");
    test::FillWithMixedContent(*mixed, 2);
    test::InterleaveRows(*mixed);
    test::SlfRecord other = test::SlfRecordOf(*mixed, test::SlfStorage::kPacked);
    other.tracks[5].extra = 0x03;  // an absent track with an override pair
    Save(slf + "two.slf", test::SlfFile({other, packed}, 64));

    const auto fat = SmallFatDisk();
    const test::VflVolume whole = test::VflVolumeOf(*disk, 4, test::VflStorage::kPacked, false);
    const test::VflVolume clusters = test::VflVolumeOf(*fat, 0, test::VflStorage::kPacked, true);
    Save(vfl + "whole.vfl", test::VflVolumeBytes(whole));
    Save(vfl + "clusters.vfl", test::VflVolumeBytes(clusters));
    Save(vfl + "two.vfz", test::VfzFile({clusters, whole}, "SEEDS"));
    SaveSectorFormatSeeds(argv[1]);

    // NFD: r1 with retry copies, r0 (its table alone is 68 KB).
    test::NfdOptions r1 = test::NfdRevision(1, "SEED");
    r1.retries = {{0, 1, 2}, {3, 0, 1}};
    Save(nfd + "mixed_r1.nfd", test::NfdImage(*mixed, r1));
    Save(nfd + "small_r1.nfd", test::NfdImage(*disk, r1));
    Save(nfd + "small_r0.nfd", test::NfdImage(*disk, test::NfdRevision(0, "SEED", 0x10)));
    SaveFormatSamples(argv[1], argc == 3 ? std::string(argv[2]) + "/" : std::string());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-image-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
