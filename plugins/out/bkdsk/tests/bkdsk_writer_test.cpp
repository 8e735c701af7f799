// The BKDSK writer: the extension that names each shape, sectors in R order,
// and refusal of what a plain dump under that extension cannot hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <numeric>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::DiskShape;
using test::ShapeNamed;

const std::string kOpenError = "\r\n変換先ファイルオープンエラー";
const DiskShape k1M26{"1M26", 154, 26, 1};

std::string RawOf(const DiskImage& disk) {
  const std::vector<uint8_t> raw = test::RawBytes(disk);
  return std::string(raw.begin(), raw.end());
}

// Every used sector of the row gets size code n.
void SetRowSize(DiskImage& d, int track, uint8_t n) {
  for (SectorId& id : d.ids[track]) {
    if (!IsEmptySlot(&id)) id.n = n;
  }
}

class BkdskWriterTest : public ::testing::Test {
 protected:
  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("bkdsk_writer.dvw");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
};

// Each shape under its extension, each track in R order whatever order the
// record keeps (row 1 is reversed). The seven capacities the raw reader knows
// go in as raw files and come back byte for byte: the DISKBASIC disk's
// interleave is undone by the R sort.
TEST_F(BkdskWriterTest, NamesEachShapeByItsExtensionAndWritesItsRawSectors) {
  struct Case {
    DiskShape shape;
    const char* extension;
    size_t length;
    bool through_reader;
    void (*change)(DiskImage&) = nullptr;
  };
  const Case cases[] = {
      {ShapeNamed("640K"), ".DD6", 655360, true},
      {ShapeNamed("720K"), ".DD9", 737280, true},
      {{"", 154, 9, 3}, ".HD9", 1419264, false},
      {ShapeNamed("1.21M"), ".HD5", 1228800, true},
      {{"", 160, 16, 1}, ".DDB", 655360, false},
      {ShapeNamed("1.44M"), ".HD4", 1474560, true},
      {ShapeNamed("1.25M"), ".HDM", 1261568, true},
      // Track 0 of 26 x 128 bytes and the others of 26 x 256.
      {ShapeNamed("mixed2HD"), ".HDB", 1021696, true},
      {k1M26, ".H01", 1025024, true},
      // The density of the first sector decides, not its size.
      {k1M26, ".HDB", 1025024, false, [](DiskImage& d) { d.ids[0][0].mfm = 0; }},
      // Trimmed to 154 tracks before the name is chosen, with a note.
      {ShapeNamed("1.25M"), ".HDM", 1261568, false, [](DiskImage& d) { d.track_count = 160; }},
      {{"", 157, 8, 3}, ".HDM", 1261568, false},
  };
  const auto reader = test::LoadBuiltPlugin("tfd_reader.dvr");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension + std::to_string(c.shape.tracks));
    test::TempDir out;
    test::BuildDisk(*disk_, c.shape, 5);
    const std::string raw = RawOf(*disk_).substr(0, c.length);
    if (c.through_reader) {
      test::WriteFile(dir_ / "SOURCE.IMG", raw);
      ASSERT_EQ(reader.ReadDisk(dir_ / "SOURCE.IMG", *disk_).result, 0);
    }
    if (c.change != nullptr) c.change(*disk_);
    std::vector<int> reversed(c.shape.sectors);
    std::iota(reversed.rbegin(), reversed.rend(), 0);
    test::PermuteTrack(*disk_, 1, reversed);

    const int claimed_tracks = disk_->track_count;
    const auto written = writer_.WriteDisk(*disk_, out / "GAME.HDM");
    ASSERT_EQ(written.result, 0);
    EXPECT_EQ(written.message, "");
    const std::string name = "GAME" + std::string(c.extension);
    EXPECT_EQ(test::ListFolder(out.path()), std::vector<std::string>{name});
    EXPECT_EQ(test::ReadFile(out / name).size(), c.length);
    EXPECT_TRUE(test::ReadFile(out / name) == raw);
    ASSERT_EQ(written.progress.size(), static_cast<size_t>(disk_->track_count));
    EXPECT_EQ(written.progress.back().done, disk_->track_count - 1);
    EXPECT_EQ(written.progress.back().total, disk_->track_count);
    EXPECT_EQ(written.progress[0].text,
              claimed_tracks == disk_->track_count ? "" : "\r\n出力トラック数の調整を行いました");
    EXPECT_EQ(written.progress[1].text, "");
  }
}

TEST_F(BkdskWriterTest, RefusesWhatThePlainDumpCannotHoldWithoutCreatingAFile) {
  struct Case {
    const char* name;
    DiskShape shape;
    void (*change)(DiskImage&);
  };
  const DiskShape dd = ShapeNamed("640K");
  const Case cases[] = {
      // Raised to 154 tracks, of which 80 to 153 hold nothing.
      {"80 tracks", {"", 80, 8, 2}, nullptr},
      {"10 sectors a track", {"", 160, 10, 2}, nullptr},
      {"a track of 7 sectors", dd,
       [](DiskImage& d) { std::memset(&d.ids[40][7], 0xFF, sizeof(SectorId)); }},
      // ".DD6" promises 512-byte sectors; no reader would take 1024.
      {"160 x 8 x 1024", {"", 160, 8, 3}, nullptr},
      // 18 x 512 would pass as ".HD4", but cut to 154 tracks by the size code.
      {"size code other than the sectors'", ShapeNamed("1.44M"),
       [](DiskImage& d) { d.size_code = 1; }},
      {"one track of 1024-byte sectors", dd, [](DiskImage& d) { SetRowSize(d, 20, 3); }},
      {"128-byte track 0 outside the 26-sector shapes", dd,
       [](DiskImage& d) { SetRowSize(d, 0, 0); }},
      {"26-sector track 5 of 128-byte sectors", k1M26, [](DiskImage& d) { SetRowSize(d, 5, 0); }},
      {"26-sector track 0 of 512-byte sectors", k1M26, [](DiskImage& d) { SetRowSize(d, 0, 2); }},
      // Sectors of one track with different sizes would overlap.
      {"mixed sizes in a track", dd, [](DiskImage& d) { d.ids[30][3].n = 1; }},
      // R other than 1 .. n would leave part of the track unwritten or stale.
      {"R 0", dd, [](DiskImage& d) { d.ids[12][0].r = 0; }},
      {"R 9 of 8", dd, [](DiskImage& d) { d.ids[12][0].r = 9; }},
      {"R twice", dd, [](DiskImage& d) { d.ids[12][1].r = 1; }},
      // Its data lies in the row: skipping it would shift every later track.
      {"ninth sector after a gap", dd,
       [](DiskImage& d) { d.ids[50][9] = SectorId{25, 0, 9, 2, 0, 1}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::BuildDisk(*disk_, c.shape);
    if (c.change != nullptr) c.change(*disk_);
    const auto written = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM");
    EXPECT_EQ(written.result, 8);
    EXPECT_EQ(written.message,
              "\r\n特殊なフォーマットのイメージです\r\n"
              "このイメージをBKDSK形式に変換することは出来ません");
    EXPECT_TRUE(written.progress.empty());
    EXPECT_TRUE(test::ListFolder(dir_.path()).empty());
  }
}

// The path routine has its own tests; here, that the writer uses it: the
// dot of a folder never counts, and a name is refused, never cut.
TEST_F(BkdskWriterTest, ReplacesOnlyTheExtensionOfTheFileNameAndRefusesOneTooLong) {
  test::BuildDisk(*disk_, ShapeNamed("640K"));
  const std::string dotted = dir_ / "出力.フォルダ";
  ASSERT_EQ(mkdir(dotted.c_str(), 0700), 0);
  ASSERT_EQ(writer_.WriteDisk(*disk_, dotted + "/GAME").result, 0);
  ASSERT_EQ(writer_.WriteDisk(*disk_, dotted + "/ゲーム.ＨＤＭ").result, 0);
  EXPECT_EQ(test::ListFolder(dotted), (std::vector<std::string>{"GAME.DD6", "ゲーム.DD6"}));
  EXPECT_EQ(test::ReadFile(dotted + "/ゲーム.DD6").size(), 655360u);

  // 253 + ".H" fits the 255-byte name limit; 253 + ".DD6" does not.
  const auto long_name = writer_.WriteDisk(*disk_, dir_ / (std::string(253, 'n') + ".H"));
  EXPECT_EQ(long_name.result, 8);
  EXPECT_EQ(long_name.message,
            kOpenError + "\r\n" + (dir_ / (std::string(253, 'n') + ".H")) + ": File name too long");
  EXPECT_EQ(test::ListFolder(dir_.path()), std::vector<std::string>{"出力.フォルダ"});
  std::string deep = dir_.path();
  while (deep.size() < 4100) deep += std::string(200, 'd') + "/";
  EXPECT_TRUE(writer_.WriteDisk(*disk_, deep + "GAME.HDM").message.starts_with(kOpenError));
}

// The writer names its own file, so the driver's same-file check cannot see
// it: BKDSK to BKDSK writes over the source, which may only ever be replaced
// by a complete file. (Open errors and full disks: the matrix test.)
TEST_F(BkdskWriterTest, ReplacesTheFileItNamesOnlyWithACompleteOne) {
  test::BuildDisk(*disk_, ShapeNamed("640K"), 8);
  const auto direct = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM", 1);
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  EXPECT_TRUE(test::ListFolder(dir_.path()).empty());

  test::WriteFile(dir_ / "GAME.DD6", "the source");
  const auto aborted = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM", 0, 3);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 3u);
  EXPECT_EQ(test::ReadFile(dir_ / "GAME.DD6"), "the source");
  ASSERT_EQ(writer_.WriteDisk(*disk_, dir_ / "GAME.HDM").result, 0);
  EXPECT_TRUE(test::ReadFile(dir_ / "GAME.DD6") == RawOf(*disk_));
  EXPECT_EQ(test::ListFolder(dir_.path()), std::vector<std::string>{"GAME.DD6"});
}

}  // namespace
}  // namespace dravik
