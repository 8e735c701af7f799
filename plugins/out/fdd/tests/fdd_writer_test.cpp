// The FDD writer driven through its built library; its files are checked
// byte by byte against the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "fdd_layout.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using Bytes = std::vector<uint8_t>;

class FddWriterTest : public ::testing::Test {
 protected:
  // Writes the image and returns the file's bytes.
  Bytes Write(DiskImage& image, CallResult* result = nullptr) {
    const CallResult r = writer_.WriteDisk(image, dir_ / "OUT.FDD");
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.result, kResultOk) << r.message;
    const std::string bytes = test::ReadFile(dir_ / "OUT.FDD");
    return Bytes(bytes.begin(), bytes.end());
  }
  std::unique_ptr<DiskImage> Shape(const char* name) {
    auto image = test::NewDiskImage();
    test::BuildDisk(*image, test::ShapeNamed(name), 5);
    return image;
  }
  // The eight ID bytes of an entry, and its data offset.
  static Bytes Id(const Bytes& file, int t, int s) {
    return Bytes(file.begin() + fdd::EntryAt(t, s), file.begin() + fdd::EntryAt(t, s) + 8);
  }
  static uint32_t Offset(const Bytes& file, int t, int s) {
    return ReadLe32(file.data() + fdd::EntryAt(t, s) + fdd::kEntryOffset);
  }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("fdd_writer.dvw");
  test::TempDir dir_;
};

TEST_F(FddWriterTest, LaysOutHeaderTableAndDataOfTheTracksBelowTrackCount) {
  auto image = Shape("1.25M");
  std::memcpy(image->title, "GAME", 5);
  image->track_count = 150;
  std::memset(image->data, 0xE5, 1024);         // track 0 slot 0: fill byte E5
  std::memset(image->data + 1024, 0xFF, 1024);  // slot 1: fill byte FF
  image->ids[0][2].deleted = 7;
  image->ids[0][3].mfm = 0;
  image->ids[149][6].c = 0xFF;  // a gap: slot 7 takes what slot 6 held
  image->ids[152][0].n = 9;     // beyond track_count, not looked at
  CallResult r;
  const Bytes file = Write(*image, &r);

  ASSERT_EQ(file.size(), fdd::kHeaderSize + (150u * 8 - 3) * 1024);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 12),
            Bytes({'V', 'F', 'D', '1', '.', '0', '0', 0, 'G', 'A', 'M', 'E'}));
  EXPECT_EQ(Bytes(file.begin() + 12, file.begin() + 136), Bytes(124, 0));
  EXPECT_EQ(Bytes(file.begin() + 136, file.begin() + 140), Bytes({0, 0, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(file.begin() + 140, file.begin() + 220), Bytes(80, 0));
  EXPECT_EQ(Bytes(file.begin() + 50140, file.begin() + 50172), Bytes(32, 0));

  const struct {
    int t, s;
    Bytes id;
    uint32_t offset;
  } entries[] = {
      {0, 0, {0, 0, 1, 3, 0xE5, 0, 1, 1}, 0xFFFFFFFF},
      {0, 1, {0, 0, 2, 3, 0xFF, 0, 1, 1}, 0xFFFFFFFF},
      {0, 2, {0, 0, 3, 3, 0xFF, 1, 1, 1}, 50172},
      {0, 3, {0, 0, 4, 3, 0xFF, 0, 0, 1}, 50172 + 1024},
      {149, 6, Bytes(8, 0xFF), 0xFFFFFFFF},
      {149, 7, {74, 1, 8, 3, 0xFF, 0, 1, 1}, static_cast<uint32_t>(file.size() - 1024)},
  };
  for (const auto& e : entries) {
    EXPECT_EQ(Id(file, e.t, e.s), e.id) << e.t << "/" << e.s;
    EXPECT_EQ(Offset(file, e.t, e.s), e.offset) << e.t << "/" << e.s;
  }
  for (int t : {0, 149, 150, 153, 159}) {
    for (int s = (t < 150 ? 8 : 0); s < 26; ++s) {
      EXPECT_EQ(Id(file, t, s), Bytes(8, 0xFF)) << t << "/" << s;
      EXPECT_EQ(Offset(file, t, s), 0xFFFFFFFFu) << t << "/" << s;
    }
  }
  // Every stored sector's data sits at the offset its entry names.
  size_t cursor = 0;
  for (int t = 0; t < 150; ++t) {
    for (int s = 0; s < 8; ++s) {
      if (image->ids[t][s].c == 0xFF) continue;
      const uint32_t offset = Offset(file, t, s);
      if (offset != 0xFFFFFFFFu) {
        ASSERT_EQ(std::memcmp(file.data() + offset, image->data + cursor, 1024), 0)
            << t << "/" << s;
      }
      cursor += 1024;
    }
  }
  // Every row is walked; the total is the tracks written.
  ASSERT_EQ(r.progress.size(), 160u);
  for (int t = 0; t < 160; ++t) {
    EXPECT_EQ(r.progress[t].done, t);
    EXPECT_EQ(r.progress[t].total, 150);
  }
}

TEST_F(FddWriterTest, UniformSectorsLeaveTheBareHeader) {
  auto image = Shape("1.44M");
  for (size_t i = 0; i < 160u * 18 * 512; i += 512) {
    std::memset(image->data + i, static_cast<int>(i / 512), 512);
  }
  const Bytes file = Write(*image);
  EXPECT_EQ(file.size(), 50172u);
  EXPECT_EQ(file[fdd::EntryAt(0, 5) + fdd::kEntryFill], 5);
  EXPECT_EQ(file[fdd::EntryAt(159, 17) + fdd::kEntryFill], uint8_t(160 * 18 - 1));
}

TEST_F(FddWriterTest, CapacityFlagFollowsTheNominalSize) {
  const std::pair<const char*, uint8_t> cases[] = {{"640K", 0},  {"720K", 0},  {"1.21M", 1},
                                                   {"1.25M", 1}, {"1.44M", 1}, {"mixed2HD", 1}};
  for (const auto& [name, flag] : cases) {
    SCOPED_TRACE(name);
    auto image = Shape(name);
    const Bytes file = Write(*image);
    EXPECT_EQ(file[fdd::EntryAt(0, 0) + fdd::kEntryCapacity], flag);
    EXPECT_EQ(file[fdd::EntryAt(100, 7) + fdd::kEntryCapacity], flag);
  }
  // The size is that of the tracks written; a size code without a length
  // counts as 0 bytes: no flag, no failure.
  auto image = Shape("1.25M");
  image->track_count = 120;
  EXPECT_EQ(Write(*image)[fdd::EntryAt(0, 0) + fdd::kEntryCapacity], 0);
  image->track_count = 154;
  image->size_code = 0xFF;
  EXPECT_EQ(Write(*image)[fdd::EntryAt(0, 0) + fdd::kEntryCapacity], 0);
}

TEST_F(FddWriterTest, CutsTheTitleAtACharacterBoundary) {
  std::string kanji70;  // 亜 x 70: each trail byte (0x9F) lies in the lead range
  for (int i = 0; i < 70; ++i) kanji70 += "\x88\x9F";
  const struct {
    std::string title;
    std::string stored;
  } cases[] = {
      {std::string(130, 'T'), std::string(127, 'T')},
      {std::string(126, 'B') + "\x82\xA0", std::string(126, 'B')},  // lead byte at 126 dropped
      {std::string(125, 'A') + "\x88\x9F" + "CC", std::string(125, 'A') + "\x88\x9F"},
      {kanji70, kanji70.substr(0, 126)},
      {"", ""},
      {std::string(kTitleSize, 'X'), std::string(127, 'X')},  // no NUL in the record
  };
  for (const auto& c : cases) {
    auto image = Shape("640K");
    std::memcpy(image->title, c.title.data(), std::min(c.title.size(), sizeof(image->title)));
    const Bytes file = Write(*image);
    const char* field = reinterpret_cast<const char*>(file.data() + 8);
    EXPECT_EQ(std::string(field, strnlen(field, 128)), c.stored);
    EXPECT_EQ(field[127], 0);
  }
}

}  // namespace
}  // namespace dravik
