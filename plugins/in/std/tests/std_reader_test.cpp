// The STDFILE reader: every standard shape with stored and filled sectors,
// the sector descriptors one by one, the bounds of the record, and each
// disk through dravik-cli.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "reader_refusals.h"
#include "test_support.h"

namespace dravik {
namespace {

class StdReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("std_reader.dvr");
  test::TempDir dir_;
  std::string path_ = dir_ / "GAME.STD";
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

// A header and track records for a disk of `tracks` tracks, no sector yet.
test::Bytes Skeleton(int tracks) {
  test::Bytes file(20992, 0);
  std::memcpy(file.data(), "STDA", 4);
  file[7] = static_cast<uint8_t>(tracks / 2 - 1);
  return file;
}

TEST_F(StdReaderTest, ReadsEveryStandardShapeAndConvertsIt) {
  int number = 0;
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    test::BuildDisk(*disk_, shape, ++number);
    std::memset(disk_->data + 3000, 0xE5, 4096);  // sectors the file keeps as a fill byte
    const test::Bytes file = test::StdFile(*disk_, 2, 8);
    test::WriteFile(path_, file);
    EXPECT_EQ(reader_.IsSupport(path_).result, kResultOk);
    const auto info = reader_.GetFileInfo(path_);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, "\r\nSTDFIL形式( " + std::to_string(shape.tracks) + " Tracks : 8 / 2 )");

    image_ = test::NewDiskImage();
    const auto read = reader_.ReadDisk(path_, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, "");
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), 160u);  // rows past the disk too
    EXPECT_EQ(read.progress.back().total, 160);

    const std::string named = dir_ / "ゲーム.std";
    test::WriteFile(named, file);
    test::ExpectCliDescribes(named, "STDFILE形式入力Plug-in Ver.1.01", info.message);
    test::ExpectCliConvertsToImages(named, {disk_.get()}, {.keeps_extension = true});
  }
}

TEST_F(StdReaderTest, TakesEachSectorFromItsDescriptor) {
  test::Bytes file = Skeleton(2);
  uint8_t* record = file.data() + 8;
  record[0] = 30;  // only 26 fit a row
  record[1] = 0;   // FM
  const uint8_t descriptors[][4] = {{5, 3, 0, 0}, {5, 3, 1, 0}, {1, 1, 0xE5, 0xFF}};
  for (int k = 0; k < 26; ++k) {
    const uint8_t filler[4] = {static_cast<uint8_t>(k + 1), 0, static_cast<uint8_t>(k), 0xFF};
    std::memcpy(record + 4 + 4 * k, k < 3 ? descriptors[k] : filler, 4);
  }
  for (int i = 0; i < 2048; ++i) file.push_back(static_cast<uint8_t>(i / 128));
  test::WriteFile(path_, file);
  const auto read = reader_.ReadDisk(path_, *image_);
  ASSERT_EQ(read.result, kResultOk) << read.message;
  EXPECT_EQ(image_->track_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 0);  // track 1 holds none
  EXPECT_EQ(test::IdText(image_->ids[0][0]), "0 0 5 3 0 0");
  EXPECT_EQ(test::IdText(image_->ids[0][2]), "0 0 1 1 0 0");
  EXPECT_EQ(test::IdText(image_->ids[0][25]), "0 0 26 0 0 0");
  EXPECT_EQ(image_->ids[1][0].c, 0xFF);
  // From 20992, from 21120 (one 128-byte unit on), then fill bytes.
  EXPECT_EQ(image_->data[0], 0);
  EXPECT_EQ(image_->data[1023], 7);
  EXPECT_EQ(image_->data[1024], 1);
  EXPECT_EQ(image_->data[2047], 8);
  EXPECT_EQ(image_->data[2048], 0xE5);
  EXPECT_EQ(image_->data[2048 + 256 + 128 * 22], 25);

  // What the record cannot hold, or no length belongs to, is refused.
  const struct {
    const char* name;
    void (*spoil)(test::Bytes&);
    const char* message;
  } refusals[] = {
      {"161 tracks and more", [](test::Bytes& f) { f[7] = 80; }, "\r\nイメージデータが異常です"},
      {"N 6", [](test::Bytes& f) { f[8 + 128 + 4 + 1] = 6, f[8 + 128] = 1; },
       "\r\nイメージデータが異常です"},
      {"160 x 26 sectors of 1024 bytes",
       [](test::Bytes& f) {
         f[7] = 79;
         for (int t = 0; t < 160; ++t) {
           f[8 + 128 * t] = 26;
           for (int k = 0; k < 26; ++k) {
             uint8_t* d = f.data() + 8 + 128 * t + 4 + 4 * k;
             d[0] = static_cast<uint8_t>(k + 1), d[1] = 3, d[2] = 0, d[3] = 0xFF;
           }
         }
       },
       "\r\nイメージが大きすぎます"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.name);
    test::Bytes spoilt = file;
    r.spoil(spoilt);
    test::WriteFile(path_, spoilt);
    const auto refused = reader_.ReadDisk(path_, *image_);
    EXPECT_EQ(refused.result, kResultFailed);
    EXPECT_EQ(refused.message, r.message);
  }
}

TEST_F(StdReaderTest, MissingFilesDirectModeAbortAndTruncations) {
  test::BuildDisk(*disk_, {"4 tracks", 4, 8, 3}, 5);
  const test::Bytes file = test::StdFile(*disk_);
  test::WriteFile(path_, file);
  const auto aborted = reader_.ReadDisk(path_, *image_, 1, 2);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 2u);
  test::ExpectDirectRefusedAndMissingFileReported(reader_, path_, dir_ / "MISSING.STD",
                                                  dir_ / "OUT", *image_, kResultFailed);

  test::ForEveryTruncation("std_reader.dvr", file,
                           [&](size_t length, const test::TruncationAnswers& a) {
                             const bool header = length >= 8;
                             ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
                             ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
                             ASSERT_EQ(a.read_disk,
                                       length == file.size() ? kResultOk : kResultReadError)
                                 << length;
                           });
}

}  // namespace
}  // namespace dravik
