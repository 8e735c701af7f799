// The DCP/DCU reader: the four media types as DCU and as DCP files, the map
// and the lengths that recognition checks, and MAME's floptool as a second
// reader of the shapes it can dump.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "format_files.h"
#include "reader_refusals.h"
#include "test_support.h"

namespace dravik {
namespace {

struct Media {
  int type;
  const char* shape;
  const char* label;
  size_t track_bytes;
};
const Media kMedia[] = {
    {1, "1.25M", "\r\nDCP/DCU形式(1.25M)", 8192},
    {2, "1.21M", "\r\nDCP/DCU形式(1.21M)", 7680},
    {3, "1.44M", "\r\nDCP/DCU形式(1.44M)", 9216},
    {4, "640K", "\r\nDCP/DCU形式(640M)", 4096},
};

test::Bytes Map(int stored_tracks) {
  test::Bytes map(160, 0);
  std::fill_n(map.begin(), stored_tracks, 1);
  return map;
}

// The disk with the data of every track from first on zeroed.
void ZeroTracksFrom(DiskImage& disk, int first) {
  const size_t track = test::Rows(disk)[0].size() * SectorLength(disk.size_code);
  std::memset(disk.data + first * track, 0, (disk.track_count - first) * track);
}

class DcpReaderTest : public ::testing::Test {
 protected:
  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("dcp_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> disk_ = test::NewDiskImage();
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

// A DCU file holds every track whatever its map says; a DCP file the
// tracks its map marks, the others reading as zero bytes.
TEST_F(DcpReaderTest, ReadsEachTypeAsDcuAndAsDcp) {
  const std::string path = dir_ / "GAME.DCP";
  for (const Media& m : kMedia) {
    SCOPED_TRACE(m.label);
    test::BuildDisk(*disk_, test::ShapeNamed(m.shape), m.type);
    const test::Bytes dcu = test::DcpFile(*disk_, m.type, Map(0), true);
    ASSERT_EQ(dcu.size(), 162 + m.track_bytes * disk_->track_count);
    test::WriteFile(path, dcu);
    EXPECT_EQ(reader_.IsSupport(path).result, kResultOk);
    const auto info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, m.label);
    const auto read = reader_.ReadDisk(path, *image_);
    ASSERT_EQ(read.result, kResultOk) << read.message;
    EXPECT_EQ(read.title, "");
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
    ASSERT_EQ(read.progress.size(), static_cast<size_t>(disk_->track_count));
    EXPECT_EQ(read.progress.back().total, disk_->track_count);
    const std::string named = dir_ / "ゲーム.DCU";
    test::WriteFile(named, dcu);
    test::ExpectCliDescribes(named, "DCP/DCU形式入力Plug-in Ver.1.00", m.label);
    test::ExpectCliConvertsToImages(named, {disk_.get()});

    test::WriteFile(path, test::DcpFile(*disk_, m.type, Map(2), false));
    ASSERT_EQ(reader_.IsSupport(path).result, kResultOk);
    const auto partial = reader_.ReadDisk(path, *image_);
    ASSERT_EQ(partial.result, kResultOk);
    EXPECT_EQ(partial.progress.size(), static_cast<size_t>(disk_->track_count));
    ZeroTracksFrom(*disk_, 2);
    EXPECT_EQ(std::memcmp(disk_.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
  }
}

TEST_F(DcpReaderTest, RecognitionChecksTypeMapAndLength) {
  test::BuildDisk(*disk_, test::ShapeNamed("1.21M"), 2);
  const std::string path = dir_ / "GAME.DCP";
  const auto answer = [&](const test::Bytes& file) {
    test::WriteFile(path, file);
    return reader_.IsSupport(path).result;
  };
  // Type 2 checks the map of tracks 0 to 153 only, though it has 160; a
  // track whose byte is neither 0 nor 1 is not stored.
  test::Bytes map = Map(154);
  map[157] = 2;
  test::Bytes file = test::DcpFile(*disk_, 2, map, false);
  EXPECT_EQ(answer(file), kResultOk);
  ASSERT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
  ZeroTracksFrom(*disk_, 154);
  EXPECT_EQ(test::CompareDisks(*disk_, *image_), "");
  map[4] = 2;
  EXPECT_EQ(answer(test::DcpFile(*disk_, 2, map, false)), kResultNotMine);

  // From the tracks the map stores up to every track, and nothing else.
  file = test::DcpFile(*disk_, 2, Map(2), false);
  const size_t dcu = 162 + 160 * 7680;
  for (const auto& [length, expected] : std::vector<std::pair<size_t, int>>{
           {file.size() - 1, 2}, {file.size(), 0}, {dcu - 1, 0}, {dcu, 0}, {dcu + 1, 2}}) {
    test::Bytes sized = file;
    sized.resize(length);
    EXPECT_EQ(answer(sized), expected) << length;
  }
  // A THD hard-disk image of 257 cylinders begins like a type-1 DCP file.
  test::Bytes thd(256, 0);
  thd[0] = thd[1] = 1;
  test::WriteFile(path, thd);
  ASSERT_EQ(truncate(path.c_str(), 256 + 257 * 67584), 0);
  EXPECT_EQ(reader_.IsSupport(path).result, kResultNotMine);

  // A type outside 1 to 4 is refused by every export, with a message where
  // the format gives one; ReadDisk does not answer an empty disk.
  file[0] = 5;
  EXPECT_EQ(answer(file), kResultNotMine);
  const auto info = reader_.GetFileInfo(path);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\nGetFileInfoでエラーが発生しました 0x01");
  const auto read = reader_.ReadDisk(path, *image_);
  EXPECT_EQ(read.result, kResultFailed);
  EXPECT_EQ(read.message, "\r\nイメージデータが異常です");
}

TEST_F(DcpReaderTest, DirectModeMissingFilesAbortAndTruncations) {
  test::BuildDisk(*disk_, test::ShapeNamed("1.25M"), 4);
  const test::Bytes file = test::DcpFile(*disk_, 1, Map(2), false);
  const std::string path = dir_ / "GAME.DCP";
  test::WriteFile(path, file);
  const auto aborted = reader_.ReadDisk(path, *image_, 1, 5);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 5u);
  test::ExpectDirectRefusedAndMissingFileReported(reader_, path, dir_ / "MISSING.DCP",
                                                  dir_ / "OUT", *image_, kResultReadError);

  test::ForEveryTruncation("dcp_reader.dvr", file,
                           [&](size_t length, const test::TruncationAnswers& a) {
                             const bool whole = length == file.size();
                             ASSERT_EQ(a.is_support, whole ? kResultOk : kResultNotMine) << length;
                             ASSERT_EQ(a.file_info, length > 0 ? kResultOk : kResultReadError)
                                 << length;
                             ASSERT_EQ(a.read_disk, whole ? kResultOk : kResultReadError) << length;
                           });
}

// floptool dumps only the 1.25M and 1.21M shapes, and reads track t of a
// DCP file at 162 + t x its length whatever the map says: DCU files, and
// DCP files whose map stores every track.
TEST_F(DcpReaderTest, FloptoolReadsTheSameSectors) {
  if (!test::HaveTool("floptool")) GTEST_SKIP() << "floptool (mame-tools) not installed";
  for (const Media& m : {kMedia[0], kMedia[1]}) {
    test::BuildDisk(*disk_, test::ShapeNamed(m.shape), 10 + m.type);
    for (const test::Bytes& map : {Map(0), Map(160)}) {
      SCOPED_TRACE(std::string(m.label) + (map[0] ? " stored map" : " DCU"));
      const std::string path = dir_ / "GAME.DCP";
      test::WriteFile(path, test::DcpFile(*disk_, m.type, map, true));
      const auto run = test::RunCommand("floptool flopconvert dcx pc98 " +
                                        test::ShellQuote(path) + " " +
                                        test::ShellQuote(dir_ / "GAME.RAW"));
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      ASSERT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
      const std::string raw = test::ReadFile(dir_ / "GAME.RAW");
      EXPECT_TRUE(test::RawBytes(*image_) == test::Bytes(raw.begin(), raw.end()));
    }
  }
}

}  // namespace
}  // namespace dravik
