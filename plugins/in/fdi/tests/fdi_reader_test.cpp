// The FDI reader driven through its built library. Files are put together
// field by field here, independently of the writer; the round trips then
// check the two against each other.
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
using test::NewDiskImage;
using Bytes = std::vector<uint8_t>;

// A plain FDI header followed by `data_bytes` bytes counting up.
Bytes Plain(uint32_t media, uint32_t size, uint32_t length, uint32_t sectors, uint32_t heads,
            uint32_t cylinders, size_t data_bytes) {
  Bytes file(fdi::kHeaderSize + data_bytes, 0);
  const uint32_t fields[8] = {0, media, 4096, size, length, sectors, heads, cylinders};
  for (int i = 0; i < 8; ++i) WriteLe32(file.data() + 4 * i, fields[i]);
  for (size_t i = 0; i < data_bytes; ++i) file[fdi::kHeaderSize + i] = static_cast<uint8_t>(i / 3);
  return file;
}

Bytes Regular125M() { return Plain(0x90, 1261568, 1024, 8, 2, 77, 1261568); }

// An FDI2 file: records are added with their data, which counts up per
// sector from the sector's R, so a sector tells where it came from.
class Fdi2File {
 public:
  explicit Fdi2File(uint32_t media, uint32_t list = 32) : bytes_(fdi::kHeaderSize, 0), list_(list) {
    // Records are handed out as pointers and edited after data is appended.
    bytes_.reserve(fdi::kHeaderSize + kDataCapacity);
    std::memcpy(bytes_.data(), "FDI2", 4);
    WriteLe32(bytes_.data() + 4, media);
    WriteLe32(bytes_.data() + 8, 4096);
    WriteLe32(bytes_.data() + 16, list);
  }
  // One track, kind 2, with its sectors' data.
  uint8_t* Track(int t, int sectors, uint8_t n, uint8_t flags = 0x90) {
    uint8_t* r = Record(2, flags, sectors, n);
    r[2] = static_cast<uint8_t>(t);
    r[8] = static_cast<uint8_t>(t / 2);
    r[9] = static_cast<uint8_t>(t % 2);
    AppendSectors(t, sectors, n);
    return r;
  }
  // Every track, kind 1; no data.
  void AllTracks(uint8_t cylinders, uint8_t heads, int sectors, uint8_t n) {
    uint8_t* r = Record(1, 0x90, sectors, n);
    r[8] = cylinders;
    r[9] = heads;
  }
  void Set(size_t offset, uint32_t value) { WriteLe32(bytes_.data() + offset, value); }
  uint8_t* Record(uint8_t kind, uint8_t flags, int sectors, uint8_t n) {
    uint8_t* r = bytes_.data() + list_ + 16 * count_;
    ++count_;
    WriteLe32(bytes_.data() + 20, count_);
    r[0] = kind;
    r[1] = flags;
    r[3] = static_cast<uint8_t>(sectors);
    r[10] = static_cast<uint8_t>(sectors);
    r[11] = n;
    return r;
  }
  void AppendSectors(int t, int sectors, uint8_t n) {
    for (int s = 0; s < sectors; ++s) {
      for (uint32_t i = 0; i < SectorLength(n); ++i) {
        bytes_.push_back(static_cast<uint8_t>(t * 40 + s + 1 + i));
      }
    }
  }
  Bytes& bytes() { return bytes_; }

 private:
  Bytes bytes_;
  uint32_t list_;
  uint32_t count_ = 0;
};

class FdiReaderTest : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes, const std::string& name = "DISK.FDI") {
    test::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  CallResult Read(const Bytes& bytes) { return reader_.ReadDisk(Put(bytes), *image_); }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("fdi_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = NewDiskImage();
};

TEST_F(FdiReaderTest, ReportsItsIdentity) {
  EXPECT_EQ(reader_.kind(), kKindInput);
  EXPECT_EQ(reader_.interface_version(), 1);
  EXPECT_EQ(reader_.description(), "FDI形式入力Plug-in Ver.1.01");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(reader_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(reader_.extension(), "");
  EXPECT_EQ(reader_.label(), "");
}

TEST_F(FdiReaderTest, RecognisesOnlyHeadersThatDescribeAFloppy) {
  const struct {
    const char* name;
    Bytes file;
    int result;
  } cases[] = {
      {"1.25M", Regular125M(), kResultOk},
      {"data length one too many", Plain(0x90, 1261569, 1024, 8, 2, 77, 0), kResultNotMine},
      // A raw disk whose first 32 bytes are zero passes the size test (0 =
      // 0 x 0 x 0 x 0) but is no FDI.
      {"32 zero bytes", Bytes(8192, 0), kResultNotMine},
      {"a hard disk's header", Plain(0, 33 * 4 * 153 * 512, 512, 33, 4, 153, 0), kResultNotMine},
      {"sectors above 4096 bytes", Plain(0x90, 8192 * 2 * 2, 8192, 1, 2, 2, 0), kResultNotMine},
      {"128 cylinders x 2 heads", Plain(0x90, 1024 * 8 * 2 * 128, 1024, 8, 2, 128, 0),
       kResultNotMine},
      {"heads and cylinders past 160 in their high bytes",
       Plain(0x90, 512 * 9 * 2, 512, 9, 0x10001, 0x10002, 0), kResultNotMine},
      {"27 sectors", Plain(0x90, 27 * 512 * 2 * 80, 512, 27, 2, 80, 0), kResultNotMine},
      {"one head, 80 cylinders", Plain(0x10, 512 * 9 * 80, 512, 9, 1, 80, 0), kResultOk},
      {"FDI2", Fdi2File(0x90).bytes(), kResultOk},
      {"another magic",
       [] {
         Bytes b(4096, 0);
         std::memcpy(b.data(), "FDI3", 4);
         return b;
       }(),
       kResultNotMine},
      {"short", Bytes(4095, 0), kResultNotMine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CallResult r = reader_.IsSupport(Put(c.file));
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, "");
  }
  EXPECT_EQ(reader_.IsSupport(dir_ / "MISSING.FDI").result, kResultReadError);
}

TEST_F(FdiReaderTest, DescribesBothVariantsByMedium) {
  const struct {
    Bytes file;
    const char* message;
  } cases[] = {
      {Plain(0x90, 0, 0, 0, 0, 0, 0), "\r\nFDI形式(1.25M/1.21M)"},
      {Plain(0x30, 0, 0, 0, 0, 0, 0), "\r\nFDI形式(1.44M)"},
      {Plain(0x10, 0, 0, 0, 0, 0, 0), "\r\nFDI形式(640K/720K)"},
      {Plain(0x20, 0, 0, 0, 0, 0, 0), "\r\nFDI形式()"},
      {Fdi2File(0x98).bytes(), "\r\nFDI2形式(1.25M/1.21M/1M)"},
      {Fdi2File(0x30).bytes(), "\r\nFDI2形式(1.44M)"},
      {Bytes(4096, 1), ""},
  };
  for (const auto& c : cases) {
    const CallResult r = reader_.GetFileInfo(Put(c.file));
    EXPECT_EQ(r.result, kResultOk);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.title, "");
    EXPECT_EQ(r.multi_disk, 0);
  }
  EXPECT_EQ(reader_.GetFileInfo(Put(Bytes(100, 0))).result, kResultReadError);
  const CallResult missing = reader_.GetFileInfo(dir_ / "MISSING.FDI");
  EXPECT_EQ(missing.result, kResultFailed);
  EXPECT_EQ(missing.message, "\r\n変換元ファイルオープンエラー");
}

TEST_F(FdiReaderTest, ReadsAPlainDiskSequentially) {
  const Bytes file = Regular125M();
  const CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(image_->track_count, 154);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(image_->title[0], 0);
  EXPECT_EQ(r.title, "");
  const SectorId last = image_->ids[153][7];
  EXPECT_EQ(last.c, 76);
  EXPECT_EQ(last.h, 1);
  EXPECT_EQ(last.r, 8);
  EXPECT_EQ(last.n, 3);
  EXPECT_EQ(last.deleted, 0);
  EXPECT_EQ(last.mfm, 1);
  EXPECT_EQ(image_->ids[153][8].c, 0xFF);
  EXPECT_EQ(image_->ids[154][0].c, 0xFF);
  EXPECT_EQ(std::memcmp(image_->data, file.data() + 4096, 1261568), 0);
  ASSERT_EQ(r.progress.size(), 160u);
  EXPECT_EQ(r.progress[159].done, 159);
  EXPECT_EQ(r.progress[159].total, 160);
}

TEST_F(FdiReaderTest, PlainHeaderFieldsAsTheyAre) {
  // One head: the head count comes from the header, IDs stay two-sided.
  ASSERT_EQ(Read(Plain(0x10, 512 * 9 * 80, 512, 9, 1, 80, 512 * 9 * 80)).result, kResultOk);
  EXPECT_EQ(image_->track_count, 80);
  EXPECT_EQ(image_->head_count, 1);
  EXPECT_EQ(image_->ids[79][0].c, 39);
  EXPECT_EQ(image_->ids[79][0].h, 1);
  EXPECT_EQ(image_->ids[80][0].c, 0xFF);

  // A length off the table reads as 4096 bytes a sector.
  const Bytes odd = Plain(0x90, 300 * 2 * 2, 300, 2, 2, 1, 4096 * 4);
  ASSERT_EQ(Read(odd).result, kResultOk);
  EXPECT_EQ(image_->size_code, 5);
  EXPECT_EQ(std::memcmp(image_->data, odd.data() + 4096, 4096 * 4), 0);
  EXPECT_EQ(Read(Bytes(odd.begin(), odd.end() - 1)).result, kResultReadError);

  // The header-length field is not consulted.
  Bytes long_header = Plain(0x90, 1024 * 2, 1024, 1, 2, 1, 2048);
  WriteLe32(long_header.data() + 8, 8192);
  ASSERT_EQ(Read(long_header).result, kResultOk);
  EXPECT_EQ(std::memcmp(image_->data, long_header.data() + 4096, 2048), 0);
}

TEST_F(FdiReaderTest, RefusesPlainGeometryTheRecordCannotHold) {
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      // Low bytes would make 0 x 2: an empty disk reported as converted.
      {"128 cylinders x 2 heads", Plain(0x90, 0, 1024, 8, 2, 128, 0)},
      {"256 cylinders x 1 head", Plain(0x90, 0, 1024, 8, 1, 256, 0)},
      {"27 sectors", Plain(0x90, 0, 128, 27, 2, 77, 0)},
      {"a row over 9472 bytes", Plain(0x90, 0, 1024, 10, 2, 77, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CallResult r = Read(c.file);
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, kMsgBadImageData);
    EXPECT_TRUE(r.progress.empty());
  }
}

TEST_F(FdiReaderTest, ReadsTrackRecordsOfBothKinds) {
  Fdi2File all(0x90);
  all.AllTracks(77, 2, 8, 3);
  all.AppendSectors(0, 8 * 154, 3);
  ASSERT_EQ(Read(all.bytes()).result, kResultOk);
  EXPECT_EQ(image_->track_count, 154);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->ids[153][7].r, 8);
  EXPECT_EQ(image_->ids[153][7].c, 76);
  EXPECT_EQ(image_->ids[154][0].c, 0xFF);

  // Per-track records carry the density and their own C, H and N.
  Fdi2File tracks(0x98);
  tracks.Track(0, 26, 0, 0x98);
  uint8_t* odd = tracks.Track(1, 8, 3);
  odd[8] = 40;
  odd[9] = 0;
  ASSERT_EQ(Read(tracks.bytes()).result, kResultOk);
  EXPECT_EQ(image_->track_count, 2);
  EXPECT_EQ(image_->ids[0][25].mfm, 0);
  EXPECT_EQ(image_->ids[0][25].n, 0);
  EXPECT_EQ(image_->ids[1][0].mfm, 1);
  EXPECT_EQ(image_->ids[1][0].c, 40);
  EXPECT_EQ(image_->ids[1][0].h, 0);
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
}

TEST_F(FdiReaderTest, TrackCountCoversTheLastTrackWithSectors) {
  // Track 10's record is of an unknown kind: its row stays empty, and the
  // tracks after it still count.
  Fdi2File file(0x90);
  for (int t = 0; t < 20; ++t) {
    if (t == 10) {
      file.Record(3, 0x90, 8, 3)[2] = 10;
    } else {
      file.Track(t, 8, 3);
    }
  }
  const CallResult r = Read(file.bytes());
  ASSERT_EQ(r.result, kResultOk);
  EXPECT_EQ(image_->track_count, 20);
  EXPECT_EQ(image_->ids[10][0].c, 0xFF);
  EXPECT_EQ(image_->ids[19][0].c, 9);
  // Track 19's data follows track 18's directly.
  EXPECT_EQ(image_->data[18 * 8192], static_cast<uint8_t>(19 * 40 + 1));
}

TEST_F(FdiReaderTest, DeinterleavesMixed2HD) {
  Fdi2File file(0x98);
  file.Track(0, 26, 0, 0x98);
  for (int t = 1; t < 154; ++t) file.Track(t, 26, 1);
  ASSERT_EQ(file.bytes()[51], 26);
  const CallResult r = Read(file.bytes());
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(image_->track_count, 154);
  const uint8_t order[26] = {1,  14, 2,  15, 3,  16, 4,  17, 5,  18, 6,  19, 7,
                             20, 8,  21, 9,  22, 10, 23, 11, 24, 12, 25, 13, 26};
  size_t at = 0;
  for (int t : {0, 1, 153}) {
    at = t == 0 ? 0 : 3328 + (t - 1) * 6656;
    const size_t length = t == 0 ? 128 : 256;
    for (int s = 0; s < 26; ++s) {
      EXPECT_EQ(image_->ids[t][s].r, order[s]) << t << "/" << s;
      EXPECT_EQ(image_->data[at + s * length], static_cast<uint8_t>(t * 40 + order[s])) << t;
    }
  }
  EXPECT_EQ(image_->ids[0][1].mfm, 0);
  EXPECT_EQ(image_->ids[1][1].mfm, 1);

  // Without the FM mark the tracks stay in R order.
  WriteLe32(file.bytes().data() + 4, 0x90);
  ASSERT_EQ(Read(file.bytes()).result, kResultOk);
  EXPECT_EQ(image_->ids[0][1].r, 2);
}

TEST_F(FdiReaderTest, RefusesRecordsOutsideTheRecord) {
  struct Case {
    const char* name;
    void (*build)(Fdi2File&);
    std::string_view message;
  };
  // Tracks 0 and 1 of a mixed 2HD disk turn the interleave on.
  static constexpr auto kMixed = [](Fdi2File& f) {
    f.Set(4, 0x98);
    f.Track(0, 26, 0, 0x98);
    f.Track(1, 26, 1);
  };
  const Case cases[] = {
      {"a list beyond the header", [](Fdi2File& f) { f.Set(16, 4096 - 8), f.Set(20, 1); },
       kMsgBadImageData},
      {"a count beyond the header", [](Fdi2File& f) { f.Set(20, 0x10000001); }, kMsgBadImageData},
      {"row 160", [](Fdi2File& f) { f.Track(160, 8, 3); }, kMsgBadImageData},
      {"27 sectors", [](Fdi2File& f) { f.Track(0, 27, 0); }, kMsgBadImageData},
      {"cylinder 0xFF, the mark of an empty slot",
       [](Fdi2File& f) { f.Track(0, 8, 3), f.Track(1, 8, 3)[8] = 0xFF, f.Track(2, 8, 3); },
       kMsgBadImageData},
      {"kind 1 of 81 x 2 tracks", [](Fdi2File& f) { f.AllTracks(81, 2, 8, 3); }, kMsgBadImageData},
      {"N above 5", [](Fdi2File& f) { f.Track(0, 1, 6); }, kMsgBadImageData},
      {"a row over 9472 bytes", [](Fdi2File& f) { f.Track(0, 10, 3); }, kMsgBadImageData},
      {"more data than the record holds", [](Fdi2File& f) { f.AllTracks(80, 2, 26, 5); },
       kMsgImageTooLarge},
      {"interleaving a track of 8 sectors", [](Fdi2File& f) { kMixed(f), f.Track(5, 8, 3); },
       kMsgBadImageData},
      {"interleaving a track of 25 sectors", [](Fdi2File& f) { kMixed(f), f.Track(2, 25, 1); },
       kMsgBadImageData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fdi2File file(0x90);
    c.build(file);
    const CallResult r = Read(file.bytes());
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(r.progress.empty());
  }
}

TEST_F(FdiReaderTest, ReportsShortDataAndStopsWhenAsked) {
  Bytes file = Regular125M();
  file.pop_back();
  const CallResult r = Read(file);
  EXPECT_EQ(r.result, kResultReadError);
  EXPECT_EQ(r.progress.size(), 153u);

  const CallResult aborted = reader_.ReadDisk(Put(Regular125M()), *image_, 1, 3);
  EXPECT_EQ(aborted.result, kResultAborted);
  EXPECT_EQ(aborted.progress.size(), 3u);

  const CallResult missing = reader_.ReadDisk(dir_ / "MISSING.FDI", *image_);
  EXPECT_EQ(missing.result, kResultFailed);
  EXPECT_EQ(missing.message, "\r\n変換元ファイルオープンエラー");
}

TEST_F(FdiReaderTest, EveryTruncationGetsAnAnswer) {
  Fdi2File fdi2(0x98);
  fdi2.Track(0, 26, 0, 0x98);
  fdi2.Track(1, 26, 1);
  fdi2.Track(2, 26, 1);
  const Bytes plain = Plain(0x90, 128 * 2 * 2 * 3, 128, 2, 2, 3, 128 * 2 * 2 * 3);
  for (const Bytes& file : {plain, fdi2.bytes()}) {
    const size_t full = file.size();
    test::ForEveryTruncation(
        "fdi_reader.dvr", file, [&](size_t length, const test::TruncationAnswers& a) {
          const bool header = length >= fdi::kHeaderSize;
          ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
          ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
          ASSERT_EQ(a.read_disk, length == full ? kResultOk : kResultReadError) << length;
        });
  }
}

// Writer and reader agree on every standard shape; mixed 2HD disks come
// back 2:1 interleaved, as every reader delivers them.
TEST(FdiRoundTrip, EveryStandardShapeComesBack) {
  const test::LoadedPlugin writer = test::LoadBuiltPlugin("fdi_writer.dvw");
  const test::LoadedPlugin reader = test::LoadBuiltPlugin("fdi_reader.dvr");
  test::TempDir dir;
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    auto original = NewDiskImage();
    test::BuildDisk(*original, shape, 9);
    ASSERT_EQ(writer.WriteDisk(*original, dir / "R.FDI").result, kResultOk);
    auto back = NewDiskImage();
    const CallResult r = reader.ReadDisk(dir / "R.FDI", *back);
    ASSERT_EQ(r.result, kResultOk) << r.message;
    if (shape.fm_track0) test::InterleaveRows(*original);
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    EXPECT_EQ(back->sectors_per_track, shape.sectors);
    EXPECT_EQ(back->size_code, shape.size_code);
    EXPECT_EQ(back->head_count, 2);

    // Reading sorts nothing that writing would sort back: the same file.
    const std::string first = test::ReadFile(dir / "R.FDI");
    ASSERT_EQ(writer.WriteDisk(*back, dir / "R2.FDI").result, kResultOk);
    EXPECT_TRUE(test::ReadFile(dir / "R2.FDI") == first);
  }
}

}  // namespace
}  // namespace dravik
