// The FIX reader: every standard shape in every track mode, missing tracks
// and rows cut short, the records it refuses, and each disk through
// dravik-cli.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "reader_refusals.h"
#include "test_support.h"

namespace dravik {
namespace {

void Put32(test::Bytes& file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The IDs and data of a row, for comparing rows of two disks.
std::vector<std::string> RowText(const DiskImage& disk, int track) {
  std::vector<std::string> row;
  const auto rows = test::Rows(disk);
  if (static_cast<size_t>(track) >= rows.size()) return {"no row " + std::to_string(track)};
  for (const test::Sector& s : rows[track]) {
    row.push_back(test::IdText(s.id) + ":" +
                  std::string(reinterpret_cast<const char*>(s.data), s.length));
  }
  return row;
}

class FixReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("fix_reader.dvr");
  test::TempDir dir_;
  std::string path_ = dir_ / "GAME.FIX";
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(FixReaderTest, ReadsEveryShapeInEveryModeAndConvertsIt) {
  const struct {
    const char* shape;
    test::FixOptions options;
  } cases[] = {
      {"640K", {.mode = 0}},
      {"720K", {.mode = 6, .sub_mode = 1}},
      {"1.21M", {.mode = 6, .sub_mode = 3}},
      {"1.25M", {.mode = 10}},
      {"1.44M", {.mode = 20}},
      {"mixed2HD", {.mode = 0, .count_in_second_byte = true}},
  };
  int number = 0;
  for (auto c : cases) {
    SCOPED_TRACE(c.shape);
    test::BuildDisk(*disk_, test::ShapeNamed(c.shape), ++number);
    c.options.label = "FIX" + std::to_string(number);
    c.options.comment = test::SjisGameTitle(number);
    const test::Bytes file = test::FixFile(*disk_, c.options);
    test::WriteFile(path_, file);
    EXPECT_EQ(reader_.IsSupport(path_).result, kResultOk);
    const auto info = reader_.GetFileInfo(path_);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message,
              "\r\nFIX形式（ FIX" + std::to_string(number) + " ）\r\n" + test::Utf8GameTitle(number));
    EXPECT_EQ(info.title, "");

    image_ = test::NewDiskImage();
    const auto read = reader_.ReadDisk(path_, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, test::Utf8GameTitle(number));
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), static_cast<size_t>(disk_->track_count));
    EXPECT_EQ(read.progress.back().total, 160);

    const std::string named = dir_ / "ゲーム.FIX";
    test::WriteFile(named, file);
    test::ExpectCliDescribes(named, "FIX形式入力Plug-in Ver.1.02", info.message);
    test::ExpectCliConvertsToImages(named, {disk_.get()}, {.title = test::Utf8GameTitle(number)});
  }
}

// One file of eight tracks, each showing one way a track is missing or
// cut short. Track 7 still counts: writers use only the rows below
// track_count, so ending it at the first gap would drop sectors.
TEST_F(FixReaderTest, MissingTracksAndRowsCutShortShiftNothing) {
  test::BuildDisk(*disk_, {"8 tracks", 8, 8, 2}, 7);
  disk_->ids[1][0] = SectorId{0x30, 1, 0xF7, 2, 0, 1};  // IDs are copied as recorded
  test::Bytes file = test::FixFile(*disk_, {.mode = 20, .count_in_second_byte = true});
  const auto start = [&](int t) { return static_cast<size_t>(test::FixTrackStart(file, t)); };
  Put32(file, 256 + 4 * 0, 1);  // entries 0 and 1: no track
  Put32(file, 256 + 4 * 3, 0);
  file[start(4) + 2] = file[start(4) + 3] = 0xFF;
  file[start(5) + 10] = file[start(5) + 11] = 0xFF;
  file[start(2) + 296 + 2 * 32 + 14] = 0xFF;  // C = 0xFF in the third record
  Put32(file, 256 + 4 * 6, static_cast<uint32_t>(file.size() + 2));  // a header the file cuts
  file.insert(file.end(), {0xFF, 0xFF, 0, 0, 0, 0, 0, 0});
  test::WriteFile(path_, file);

  const auto read = reader_.ReadDisk(path_, *image_);
  ASSERT_EQ(read.result, kResultOk) << read.message;
  EXPECT_EQ(image_->track_count, 8);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 2);
  std::vector<int> reported;
  for (const auto& p : read.progress) reported.push_back(p.done);
  EXPECT_EQ(reported, (std::vector<int>{1, 2, 7}));
  for (int t : {0, 3, 4, 5, 6}) EXPECT_TRUE(RowText(*image_, t).empty()) << t;
  EXPECT_EQ(RowText(*image_, 1), RowText(*disk_, 1));
  EXPECT_EQ(test::IdText(image_->ids[1][0]), "48 1 247 2 0 1");
  auto row2 = RowText(*disk_, 2);
  row2.resize(2);
  EXPECT_EQ(RowText(*image_, 2), row2);
  EXPECT_EQ(test::IdText(image_->ids[2][2]), "255 255 255 255 255 255");
  EXPECT_EQ(RowText(*image_, 7), RowText(*disk_, 7));
}

TEST_F(FixReaderTest, RefusesWhatNoRowOrRecordHolds) {
  test::BuildDisk(*disk_, {"4 tracks", 4, 26, 3}, 8);
  const test::Bytes good = test::FixFile(*disk_, {.label = std::string(20, 'L'), .comment = std::string(230, 'C')});
  const size_t track2 = static_cast<size_t>(test::FixTrackStart(good, 2));
  // Unterminated texts end at their fields.
  test::WriteFile(path_, good);
  const auto info = reader_.GetFileInfo(path_);
  EXPECT_EQ(info.message, "\r\nFIX形式（ " + std::string(16, 'L') + " ）\r\n" + std::string(224, 'C'));
  EXPECT_EQ(reader_.ReadDisk(path_, *image_).title, std::string(224, 'C'));

  const struct {
    const char* name;
    void (*spoil)(test::Bytes&, size_t track2);
    const char* message;
  } cases[] = {
      {"track mark", [](test::Bytes& f, size_t s) { f[s + 1] = 0xFE; },
       "\r\nTrack:2 トラックヘッダ異常"},
      {"mode 7", [](test::Bytes& f, size_t s) { f[s + 8] = 7; },
       "\r\nTrack:2 トラックヘッダモード判定異常:07"},
      {"27 sectors", [](test::Bytes& f, size_t s) { f[s + 76] = 27; },
       "\r\nイメージデータが異常です"},
      {"N 6", [](test::Bytes& f, size_t s) { f[s + 312 + 32 + 17] = 6; },
       "\r\nイメージデータが異常です"},
      // Every track at one record of 26 x 1024 bytes: twice the record.
      {"more data than the record holds",
       [](test::Bytes& f, size_t s) {
         for (int t = 0; t < 160; ++t) Put32(f, 256 + 4 * t, static_cast<uint32_t>(s + 2));
       },
       "\r\nイメージが大きすぎます"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Bytes file = good;
    c.spoil(file, track2);
    test::WriteFile(path_, file);
    const auto read = reader_.ReadDisk(path_, *image_);
    EXPECT_EQ(read.result, kResultFailed);
    EXPECT_EQ(read.message, c.message);
  }
}

TEST_F(FixReaderTest, MissingFilesDirectModeAbortAndTruncations) {
  test::BuildDisk(*disk_, {"4 tracks", 4, 8, 1}, 9);
  const test::Bytes file = test::FixFile(*disk_, {.label = "L", .comment = "C"});
  test::WriteFile(path_, file);
  const auto aborted = reader_.ReadDisk(path_, *image_, 1, 2);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 2u);
  test::ExpectDirectRefusedAndMissingFileReported(reader_, path_, dir_ / "MISSING.FIX",
                                                  dir_ / "OUT", *image_, kResultReadError);

  // A cut inside the last track's 17-byte header leaves that track out; any
  // other cut short of the whole file is a read error.
  const size_t last = static_cast<size_t>(test::FixTrackStart(file, 3));
  test::ForEveryTruncation("fix_reader.dvr", file,
                           [&](size_t length, const test::TruncationAnswers& a) {
                             const bool header = length >= 256;
                             const bool whole =
                                 length == file.size() || (length >= last + 4 && length < last + 17);
                             ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
                             ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
                             ASSERT_EQ(a.read_disk, whole ? kResultOk : kResultReadError) << length;
                           });
}

}  // namespace
}  // namespace dravik
