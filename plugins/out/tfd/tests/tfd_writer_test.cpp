// The TFD writer: the one 2HD shape it writes, the trimming of a slightly
// too large track count, and refusal of everything a TFD file cannot hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

const test::DiskShape k2hd = test::ShapeNamed("1.25M");

class TfdWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::BuildDisk(*disk_, k2hd, 3);
    const std::vector<uint8_t> raw = test::RawBytes(*disk_);
    raw_.assign(raw.begin(), raw.end());
  }
  std::string Out() const { return dir_ / "GAME.TFD"; }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("tfd_writer.dvw");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::string raw_;  // the sectors of the 2HD disk in R order
};

// A TFD file is read back as R = 1 .. 8 in file order: tracks kept in
// another order, as interleaved sources deliver them, go out sorted.
TEST_F(TfdWriterTest, Writes2hdAsItsRawSectorsInROrderAndTheReaderGetsTheSameDisk) {
  test::PermuteTrack(*disk_, 0, {0, 4, 1, 5, 2, 6, 3, 7});
  test::PermuteTrack(*disk_, 100, {7, 6, 5, 4, 3, 2, 1, 0});
  const auto written = writer_.WriteDisk(*disk_, Out());
  ASSERT_EQ(written.result, 0);
  EXPECT_EQ(written.message, "");
  EXPECT_EQ(test::ReadFile(Out()).size(), 1261568u);
  EXPECT_TRUE(test::ReadFile(Out()) == raw_);
  ASSERT_EQ(written.progress.size(), 154u);
  EXPECT_EQ(written.progress[153].done, 153);
  EXPECT_EQ(written.progress[153].total, 154);

  auto back = test::NewDiskImage();
  ASSERT_EQ(test::LoadBuiltPlugin("tfd_reader.dvr").ReadDisk(Out(), *back).result, 0);
  test::BuildDisk(*disk_, k2hd, 3);
  EXPECT_EQ(test::CompareDisks(*disk_, *back), "");
}

// Each disk either is the 2HD disk once its track count is trimmed to 154,
// with a note, or is refused before a file is made.
TEST_F(TfdWriterTest, TrimsTo154TracksWithANoteOrRefusesWithoutCreatingAFile) {
  struct Case {
    const char* name;
    test::DiskShape shape;
    void (*change)(DiskImage&);
    bool trimmed = false;
  };
  const Case cases[] = {
      {"rows 154-159 empty", k2hd, [](DiskImage& d) { d.track_count = 160; }, true},
      {"rows 154-159 of 512-byte sectors",
       {"", 160, 8, 3},
       [](DiskImage& d) {
         for (int s = 0; s < 8 * 6; ++s) d.ids[154 + s / 8][s % 8].n = 2;
       },
       true},
      {"156 tracks", {"", 156, 8, 3}, nullptr, true},
      {"160 tracks all 8 x 1024", {"", 160, 8, 3}, nullptr},
      {"80 tracks", {"", 80, 8, 3}, nullptr},
      {"mixed-density 2HD", test::ShapeNamed("mixed2HD"), nullptr},
      {"1.21M", test::ShapeNamed("1.21M"), nullptr},
      {"640K", test::ShapeNamed("640K"), nullptr},
      {"ninth sector", k2hd, [](DiskImage& d) { d.ids[5][8] = SectorId{2, 1, 9, 3, 0, 1}; }},
      {"one sector of 512 bytes", k2hd, [](DiskImage& d) { d.ids[9][4].n = 2; }},
      {"a track of 512-byte sectors", k2hd,
       [](DiskImage& d) {
         for (int s = 0; s < 8; ++s) d.ids[9][s].n = 2;
       }},
      {"R twice", k2hd, [](DiskImage& d) { d.ids[7][2].r = 2; }},
      {"R 0", k2hd, [](DiskImage& d) { d.ids[7][0].r = 0; }},
      {"R 9", k2hd, [](DiskImage& d) { d.ids[7][7].r = 9; }},
      // Its data lies in the row: skipping it would shift every later track.
      {"sector after a gap", k2hd, [](DiskImage& d) { d.ids[3][10] = SectorId{1, 1, 9, 3, 0, 1}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::BuildDisk(*disk_, c.shape, 3);
    if (c.change != nullptr) c.change(*disk_);
    const auto written = writer_.WriteDisk(*disk_, Out());
    if (c.trimmed) {
      ASSERT_EQ(written.result, 0);
      EXPECT_EQ(disk_->track_count, 154);
      ASSERT_EQ(written.progress.size(), 154u);
      EXPECT_EQ(written.progress[0].text, "\r\n出力トラック数の調整を行いました");
      EXPECT_EQ(written.progress[1].text, "");
      EXPECT_TRUE(test::ReadFile(Out()) == raw_);
      unlink(Out().c_str());
      continue;
    }
    EXPECT_EQ(written.result, 8);
    EXPECT_EQ(written.message, "\r\nこのイメージをTFD形式に変換する事はできません");
    EXPECT_TRUE(written.progress.empty());  // an adjustment note is not shown either
    EXPECT_FALSE(test::FileExists(Out()));
  }
}

// Open errors, aborts and full disks: the matrix test, for every writer.
TEST_F(TfdWriterTest, RefusesDirectMode) {
  EXPECT_EQ(writer_.WriteDisk(*disk_, Out(), 0x10000).result, 0);  // only the low 16 bits count
  const auto direct = writer_.WriteDisk(*disk_, Out(), 1);
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
}

}  // namespace
}  // namespace dravik
