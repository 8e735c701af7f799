// The D88 writer driven through its built library; its files are checked
// field by field against the layout, and read by MAME's floptool, which
// knows nothing of this program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "d88_layout.h"
#include "disk_builder.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using Bytes = std::vector<uint8_t>;

uint32_t TrackOffset(const Bytes& file, int t) {
  return ReadLe32(file.data() + d88::kTrackTableOffset + 4 * t);
}

class D88WriterTest : public ::testing::Test {
 protected:
  Bytes Write(DiskImage& image, CallResult* result = nullptr) {
    const CallResult r = writer_.WriteDisk(image, dir_ / "OUT.D88");
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.result, kResultOk) << r.message;
    const std::string bytes = test::ReadFile(dir_ / "OUT.D88");
    return Bytes(bytes.begin(), bytes.end());
  }
  std::unique_ptr<DiskImage> Shape(const test::DiskShape& shape, const std::string& title = "") {
    auto image = test::NewDiskImage();
    test::BuildDisk(*image, shape, 7, title);
    return image;
  }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("d88_writer.dvw");
  test::TempDir dir_;
};

TEST_F(D88WriterTest, WritesEverySectorWithItsOwnIdInSlotOrder) {
  auto image = Shape(test::ShapeNamed("mixed2HD"), "GAME");
  test::InterleaveRows(*image);  // R = 1, 14, 2, 15, ... on every track
  image->track_count = 150;
  image->ids[3][4].deleted = 1;
  image->ids[5][2] = SectorId{9, 8, 0xF5, 1, 0, 1};  // an ID unlike its place
  // Row 7: a gap at slot 1; the slots after it still hold sectors.
  image->ids[7][1].c = 0xFF;
  for (int s = 0; s < 26; ++s) image->ids[9][s].c = 0xFF;  // an unformatted track
  image->ids[152][0].n = 9;                                // beyond track_count

  CallResult r;
  const Bytes file = Write(*image, &r);
  ASSERT_GE(file.size(), d88::kHeaderSize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), 5), std::string("GAME\0", 5));
  EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 0x1A), Bytes(0x16, 0));
  EXPECT_EQ(file[d88::kProtectOffset], 0x00);
  EXPECT_EQ(file[d88::kMediaOffset], d88::kMedia2HD);
  EXPECT_EQ(ReadLe32(file.data() + d88::kDiskSizeOffset), file.size());

  // Walk the file as its table describes it, and the record beside it.
  size_t cursor = 0;
  size_t expected_offset = d88::kHeaderSize;
  for (int t = 0; t < d88::kTrackEntries; ++t) {
    SCOPED_TRACE("track " + std::to_string(t));
    std::vector<int> used;
    for (int s = 0; t < 150 && s < 26; ++s) {
      if (image->ids[t][s].c != 0xFF) used.push_back(s);
    }
    if (used.empty()) {
      EXPECT_EQ(TrackOffset(file, t), 0u);
      continue;
    }
    ASSERT_EQ(TrackOffset(file, t), expected_offset);
    size_t at = expected_offset;
    for (int s : used) {
      const SectorId& id = image->ids[t][s];
      const uint8_t* h = file.data() + at;
      const uint32_t length = SectorLength(id.n);
      EXPECT_EQ(Bytes(h, h + 4), Bytes({id.c, id.h, id.r, id.n})) << s;
      EXPECT_EQ(ReadLe16(h + d88::kSectorCount), used.size());
      EXPECT_EQ(h[d88::kSectorDensity], id.mfm ? 0x00 : 0x40) << s;
      EXPECT_EQ(h[d88::kSectorDeleted], id.deleted ? 0x10 : 0x00) << s;
      EXPECT_EQ(h[d88::kSectorStatus], id.deleted ? 0x10 : 0x00) << s;
      EXPECT_EQ(Bytes(h + 9, h + 14), Bytes(5, 0));
      EXPECT_EQ(ReadLe16(h + d88::kSectorDataSize), length);
      ASSERT_EQ(std::memcmp(h + 16, image->data + cursor, length), 0) << s;
      at += 16 + length;
      cursor += length;
    }
    expected_offset = at;
  }
  EXPECT_EQ(expected_offset, file.size());
  // Row 1 holds R = 1, 14, 2, ...: stored as it lies on the disk.
  EXPECT_EQ(file[TrackOffset(file, 1) + 16 + 256 + d88::kSectorR], 14);

  ASSERT_EQ(r.progress.size(), 150u);
  for (int t = 0; t < 150; ++t) {
    EXPECT_EQ(r.progress[t].done, t);
    EXPECT_EQ(r.progress[t].total, 150);
  }
  EXPECT_EQ(writer_.WriteDisk(*image, dir_ / "ABORT.D88", 0, 3).result, kResultAborted);
}

TEST_F(D88WriterTest, NamesTheMediaByTheLongestTrack) {
  const std::pair<test::DiskShape, uint8_t> cases[] = {
      {test::ShapeNamed("640K"), d88::kMedia2DD},      {test::ShapeNamed("720K"), d88::kMedia2DD},
      {test::ShapeNamed("1.21M"), d88::kMedia2HD},     {test::ShapeNamed("1.25M"), d88::kMedia2HD},
      {test::ShapeNamed("1.44M"), d88::kMedia2HD},     {test::ShapeNamed("mixed2HD"), d88::kMedia2HD},
      {{"1M26", 154, 26, 1}, d88::kMedia2HD},          {{"2D 320K", 80, 16, 1}, d88::kMedia2DD},
      {{"2DD 5 x 1024", 160, 5, 3}, d88::kMedia2DD},  {{"empty", 0, 0, 0}, d88::kMedia2DD},
  };
  for (const auto& [shape, media] : cases) {
    SCOPED_TRACE(shape.name);
    auto image = Shape(shape);
    const Bytes file = Write(*image);
    EXPECT_EQ(file[d88::kMediaOffset], media);
    EXPECT_EQ(ReadLe32(file.data() + d88::kDiskSizeOffset), file.size());
  }
}

TEST_F(D88WriterTest, CutsTheNameToSixteenBytesAtACharacterBoundary) {
  std::string kanji9;  // 亜 x 9: each trail byte (0x9F) lies in the lead range too
  for (int i = 0; i < 9; ++i) kanji9 += "\x88\x9F";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {std::string(16, 'A'), std::string(16, 'A')},
      {std::string(40, 'B'), std::string(16, 'B')},
      {std::string(15, 'C') + "\x82\xA0", std::string(15, 'C')},
      {std::string(14, 'D') + "\x82\xA0", std::string(14, 'D') + "\x82\xA0"},
      {kanji9, kanji9.substr(0, 16)},
      {"X" + kanji9, "X" + kanji9.substr(0, 14)},
      {"\xB1\xB2\xB3", "\xB1\xB2\xB3"},  // half-width kana are one byte each
  };
  for (const auto& [title, name] : cases) {
    SCOPED_TRACE(title);
    auto image = Shape(test::ShapeNamed("640K"), title);
    const Bytes file = Write(*image);
    std::string stored(reinterpret_cast<const char*>(file.data()), d88::kNameSize);
    EXPECT_EQ(stored, name + std::string(d88::kNameSize - name.size(), '\0'));
  }
}

TEST_F(D88WriterTest, RefusesRecordsItCannotWalkAndCreatesNothing) {
  for (const test::RecordSpoiler& spoiler : test::RecordSpoilers()) {
    auto image = Shape(test::ShapeNamed("1.25M"));
    spoiler.spoil(*image);
    const CallResult r = writer_.WriteDisk(*image, dir_ / "BAD.D88");
    // A D88 track has no length limit of its own.
    if (spoiler.name == std::string("a row over 9472 bytes")) {
      EXPECT_EQ(r.result, kResultOk) << r.message;
      std::remove((dir_ / "BAD.D88").c_str());
      continue;
    }
    EXPECT_EQ(r.result, kResultFailed) << spoiler.name;
    EXPECT_EQ(r.message, spoiler.message) << spoiler.name;
    EXPECT_FALSE(test::FileExists(dir_ / "BAD.D88")) << spoiler.name;
  }
  auto image = Shape(test::ShapeNamed("640K"));
  CallResult r = writer_.WriteDisk(*image, dir_ / "D.D88", 1);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kMsgUnsupportedConversion);
  r = writer_.WriteDisk(*image, dir_ / "no/such/folder/D.D88");
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, std::string(kMsgTargetOpenError) + "\r\n" + dir_ / "no/such/folder/D.D88" +
                           ": No such file or directory");
  EXPECT_EQ(test::ListFolder(dir_.path()), std::vector<std::string>{});
}

// floptool turns a D88 into a plain sector dump; every shape its dump can
// hold must come out as the record's sectors in R order, whatever order the
// track keeps them in.
TEST_F(D88WriterTest, FloptoolReadsTheSectorsBack) {
  if (!test::HaveTool("floptool")) GTEST_SKIP() << "floptool (mame-tools) not installed";
  struct Case {
    const char* shape;
    bool interleave;
    size_t dump_tracks;  // floptool keeps only the first 80 tracks of a 640K disk
  };
  const Case cases[] = {{"720K", false, 160},  {"1.21M", true, 160}, {"1.25M", false, 154},
                        {"1.25M", true, 154}, {"640K", false, 80}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.shape) + (c.interleave ? " interleaved" : ""));
    const test::DiskShape& shape = test::ShapeNamed(c.shape);
    auto image = Shape(shape, "\x83\x51\x81\x5B\x83\x80");
    if (c.interleave) {
      for (int t = 0; t < shape.tracks; ++t) {
        std::vector<int> order;  // 2:1 on every track
        for (int s = 0; s < shape.sectors; s += 2) order.push_back(s);
        for (int s = 1; s < shape.sectors; s += 2) order.push_back(s);
        test::PermuteTrack(*image, t, order);
      }
    }
    const Bytes raw = test::RawBytes(*image);
    Write(*image);
    const auto run = test::RunCommand("floptool flopconvert d88 pc98 " +
                                      test::ShellQuote(dir_ / "OUT.D88") + " " +
                                      test::ShellQuote(dir_ / "OUT.RAW"));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string dump = test::ReadFile(dir_ / "OUT.RAW");
    const size_t expected = raw.size() / shape.tracks * c.dump_tracks;
    EXPECT_TRUE(Bytes(dump.begin(), dump.end()) == Bytes(raw.begin(), raw.begin() + expected));
    std::remove((dir_ / "OUT.RAW").c_str());
  }
}

}  // namespace
}  // namespace dravik
