// The FIM reader: the six disks it knows by their length, the header words
// that make recognition stricter, and each disk through dravik-cli.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "reader_refusals.h"
#include "test_support.h"

namespace dravik {
namespace {

const test::DiskShape k1M26 = {"1M26", 154, 26, 1};

class FimReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("fim_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

// One record serves every disk in turn, so rows a larger disk left behind
// would show.
TEST_F(FimReaderTest, ReadsEachCapacityAndConvertsIt) {
  const struct {
    test::DiskShape shape;
    size_t length;
    const char* label;
  } cases[] = {
      {test::ShapeNamed("640K"), 655616, "\r\nFIM形式(640K)"},
      {test::ShapeNamed("720K"), 737536, "\r\nFIM形式(720K)"},
      {k1M26, 1025280, "\r\nFIM形式(1M 26sector)"},
      {test::ShapeNamed("1.21M"), 1229056, "\r\nFIM形式(1.21M)"},
      {test::ShapeNamed("1.25M"), 1261824, "\r\nFIM形式(1.25M)"},
      {test::ShapeNamed("1.44M"), 1474816, "\r\nFIM形式(1.44M)"},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ++number;
    test::BuildDisk(*disk_, c.shape, number);  // the record's title stays empty
    const test::Bytes file = test::FimFile(*disk_, test::SjisGameTitle(number));
    ASSERT_EQ(file.size(), c.length);
    const std::string path = dir_ / "GAME.FIM";
    test::WriteFile(path, file);
    EXPECT_EQ(reader_.IsSupport(path).result, kResultOk);
    const auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, c.label + ("\r\n" + test::Utf8GameTitle(number)));
    EXPECT_EQ(info.title, "");

    const auto read = reader_.ReadDisk(path, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, test::Utf8GameTitle(number));
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), static_cast<size_t>(c.shape.tracks));
    EXPECT_EQ(read.progress.back().total, c.shape.tracks);
    EXPECT_EQ(read.progress.back().text, "");

    const std::string named = dir_ / "ゲーム.FIM";
    test::WriteFile(named, file);
    test::ExpectCliDescribes(named, "FIM形式入力Plug-in Ver.1.01", info.message);
    test::ExpectCliConvertsToImages(named, {disk_.get()}, {.title = test::Utf8GameTitle(number)});
  }
}

TEST_F(FimReaderTest, HeaderWordsAndLengthDecideRecognition) {
  test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 9);
  const test::Bytes good = test::FimFile(*disk_, "");
  ASSERT_EQ(good[4] | good[5] << 8, 8192);
  ASSERT_EQ(good[8], 154);
  const std::string path = dir_ / "GAME.FIM";
  const struct {
    size_t offset;
    uint32_t value;
    int expected;
  } words[] = {{4, 4096, 0}, {4, 9216, 0}, {4, 4095, 2}, {4, 9217, 2}, {4, 0x10002000, 2},
               {8, 160, 0},  {8, 153, 2},  {8, 161, 2},  {8, 0x1000009A, 2}};
  for (const auto& w : words) {
    test::Bytes file = good;
    for (int i = 0; i < 4; ++i) file[w.offset + i] = static_cast<uint8_t>(w.value >> (8 * i));
    test::WriteFile(path, file);
    EXPECT_EQ(reader_.IsSupport(path).result, w.expected) << w.offset << " " << w.value;
    // Only recognition looks at them.
    EXPECT_EQ(reader_.GetFileInfo(path).message, "\r\nFIM形式(1.25M)\r\n");
    EXPECT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
  }

  // A length outside the table: refused without a text, though ReadDisk has
  // given the title by then.
  for (const int extra : {-1, 1}) {
    test::Bytes file = test::FimFile(*disk_, test::SjisGameTitle(5));
    file.resize(file.size() + extra);
    test::WriteFile(path, file);
    EXPECT_EQ(reader_.IsSupport(path).result, kResultNotMine);
    const auto info = reader_.GetFileInfo(path);
    const auto read = reader_.ReadDisk(path, *image_);
    EXPECT_EQ(info.result, kResultFailed);
    EXPECT_EQ(read.result, kResultFailed);
    EXPECT_EQ(info.message + read.message, "");
    EXPECT_EQ(read.title, test::Utf8GameTitle(5));
  }

  // A comment that fills its field ends at the field.
  test::WriteFile(path, test::FimFile(*disk_, std::string(230, 'A')));
  EXPECT_EQ(reader_.ReadDisk(path, *image_).title, std::string(224, 'A'));
}

TEST_F(FimReaderTest, DirectModeMissingFilesAbortAndTruncations) {
  test::BuildDisk(*disk_, test::ShapeNamed("640K"), 3);
  const test::Bytes file = test::FimFile(*disk_, test::SjisGameTitle(1));
  const std::string path = dir_ / "GAME.FIM";
  test::WriteFile(path, file);
  const auto aborted = reader_.ReadDisk(path, *image_, 1, 2);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 2u);
  test::ExpectDirectRefusedAndMissingFileReported(reader_, path, dir_ / "MISSING.FIM",
                                                  dir_ / "OUT", *image_, kResultReadError);

  test::ForTruncations("fim_reader.dvr", file,
                       test::TruncationLengths(file.size(), 256 + 2 * 4096, 256, 4096),
                       [&](size_t length, const test::TruncationAnswers& a) {
                         const int whole = length == file.size() ? kResultOk : kResultFailed;
                         ASSERT_EQ(a.is_support, whole == kResultOk ? kResultOk : kResultNotMine)
                             << length;
                         ASSERT_EQ(a.file_info, length < 256 ? kResultReadError : whole) << length;
                         ASSERT_EQ(a.read_disk, length < 256 ? kResultReadError : whole) << length;
                       });
}

}  // namespace
}  // namespace dravik
