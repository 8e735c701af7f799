// The FDI reader driven through its built library, on files put together
// field by field here, independently of the writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "fdi_layout.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using test::IdText;
using Bytes = std::vector<uint8_t>;

// A plain FDI header followed by `data_bytes` bytes counting up. The data
// length field is the geometry's product (in 32 bits) unless given.
Bytes Plain(uint32_t media, uint32_t length, uint32_t sectors, uint32_t heads, uint32_t cylinders,
            int64_t size = -1, size_t data_bytes = 0) {
  Bytes file(fdi::kHeaderSize + data_bytes, 0);
  const uint32_t product = length * sectors * heads * cylinders;
  const uint32_t fields[8] = {0,      media,   4096,  size < 0 ? product : uint32_t(size),
                              length, sectors, heads, cylinders};
  for (int i = 0; i < 8; ++i) WriteLe32(file.data() + 4 * i, fields[i]);
  for (size_t i = 0; i < data_bytes; ++i) file[fdi::kHeaderSize + i] = static_cast<uint8_t>(i / 3);
  return file;
}

// An FDI2 file with its record list at 32. Each sector's bytes count up
// from t * 40 + its R, so a sector tells where it came from.
class Fdi2File {
 public:
  explicit Fdi2File(uint32_t media) : bytes_(fdi::kHeaderSize, 0) {
    bytes_.reserve(fdi::kHeaderSize + kDataCapacity);  // records stay where they are handed out
    std::memcpy(bytes_.data(), "FDI2", 4);
    Set(4, media);
    Set(8, 4096);
    Set(16, 32);
  }
  void Set(size_t offset, uint32_t value) { WriteLe32(bytes_.data() + offset, value); }
  // Fields 8 and 9 are C and H for kind 2, cylinders and heads for kind 1.
  uint8_t* Record(uint8_t kind, int t, uint8_t c, uint8_t h, int sectors, uint8_t n,
                  uint8_t flags = 0x90) {
    uint8_t* r = bytes_.data() + 32 + 16 * count_;
    Set(20, ++count_);
    const uint8_t fields[12] = {kind, flags, uint8_t(t), uint8_t(sectors), 0, 0, 0,
                                0,    c,     h,          uint8_t(sectors), n};
    std::memcpy(r, fields, sizeof(fields));
    return r;
  }
  // One track of kind 2 with its data.
  uint8_t* Track(int t, int sectors, uint8_t n, uint8_t flags = 0x90) {
    uint8_t* r = Record(2, t, uint8_t(t / 2), uint8_t(t % 2), sectors, n, flags);
    AppendSectors(t, sectors, n);
    return r;
  }
  void AppendSectors(int t, int sectors, uint8_t n) {
    for (int s = 0; s < sectors; ++s) {
      for (uint32_t i = 0; i < SectorLength(n); ++i) bytes_.push_back(uint8_t(t * 40 + s + 1 + i));
    }
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  uint32_t count_ = 0;
};

Bytes Fdi2(void (*build)(Fdi2File&), uint32_t media = 0x90) {
  Fdi2File file(media);
  build(file);
  return file.bytes();
}

class FdiReaderTest : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes) {
    test::WriteFile(dir_ / "DISK.FDI", bytes);
    return dir_ / "DISK.FDI";
  }
  CallResult Read(const Bytes& bytes) { return reader_.ReadDisk(Put(bytes), *image_); }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("fdi_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(FdiReaderTest, TakesOnlyHeadersThatDescribeAFloppy) {
  Bytes fdi3 = Fdi2([](Fdi2File&) {});
  fdi3[3] = '3';
  const struct {
    const char* name;
    Bytes file;
    int result;
  } cases[] = {
      {"1.25M", Plain(0x90, 1024, 8, 2, 77), kResultOk},
      {"one head, 80 cylinders", Plain(0x10, 512, 9, 1, 80), kResultOk},
      {"FDI2", Fdi2([](Fdi2File&) {}), kResultOk},
      {"data length one too many", Plain(0x90, 1024, 8, 2, 77, 1261569), kResultNotMine},
      // A raw disk whose first 32 bytes are zero passes the size test (0 =
      // 0 x 0 x 0 x 0) but is no FDI.
      {"32 zero bytes", Bytes(8192, 0), kResultNotMine},
      {"a hard disk's header", Plain(0, 512, 33, 4, 153), kResultNotMine},
      {"sectors above 4096 bytes", Plain(0x90, 8192, 1, 2, 2), kResultNotMine},
      {"128 cylinders x 2 heads", Plain(0x90, 1024, 8, 2, 128), kResultNotMine},
      {"past 160 in the high bytes", Plain(0x90, 512, 9, 0x10001, 0x10002, 512 * 9 * 2),
       kResultNotMine},
      {"27 sectors", Plain(0x90, 512, 27, 2, 80), kResultNotMine},
      {"another magic", fdi3, kResultNotMine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reader_.IsSupport(Put(c.file)).result, c.result);
  }
}

TEST_F(FdiReaderTest, NamesBothVariantsByMedium) {
  const std::pair<Bytes, const char*> cases[] = {
      {Plain(0x90, 0, 0, 0, 0), "\r\nFDI形式(1.25M/1.21M)"},
      {Plain(0x30, 0, 0, 0, 0), "\r\nFDI形式(1.44M)"},
      {Plain(0x10, 0, 0, 0, 0), "\r\nFDI形式(640K/720K)"},
      {Plain(0x20, 0, 0, 0, 0), "\r\nFDI形式()"},
      {Fdi2([](Fdi2File&) {}, 0x98), "\r\nFDI2形式(1.25M/1.21M/1M)"},
      {Fdi2([](Fdi2File&) {}, 0x30), "\r\nFDI2形式(1.44M)"},
      {Bytes(4096, 1), ""},
  };
  for (const auto& [file, message] : cases) {
    const CallResult r = reader_.GetFileInfo(Put(file));
    EXPECT_EQ(r.result, kResultOk);
    EXPECT_EQ(r.message, message);
    EXPECT_EQ(r.title, "");
  }
}

TEST_F(FdiReaderTest, ReadsAPlainDiskAsItsHeaderDescribesIt) {
  const Bytes file = Plain(0x90, 1024, 8, 2, 77, -1, 1261568);
  CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(image_->track_count, 154);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(IdText(image_->ids[153][7]), "76 1 8 3 0 1");
  EXPECT_EQ(image_->ids[153][8].c, 0xFF);
  EXPECT_EQ(image_->ids[154][0].c, 0xFF);
  EXPECT_TRUE(Bytes(image_->data, image_->data + 1261568) ==
              Bytes(file.begin() + 4096, file.end()));
  ASSERT_EQ(r.progress.size(), 160u);
  EXPECT_EQ(r.progress[159].done, 159);
  EXPECT_EQ(r.progress[159].total, 160);

  r = reader_.ReadDisk(Put(file), *image_, 1, 3);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.progress.size(), 3u);

  // One head: the head count comes from the header, IDs stay two-sided.
  ASSERT_EQ(Read(Plain(0x10, 512, 9, 1, 80, -1, 512 * 9 * 80)).result, kResultOk);
  EXPECT_EQ(image_->track_count, 80);
  EXPECT_EQ(image_->head_count, 1);
  EXPECT_EQ(IdText(image_->ids[79][0]), "39 1 1 2 0 1");
  EXPECT_EQ(image_->ids[80][0].c, 0xFF);

  // A length off the table reads as 4096 bytes a sector, and the
  // header-length field is not consulted.
  Bytes odd = Plain(0x90, 300, 2, 2, 1, -1, 4096 * 4);
  WriteLe32(odd.data() + 8, 8192);
  ASSERT_EQ(Read(odd).result, kResultOk);
  EXPECT_EQ(image_->size_code, 5);
  EXPECT_EQ(std::memcmp(image_->data, odd.data() + 4096, 4096 * 4), 0);
}

TEST_F(FdiReaderTest, ReadsTrackRecordsOfBothKinds) {
  Fdi2File all(0x90);
  all.Record(1, 0, 77, 2, 8, 3);
  all.AppendSectors(0, 8 * 154, 3);
  ASSERT_EQ(Read(all.bytes()).result, kResultOk);
  EXPECT_EQ(image_->track_count, 154);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(IdText(image_->ids[153][7]), "76 1 8 3 0 1");
  EXPECT_EQ(image_->ids[154][0].c, 0xFF);

  // Per-track records carry the density and their own C, H and N. Track
  // 10's record is of an unknown kind: its row stays empty, and the tracks
  // after it still count.
  Fdi2File tracks(0x98);
  tracks.Track(0, 26, 0, 0x98);
  tracks.Track(1, 8, 3)[8] = 40;
  for (int t = 2; t < 20; ++t) t == 10 ? tracks.Record(3, t, 5, 0, 8, 3) : tracks.Track(t, 8, 3);
  ASSERT_EQ(Read(tracks.bytes()).result, kResultOk);
  EXPECT_EQ(image_->track_count, 20);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(IdText(image_->ids[0][25]), "0 0 26 0 0 0");
  EXPECT_EQ(IdText(image_->ids[1][0]), "40 1 1 3 0 1");
  EXPECT_EQ(image_->ids[10][0].c, 0xFF);
  EXPECT_EQ(IdText(image_->ids[19][7]), "9 1 8 3 0 1");
  // Track 11's data follows track 9's directly.
  EXPECT_EQ(image_->data[26 * 128 + 9 * 8192], static_cast<uint8_t>(11 * 40 + 1));
}

TEST_F(FdiReaderTest, DeinterleavesMixed2HD) {
  Fdi2File file(0x98);
  file.Track(0, 26, 0, 0x98);
  for (int t = 1; t < 154; ++t) file.Track(t, 26, 1);
  ASSERT_EQ(Read(file.bytes()).result, kResultOk);
  EXPECT_EQ(image_->track_count, 154);
  const uint8_t order[26] = {1,  14, 2,  15, 3,  16, 4,  17, 5,  18, 6,  19, 7,
                             20, 8,  21, 9,  22, 10, 23, 11, 24, 12, 25, 13, 26};
  for (int t : {0, 1, 153}) {
    const size_t at = t == 0 ? 0 : 3328 + (t - 1) * 6656;
    const size_t length = t == 0 ? 128 : 256;
    for (int s = 0; s < 26; ++s) {
      EXPECT_EQ(image_->ids[t][s].r, order[s]) << t << "/" << s;
      EXPECT_EQ(image_->ids[t][s].mfm, t == 0 ? 0 : 1) << t << "/" << s;
      EXPECT_EQ(image_->data[at + s * length], uint8_t(t * 40 + order[s])) << t << "/" << s;
    }
  }

  // Without the FM mark the tracks stay in R order.
  Bytes mfm = file.bytes();
  WriteLe32(mfm.data() + 4, 0x90);
  ASSERT_EQ(Read(mfm).result, kResultOk);
  EXPECT_EQ(image_->ids[0][1].r, 2);
}

TEST_F(FdiReaderTest, RefusesWhatTheRecordCannotHold) {
  // Tracks 0 and 1 of a mixed 2HD disk turn the interleave on.
  static constexpr auto kMixed = [](Fdi2File& f) {
    f.Set(4, 0x98);
    f.Track(0, 26, 0, 0x98);
    f.Track(1, 26, 1);
  };
  const struct {
    const char* name;
    Bytes file;
    std::string_view message = kMsgBadImageData;
  } cases[] = {
      // Low bytes would make 0 x 2: an empty disk reported as converted.
      {"128 cylinders x 2 heads", Plain(0x90, 1024, 8, 2, 128)},
      {"256 cylinders x 1 head", Plain(0x90, 1024, 8, 1, 256)},
      {"27 sectors", Plain(0x90, 128, 27, 2, 77)},
      {"a plain row over 9472 bytes", Plain(0x90, 1024, 10, 2, 77)},
      {"a list beyond the header", Fdi2([](Fdi2File& f) { f.Set(16, 4096 - 8), f.Set(20, 1); })},
      {"a count beyond the header", Fdi2([](Fdi2File& f) { f.Set(20, 0x10000001); })},
      {"row 160", Fdi2([](Fdi2File& f) { f.Track(160, 8, 3); })},
      {"27 sectors in a record", Fdi2([](Fdi2File& f) { f.Track(0, 27, 0); })},
      {"cylinder 0xFF, the mark of an empty slot",
       Fdi2([](Fdi2File& f) { f.Track(0, 8, 3), f.Track(1, 8, 3)[8] = 0xFF, f.Track(2, 8, 3); })},
      {"kind 1 of 81 x 2 tracks", Fdi2([](Fdi2File& f) { f.Record(1, 0, 81, 2, 8, 3); })},
      {"N above 5", Fdi2([](Fdi2File& f) { f.Track(0, 1, 6); })},
      {"a row over 9472 bytes", Fdi2([](Fdi2File& f) { f.Track(0, 10, 3); })},
      {"more data than the record holds", Fdi2([](Fdi2File& f) { f.Record(1, 0, 80, 2, 26, 5); }),
       kMsgImageTooLarge},
      {"interleaving a track of 8 sectors", Fdi2([](Fdi2File& f) { kMixed(f), f.Track(5, 8, 3); })},
      {"interleaving a track of 25 sectors",
       Fdi2([](Fdi2File& f) { kMixed(f), f.Track(2, 25, 1); })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CallResult r = Read(c.file);
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(r.progress.empty());
  }
}

}  // namespace
}  // namespace dravik
