// The DFcnv reader: every standard shape, the track records it refuses, the
// rows past the file's end, and each disk through dravik-cli.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "reader_refusals.h"
#include "test_support.h"

namespace dravik {
namespace {

const test::DiskShape kFourTracks = {"4 tracks", 4, 8, 3};
constexpr size_t kRecord = 4 + 8 * 1024;  // one track of kFourTracks

class DfcnvReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("dfcnv_reader.dvr");
  test::TempDir dir_;
  std::string path_ = dir_ / "GAME.DFC";
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(DfcnvReaderTest, ReadsEveryStandardShapeAndConvertsIt) {
  int number = 0;
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    test::BuildDisk(*disk_, shape, ++number);
    const test::Bytes file = test::DfcnvFile(*disk_, test::SjisGameTitle(number));
    test::WriteFile(path_, file);
    EXPECT_EQ(reader_.IsSupport(path_).result, kResultOk);
    const auto info = reader_.GetFileInfo(path_);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, "\r\nDFcnv形式\r\n" + test::Utf8GameTitle(number));
    EXPECT_EQ(info.title, "");

    image_ = test::NewDiskImage();
    const auto read = reader_.ReadDisk(path_, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, test::Utf8GameTitle(number));
    // FM exactly where the sectors are 128 bytes long (the mixed 2HD's
    // track 0), geometry from track 1, empty rows past the last track.
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), static_cast<size_t>(shape.tracks));
    EXPECT_EQ(read.progress.back().total, 160);

    const std::string named = dir_ / "ゲーム.dfc";
    test::WriteFile(named, file);
    test::ExpectCliDescribes(named, "DFCNV形式変換Plug-in Ver.0.11β", info.message);
    test::ExpectCliConvertsToImages(named, {disk_.get()}, {true, test::Utf8GameTitle(number)});
  }
}

// Track 2 of a four-track file spoiled in turn: decoding stops there with
// a message, after tracks 0 and 1.
TEST_F(DfcnvReaderTest, RefusesTrackRecordsNoTrackCanBeMadeOf) {
  test::BuildDisk(*disk_, kFourTracks, 3);
  const test::Bytes good = test::DfcnvFile(*disk_, "");
  const size_t track2 = 136 + 2 * kRecord;
  const struct {
    const char* name;
    uint8_t bytes[4];
    const char* message;
  } cases[] = {
      {"mark 0x51", {0x51, 3, 0x00, 0x20}, "\r\nDFconvトラックヘッダ異常"},
      {"a byte no sector owns", {0x50, 3, 0x01, 0x20}, "\r\nイメージデータが異常です"},
      {"negative length", {0x50, 3, 0x00, 0x80}, "\r\nイメージデータが異常です"},
      {"27 sectors", {0x50, 0, 0x80, 0x0D}, "\r\nイメージデータが異常です"},
      {"9473 bytes and more", {0x50, 5, 0x00, 0x30}, "\r\nイメージデータが異常です"},
      {"N 6", {0x50, 6, 0x00, 0x20}, "\r\nイメージデータが異常です"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Bytes file = good;
    std::memcpy(file.data() + track2, c.bytes, 4);
    test::WriteFile(path_, file);
    const auto read = reader_.ReadDisk(path_, *image_);
    EXPECT_EQ(read.result, kResultFailed);
    EXPECT_EQ(read.message, c.message);
    EXPECT_EQ(read.progress.size(), 2u);
  }

  // 26 sectors of 128 bytes are FM, 26 of 256 MFM; an empty record is a
  // track without sectors; a few bytes after the last record are no track.
  test::Bytes file = good;
  const uint8_t tracks[][4] = {{0x50, 0, 0x00, 0x0D}, {0x50, 1, 0x00, 0x1A}, {0x50, 3, 0, 0}};
  file.resize(136);
  for (const auto& record : tracks) {
    file.insert(file.end(), record, record + 4);
    file.resize(file.size() + (record[2] | record[3] << 8), 0xE5);
  }
  file.insert(file.end(), {0x50, 3});
  test::WriteFile(path_, file);
  image_ = test::NewDiskImage();
  const auto read = reader_.ReadDisk(path_, *image_);
  ASSERT_EQ(read.result, kResultOk);
  EXPECT_EQ(image_->track_count, 3);
  EXPECT_EQ(image_->sectors_per_track, 26);
  EXPECT_EQ(image_->size_code, 1);
  EXPECT_EQ(test::IdText(image_->ids[0][25]), "0 0 26 0 0 0");
  EXPECT_EQ(test::IdText(image_->ids[1][25]), "0 1 26 1 0 1");
  // Rows no record reached are empty, whatever the record held before.
  for (int t = 2; t < kMaxTracks; ++t) {
    for (const SectorId& id : image_->ids[t]) ASSERT_EQ(test::IdText(id), "255 255 255 255 255 255");
  }
}

TEST_F(DfcnvReaderTest, HeaderFilesAndTruncations) {
  test::BuildDisk(*disk_, kFourTracks, 4);
  test::Bytes file = test::DfcnvFile(*disk_, std::string(50, 'C'));
  file[50] = 1;
  test::WriteFile(path_, file);
  EXPECT_EQ(reader_.IsSupport(path_).result, kResultOk);
  const auto info = reader_.GetFileInfo(path_);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\n未対応のDFcnv形式です");
  file[50] = 0;
  test::WriteFile(path_, file);
  EXPECT_EQ(reader_.GetFileInfo(path_).message, "\r\nDFcnv形式\r\n" + std::string(42, 'C'));

  const auto aborted = reader_.ReadDisk(path_, *image_, 1, 2);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 2u);
  test::ExpectDirectRefusedAndMissingFileReported(reader_, path_, dir_ / "MISSING.DFC",
                                                  dir_ / "OUT", *image_, kResultFailed);

  // A file may end after any whole record, or inside a record's header;
  // one that ends before its first record holds no disk.
  test::ForEveryTruncation("dfcnv_reader.dvr", file,
                           [&](size_t length, const test::TruncationAnswers& a) {
                             const bool header = length >= 136;
                             const bool ends_well =
                                 length >= 136 + kRecord && (length - 136) % kRecord < 4;
                             ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
                             ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
                             ASSERT_EQ(a.read_disk, ends_well ? kResultOk : kResultReadError)
                                 << length;
                           });
}

// Found by the sweep: a file cut right after its header read as a disk of
// no tracks, and dravik-cli wrote an empty FDD and called it converted.
TEST_F(DfcnvReaderTest, AFileEndingBeforeItsFirstTrackIsNoEmptyDisk) {
  test::BuildDisk(*disk_, kFourTracks, 5);
  test::Bytes file = test::DfcnvFile(*disk_, "C");
  file.resize(136 + 3);
  test::WriteFile(path_, file);
  EXPECT_EQ(reader_.ReadDisk(path_, *image_).result, kResultReadError);

  const test::CommandResult cli = test::RunCommand(
      test::ShellQuote(test::ProgramDir() + "dravik-cli") + " -t fdd -o " +
      test::ShellQuote(dir_ / "out") + " " + test::ShellQuote(path_));
  EXPECT_NE(cli.status, 0) << cli.out;
  EXPECT_FALSE(cli.out.find("変換完了") != std::string::npos) << cli.out;
  EXPECT_TRUE(test::ListFolder(dir_ / "out").empty());
}

}  // namespace
}  // namespace dravik
