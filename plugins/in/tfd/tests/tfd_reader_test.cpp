// The raw image reader: recognition by exact length, the geometry of each of
// the seven capacities, and the interleaved mixed-density 2HD disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::DiskShape;
using test::ShapeNamed;

struct Capacity {
  size_t length;
  const char* description;
  DiskShape shape;
  bool diskbasic = false;
};

const std::vector<Capacity>& Capacities() {
  static const std::vector<Capacity> capacities = {
      {655360, "\r\nTFD形式(640K)", ShapeNamed("640K")},
      {737280, "\r\nTFD形式(720K)", ShapeNamed("720K")},
      {1021696, "\r\nTFD形式(1MB DISKBASIC)", ShapeNamed("mixed2HD"), true},
      {1025024, "\r\nTFD形式(1M 26sector)", {"1M26", 154, 26, 1}},
      {1228800, "\r\nTFD形式(1.21M)", ShapeNamed("1.21M")},
      {1261568, "\r\nTFD形式(1.25M)", ShapeNamed("1.25M")},
      {1474560, "\r\nTFD形式(1.44M)", ShapeNamed("1.44M")},
  };
  return capacities;
}

// A raw dump of the capacity's disk, each sector's bytes different.
std::vector<uint8_t> RawImage(const Capacity& capacity, uint32_t seed = 7) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, capacity.shape, seed);
  return test::RawBytes(*disk);
}

class TfdReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("tfd_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(TfdReaderTest, IdentifiesItselfAsAnInputPlugin) {
  EXPECT_EQ(reader_.kind(), kKindInput);
  EXPECT_EQ(reader_.interface_version(), 1);
  EXPECT_EQ(reader_.description(), "TFD/BKDSK形式入力Plug-in Ver.1.01");
  const uint8_t caps[kCapsSize] = {1};
  EXPECT_EQ(std::memcmp(reader_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(reader_.extension(), "");
  EXPECT_EQ(reader_.label(), "");
}

TEST_F(TfdReaderTest, RecognisesTheSevenCapacitiesAndNoOtherLength) {
  for (const Capacity& capacity : Capacities()) {
    SCOPED_TRACE(capacity.description);
    const std::string path = dir_ / "disk.img";
    test::WriteFile(path, std::string(capacity.length, '\0'));
    auto support = reader_.IsSupport(path);
    EXPECT_EQ(support.result, 0);
    EXPECT_EQ(support.message, "");
    auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.message, capacity.description);
    EXPECT_EQ(info.title, "");
    EXPECT_EQ(info.multi_disk, 0);

    for (size_t length : {capacity.length - 1, capacity.length + 1}) {
      test::WriteFile(path, std::string(length, '\0'));
      EXPECT_EQ(reader_.IsSupport(path).result, 2) << length;
      info = reader_.GetFileInfo(path);
      EXPECT_EQ(info.result, 8) << length;
      EXPECT_EQ(info.message, "");
      const auto read = reader_.ReadDisk(path, *image_);
      EXPECT_EQ(read.result, 8) << length;
      EXPECT_EQ(read.message, "");
    }
  }
  test::WriteFile(dir_ / "empty.img", "");
  EXPECT_EQ(reader_.IsSupport(dir_ / "empty.img").result, 2);
}

TEST_F(TfdReaderTest, ReadsEachCapacityIntoItsGeometryAndBackToItsBytes) {
  for (const Capacity& capacity : Capacities()) {
    SCOPED_TRACE(capacity.description);
    const std::vector<uint8_t> raw = RawImage(capacity);
    ASSERT_EQ(raw.size(), capacity.length);
    test::WriteFile(dir_ / "disk.img", raw);
    const auto read = reader_.ReadDisk(dir_ / "disk.img", *image_);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.message, "");
    EXPECT_EQ(read.title, "");
    EXPECT_EQ(image_->title[0], '\0');
    EXPECT_EQ(image_->track_count, capacity.shape.tracks);
    EXPECT_EQ(image_->head_count, 2);
    EXPECT_EQ(image_->sectors_per_track, capacity.shape.sectors);
    EXPECT_EQ(image_->size_code, capacity.shape.size_code);
    EXPECT_EQ(test::RawBytes(*image_), raw);

    for (int t = 0; t < kMaxTracks; ++t) {
      for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
        const SectorId& id = image_->ids[t][s];
        if (t >= capacity.shape.tracks || s >= capacity.shape.sectors) {
          const SectorId empty{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
          ASSERT_EQ(std::memcmp(&id, &empty, sizeof(id)), 0) << t << "/" << s;
          continue;
        }
        const bool fm = capacity.diskbasic && t == 0;
        ASSERT_EQ(id.c, t / 2);
        ASSERT_EQ(id.h, t % 2);
        ASSERT_EQ(id.n, fm ? 0 : capacity.shape.size_code);
        ASSERT_EQ(id.deleted, 0);
        ASSERT_EQ(id.mfm, fm ? 0 : 1);
        if (!capacity.diskbasic) {
          ASSERT_EQ(id.r, s + 1) << t << "/" << s;
        }
      }
    }

    // Every one of the 160 rows reports, against the disk's own count.
    ASSERT_EQ(read.progress.size(), 160u);
    for (int t = 0; t < kMaxTracks; ++t) {
      EXPECT_EQ(read.progress[t].done, t);
      EXPECT_EQ(read.progress[t].total, capacity.shape.tracks);
      EXPECT_EQ(read.progress[t].text, "");
    }
  }
}

TEST_F(TfdReaderTest, DiskbasicHasAnFmTrackZeroAndInterleavedRowsThe26SectorDiskNot) {
  const Capacity& diskbasic = Capacities()[2];
  const Capacity& plain = Capacities()[3];
  const std::vector<uint8_t> raw = RawImage(diskbasic);
  test::WriteFile(dir_ / "basic.img", raw);
  ASSERT_EQ(reader_.ReadDisk(dir_ / "basic.img", *image_).result, 0);
  const uint8_t expected_r[26] = {1,  14, 2,  15, 3,  16, 4,  17, 5,  18, 6,  19, 7,
                                  20, 8,  21, 9,  22, 10, 23, 11, 24, 12, 25, 13, 26};
  for (int t : {0, 1, 153}) {
    for (int s = 0; s < 26; ++s) EXPECT_EQ(image_->ids[t][s].r, expected_r[s]) << t << "/" << s;
  }
  // Row 0's slot 1 holds the 14th 128-byte sector of the file; row 1's slot
  // 1 the 14th 256-byte sector after the 3,328 bytes of track 0.
  EXPECT_EQ(std::memcmp(image_->data + 128, raw.data() + 13 * 128, 128), 0);
  EXPECT_EQ(std::memcmp(image_->data + 3328 + 256, raw.data() + 3328 + 13 * 256, 256), 0);
  EXPECT_EQ(std::memcmp(image_->data + 3328 + 25 * 256, raw.data() + 3328 + 25 * 256, 256), 0);

  test::WriteFile(dir_ / "plain.img", RawImage(plain));
  ASSERT_EQ(reader_.ReadDisk(dir_ / "plain.img", *image_).result, 0);
  for (int s = 0; s < 26; ++s) {
    const SectorId& id = image_->ids[0][s];
    EXPECT_EQ(id.r, s + 1);
    EXPECT_EQ(id.n, 1);
    EXPECT_EQ(id.mfm, 1);
  }
}

TEST_F(TfdReaderTest, StopsWhenTheCallbackAborts) {
  test::WriteFile(dir_ / "disk.img", RawImage(Capacities()[0]));
  const auto read = reader_.ReadDisk(dir_ / "disk.img", *image_, 1, 3);
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.message, "");
  EXPECT_EQ(read.progress.size(), 3u);
}

TEST_F(TfdReaderTest, RefusesDirectModeAndReportsUnopenableFiles) {
  test::WriteFile(dir_ / "disk.img", RawImage(Capacities()[0]));
  for (const std::string& path : {dir_ / "disk.img", dir_ / "missing.img"}) {
    const auto direct = reader_.ReadDirect(path, dir_ / "out.img");
    EXPECT_EQ(direct.result, 8);
    EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  }
  EXPECT_FALSE(test::FileExists(dir_ / "out.img"));

  for (const std::string& path : {dir_ / "missing.img", dir_.path()}) {
    EXPECT_EQ(reader_.IsSupport(path).result, 6);
    auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, 8);
    EXPECT_EQ(info.message, "\r\n変換元ファイルオープンエラー");
    auto read = reader_.ReadDisk(path, *image_);
    EXPECT_EQ(read.result, 8);
    EXPECT_EQ(read.message, "\r\n変換元ファイルオープンエラー");
  }
}

TEST_F(TfdReaderTest, ReadsFromJapaneseFolderAndFileNames) {
  const std::string folder = dir_ / "ディスク.フォルダ";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string path = folder + "/ゲーム１.tfd";
  const std::vector<uint8_t> raw = RawImage(Capacities()[5]);
  test::WriteFile(path, raw);
  EXPECT_EQ(reader_.IsSupport(path).result, 0);
  EXPECT_EQ(reader_.GetFileInfo(path).message, "\r\nTFD形式(1.25M)");
  ASSERT_EQ(reader_.ReadDisk(path, *image_).result, 0);
  EXPECT_EQ(test::RawBytes(*image_), raw);
}

}  // namespace
}  // namespace dravik
