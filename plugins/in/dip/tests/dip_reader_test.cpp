// The DIP reader: its one shape with the comment as title, the files it
// refuses, and MAME's floptool as a second reader of the same files.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "test_support.h"

namespace dravik {
namespace {

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class DipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 5); }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("dip_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(DipReaderTest, ReadsTheDiskWithItsCommentAsTitle) {
  const struct {
    std::string comment;  // Shift-JIS
    std::string text;     // UTF-8
    std::string title;    // the text cut to the 256-byte buffer
  } cases[] = {
      {test::SjisGameTitle(1), test::Utf8GameTitle(1), test::Utf8GameTitle(1)},
      {"", "", ""},
      // The whole field without a NUL: 240 half-width kana, 3 bytes each in
      // UTF-8, of which 85 fit the title buffer.
      {std::string(240, '\xB1'), Repeat("ｱ", 240), Repeat("ｱ", 85)},
  };
  const std::string path = dir_ / "GAME.DIP";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 5, c.comment);
    image_ = test::NewDiskImage();  // zero-filled, as the program hands it over
    test::WriteFile(path, test::DipFile(*disk_, c.comment));
    EXPECT_EQ(reader_.IsSupport(path).result, kResultOk);
    const auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, "\r\nDIP形式(1.25M)");
    EXPECT_EQ(info.title, "");

    const auto read = reader_.ReadDisk(path, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, c.title);
    // Title (the disk's own bytes), geometry and every slot, then the data.
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), 154u);
    EXPECT_EQ(read.progress[0].text, "\r\n" + c.text);
    EXPECT_EQ(read.progress[153].done, 153);
    EXPECT_EQ(read.progress[153].total, 154);
  }
}

TEST_F(DipReaderTest, RefusesOtherSignaturesAndLengths) {
  const std::string path = dir_ / "GAME.DIP";
  test::Bytes file = test::DipFile(*disk_, "x");
  file[3] = 0x14;
  test::WriteFile(path, file);
  EXPECT_EQ(reader_.IsSupport(path).result, kResultNotMine);
  const auto info = reader_.GetFileInfo(path);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\nDIPヘッダ異常:\r\n01,08,00,14,41,00,01,00\r\n00,00,00,00,00,00,00");

  file[3] = 0x13;
  for (const int extra : {-1, 1}) {
    test::Bytes other = file;
    other.resize(file.size() + extra);
    test::WriteFile(path, other);
    EXPECT_EQ(reader_.IsSupport(path).result, kResultNotMine) << extra;
  }

  test::WriteFile(path, file);
  const auto aborted = reader_.ReadDisk(path, *image_, 1, 3);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 3u);
  for (const std::string& source : {path, dir_ / "MISSING.DIP"}) {
    const auto direct = reader_.ReadDirect(source, dir_ / "OUT");
    EXPECT_EQ(direct.result, kResultFailed);
    EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  }
  EXPECT_EQ(reader_.IsSupport(dir_ / "MISSING.DIP").result, kResultReadError);
  for (const auto& r : {reader_.GetFileInfo(dir_ / "MISSING.DIP"),
                        reader_.ReadDisk(dir_ / "MISSING.DIP", *image_)}) {
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "MISSING.DIP" +
                             ": No such file or directory");
  }
}

// Every length through the header and two tracks, then each track's end
// and a byte either side.
TEST_F(DipReaderTest, AnswersTruncationsWithResultCodes) {
  const test::Bytes file = test::DipFile(*disk_, test::SjisGameTitle(2));
  test::ForTruncations("dip_reader.dvr", file,
                       test::TruncationLengths(file.size(), 256 + 2 * 8192, 256, 8192),
                       [&](size_t length, const test::TruncationAnswers& a) {
                         const bool whole = length == file.size();
                         ASSERT_EQ(a.is_support, whole ? kResultOk : kResultNotMine) << length;
                         ASSERT_EQ(a.file_info, length >= 256 ? kResultOk : kResultReadError)
                             << length;
                         ASSERT_EQ(a.read_disk, whole ? kResultOk : kResultReadError) << length;
                       });
}

TEST_F(DipReaderTest, FloptoolReadsTheSameSectors) {
  if (!test::HaveTool("floptool")) GTEST_SKIP() << "floptool (mame-tools) not installed";
  const std::string path = dir_ / "GAME.DIP";
  test::WriteFile(path, test::DipFile(*disk_, test::SjisGameTitle(3)));
  const auto run = test::RunCommand("floptool flopconvert dip pc98 " + test::ShellQuote(path) +
                                    " " + test::ShellQuote(dir_ / "GAME.RAW"));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
  const std::string raw = test::ReadFile(dir_ / "GAME.RAW");
  EXPECT_TRUE(test::RawBytes(*image_) == test::Bytes(raw.begin(), raw.end()));
}

TEST_F(DipReaderTest, ConvertsThroughTheCommandLine) {
  const std::string path = dir_ / "ゲーム.DIP";
  test::WriteFile(path, test::DipFile(*disk_, test::SjisGameTitle(4)));
  test::ExpectCliDescribes(path, "DIP形式入力Plug-in Ver.1.01", "\r\nDIP形式(1.25M)");
  test::ExpectCliConvertsToImages(path, {disk_.get()}, {.title = test::Utf8GameTitle(4)});
}

}  // namespace
}  // namespace dravik
