// The FDI writer driven through its built library; its files are checked
// byte by byte against both layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "disk_data.h"
#include "fdi_layout.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using Bytes = std::vector<uint8_t>;
using Modify = void (*)(DiskImage&);

std::unique_ptr<DiskImage> Shape(const char* name, Modify modify = nullptr) {
  auto image = test::NewDiskImage();
  test::BuildDisk(*image, test::ShapeNamed(name), 11);
  if (modify != nullptr) modify(*image);
  return image;
}

// Gives row t `count` MFM sectors of size code n, numbered from 1.
void Row(DiskImage& image, int t, int count, uint8_t n) {
  for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
    SetSectorId(image, t, s, uint8_t(t / 2), uint8_t(t % 2), uint8_t(s + 1), n, 0, 1);
    if (s >= count) image.ids[t][s].c = 0xFF;
  }
}

uint32_t U32(const Bytes& file, size_t offset) { return ReadLe32(file.data() + offset); }

Bytes Data(const Bytes& file) { return Bytes(file.begin() + fdi::kHeaderSize, file.end()); }

// Checks an FDI2 file against the record it was written from.
void ExpectFdi2(const Bytes& file, const DiskImage& image, uint32_t media) {
  ASSERT_GE(file.size(), fdi::kHeaderSize);
  EXPECT_EQ(std::memcmp(file.data(), "FDI2", 4), 0);
  const uint32_t fields[7] = {media, 4096, uint32_t(file.size() - 4096), 32, image.track_count,
                              0,     0};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(U32(file, 4 + 4 * i), fields[i]) << "field " << i + 1;
  uint32_t offset = 0;
  for (int t = 0; t < image.track_count; ++t) {
    SCOPED_TRACE(t);
    const uint8_t* rec = file.data() + 32 + 16 * t;
    uint8_t count = 0;
    while (count < 26 && !IsEmptySlot(&image.ids[t][count])) ++count;
    const uint8_t flags = image.ids[t][0].mfm != 0 ? (media & 0xF0) : (media | 0x08);
    const uint8_t n = image.ids[t][0].n;
    const Bytes expected = {2, flags, uint8_t(t),     count,          0,     0,
                            0, 0,     uint8_t(t / 2), uint8_t(t % 2), count, n};
    EXPECT_EQ(Bytes(rec, rec + 12), expected);
    EXPECT_EQ(ReadLe32(rec + 12), offset);
    offset += count * SectorLength(n);
  }
  const uint8_t* tail = file.data() + 32 + 16 * image.track_count;
  EXPECT_EQ(Bytes(tail, file.data() + 4096), Bytes(4096 - 32 - 16 * image.track_count, 0));
  EXPECT_EQ(Data(file), test::RawBytes(image));
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

  test::LoadedPlugin writer_ = test::LoadBuiltPlugin("fdi_writer.dvw");
  test::TempDir dir_;
};

// Plain FDI for 154 or 160 regular MFM tracks numbered 1 to n, FDI2 with
// one record per track for everything else; both in R order.
TEST_F(FdiWriterTest, ChoosesTheVariantAndLaysOutEachFile) {
  const struct {
    const char* name;
    const char* shape;
    Modify modify;
    uint32_t media;
    bool plain = false;
  } cases[] = {
      {"640K", "640K", nullptr, 0x10, true},
      {"720K", "720K", nullptr, 0x10, true},
      {"1.21M", "1.21M", nullptr, 0x90, true},
      {"1.25M", "1.25M", nullptr, 0x90, true},
      {"1.44M", "1.44M", nullptr, 0x30, true},
      {"one head", "1.25M", [](DiskImage& d) { d.head_count = 1; }, 0x90, true},
      {"track 3 kept in another order", "1.25M",
       [](DiskImage& d) {
         const uint8_t r[8] = {3, 1, 2, 8, 7, 6, 5, 4};
         for (int s = 0; s < 8; ++s) d.ids[3][s].r = r[s];
       },
       0x90, true},
      {"26 MFM sectors on every track", "mixed2HD", [](DiskImage& d) { Row(d, 0, 26, 1); }, 0x90,
       true},
      // 26 sectors a track pass the plain test only when the header says 26.
      {"26 sectors while sectors_per_track says 8", "mixed2HD",
       [](DiskImage& d) { Row(d, 0, 26, 1), d.sectors_per_track = 8; }, 0x90},
      {"a track one sector short", "1.25M", [](DiskImage& d) { d.ids[5][7].c = 0xFF; }, 0x90},
      {"a track of another size", "1.25M", [](DiskImage& d) { Row(d, 10, 15, 2); }, 0x90},
      {"an empty track", "1.25M", [](DiskImage& d) { Row(d, 20, 0, 3); }, 0x90},
      {"80 tracks", "720K", [](DiskImage& d) { d.track_count = 80; }, 0x90},
      {"1.44M, one short track", "1.44M", [](DiskImage& d) { d.ids[159][17].c = 0xFF; }, 0x30},
      {"1.21M, one short track", "1.21M", [](DiskImage& d) { d.ids[0][14].c = 0xFF; }, 0x90},
      {"720K, one FM track", "720K",
       [](DiskImage& d) {
         for (SectorId& id : d.ids[3]) id.mfm = 0;
       },
       0x10},
      {"mixed 2HD", "mixed2HD", nullptr, 0x98},
      // A track renumbered so that no plain header describes it goes in R
      // order; two sectors numbered alike keep their table order.
      {"R = 9 in place of 3", "1.25M", [](DiskImage& d) { d.ids[7][2].r = 9; }, 0x90},
      {"two sectors numbered 1", "1.25M", [](DiskImage& d) { d.ids[7][1].r = 1; }, 0x90},
      {"no head", "1.25M", [](DiskImage& d) { d.head_count = 0; }, 0x90},
      {"three heads", "1.25M", [](DiskImage& d) { d.head_count = 3; }, 0x90},
      {"a size code without a length", "1.25M", [](DiskImage& d) { d.size_code = 0xFF; }, 0x90},
      {"a gap beyond track_count", "1.25M",
       [](DiskImage& d) { d.ids[9][6].c = 0xFF, d.track_count = 9; }, 0x90},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = Shape(c.shape, c.modify);
    CallResult r;
    const Bytes file = Write(*image, &r);
    if (!c.plain) {
      ExpectFdi2(file, *image, c.media);
      continue;
    }
    const uint32_t tracks = image->track_count, spt = image->sectors_per_track,
                   heads = image->head_count, length = SectorLength(image->size_code);
    const uint32_t header[8] = {0,      c.media, 4096,  tracks * spt * length,
                                length, spt,     heads, tracks / heads};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(U32(file, 4 * i), header[i]) << "field " << i;
    EXPECT_EQ(file.size(), 4096 + header[3]);
    EXPECT_EQ(Bytes(file.begin() + 32, file.begin() + 4096), Bytes(4064, 0));
    EXPECT_EQ(Data(file), test::RawBytes(*image));
    ASSERT_EQ(r.progress.size(), tracks);
    EXPECT_EQ(r.progress.back().done, int(tracks) - 1);
    EXPECT_EQ(r.progress.back().total, int(tracks));
  }
}

}  // namespace
}  // namespace dravik
