// The FDI writer driven through its built library; its files are checked
// byte by byte against both layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "disk_data.h"
#include "fdi_layout.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using test::NewDiskImage;
using Bytes = std::vector<uint8_t>;

struct TrackSpec {
  int count;
  uint8_t n;
  uint8_t mfm = 1;
};

// A record whose track t holds spec(t): IDs C = t / 2, H = t % 2,
// R = slot + 1, data that differs per sector.
std::unique_ptr<DiskImage> Disk(int tracks, int sectors_per_track, int size_code,
                                const std::function<TrackSpec(int)>& spec) {
  auto image = NewDiskImage();
  ClearSectorIds(*image);
  image->track_count = static_cast<uint8_t>(tracks);
  image->head_count = 2;
  image->sectors_per_track = static_cast<uint8_t>(sectors_per_track);
  image->size_code = static_cast<uint8_t>(size_code);
  size_t at = 0;
  for (int t = 0; t < tracks; ++t) {
    const TrackSpec s = spec(t);
    for (int i = 0; i < s.count; ++i) {
      SetSectorId(*image, t, i, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                  static_cast<uint8_t>(i + 1), s.n, 0, s.mfm);
      for (uint32_t b = 0; b < SectorLength(s.n); ++b) {
        image->data[at++] = static_cast<uint8_t>(t * 31 + i * 7 + b);
      }
    }
  }
  return image;
}

std::unique_ptr<DiskImage> Shape(const char* name) {
  auto image = NewDiskImage();
  test::BuildDisk(*image, test::ShapeNamed(name), 11);
  return image;
}

class FdiWriterTest : public ::testing::Test {
 protected:
  Bytes Write(DiskImage& image, CallResult* result = nullptr) {
    const CallResult r = writer_.WriteDisk(image, dir_ / "OUT.FDI");
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.result, kResultOk) << r.message;
    const std::string bytes = test::ReadFile(dir_ / "OUT.FDI");
    return Bytes(bytes.begin(), bytes.end());
  }
  static uint32_t U32(const Bytes& file, size_t offset) { return ReadLe32(file.data() + offset); }
  static Bytes Data(const Bytes& file) {
    return Bytes(file.begin() + fdi::kHeaderSize, file.end());
  }

  // Checks an FDI2 file against the record it was written from.
  static void ExpectFdi2(const Bytes& file, const DiskImage& image, uint32_t media) {
    ASSERT_GE(file.size(), fdi::kHeaderSize);
    EXPECT_EQ(std::memcmp(file.data(), "FDI2", 4), 0);
    EXPECT_EQ(U32(file, 4), media);
    EXPECT_EQ(U32(file, 8), 4096u);
    EXPECT_EQ(U32(file, 12), file.size() - fdi::kHeaderSize);
    EXPECT_EQ(U32(file, 16), 32u);
    EXPECT_EQ(U32(file, 20), image.track_count);
    EXPECT_EQ(U32(file, 24) | U32(file, 28), 0u);
    uint32_t offset = 0;
    for (int t = 0; t < image.track_count; ++t) {
      SCOPED_TRACE(t);
      const uint8_t* rec = file.data() + 32 + 16 * t;
      int count = 0;
      while (count < 26 && !IsEmptySlot(&image.ids[t][count])) ++count;
      const uint8_t flags = image.ids[t][0].mfm != 0 ? (media & 0xF0) : (media | 0x08);
      const uint8_t n = image.ids[t][0].n;
      const auto tt = static_cast<uint8_t>(t);
      const auto c = static_cast<uint8_t>(count);
      const uint8_t expected[12] = {2, flags, tt, c, 0, 0, 0, 0, uint8_t(t / 2), uint8_t(t % 2),
                                    c, n};
      EXPECT_EQ(Bytes(rec, rec + 12), Bytes(expected, expected + 12));
      EXPECT_EQ(ReadLe32(rec + 12), offset);
      offset += count * SectorLength(image.ids[t][0].n);
    }
    const uint8_t* tail = file.data() + 32 + 16 * image.track_count;
    EXPECT_EQ(Bytes(tail, file.data() + fdi::kHeaderSize),
              Bytes(fdi::kHeaderSize - 32 - 16 * image.track_count, 0));
    EXPECT_EQ(Data(file), test::RawBytes(image));
  }

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("fdi_writer.dvw");
  test::TempDir dir_;
};

TEST_F(FdiWriterTest, ReportsItsIdentity) {
  EXPECT_EQ(writer_.kind(), kKindOutput);
  EXPECT_EQ(writer_.interface_version(), 1);
  EXPECT_EQ(writer_.description(), "FDI形式出力Plug-in Ver.1.04");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(writer_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(writer_.extension(), ".FDI");
  EXPECT_EQ(writer_.label(), "FDI形式(Anex86用)");
}

TEST_F(FdiWriterTest, RefusesDirectModeBeforeMakingAFile) {
  auto image = Shape("1.25M");
  const CallResult r = writer_.WriteDisk(*image, dir_ / "D.FDI", 3);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n未対応の変換です。");
  EXPECT_FALSE(test::FileExists(dir_ / "D.FDI"));
}

TEST_F(FdiWriterTest, WritesRegularDisksAsPlainFdi) {
  const struct {
    const char* shape;
    uint32_t media;
  } cases[] = {{"640K", 0x10}, {"720K", 0x10}, {"1.21M", 0x90}, {"1.25M", 0x90}, {"1.44M", 0x30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    const test::DiskShape& shape = test::ShapeNamed(c.shape);
    auto image = Shape(c.shape);
    CallResult r;
    const Bytes file = Write(*image, &r);
    const uint32_t length = 128u << shape.size_code;
    const uint32_t size = shape.tracks * shape.sectors * length;
    ASSERT_EQ(file.size(), 4096u + size);
    const uint32_t header[8] = {0,      c.media,
                                4096,   size,
                                length, static_cast<uint32_t>(shape.sectors),
                                2,      static_cast<uint32_t>(shape.tracks / 2)};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(U32(file, 4 * i), header[i]) << "field " << i;
    EXPECT_EQ(Bytes(file.begin() + 32, file.begin() + 4096), Bytes(4064, 0));
    EXPECT_EQ(Data(file), test::RawBytes(*image));
    ASSERT_EQ(r.progress.size(), static_cast<size_t>(shape.tracks));
    EXPECT_EQ(r.progress.back().done, shape.tracks - 1);
    EXPECT_EQ(r.progress.back().total, shape.tracks);
  }
}

TEST_F(FdiWriterTest, WritesSectorsInROrder) {
  auto image = Shape("1.25M");
  const uint8_t r[8] = {3, 1, 2, 8, 7, 6, 5, 4};
  for (int s = 0; s < 8; ++s) image->ids[3][s].r = r[s];
  const Bytes file = Write(*image);
  EXPECT_EQ(U32(file, 0), 0u);  // still a regular disk
  EXPECT_EQ(Data(file), test::RawBytes(*image));
  // R = 1 lies in slot 1 of track 3.
  EXPECT_EQ(std::memcmp(file.data() + 4096 + 3 * 8192, image->data + 3 * 8192 + 1024, 1024), 0);
}

TEST_F(FdiWriterTest, IrregularDisksGetOneRecordPerTrack) {
  const auto regular = [](int count, uint8_t n) {
    return [=](int) { return TrackSpec{count, n}; };
  };
  const struct {
    const char* name;
    std::unique_ptr<DiskImage> image;
    uint32_t media;
  } cases[] = {
      {"a track one sector short",
       Disk(154, 8, 3,
            [](int t) {
              return TrackSpec{t == 5 ? 7 : 8, 3};
            }),
       0x90},
      {"a track of another size",
       Disk(154, 8, 3,
            [](int t) {
              return t == 10 ? TrackSpec{15, 2} : TrackSpec{8, 3};
            }),
       0x90},
      {"an empty track",
       Disk(154, 8, 3,
            [](int t) {
              return TrackSpec{t == 20 ? 0 : 8, 3};
            }),
       0x90},
      {"80 tracks", Disk(80, 9, 2, regular(9, 2)), 0x90},
      {"1.44M, one short track",
       Disk(160, 18, 2,
            [](int t) {
              return TrackSpec{t == 159 ? 17 : 18, 2};
            }),
       0x30},
      {"1.21M, one short track",
       Disk(160, 15, 2,
            [](int t) {
              return TrackSpec{t == 0 ? 14 : 15, 2};
            }),
       0x90},
      {"720K, one FM track",
       Disk(160, 9, 2,
            [](int t) {
              return TrackSpec{9, 2, static_cast<uint8_t>(t == 3 ? 0 : 1)};
            }),
       0x10},
      {"mixed 2HD", Shape("mixed2HD"), 0x98},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Write(*c.image);
    ExpectFdi2(file, *c.image, c.media);
  }
  const Bytes empty = Write(*cases[2].image);
  EXPECT_EQ(empty[32 + 16 * 20 + 3], 0);
  EXPECT_EQ(U32(empty, 32 + 16 * 20 + 12), U32(empty, 32 + 16 * 21 + 12));
}

TEST_F(FdiWriterTest, RenumberedTracksBecomeFdi2InAFixedOrder) {
  // R = 1, 2, 9, 4, ...: no plain FDI can say so; the bytes go in R order.
  auto gap = Shape("1.25M");
  gap->ids[7][2].r = 9;
  ExpectFdi2(Write(*gap), *gap, 0x90);

  // Two sectors numbered 1 keep their table order.
  auto twice = Shape("1.25M");
  twice->ids[7][1].r = 1;
  const Bytes file = Write(*twice);
  EXPECT_EQ(std::memcmp(file.data(), "FDI2", 4), 0);
  EXPECT_EQ(Data(file), test::RawBytes(*twice));
}

TEST_F(FdiWriterTest, PlainFdiNeedsTheSectorCountTheHeaderGives) {
  // 26 sectors on every track while sectors_per_track says 8: the header
  // would describe a third of the data.
  auto image = Disk(154, 8, 1, [](int) { return TrackSpec{26, 1}; });
  ExpectFdi2(Write(*image), *image, 0x90);

  image->sectors_per_track = 26;
  EXPECT_EQ(U32(Write(*image), 0), 0u);
}

TEST_F(FdiWriterTest, HeadCountMustDivideTheTracks) {
  auto image = Shape("1.25M");
  image->head_count = 1;
  Bytes file = Write(*image);
  EXPECT_EQ(U32(file, 24), 1u);
  EXPECT_EQ(U32(file, 28), 154u);
  EXPECT_EQ(U32(file, 12), file.size() - 4096);

  for (uint8_t heads : {0, 3}) {
    image->head_count = heads;
    file = Write(*image);
    ExpectFdi2(file, *image, 0x90);
  }
}

TEST_F(FdiWriterTest, RefusesTracksItCannotDescribe) {
  // A sector after an empty slot: dropping it would also shift every later
  // track's data.
  auto gap = Shape("1.25M");
  gap->ids[9][6].c = 0xFF;
  CallResult r = writer_.WriteDisk(*gap, dir_ / "GAP.FDI");
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\nトラック9はFDI形式で表せません");
  EXPECT_FALSE(test::FileExists(dir_ / "GAP.FDI"));

  auto mixed = Disk(154, 8, 3, [](int) { return TrackSpec{8, 3}; });
  mixed->ids[40][7].n = 2;
  r = writer_.WriteDisk(*mixed, dir_ / "MIXED.FDI");
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\nトラック40はFDI形式で表せません");

  // The same holes beyond track_count do not matter.
  gap->track_count = 9;
  ExpectFdi2(Write(*gap), *gap, 0x90);
}

TEST_F(FdiWriterTest, RefusesRecordsThatNoFileCouldCarry) {
  for (const test::RecordSpoiler& c : test::RecordSpoilers()) {
    SCOPED_TRACE(c.name);
    auto image = Shape("1.25M");
    c.spoil(*image);
    const CallResult r = writer_.WriteDisk(*image, dir_ / "BAD.FDI");
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_FALSE(test::FileExists(dir_ / "BAD.FDI"));
  }
  // A size code without a length only makes the disk irregular.
  auto image = Shape("1.25M");
  image->size_code = 0xFF;
  ExpectFdi2(Write(*image), *image, 0x90);
}

TEST_F(FdiWriterTest, ReportsOutputFailuresAndAborts) {
  auto image = Shape("1.44M");
  CallResult r = writer_.WriteDisk(*image, dir_ / "no/such/folder/X.FDI");
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n変換先ファイルオープンエラー");

  r = writer_.WriteDisk(*image, "/dev/full");
  EXPECT_EQ(r.result, kResultWriteError);
  EXPECT_EQ(r.message, "");

  r = writer_.WriteDisk(*image, dir_ / "ABORT.FDI", 0, 2);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.progress.size(), 2u);
  EXPECT_TRUE(test::FileExists(dir_ / "ABORT.FDI"));
}

}  // namespace
}  // namespace dravik
