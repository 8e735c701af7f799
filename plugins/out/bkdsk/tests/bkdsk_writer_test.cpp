// The BKDSK writer: the extension that names each shape, sectors in R order,
// and refusal of what a plain dump under that extension cannot hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "disk_builder.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::DiskShape;
using test::ShapeNamed;

constexpr const char* kRefusal =
    "\r\n特殊なフォーマットのイメージです\r\nこのイメージをBKDSK形式に変換することは出来ません";
constexpr const char* kAdjusted = "\r\n出力トラック数の調整を行いました";
const DiskShape k1M26{"1M26", 154, 26, 1};

std::string AsString(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class BkdskWriterTest : public ::testing::Test {
 protected:
  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("bkdsk_writer.dvw");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
};

TEST_F(BkdskWriterTest, IdentifiesItselfAsAnOutputPlugin) {
  EXPECT_EQ(writer_.kind(), kKindOutput);
  EXPECT_EQ(writer_.interface_version(), 1);
  EXPECT_EQ(writer_.description(), "BKDSK形式出力Plug-in Ver.1.01");
  const uint8_t caps[kCapsSize] = {1};
  EXPECT_EQ(std::memcmp(writer_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(writer_.extension(), ".HDM");
  EXPECT_EQ(writer_.label(), "BKDSK形式");
}

TEST_F(BkdskWriterTest, NamesEachShapeByItsExtensionInsteadOfTheOneGiven) {
  struct Case {
    DiskShape shape;
    const char* extension;
    size_t length;
    bool first_sector_fm = false;
  };
  const std::vector<Case> cases = {
      {ShapeNamed("640K"), ".DD6", 655360},
      {ShapeNamed("720K"), ".DD9", 737280},
      {{"", 154, 9, 3}, ".HD9", 1419264},
      {ShapeNamed("1.21M"), ".HD5", 1228800},
      {{"", 160, 16, 1}, ".DDB", 655360},
      {ShapeNamed("1.44M"), ".HD4", 1474560},
      {ShapeNamed("1.25M"), ".HDM", 1261568},
      // Track 0 of 26 x 128 bytes and the others of 26 x 256.
      {ShapeNamed("mixed2HD"), ".HDB", 3328 + 153 * 6656},
      {k1M26, ".H01", 1025024},
      // The density of the first sector decides, not its size.
      {k1M26, ".HDB", 1025024, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    test::TempDir out;
    test::BuildDisk(*disk_, c.shape, 5);
    if (c.first_sector_fm) disk_->ids[0][0].mfm = 0;
    const std::vector<uint8_t> raw = test::RawBytes(*disk_);
    const auto written = writer_.WriteDisk(*disk_, out / "GAME.HDM");
    ASSERT_EQ(written.result, 0);
    EXPECT_EQ(written.message, "");
    EXPECT_EQ(test::ListFolder(out.path()),
              std::vector<std::string>{"GAME" + std::string(c.extension)});
    const std::string file = test::ReadFile(out / ("GAME" + std::string(c.extension)));
    EXPECT_EQ(file.size(), c.length);
    EXPECT_TRUE(file == AsString(raw));
    ASSERT_EQ(written.progress.size(), static_cast<size_t>(c.shape.tracks));
    EXPECT_EQ(written.progress.back().done, c.shape.tracks - 1);
    EXPECT_EQ(written.progress.back().total, c.shape.tracks);
    EXPECT_EQ(written.progress.front().text, "");
  }
}

// The figure that matters for users: a raw image of each capacity the reader
// knows comes back byte for byte, the interleaved DISKBASIC disk included.
TEST_F(BkdskWriterTest, RoundTripsEveryRawCapacityThroughTheReader) {
  const auto reader = test::LoadBuiltPlugin("tfd_reader.dvr");
  std::vector<DiskShape> shapes = test::StandardShapes();
  shapes.push_back(k1M26);
  ASSERT_EQ(shapes.size(), 7u);
  for (const DiskShape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    test::TempDir work;
    test::BuildDisk(*disk_, shape, 11);
    const std::string raw = AsString(test::RawBytes(*disk_));
    test::WriteFile(work / "SOURCE.IMG", raw);
    ASSERT_EQ(reader.IsSupport(work / "SOURCE.IMG").result, 0);
    ASSERT_EQ(reader.ReadDisk(work / "SOURCE.IMG", *disk_).result, 0);
    ASSERT_EQ(writer_.WriteDisk(*disk_, work / "OUT.HDM").result, 0);
    std::vector<std::string> names = test::ListFolder(work.path());
    ASSERT_EQ(names.size(), 2u);
    const std::string output = names[0] == "SOURCE.IMG" ? names[1] : names[0];
    EXPECT_TRUE(test::ReadFile(work / output) == raw) << output;
  }
}

TEST_F(BkdskWriterTest, TrimsTheTrackCountBeforeChoosingTheName) {
  test::BuildDisk(*disk_, ShapeNamed("1.25M"));
  const std::string raw = AsString(test::RawBytes(*disk_));
  disk_->track_count = 160;  // rows 154 to 159 are empty
  auto written = writer_.WriteDisk(*disk_, dir_ / "A.IMG");
  ASSERT_EQ(written.result, 0);
  EXPECT_EQ(disk_->track_count, 154);
  ASSERT_EQ(written.progress.size(), 154u);
  EXPECT_EQ(written.progress[0].text, kAdjusted);
  EXPECT_EQ(written.progress[1].text, "");
  EXPECT_TRUE(test::ReadFile(dir_ / "A.HDM") == raw);

  test::BuildDisk(*disk_, {"", 157, 8, 3});
  written = writer_.WriteDisk(*disk_, dir_ / "B.IMG");
  ASSERT_EQ(written.result, 0);
  EXPECT_EQ(written.progress[0].text, kAdjusted);
  EXPECT_EQ(test::ReadFile(dir_ / "B.HDM").size(), 1261568u);

  test::BuildDisk(*disk_, ShapeNamed("640K"));
  written = writer_.WriteDisk(*disk_, dir_ / "C.IMG");
  ASSERT_EQ(written.result, 0);
  EXPECT_EQ(written.progress[0].text, "");
  EXPECT_TRUE(test::FileExists(dir_ / "C.DD6"));
}

TEST_F(BkdskWriterTest, RefusesWhatThePlainDumpCannotHoldWithoutCreatingAFile) {
  struct Case {
    const char* name;
    std::function<void(DiskImage&)> make;
  };
  const auto shape = [](DiskShape s) { return [s](DiskImage& d) { test::BuildDisk(d, s); }; };
  const auto changed = [](DiskShape s, std::function<void(DiskImage&)> change) {
    return [s, change](DiskImage& d) {
      test::BuildDisk(d, s);
      change(d);
    };
  };
  const auto row_size = [](int track, int sectors, uint8_t n) {
    return [=](DiskImage& d) {
      for (int s = 0; s < sectors; ++s) d.ids[track][s].n = n;
    };
  };
  const DiskShape dd = ShapeNamed("640K");
  const std::vector<Case> cases = {
      // Raised to 154 tracks, of which 80 to 153 hold nothing.
      {"80 tracks", shape({"", 80, 8, 2})},
      {"10 sectors a track", shape({"", 160, 10, 2})},
      {"a track of 7 sectors",
       changed(dd, [](DiskImage& d) { std::memset(&d.ids[40][7], 0xFF, sizeof(SectorId)); })},
      // ".DD6" promises 512-byte sectors; no reader would take 1024.
      {"160 x 8 x 1024", shape({"", 160, 8, 3})},
      // 18 x 512 would pass as ".HD4", but cut to 154 tracks by the size code.
      {"size code other than the sectors'",
       changed(ShapeNamed("1.44M"), [](DiskImage& d) { d.size_code = 1; })},
      {"one track of 1024-byte sectors", changed(dd, row_size(20, 8, 3))},
      {"128-byte track 0 outside the 26-sector shapes", changed(dd, row_size(0, 8, 0))},
      {"26-sector track 5 of 128-byte sectors", changed(k1M26, row_size(5, 26, 0))},
      {"26-sector track 0 of 512-byte sectors", changed(k1M26, row_size(0, 26, 2))},
      // Sectors of one track with different sizes would overlap.
      {"mixed sizes in a track", changed(dd, [](DiskImage& d) { d.ids[30][3].n = 1; })},
      // R other than 1 .. n would leave part of the track unwritten or stale.
      {"R 0", changed(dd, [](DiskImage& d) { d.ids[12][0].r = 0; })},
      {"R 9 of 8", changed(dd, [](DiskImage& d) { d.ids[12][0].r = 9; })},
      {"R twice", changed(dd, [](DiskImage& d) { d.ids[12][1].r = 1; })},
      // A sector after an empty slot: its data lies in the row, and skipping
      // it would shift every later track.
      {"ninth sector after a gap",
       changed(dd, [](DiskImage& d) { d.ids[50][9] = SectorId{25, 0, 9, 2, 0, 1}; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(*disk_);
    const auto written = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM");
    EXPECT_EQ(written.result, 8);
    EXPECT_EQ(written.message, kRefusal);
    EXPECT_TRUE(written.progress.empty());
    EXPECT_TRUE(test::ListFolder(dir_.path()).empty());
  }
}

TEST_F(BkdskWriterTest, WritesEachTrackInROrder) {
  test::BuildDisk(*disk_, ShapeNamed("640K"), 9);
  const std::string raw = AsString(test::RawBytes(*disk_));
  test::PermuteTrack(*disk_, 0, {2, 0, 1, 3, 4, 5, 6, 7});  // R = 3, 1, 2, 4, ...
  test::PermuteTrack(*disk_, 77, {7, 6, 5, 4, 3, 2, 1, 0});
  ASSERT_EQ(disk_->ids[0][0].r, 3);
  ASSERT_EQ(writer_.WriteDisk(*disk_, dir_ / "GAME.HDM").result, 0);
  EXPECT_TRUE(test::ReadFile(dir_ / "GAME.DD6") == raw);
}

TEST_F(BkdskWriterTest, ReplacesOnlyTheExtensionOfTheFileName) {
  test::BuildDisk(*disk_, ShapeNamed("640K"));
  const std::string dotted = dir_ / "out.d";
  const std::string japanese = dir_ / "出力.フォルダ";
  ASSERT_EQ(mkdir(dotted.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(japanese.c_str(), 0700), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dotted + "/GAME.HDM", dotted + "/GAME.DD6"},
      {dotted + "/GAME", dotted + "/GAME.DD6"},
      {dotted + "/GAME.", dotted + "/GAME.DD6"},
      {dotted + "/GAME.tar.HDM", dotted + "/GAME.tar.DD6"},
      {japanese + "/ゲーム.ＨＤＭ", japanese + "/ゲーム.DD6"},
  };
  for (const auto& [given, written] : cases) {
    SCOPED_TRACE(given);
    ASSERT_EQ(writer_.WriteDisk(*disk_, given).result, 0);
    EXPECT_EQ(test::ReadFile(written).size(), 655360u);
    EXPECT_EQ(unlink(written.c_str()), 0);
  }
  EXPECT_TRUE(test::ListFolder(dotted).empty());
  EXPECT_EQ(test::ListFolder(dir_.path()).size(), 2u);
}

TEST_F(BkdskWriterTest, RefusesANameThatTheNewExtensionWouldMakeTooLong) {
  test::BuildDisk(*disk_, ShapeNamed("640K"));
  // 253 + ".H" fits the 255-byte name limit; 253 + ".DD6" does not.
  const std::string given = dir_ / (std::string(253, 'n') + ".H");
  const auto written = writer_.WriteDisk(*disk_, given);
  EXPECT_EQ(written.result, 8);
  EXPECT_EQ(written.message, "\r\n変換先ファイルオープンエラー");
  EXPECT_TRUE(test::ListFolder(dir_.path()).empty());

  std::string deep = dir_.path();
  while (deep.size() < 4100) deep += std::string(200, 'd') + "/";
  EXPECT_EQ(writer_.WriteDisk(*disk_, deep + "GAME.HDM").message,
            "\r\n変換先ファイルオープンエラー");
}

TEST_F(BkdskWriterTest, ReportsDirectModeOpenWriteAndAbort) {
  test::BuildDisk(*disk_, ShapeNamed("1.44M"));
  auto direct = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM", 1);
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  EXPECT_TRUE(test::ListFolder(dir_.path()).empty());

  const auto unopenable = writer_.WriteDisk(*disk_, dir_ / "missing/GAME.HDM");
  EXPECT_EQ(unopenable.result, 8);
  EXPECT_EQ(unopenable.message, "\r\n変換先ファイルオープンエラー");

  const auto aborted = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM", 0, 3);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 3u);
  EXPECT_EQ(test::ReadFile(dir_ / "GAME.HD4").size(), 3u * 18 * 512);

  // Named as the writer names it, so the file is written in place.
  ASSERT_EQ(symlink("/dev/full", (dir_ / "FULL.HD4").c_str()), 0);
  const auto full = writer_.WriteDisk(*disk_, dir_ / "FULL.HD4");
  EXPECT_EQ(full.result, 7);
  EXPECT_EQ(full.message, "");
}

// The writer names its own file, so the driver's same-file check cannot see
// it: BKDSK to BKDSK writes over the source. It may only ever be replaced by
// a complete file.
TEST_F(BkdskWriterTest, ReplacesAFileOfItsOwnNameOnlyWhenComplete) {
  test::BuildDisk(*disk_, ShapeNamed("640K"), 8);
  test::WriteFile(dir_ / "GAME.DD6", "the source");
  const auto aborted = writer_.WriteDisk(*disk_, dir_ / "GAME.HDM", 0, /*abort_at=*/3);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(test::ReadFile(dir_ / "GAME.DD6"), "the source");
  EXPECT_EQ(test::ListFolder(dir_.path()), std::vector<std::string>{"GAME.DD6"});

  ASSERT_EQ(writer_.WriteDisk(*disk_, dir_ / "GAME.HDM").result, kResultOk);
  EXPECT_TRUE(test::ReadFile(dir_ / "GAME.DD6") == AsString(test::RawBytes(*disk_)));
  EXPECT_EQ(test::ListFolder(dir_.path()), std::vector<std::string>{"GAME.DD6"});
}

}  // namespace
}  // namespace dravik
