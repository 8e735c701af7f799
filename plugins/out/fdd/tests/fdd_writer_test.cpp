// The FDD writer driven through its built library; its files are checked
// byte by byte against the layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "disk_data.h"
#include "fdd_layout.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using test::NewDiskImage;

class FddWriterTest : public ::testing::Test {
 protected:
  // Writes the image and returns the file's bytes.
  std::vector<uint8_t> Write(DiskImage& image, CallResult* result = nullptr) {
    const CallResult r = writer_.WriteDisk(image, dir_ / "OUT.FDD");
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.result, kResultOk) << r.message;
    const std::string bytes = test::ReadFile(dir_ / "OUT.FDD");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  static const uint8_t* Entry(const std::vector<uint8_t>& file, int t, int s) {
    return file.data() + fdd::EntryAt(t, s);
  }
  std::unique_ptr<DiskImage> Shape(const char* name, const std::string& title = "") {
    auto image = NewDiskImage();
    test::BuildDisk(*image, test::ShapeNamed(name), 5, title);
    return image;
  }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("fdd_writer.dvw");
  test::TempDir dir_;
};

TEST_F(FddWriterTest, ReportsItsIdentity) {
  EXPECT_EQ(writer_.kind(), kKindOutput);
  EXPECT_EQ(writer_.interface_version(), 1);
  EXPECT_EQ(writer_.description(), "FDD形式出力Plug-in Ver.1.00");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(writer_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(writer_.extension(), ".FDD");
  EXPECT_EQ(writer_.label(), "FDD形式(Virtual98用)");
}

TEST_F(FddWriterTest, RefusesDirectModeBeforeMakingAFile) {
  auto image = Shape("640K");
  CallResult r = writer_.WriteDisk(*image, dir_ / "D.FDD", 1);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n未対応の変換です。");
  EXPECT_FALSE(test::FileExists(dir_ / "D.FDD"));
  // Only the low 16 bits count.
  EXPECT_EQ(writer_.WriteDisk(*image, dir_ / "D.FDD", 0x10000).result, kResultOk);
}

TEST_F(FddWriterTest, LaysOutHeaderTableAndData) {
  auto image = Shape("1.25M", "GAME");
  std::memset(image->data, 0xE5, 1024);         // track 0 slot 0: fill byte E5
  std::memset(image->data + 1024, 0xFF, 1024);  // slot 1: fill byte FF
  image->ids[0][2].deleted = 7;
  image->ids[0][3].mfm = 0;
  const std::vector<uint8_t> file = Write(*image);

  ASSERT_EQ(file.size(), fdd::kHeaderSize + (154u * 8 - 2) * 1024);
  EXPECT_EQ(std::memcmp(file.data(), "VFD1.00\0", 8), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 8)), "GAME");
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 12, file.begin() + 136),
            std::vector<uint8_t>(124, 0));
  const uint8_t mark[] = {0x00, 0x00, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(file.data() + 136, mark, 4), 0);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 140, file.begin() + 220),
            std::vector<uint8_t>(80, 0));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 50140, file.begin() + 50172),
            std::vector<uint8_t>(32, 0));

  const uint8_t e5[] = {0, 0, 1, 3, 0xE5, 0, 1, 1};
  EXPECT_EQ(std::memcmp(Entry(file, 0, 0), e5, 8), 0);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 0) + 8), 0xFFFFFFFFu);
  const uint8_t ff[] = {0, 0, 2, 3, 0xFF, 0, 1, 1};
  EXPECT_EQ(std::memcmp(Entry(file, 0, 1), ff, 8), 0);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 1) + 8), 0xFFFFFFFFu);
  const uint8_t deleted[] = {0, 0, 3, 3, 0xFF, 1, 1, 1};
  EXPECT_EQ(std::memcmp(Entry(file, 0, 2), deleted, 8), 0);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 2) + 8), 50172u);
  const uint8_t fm[] = {0, 0, 4, 3, 0xFF, 0, 0, 1};
  EXPECT_EQ(std::memcmp(Entry(file, 0, 3), fm, 8), 0);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 3) + 8), 50172u + 1024);
  const uint8_t last[] = {76, 1, 8, 3, 0xFF, 0, 1, 1};
  EXPECT_EQ(std::memcmp(Entry(file, 153, 7), last, 8), 0);
  EXPECT_EQ(ReadLe32(Entry(file, 153, 7) + 8), file.size() - 1024);

  for (int t : {0, 153, 154, 159}) {
    for (int s = (t < 154 ? 8 : 0); s < 26; ++s) {
      const uint8_t* e = Entry(file, t, s);
      EXPECT_EQ(std::vector<uint8_t>(e, e + 8), std::vector<uint8_t>(8, 0xFF)) << t << "/" << s;
      EXPECT_EQ(ReadLe32(e + 8), 0xFFFFFFFFu);
    }
  }
  // Every stored sector's data sits at the offset its entry names.
  size_t cursor = 0;
  for (int t = 0; t < 154; ++t) {
    for (int s = 0; s < 8; ++s, cursor += 1024) {
      const uint32_t offset = ReadLe32(Entry(file, t, s) + 8);
      if (offset == 0xFFFFFFFFu) continue;
      ASSERT_EQ(std::memcmp(file.data() + offset, image->data + cursor, 1024), 0) << t << "/" << s;
    }
  }
}

TEST_F(FddWriterTest, UniformSectorsLeaveTheBareHeader) {
  auto image = Shape("1.44M");
  for (size_t i = 0; i < 160u * 18 * 512; i += 512) {
    std::memset(image->data + i, static_cast<int>(i / 512), 512);
  }
  const std::vector<uint8_t> file = Write(*image);
  EXPECT_EQ(file.size(), 50172u);
  EXPECT_EQ(Entry(file, 0, 5)[fdd::kEntryFill], 5);
  EXPECT_EQ(Entry(file, 159, 17)[fdd::kEntryFill], static_cast<uint8_t>(160 * 18 - 1));
}

TEST_F(FddWriterTest, CapacityFlagFollowsTheNominalSize) {
  const std::pair<const char*, uint8_t> cases[] = {{"640K", 0},  {"720K", 0},  {"1.21M", 1},
                                                   {"1.25M", 1}, {"1.44M", 1}, {"mixed2HD", 1}};
  for (const auto& [name, flag] : cases) {
    SCOPED_TRACE(name);
    auto image = Shape(name);
    const std::vector<uint8_t> file = Write(*image);
    EXPECT_EQ(Entry(file, 0, 0)[fdd::kEntryCapacity], flag);
    EXPECT_EQ(Entry(file, 100, 7)[fdd::kEntryCapacity], flag);
  }
  // A size code without a length counts as 0 bytes: no flag, no failure.
  auto image = Shape("1.25M");
  image->size_code = 0xFF;
  EXPECT_EQ(Entry(Write(*image), 0, 0)[fdd::kEntryCapacity], 0);
}

TEST_F(FddWriterTest, CutsTheTitleAtACharacterBoundary) {
  const std::string a125(125, 'A');
  const struct {
    std::string title;
    std::string stored;
  } cases[] = {
      {std::string(130, 'T'), std::string(127, 'T')},
      {std::string(126, 'B') + "\x82\xA0", std::string(126, 'B')},  // lead byte at 126 dropped
      // The trail byte of 亜 (0x9F) lies in the lead range but is no lead
      // byte here: the character stays whole.
      {a125 + "\x88\x9F"
              "CC",
       a125 + "\x88\x9F"},
      {[] {
         std::string s;
         for (int i = 0; i < 70; ++i) s += "\x88\x9F";
         return s;
       }(),
       [] {
         std::string s;
         for (int i = 0; i < 63; ++i) s += "\x88\x9F";
         return s;
       }()},
      {"", ""},
  };
  for (const auto& c : cases) {
    auto image = Shape("640K", c.title);
    const std::vector<uint8_t> file = Write(*image);
    const char* field = reinterpret_cast<const char*>(file.data() + 8);
    EXPECT_EQ(std::string(field, strnlen(field, 128)), c.stored);
    EXPECT_EQ(field[127], 0);
  }
  // A title that fills its whole field without a NUL is still cut.
  auto image = Shape("640K");
  std::memset(image->title, 'X', sizeof(image->title));
  const std::vector<uint8_t> file = Write(*image);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 8)), std::string(127, 'X'));
}

TEST_F(FddWriterTest, WalksEveryRowAndUsesOnlyThoseBelowTrackCount) {
  auto image = Shape("640K");
  image->track_count = 80;
  CallResult r;
  const std::vector<uint8_t> file = Write(*image, &r);
  ASSERT_EQ(r.progress.size(), 160u);
  for (int t = 0; t < 160; ++t) {
    EXPECT_EQ(r.progress[t].done, t);
    EXPECT_EQ(r.progress[t].total, 80);
  }
  EXPECT_EQ(Entry(file, 80, 0)[fdd::kEntryC], 0xFF);
  EXPECT_EQ(file.size(), fdd::kHeaderSize + 80u * 8 * 512);
}

TEST_F(FddWriterTest, EachSectorUsesItsOwnLength) {
  auto image = NewDiskImage();
  ClearSectorIds(*image);
  image->track_count = 1;
  const uint8_t sizes[] = {0, 3, 1, 5};
  size_t at = 0;
  for (int s = 0; s < 4; ++s) {
    SetSectorId(*image, 0, s, 0, 0, static_cast<uint8_t>(s + 1), sizes[s], 0, 1);
    for (uint32_t i = 0; i < SectorLength(sizes[s]); ++i)
      image->data[at++] = static_cast<uint8_t>(i);
  }
  const std::vector<uint8_t> file = Write(*image);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 0) + 8), 50172u);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 1) + 8), 50172u + 128);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 2) + 8), 50172u + 128 + 1024);
  EXPECT_EQ(ReadLe32(Entry(file, 0, 3) + 8), 50172u + 128 + 1024 + 256);
  EXPECT_EQ(file.size(), 50172u + 128 + 1024 + 256 + 4096);
}

TEST_F(FddWriterTest, RefusesRecordsThatNoFileCouldCarryBeforeMakingOne) {
  for (const test::RecordSpoiler& c : test::RecordSpoilers()) {
    SCOPED_TRACE(c.name);
    auto image = Shape("1.25M");
    c.spoil(*image);
    const CallResult r = writer_.WriteDisk(*image, dir_ / "BAD.FDD");
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_FALSE(test::FileExists(dir_ / "BAD.FDD"));
  }
  // A bad N beyond track_count is not looked at.
  auto image = Shape("640K");
  image->ids[159][0].n = 9;
  image->track_count = 100;
  EXPECT_EQ(writer_.WriteDisk(*image, dir_ / "OK.FDD").result, kResultOk);
}

TEST_F(FddWriterTest, ReportsOutputFailuresAndAborts) {
  auto image = Shape("720K");
  CallResult r = writer_.WriteDisk(*image, dir_ / "no/such/folder/X.FDD");
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n変換先ファイルオープンエラー");

  r = writer_.WriteDisk(*image, "/dev/full");
  EXPECT_EQ(r.result, kResultWriteError);
  EXPECT_EQ(r.message, "");

  r = writer_.WriteDisk(*image, dir_ / "ABORT.FDD", 0, 1);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.progress.size(), 1u);
  EXPECT_TRUE(test::FileExists(dir_ / "ABORT.FDD"));  // left as written so far
}

}  // namespace
}  // namespace dravik
