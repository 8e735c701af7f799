// VFL volumes and VFZ containers built by test code: MS-DOS disks made by
// mkfs.fat and mtools, stored whole or packed to the clusters in use (their
// cylinders compressed by lha), read back as their disks; a small hand-laid
// volume for the cluster rules and every refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "fat_disk.h"
#include "scratch_program.h"
#include "test_support.h"
#include "vfl_image.h"

namespace dravik {
namespace {

using test::VflCylinder;
using test::VflStorage;
using test::VflVolume;
using Bytes = std::vector<uint8_t>;

const std::string kName = "\x83\x51\x81\x5B\x83\x80 vol";  // "ゲーム vol" in Shift-JIS
const std::string kNameUtf8 = "ゲーム vol";

std::string Text(size_t size, uint32_t seed) {
  static const char* const words[] = {"MS-DOS ", "disk ", "フロッピー ", "\r\n", "ゲーム ", "0123 "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += words[random() % 6];
  text.resize(size);
  return text;
}

std::string Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

const std::vector<test::FatFile>& Files() {
  static const std::vector<test::FatFile> files = {
      {"README.TXT", "read me\r\n"},
      {"SUB/DATA.TXT", Text(40000, 1)},
      {"GONE.TXT", Text(20000, 2)},
      {"NOISE.BIN", Noise(60000, 3)},
      {"LAST.TXT", Text(60000, 4)},
  };
  return files;
}

struct Media {
  const char* shape;
  int type;
  uint8_t fill;
  const char* label;
};
const Media kMedia[] = {
    {"1.25M", 0, 0xE5, "\r\n(1.25M : "}, {"1.21M", 1, 0xF6, "\r\n(1.21M : "},
    {"1.44M", 2, 0xF6, "\r\n(1.44M : "}, {"720K", 3, 0xF6, "\r\n(720K : "},
    {"640K", 4, 0xE5, "\r\n(640K : "},
};

// An MS-DOS disk of the shape with the files, one deleted again, and a
// cluster near the end marked bad (its bytes made visible).
std::unique_ptr<DiskImage> FatDisk(const char* shape) {
  Bytes dump = test::MakeFatDump(shape, Files(), {"GONE.TXT"});
  const auto le16 = [&](int at) { return dump[at] | (dump[at + 1] << 8); };
  const int bytes_per_sector = le16(11);
  const int per_cluster = dump[13];
  const int first_data = le16(14) + dump[16] * le16(22) + le16(17) * 32 / bytes_per_sector;
  const int total = static_cast<int>(dump.size()) / bytes_per_sector;
  const int bad = (total - 40 - first_data) / per_cluster + 2;
  test::SetFatEntry(dump, bad, 0xFF7);
  std::memset(dump.data() + static_cast<size_t>(first_data + (bad - 2) * per_cluster) * bytes_per_sector,
              'X', static_cast<size_t>(per_cluster) * bytes_per_sector);
  auto disk = test::NewDiskImage();
  test::BuildDiskFromRaw(*disk, test::ShapeNamed(shape), dump);
  std::memcpy(disk->title, kName.data(), kName.size());
  return disk;
}

class VflReaderTest : public testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const std::string& name = "GAME.VFL") {
    const std::string path = dir_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  test::CallResult Read(const Bytes& bytes, int disk = 1, int abort_at = 0) {
    std::memset(image_.get(), 0, sizeof(DiskImage));
    return plugin_.ReadDisk(Write(bytes), *image_, disk, abort_at);
  }

  test::TempDir dir_;
  test::LoadedPlugin plugin_ = test::LoadBuiltPlugin("vfl_reader.dvr");
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(VflReaderTest, MkfsFatDisksWholeOrPackedReadBack) {
  EXPECT_EQ(plugin_.description(), "VFL/VFZ形式入力Plug-in Ver.1.00");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(plugin_.caps(), caps, kCapsSize), 0);
  for (const Media& media : kMedia) {
    const auto disk = FatDisk(media.shape);
    for (bool packed : {true, false}) {
      SCOPED_TRACE(std::string(media.shape) + (packed ? " packed" : " whole"));
      const VflVolume volume = test::VflVolumeOf(
          *disk, media.type, packed ? VflStorage::kPacked : VflStorage::kRaw, packed);
      if (packed) {
        int kinds[3] = {};
        for (const VflCylinder& c : volume.table) ++kinds[c.storage];
        EXPECT_TRUE(kinds[0] > 0 && kinds[1] > 0 && kinds[2] > 0)
            << kinds[0] << " " << kinds[1] << " " << kinds[2];
      }
      const Bytes file = test::VflVolumeBytes(volume);
      const std::string path = Write(file);
      EXPECT_EQ(plugin_.IsSupport(path).result, 0);
      const auto info = plugin_.GetFileInfo(path);
      EXPECT_EQ(info.result, 0);
      EXPECT_EQ(info.message, "\r\nVFL形式");
      EXPECT_EQ(info.title, "");
      EXPECT_EQ(info.multi_disk, 0);

      const auto read = Read(file);
      ASSERT_EQ(read.result, 0) << read.message;
      auto expected = test::NewDiskImage();
      std::memcpy(expected.get(), disk.get(), sizeof(DiskImage));
      // Free and bad clusters after cylinder 0 come back as the media's fill.
      if (packed) test::FillUnusedClusters(*expected, media.fill);
      EXPECT_EQ(test::CompareDisks(*expected, *image_), "");
      EXPECT_EQ(std::string(image_->title), kName);
      EXPECT_EQ(read.title, kNameUtf8);
      const int tracks = test::ShapeNamed(media.shape).tracks;
      const int sectors = test::ShapeNamed(media.shape).sectors;
      EXPECT_EQ(image_->track_count, tracks);
      EXPECT_EQ(image_->sectors_per_track, sectors);
      EXPECT_EQ(test::IdText(image_->ids[tracks - 1][sectors - 1]),
                std::to_string(tracks / 2 - 1) + " 1 " + std::to_string(sectors) + " " +
                    std::to_string(test::ShapeNamed(media.shape).size_code) + " 0 1");
      EXPECT_TRUE(IsEmptySlot(&image_->ids[tracks - 1][sectors]));
      ASSERT_EQ(read.progress.size(), static_cast<size_t>(tracks / 2));
      EXPECT_EQ(read.progress[0].text, media.label + std::to_string(tracks) + "Tracks : " +
                                           std::to_string(sectors) + "Sector)\r\n  " + kNameUtf8);
      EXPECT_EQ(read.progress.back().done, tracks / 2 - 1);
      EXPECT_EQ(read.progress.back().total, tracks / 2);
      EXPECT_EQ(read.progress.back().text, "");
    }
  }
}

// The files mtools put on the disk come out of the packed volume again.
TEST_F(VflReaderTest, CliExtractsTheFilesOfAPackedVolume) {
  const auto disk = FatDisk("1.25M");
  const std::string source =
      Write(test::VflVolumeBytes(test::VflVolumeOf(*disk, 0, VflStorage::kPacked, true)),
            "PC98.VFL");
  test::ScratchProgram program;
  program.AddCli();
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.ends_with(".dvr") || name.ends_with(".dvw")) program.AddBuiltPlugin(name);
  }
  test::TempDir out;
  const auto run = program.RunCli("-t FILE -o " + test::ShellQuote(out.path()) + " " +
                                  test::ShellQuote(source));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string root = out / "PC98";
  EXPECT_EQ(test::ListFolder(root),
            (std::vector<std::string>{"LAST.TXT", "NOISE.BIN", "README.TXT", "SUB"}));
  for (const auto& file : Files()) {
    if (file.path == "GONE.TXT") continue;
    EXPECT_TRUE(test::ReadFile(root + "/" + file.path) == file.contents) << file.path;
  }
}

TEST_F(VflReaderTest, ContainersHoldSeveralVolumes) {
  const auto first = FatDisk("1.25M");
  const auto second = FatDisk("1.44M");
  const VflVolume a = test::VflVolumeOf(*first, 0, VflStorage::kRaw, false);
  const VflVolume b = test::VflVolumeOf(*second, 2, VflStorage::kPacked, false);
  const Bytes two = test::VfzFile({a, b}, "ABC");
  auto info = plugin_.GetFileInfo(Write(two, "GAME.VFZ"));
  EXPECT_EQ(info.result, 0);
  EXPECT_EQ(info.message, "\r\nVFZ形式(2VFL格納)\r\nABC");
  EXPECT_EQ(info.title, "ABC");
  EXPECT_EQ(info.multi_disk, 1);
  info = plugin_.GetFileInfo(Write(test::VfzFile({a, b}, "ABC", 3), "GAME.VFZ"));
  EXPECT_EQ(info.message, "\r\nVFZ形式(3VFL格納)\r\nABC");
  info = plugin_.GetFileInfo(Write(test::VfzFile({a}, kName + std::string(40, 'n')), "GAME.VFZ"));
  EXPECT_EQ(info.message, "\r\nVFZ形式(1VFL格納)\r\n" + kNameUtf8 + std::string(41 - kName.size(), 'n'));
  EXPECT_EQ(info.multi_disk, 0);

  for (int disk : {1, 0, -2, 65537}) {
    EXPECT_EQ(Read(two, disk).result, 9) << disk;
    EXPECT_EQ(test::CompareDisks(*first, *image_), "") << disk;
  }
  EXPECT_EQ(Read(two, 2).result, 0);
  EXPECT_EQ(test::CompareDisks(*second, *image_), "");
  EXPECT_EQ(Read(two, 3).result, 6);
  // Trailing bytes behind a volume are no further volume.
  Bytes tail = test::VfzFile({a}, "ABC");
  tail.resize(tail.size() + 255);
  EXPECT_EQ(Read(tail).result, 0);
  Bytes vfl = test::VflVolumeBytes(a);
  vfl.resize(vfl.size() + 4096, 0x55);
  EXPECT_EQ(Read(vfl).result, 0);

  // A volume length too short to hold a volume would not move the chain on.
  Bytes stuck = two;
  for (int i = 0; i < 4; ++i) stuck[128 + 13 + i] = 0;
  EXPECT_EQ(Read(stuck, 1).result, 0);
  EXPECT_EQ(Read(stuck, 2).result, 6);
}

TEST_F(VflReaderTest, CliConvertsVolumesAndContainers) {
  const auto first = FatDisk("1.25M");
  const auto second = FatDisk("720K");
  auto second_packed = test::NewDiskImage();
  std::memcpy(second_packed.get(), second.get(), sizeof(DiskImage));
  test::FillUnusedClusters(*second_packed, 0xF6);
  const VflVolume a = test::VflVolumeOf(*first, 0, VflStorage::kPacked, false);
  const VflVolume b = test::VflVolumeOf(*second, 3, VflStorage::kPacked, true);
  test::ExpectCliConvertsToImages(Write(test::VflVolumeBytes(a), "ONE.VFL"), {first.get()});
  test::ExpectCliConvertsToImages(Write(test::VfzFile({a, b}, "ABC"), "ゲーム.VFZ"),
                                  {first.get(), second_packed.get()});
}

// Two cylinders of 2 x 2 sectors of 128 bytes: boot sector, FAT (sector 1),
// clusters 2 and 3 on cylinder 0; clusters 4 to 7 on cylinder 1, where 4
// and 7 are in use, 5 free and 6 bad. Cylinder 1 stores 4 and 7 only.
VflVolume SmallVolume() {
  VflVolume v;
  v.cylinders = 2;
  v.bytes_per_sector = 128;
  v.sectors_per_cylinder = 4;
  v.bytes_per_cylinder = 512;
  v.bytes_per_cluster = 128;
  v.sectors_per_cluster = 1;
  v.first_fat_sector = 1;
  v.sectors_per_fat = 1;
  v.first_data_sector = 2;
  v.packed = 1;
  v.name = "small";
  Bytes zero(512, 0);
  Bytes fat(128, 0);
  const int entries[] = {0xFF0, 0xFFF, 0xFFF, 0xFFF, 0xFFF, 0x000, 0xFF7, 0xFFF};
  for (int k = 0; k < 8; k += 2) {
    fat[k * 3 / 2] = static_cast<uint8_t>(entries[k]);
    fat[k * 3 / 2 + 1] = static_cast<uint8_t>((entries[k] >> 8) | (entries[k + 1] << 4));
    fat[k * 3 / 2 + 2] = static_cast<uint8_t>(entries[k + 1] >> 4);
  }
  std::memcpy(zero.data() + 128, fat.data(), 128);
  std::memset(zero.data() + 256, 'c', 256);
  Bytes kept(128, 'A');
  kept.insert(kept.end(), 128, 'B');
  v.table = {VflCylinder{0, 0, zero, 0}, VflCylinder{0, 0, kept, 0}};
  return v;
}

TEST_F(VflReaderTest, PackedClustersBadOnesKeepTheirSlot) {
  auto read = Read(test::VflVolumeBytes(SmallVolume()));
  ASSERT_EQ(read.result, 0) << read.message;
  const std::string cylinder1(reinterpret_cast<const char*>(image_->data) + 512, 512);
  EXPECT_EQ(cylinder1, std::string(128, 'A') + std::string(256, '\xE5') + std::string(128, 'B'));
  EXPECT_EQ(image_->track_count, 4);
  EXPECT_EQ(image_->sectors_per_track, 2);
  EXPECT_EQ(image_->size_code, 0);

  // As a fill cylinder of the 640K type: its in-use clusters take
  // consecutive slices of the filled area.
  VflVolume v = SmallVolume();
  v.media_type = 4;
  v.table[1] = VflCylinder{1, 'F', {}, 0};
  read = Read(test::VflVolumeBytes(v));
  ASSERT_EQ(read.result, 0) << read.message;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image_->data) + 512, 512),
            std::string(128, 'F') + std::string(256, '\xE5') + std::string(128, 'F'));
  // An unpacked volume needs no FAT and no cluster sizes.
  v = SmallVolume();
  v.packed = 0;
  v.sectors_per_cluster = v.bytes_per_cluster = v.sectors_per_fat = 0;
  v.first_fat_sector = -7;
  v.table[1].stored.resize(512, 'C');
  ASSERT_EQ(Read(test::VflVolumeBytes(v)).result, 0);
  EXPECT_EQ(image_->data[512 + 511], 'C');
  // A volume of no cylinders is an empty disk.
  v.cylinders = 0;
  ASSERT_EQ(Read(test::VflVolumeBytes(v)).result, 0);
  EXPECT_EQ(image_->track_count, 0);
}

TEST_F(VflReaderTest, RefusesWhatTheWorkAreasCannotHold) {
  struct Case {
    const char* name;
    void (*spoil)(VflVolume&);
    std::string message;
  } cases[] = {
      {"media type 5", [](VflVolume& v) { v.media_type = 5; }, "\r\n謎のディスク形式です:5"},
      {"media type -1", [](VflVolume& v) { v.media_type = -1; }, "\r\n謎のディスク形式です:-1"},
      {"4096-byte sectors", [](VflVolume& v) { v.bytes_per_sector = 4096; },
       "\r\nセクタ長異常:4096"},
      {"81 cylinders", [](VflVolume& v) { v.cylinders = 81; }, "\r\nイメージデータが異常です"},
      {"negative cylinders", [](VflVolume& v) { v.cylinders = -2; }, "\r\nイメージデータが異常です"},
      {"odd sectors per cylinder", [](VflVolume& v) { v.sectors_per_cylinder = 3; },
       "\r\nイメージデータが異常です"},
      {"bytes per cylinder not the sectors'", [](VflVolume& v) { v.bytes_per_cylinder = 384; },
       "\r\nイメージデータが異常です"},
      {"cylinder over 18,688 bytes",
       [](VflVolume& v) {
         v.bytes_per_sector = 2048;
         v.sectors_per_cylinder = 10;
         v.bytes_per_cylinder = 20480;
       },
       "\r\nイメージデータが異常です"},
      {"27 sectors per track",
       [](VflVolume& v) {
         v.sectors_per_cylinder = 54;
         v.bytes_per_cylinder = 54 * 128;
       },
       "\r\nイメージデータが異常です"},
      {"no sectors per cluster", [](VflVolume& v) { v.sectors_per_cluster = 0; },
       "\r\nイメージデータが異常です"},
      {"no bytes per cluster", [](VflVolume& v) { v.bytes_per_cluster = 0; },
       "\r\nイメージデータが異常です"},
      {"FAT beyond cylinder 0", [](VflVolume& v) { v.sectors_per_fat = 4; },
       "\r\nイメージデータが異常です"},
      {"clusters before the FAT's first entry", [](VflVolume& v) { v.first_data_sector = 30; },
       "\r\nイメージデータが異常です"},
      {"clusters past the FAT copy", [](VflVolume& v) { v.first_data_sector = -400; },
       "\r\nイメージデータが異常です"},
      {"clusters that miss the cylinder", [](VflVolume& v) { v.sectors_per_cluster = 3; },
       "\r\nクラスタ補完失敗"},
      {"clusters past the cylinder", [](VflVolume& v) { v.bytes_per_cluster = 256; },
       "\r\nイメージデータが異常です"},
      {"unknown storage type", [](VflVolume& v) { v.table[1].storage = 3; },
       "\r\nイメージデータが異常です"},
      {"negative storage type", [](VflVolume& v) { v.table[1].storage = -1; },
       "\r\nイメージデータが異常です"},
      {"cylinder 0 shorter than a cylinder", [](VflVolume& v) { v.table[0].stored.resize(511); },
       "\r\nイメージデータが異常です"},
      {"fewer bytes than the clusters in use", [](VflVolume& v) { v.table[1].stored.resize(255); },
       "\r\nイメージデータが異常です"},
      {"damaged lh5 cylinder",
       [](VflVolume& v) {
         v.table[1] = VflCylinder{2, 0, Bytes(30, 0xFF), 256};
       },
       "\r\nイメージデータが異常です"},
      {"lh5 decoded length over 18,688",
       [](VflVolume& v) {
         v.table[1] = VflCylinder{2, 0, Bytes(30, 0), 20000};
       },
       "\r\nイメージデータが異常です"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VflVolume v = SmallVolume();
    c.spoil(v);
    const auto read = Read(test::VflVolumeBytes(v));
    EXPECT_EQ(read.result, 8);
    EXPECT_EQ(read.message, c.message);
  }
  // The cylinder table's stored length is signed: a negative one is refused.
  Bytes negative = test::VflVolumeBytes(SmallVolume());
  negative[256 + 16 + 5] = 0x80;
  EXPECT_EQ(Read(negative).message, "\r\nイメージデータが異常です");

  const Bytes good = test::VflVolumeBytes(SmallVolume());
  EXPECT_EQ(Read(test::VfzFile({SmallVolume()}, "x", -1, "0011")).message,
            "\r\nVFZバージョンエラー");
  EXPECT_EQ(plugin_.IsSupport(Write(test::VfzFile({SmallVolume()}, "x", -1, "0011"))).result, 0);
  EXPECT_EQ(Read(good, 1, 1).result, 1);
  EXPECT_EQ(plugin_.ReadDirect(Write(good), dir_ / "out").message, "\r\n未対応の変換です。");
  EXPECT_EQ(plugin_.IsSupport(dir_ / "missing").result, 8);
  EXPECT_EQ(plugin_.GetFileInfo(dir_ / "missing").message,
            "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "missing" + ": No such file or directory");
  EXPECT_EQ(plugin_.ReadDisk(dir_ / "missing", *image_).result, 8);
  EXPECT_EQ(plugin_.IsSupport(Write(Bytes{'V', 'O', 'L', '_', 'F', 'I', 'L'})).result, 2);
  EXPECT_EQ(plugin_.IsSupport(Write(Bytes{'V', 'O', 'L', '_', 'F', 'I', 'L', 'X'})).result, 2);
  EXPECT_EQ(plugin_.GetFileInfo(Write(Bytes(good.begin(), good.begin() + 127))).result, 6);
}

// Every prefix of a two-volume container: a read error while a volume is
// cut, the second volume gone once its first 256 bytes are.
TEST_F(VflReaderTest, TruncatedContainers) {
  VflVolume second = SmallVolume();
  second.table[1] = VflCylinder{1, 0x33, {}, 0};
  const Bytes file = test::VfzFile({SmallVolume(), second}, "t");
  const size_t first_end = 128 + 32 + test::VflVolumeBytes(SmallVolume()).size();
  test::ForEveryTruncation("vfl_reader.dvr", file, [&](size_t length, const auto& answers) {
    EXPECT_EQ(answers.is_support, length >= 8 ? 0 : 2) << length;
    if (length < 8) return;
    EXPECT_EQ(answers.file_info, length >= 128 ? 0 : 6) << length;
    const int read = length >= first_end + 256 ? 9 : length >= first_end ? 0 : 6;
    EXPECT_EQ(answers.read_disk, read) << length;
  });
}

}  // namespace
}  // namespace dravik
