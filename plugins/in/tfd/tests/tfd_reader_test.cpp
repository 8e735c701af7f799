// The raw image reader: the seven capacities it knows by their exact length,
// and the interleaved mixed-density 2HD disk among them.
#include <gtest/gtest.h>

#include <cstring>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

const std::string kOpenError = "\r\n変換元ファイルオープンエラー";

struct Capacity {
  size_t length;
  const char* description;
  test::DiskShape shape;
  bool diskbasic = false;  // read with its rows 2:1 interleaved
};

const std::vector<Capacity>& Capacities() {
  static const std::vector<Capacity> capacities = {
      {655360, "\r\nTFD形式(640K)", test::ShapeNamed("640K")},
      {737280, "\r\nTFD形式(720K)", test::ShapeNamed("720K")},
      {1021696, "\r\nTFD形式(1MB DISKBASIC)", test::ShapeNamed("mixed2HD"), true},
      {1025024, "\r\nTFD形式(1M 26sector)", {"1M26", 154, 26, 1}},
      {1228800, "\r\nTFD形式(1.21M)", test::ShapeNamed("1.21M")},
      {1261568, "\r\nTFD形式(1.25M)", test::ShapeNamed("1.25M")},
      {1474560, "\r\nTFD形式(1.44M)", test::ShapeNamed("1.44M")},
  };
  return capacities;
}

class TfdReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("tfd_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

// One record serves every capacity in turn, so rows a larger disk left
// behind would show in the comparison.
TEST_F(TfdReaderTest, ReadsEachCapacityAndRefusesEveryOtherLength) {
  const std::string path = dir_ / "disk.img";
  auto expected = test::NewDiskImage();
  for (const Capacity& c : Capacities()) {
    SCOPED_TRACE(c.description);
    test::BuildDisk(*expected, c.shape, 7);
    const std::vector<uint8_t> raw = test::RawBytes(*expected);
    ASSERT_EQ(raw.size(), c.length);
    if (c.diskbasic) test::InterleaveRows(*expected);
    test::WriteFile(path, raw);
    EXPECT_EQ(reader_.IsSupport(path).result, 0);
    const auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.message, c.description);

    const auto read = reader_.ReadDisk(path, *image_);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(test::CompareDisks(*expected, *image_), "");
    // Geometry, title and every ID slot, those past the disk included.
    EXPECT_EQ(std::memcmp(expected.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(image_->ids[153][1].r, c.diskbasic ? 14 : 2);
    // Every one of the 160 rows reports, against the disk's own count.
    ASSERT_EQ(read.progress.size(), 160u);
    EXPECT_EQ(read.progress[159].done, 159);
    EXPECT_EQ(read.progress[159].total, c.shape.tracks);

    for (size_t length : {c.length - 1, c.length + 1}) {
      test::WriteFile(path, std::string(length, '\0'));
      EXPECT_EQ(reader_.IsSupport(path).result, 2) << length;
      const auto foreign_info = reader_.GetFileInfo(path);
      const auto foreign_read = reader_.ReadDisk(path, *image_);
      EXPECT_EQ(foreign_info.result, 8) << length;
      EXPECT_EQ(foreign_read.result, 8) << length;
      EXPECT_EQ(foreign_info.message + foreign_read.message, "");
    }
  }
}

TEST_F(TfdReaderTest, RefusesDirectModeAndMissingFilesAndStopsWhenAborted) {
  const std::string path = dir_ / "disk.img";
  test::WriteFile(path, std::string(655360, '\0'));
  const auto aborted = reader_.ReadDisk(path, *image_, 1, 3);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 3u);

  for (const std::string& source : {path, dir_ / "missing.img"}) {
    const auto direct = reader_.ReadDirect(source, dir_ / "out.img");
    EXPECT_EQ(direct.result, 8);
    EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  }
  EXPECT_FALSE(test::FileExists(dir_ / "out.img"));

  for (const std::string& source : {dir_ / "missing.img", dir_.path()}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(reader_.IsSupport(source).result, 6);
    // The shared message, then the file and the reason on a line of their own.
    EXPECT_TRUE(reader_.GetFileInfo(source).message.starts_with(kOpenError + "\r\n" + source + ": "));
    const auto read = reader_.ReadDisk(source, *image_);
    EXPECT_EQ(read.result, 8);
    EXPECT_TRUE(read.message.starts_with(kOpenError + "\r\n" + source + ": "));
  }
}

}  // namespace
}  // namespace dravik
