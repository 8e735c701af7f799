// The TFD writer: the one 2HD shape it writes, the trimming of a slightly
// too large track count, and refusal of everything a TFD file cannot hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::DiskShape;

constexpr const char* kRefusal = "\r\nこのイメージをTFD形式に変換する事はできません";
constexpr const char* kAdjusted = "\r\n出力トラック数の調整を行いました";

class TfdWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 3); }
  std::string Out() const { return dir_ / "GAME.TFD"; }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("tfd_writer.dvw");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
};

TEST_F(TfdWriterTest, IdentifiesItselfAsAnOutputPlugin) {
  EXPECT_EQ(writer_.kind(), kKindOutput);
  EXPECT_EQ(writer_.interface_version(), 1);
  EXPECT_EQ(writer_.description(), "TFD形式出力Plug-in Ver.1.02");
  const uint8_t caps[kCapsSize] = {1};
  EXPECT_EQ(std::memcmp(writer_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(writer_.extension(), ".TFD");
  EXPECT_EQ(writer_.label(), "TFD形式(T98用)");
}

TEST_F(TfdWriterTest, Writes2hdAsItsRawSectorsAndTheReaderGetsTheSameDisk) {
  const std::vector<uint8_t> raw = test::RawBytes(*disk_);
  const auto written = writer_.WriteDisk(*disk_, Out());
  ASSERT_EQ(written.result, 0);
  EXPECT_EQ(written.message, "");
  const std::string file = test::ReadFile(Out());
  EXPECT_EQ(file.size(), 1261568u);
  EXPECT_TRUE(file == std::string(raw.begin(), raw.end()));
  ASSERT_EQ(written.progress.size(), 154u);
  for (int t = 0; t < 154; ++t) {
    EXPECT_EQ(written.progress[t].done, t);
    EXPECT_EQ(written.progress[t].total, 154);
    EXPECT_EQ(written.progress[t].text, "");
  }

  const auto reader = test::LoadBuiltPlugin("tfd_reader.dvr");
  auto back = test::NewDiskImage();
  ASSERT_EQ(reader.ReadDisk(Out(), *back).result, 0);
  EXPECT_EQ(test::CompareDisks(*disk_, *back), "");
}

TEST_F(TfdWriterTest, TrimsATrackCountAbove154WithANoteOnTheFirstTrack) {
  struct Case {
    const char* name;
    std::function<void(DiskImage&)> change;
  };
  const std::vector<Case> cases = {
      {"rows 154-159 empty", [](DiskImage& d) { d.track_count = 160; }},
      {"rows 154-159 of 512-byte sectors",
       [](DiskImage& d) {
         test::BuildDisk(d, {"", 160, 8, 3}, 3);
         for (int t = 154; t < 160; ++t) {
           for (int s = 0; s < 8; ++s) d.ids[t][s].n = 2;
         }
       }},
      {"156 tracks",
       [](DiskImage& d) {
         test::BuildDisk(d, {"", 156, 8, 3}, 3);
       }},
  };
  const std::vector<uint8_t> raw = test::RawBytes(*disk_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 3);
    c.change(*disk_);
    const auto written = writer_.WriteDisk(*disk_, Out());
    ASSERT_EQ(written.result, 0);
    EXPECT_EQ(disk_->track_count, 154);
    ASSERT_EQ(written.progress.size(), 154u);
    EXPECT_EQ(written.progress[0].text, kAdjusted);
    EXPECT_EQ(written.progress[1].text, "");
    EXPECT_EQ(written.progress[153].total, 154);
    const std::string file = test::ReadFile(Out());
    EXPECT_TRUE(file == std::string(raw.begin(), raw.end()));
  }
}

TEST_F(TfdWriterTest, RefusesEveryOtherShapeWithoutCreatingAFile) {
  struct Case {
    const char* name;
    std::function<void(DiskImage&)> make;
  };
  const auto shape = [](DiskShape s) { return [s](DiskImage& d) { test::BuildDisk(d, s); }; };
  const std::vector<Case> cases = {
      {"160 tracks all 8 x 1024", shape({"", 160, 8, 3})},
      {"80 tracks", shape({"", 80, 8, 3})},
      {"mixed-density 2HD", shape(test::ShapeNamed("mixed2HD"))},
      {"1.21M", shape(test::ShapeNamed("1.21M"))},
      {"640K", shape(test::ShapeNamed("640K"))},
      {"ninth sector in slot 8",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[5][8] = SectorId{2, 1, 9, 3, 0, 1};
       }},
      {"one sector of 512 bytes",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[9][4].n = 2;
       }},
      // A TFD file is read back as R = 1 .. 8: a track that holds other
      // numbers would come back as another disk.
      {"R twice",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[7][2].r = 2;
       }},
      {"R 0",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[7][0].r = 0;
       }},
      {"R 9",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[7][7].r = 9;
       }},
      // A ninth sector after an empty slot: its data lies in the row, and
      // skipping it would shift every later track.
      {"sector after a gap",
       [](DiskImage& d) {
         test::BuildDisk(d, test::ShapeNamed("1.25M"));
         d.ids[3][10] = SectorId{1, 1, 9, 3, 0, 1};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(*disk_);
    const auto written = writer_.WriteDisk(*disk_, Out());
    EXPECT_EQ(written.result, 8);
    EXPECT_EQ(written.message, kRefusal);
    EXPECT_TRUE(written.progress.empty());  // an adjustment note is not shown either
    EXPECT_FALSE(test::FileExists(Out()));
  }
}

TEST_F(TfdWriterTest, WritesATrackKeptInAnotherOrderInROrder) {
  const std::vector<uint8_t> raw = test::RawBytes(*disk_);
  test::PermuteTrack(*disk_, 0, {0, 4, 1, 5, 2, 6, 3, 7});  // R = 1, 5, 2, 6, ...
  test::PermuteTrack(*disk_, 100, {7, 6, 5, 4, 3, 2, 1, 0});
  ASSERT_EQ(disk_->ids[0][1].r, 5);
  ASSERT_EQ(writer_.WriteDisk(*disk_, Out()).result, 0);
  const std::string file = test::ReadFile(Out());
  EXPECT_TRUE(file == std::string(raw.begin(), raw.end()));
}

TEST_F(TfdWriterTest, ReportsDirectModeOpenWriteAndAbort) {
  auto direct = writer_.WriteDisk(*disk_, Out(), 0x10000);  // only the low 16 bits count
  EXPECT_EQ(direct.result, 0);
  direct = writer_.WriteDisk(*disk_, Out(), 1);
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");

  const auto unopenable = writer_.WriteDisk(*disk_, dir_ / "missing/GAME.TFD");
  EXPECT_EQ(unopenable.result, 8);
  EXPECT_EQ(unopenable.message, "\r\n変換先ファイルオープンエラー");

  const auto aborted = writer_.WriteDisk(*disk_, Out(), 0, 2);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.message, "");
  EXPECT_EQ(aborted.progress.size(), 2u);
  EXPECT_EQ(test::ReadFile(Out()).size(), 2u * 8192);  // kept as far as written

  ASSERT_EQ(symlink("/dev/full", (dir_ / "FULL.TFD").c_str()), 0);
  const auto full = writer_.WriteDisk(*disk_, dir_ / "FULL.TFD");
  EXPECT_EQ(full.result, 7);
  EXPECT_EQ(full.message, "");
}

}  // namespace
}  // namespace dravik
