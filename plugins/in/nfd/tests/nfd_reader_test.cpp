// The NFD reader driven through its built library, on r0 and r1 files laid
// out by the tests' own builder; MAME's floptool reads the same files as a
// second, independent reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "cli_conversion.h"
#include "disk_builder.h"
#include "nfd_image.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using Bytes = std::vector<uint8_t>;

constexpr size_t kR0TableEnd = 0x120 + 163 * 26 * 16;

// Track 0 of 26 FM sectors of 128 bytes interleaved, the other tracks 26 x
// 256; a deleted sector, an ID unlike its place, and on track 3 a gap in
// the row, the slots after it still used.
std::unique_ptr<DiskImage> MixedDisk() {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("mixed2HD"), 9);
  test::InterleaveRows(*disk);
  disk->ids[5][3].deleted = 1;
  disk->ids[7][0] = SectorId{70, 0, 0xF7, 1, 0, 1};
  disk->ids[3][4].c = 0xFF;
  return disk;
}

class NfdReaderTest : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes, const std::string& name = "DISK.NFD") {
    test::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  CallResult Read(const Bytes& bytes, int abort_at = 0) {
    return reader_.ReadDisk(Put(bytes), *image_, 1, abort_at);
  }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("nfd_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(NfdReaderTest, TakesBothRevisionsAndNamesTheDiskType) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.25M"), 2);
  auto empty = test::NewDiskImage();
  test::BuildDisk(*empty, {"none", 0, 0, 0});
  const std::string game = "\x83\x51\x81\x5B\x83\x80";
  const auto file = [&](int revision, uint8_t pda, const std::string& comment,
                        const DiskImage& d) {
    return test::NfdImage(d, test::NfdRevision(revision, comment, pda));
  };
  const auto patch = [](Bytes f, size_t at, const std::string& bytes) {
    std::memcpy(f.data() + at, bytes.data(), bytes.size());
    return f;
  };
  const Bytes r0 = file(0, 0x90, "", *disk);
  const struct {
    const char* name;
    Bytes bytes;
    int is_support;
    std::string info;
    std::string title = "";
  } cases[] = {
      {"r0 2HD", file(0, 0x90, game + " 1", *disk), kResultOk, "\r\nNFD r0形式(2HD) ゲーム 1",
       "ゲーム 1"},
      {"r1 2DD", file(1, 0x10, "A", *disk), kResultOk, "\r\nNFD r1形式(2DD) A", "A"},
      {"r1 1.44M", file(1, 0x30, "", *disk), kResultOk, "\r\nNFD r1形式(1.44M)"},
      {"an unknown disk type", file(0, 0x55, "", *disk), kResultOk, "\r\nNFD r0形式"},
      {"no sector at all", file(1, 0x90, "", *empty), kResultOk, "\r\nNFD r1形式"},
      {"a comment filling its field", file(0, 0x90, std::string(256, 'C'), *disk), kResultOk,
       "\r\nNFD r0形式(2HD) " + std::string(256, 'C'), std::string(255, 'C')},
      {"revision 2", patch(r0, 13, "2"), kResultNotMine, ""},
      {"no NUL after the name", patch(r0, 14, "X"), kResultNotMine, ""},
      {"fifteen bytes", Bytes(r0.begin(), r0.begin() + 15), kResultNotMine, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Put(c.bytes);
    EXPECT_EQ(reader_.IsSupport(path).result, c.is_support);
    if (c.is_support != kResultOk) continue;
    const CallResult info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, c.info);
    EXPECT_EQ(info.title, c.title);
    EXPECT_EQ(info.multi_disk, 0);
  }
  EXPECT_EQ(reader_.IsSupport(dir_ / "missing.nfd").result, kResultReadError);
  const CallResult other = reader_.ReadDisk(Put(patch(r0, 0, "X")), *image_);
  EXPECT_EQ(other.result, kResultFailed);
  EXPECT_EQ(other.message, kMsgBadImageData);
}

TEST_F(NfdReaderTest, CopiesEveryIdFlagAndSectorOfBothRevisions) {
  const auto disk = MixedDisk();
  for (int revision : {0, 1}) {
    SCOPED_TRACE(revision);
    const CallResult r = Read(test::NfdImage(*disk, test::NfdRevision(revision, "\x83\x51\x81\x5B\x83\x80")));
    ASSERT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(r.title, "ゲーム");
    EXPECT_EQ(std::string(image_->title), "\x83\x51\x81\x5B\x83\x80");
    if (revision == 0) {
      EXPECT_EQ(test::CompareDisks(*disk, *image_), "");  // slots keep their places
    } else {
      EXPECT_TRUE(test::RawBytes(*image_) == test::RawBytes(*disk));
      EXPECT_EQ(test::IdText(image_->ids[3][4]), test::IdText(disk->ids[3][5]));
    }
    EXPECT_EQ(test::IdText(image_->ids[0][1]), "0 0 14 0 0 0");
    EXPECT_EQ(test::IdText(image_->ids[5][3]), "2 1 15 1 1 1");
    EXPECT_EQ(test::IdText(image_->ids[7][0]), "70 0 247 1 0 1");
    EXPECT_EQ(image_->track_count, 154);
    EXPECT_EQ(image_->sectors_per_track, 26);
    EXPECT_EQ(image_->size_code, 1);
    ASSERT_EQ(r.progress.size(), 160u);
    EXPECT_EQ(r.progress[159].total, 160);
  }
  EXPECT_EQ(Read(test::NfdImage(*disk, test::NfdRevision(1)), 4).result, kResultAborted);
}

TEST_F(NfdReaderTest, SkipsRetryCopiesAndSaysSo) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.25M"), 4);
  test::NfdOptions options = test::NfdRevision(1);
  options.retries = {{0, 2, 3}, {0, 5, 1}, {77, 0, 256}};
  const CallResult r = Read(test::NfdImage(*disk, options));
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(r.message, "\r\nリトライデータ(3件、266240バイト)を読み飛ばしました");
  EXPECT_EQ(test::CompareDisks(*disk, *image_), "");
}

TEST_F(NfdReaderTest, RefusesWhatTheRecordCannotHoldAndDamagedTables) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.25M"), 6);
  const Bytes r0 = test::NfdImage(*disk, test::NfdRevision(0));
  const Bytes r1 = test::NfdImage(*disk, test::NfdRevision(1));
  const uint32_t r1_map = ReadLe32(r1.data() + 0x120);  // track 0's
  test::NfdOptions with_retry = test::NfdRevision(1);
  with_retry.retries = {{0, 0, 1}};
  const Bytes r1_retry = test::NfdImage(*disk, with_retry);
  const auto patch = [](Bytes f, size_t at, std::vector<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), f.begin() + at);
    return f;
  };
  const auto le32 = [](uint32_t v) {
    return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  const size_t entry_160 = 0x120 + 160 * 26 * 16;
  const struct {
    const char* name;
    Bytes bytes;
    int result;
    std::string_view message;
  } cases[] = {
      {"r0: header size inside the table", patch(r0, 0x110, le32(kR0TableEnd - 1)), kResultFailed,
       kMsgBadImageData},
      {"r0: header size past the file", patch(r0, 0x110, le32(uint32_t(r0.size() + 1))),
       kResultFailed, kMsgBadImageData},
      {"r0: data past the file", Bytes(r0.begin(), r0.end() - 1), kResultFailed,
       kMsgBadImageData},
      {"r0: a sector on track 160", patch(r0, entry_160, {80, 0, 1, 0}), kResultFailed,
       kMsgImageTooLarge},
      {"r0: a sector of 8192 bytes", patch(r0, 0x120 + 3, {6}), kResultFailed, kMsgImageTooLarge},
      {"r0: N 0xFF", patch(r0, 0x120 + 3, {0xFF}), kResultFailed, kMsgBadImageData},
      {"r0: more data than the record holds",
       [&] {
         Bytes f = r0;
         for (int t = 0; t < 160; ++t) {
           for (int s = 0; s < 26; ++s) {
             const std::vector<uint8_t> e = {uint8_t(t / 2), uint8_t(t % 2), uint8_t(s + 1), 3};
             std::copy(e.begin(), e.end(), f.begin() + 0x120 + (t * 26 + s) * 16);
           }
         }
         f.resize(f.size() + 160 * 26 * 1024);
         return f;
       }(),
       kResultFailed, kMsgImageTooLarge},
      {"r1: a map inside the header", patch(r1, 0x120, le32(0x200)), kResultFailed,
       kMsgBadImageData},
      {"r1: a map past the file", patch(r1, 0x124, le32(uint32_t(r1.size() - 8))), kResultFailed,
       kMsgBadImageData},
      {"r1: 27 sectors", patch(r1, r1_map, {27, 0}), kResultFailed, kMsgImageTooLarge},
      {"r1: a sector on track 161", patch(r1, 0x120 + 4 * 161, le32(r1_map)), kResultFailed,
       kMsgImageTooLarge},
      {"r1: retry copies past the file",
       patch(r1_retry, r1_map + 16 * 9 + 0x0A, {0xFF, 0xFF, 0xFF, 0x7F}), kResultFailed,
       kMsgBadImageData},
      {"r1: data past the file", Bytes(r1.begin(), r1.end() - 1), kResultFailed,
       kMsgBadImageData},
      {"r1: header size inside the pointers", patch(r1, 0x110, le32(0x3AF)), kResultFailed,
       kMsgBadImageData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CallResult r = Read(c.bytes);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(r.progress.empty());  // refused before any data is read
  }
  const CallResult direct = reader_.ReadDirect(Put(r1), dir_ / "OUT");
  EXPECT_EQ(direct.result, kResultFailed);
  EXPECT_EQ(direct.message, kMsgUnsupportedConversion);
}

// Every prefix of an r1 file, and of an r0 file through the header and the
// first tracks: a result code, never a crash or a text left unterminated.
TEST_F(NfdReaderTest, AnswersEveryTruncation) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, {"small", 4, 5, 1}, 8, "CUT");
  test::NfdOptions options = test::NfdRevision(1);
  options.retries = {{1, 1, 2}};
  const Bytes r1 = test::NfdImage(*disk, options);
  test::ForEveryTruncation("nfd_reader.dvr", r1, [&](size_t length, const auto& a) {
    ASSERT_EQ(a.is_support, length >= 16 ? kResultOk : kResultNotMine) << length;
    ASSERT_EQ(a.file_info, length >= 0x120 ? kResultOk : kResultReadError) << length;
    ASSERT_EQ(a.read_disk, length == r1.size() ? kResultOk
                           : length >= 0x120  ? kResultFailed
                                              : kResultReadError)
        << length;
  });

  const Bytes r0 = test::NfdImage(*disk, test::NfdRevision(0));
  for (size_t length : {size_t{0}, size_t{15}, size_t{0x11F}, size_t{0x120}, size_t{0x1000},
                        kR0TableEnd - 1, kR0TableEnd, kR0TableEnd + 0x10, r0.size() - 1}) {
    SCOPED_TRACE(length);
    const std::string path = Put(Bytes(r0.begin(), r0.begin() + length));
    const CallResult r = reader_.ReadDisk(path, *image_);
    EXPECT_EQ(r.result, length >= 0x120 ? kResultFailed : kResultReadError);
    EXPECT_EQ(reader_.GetFileInfo(path).result, length >= 0x120 ? kResultOk : kResultReadError);
  }
}

TEST_F(NfdReaderTest, ConvertsThroughTheCommandLine) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.44M"), 14, "\x83\x51\x81\x5B\x83\x80");
  test::NfdOptions options = test::NfdRevision(1, "\x83\x51\x81\x5B\x83\x80", 0x30);
  options.retries = {{5, 3, 2}};
  test::ExpectCliConvertsToImages(Put(test::NfdImage(*disk, options), "ゲーム.NFD"), {disk.get()});
}

// floptool reads the files built here as this reader does, in both
// revisions, retries included. Its raw dump holds the 2HD shapes of 8 x 1024
// and 15 x 512 only: from an NFD file it makes no readable 2DD disk whatever
// the disk type byte says, and it cannot dump 1.44M or 26-sector disks.
TEST_F(NfdReaderTest, FloptoolReadsTheSameSectors) {
  if (!test::HaveTool("floptool")) GTEST_SKIP() << "floptool (mame-tools) not installed";
  const std::pair<const char*, uint8_t> shapes[] = {{"1.25M", 0x90}, {"1.21M", 0x90}};
  for (const auto& [name, pda] : shapes) {
    for (int revision : {0, 1}) {
      SCOPED_TRACE(std::string(name) + " r" + std::to_string(revision));
      auto disk = test::NewDiskImage();
      test::BuildDisk(*disk, test::ShapeNamed(name), 12);
      test::NfdOptions options = test::NfdRevision(revision, "", pda);
      if (revision == 1) options.retries = {{2, 1, 2}};
      const std::string path = Put(test::NfdImage(*disk, options));
      const auto run = test::RunCommand("floptool flopconvert nfd pc98 " + test::ShellQuote(path) +
                                        " " + test::ShellQuote(dir_ / "DISK.RAW"));
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      ASSERT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
      const std::string raw = test::ReadFile(dir_ / "DISK.RAW");
      EXPECT_TRUE(test::RawBytes(*image_) == Bytes(raw.begin(), raw.end()));
      EXPECT_TRUE(test::RawBytes(*image_) == test::RawBytes(*disk));
    }
  }
}

}  // namespace
}  // namespace dravik
