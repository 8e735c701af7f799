// The FDD reader driven through its built library. Files are put together
// field by field here, independently of the writer; the round trips then
// check the two against each other.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_order.h"
#include "disk_builder.h"
#include "fdd_layout.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using test::LoadBuiltPlugin;
using test::NewDiskImage;

// An FDD file: the header block with every entry empty, then sector data
// appended as sectors are added.
class FddFile {
 public:
  FddFile() : bytes_(fdd::kHeaderSize, 0) {
    std::memcpy(bytes_.data(), fdd::kMagic, sizeof(fdd::kMagic));
    for (int t = 0; t < kMaxTracks; ++t) {
      for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
        uint8_t* e = Entry(t, s);
        std::memset(e, 0xFF, fdd::kEntryOffset);
        WriteLe32(e + fdd::kEntryOffset, fdd::kNotStored);
      }
    }
  }
  void Comment(const std::string& text) {
    std::memset(bytes_.data() + fdd::kCommentOffset, 0, fdd::kCommentSize);
    std::memcpy(bytes_.data() + fdd::kCommentOffset, text.data(), text.size());
  }
  void Magic(const char* text) { std::memcpy(bytes_.data(), text, std::strlen(text)); }
  void Id(int t, int s, SectorId id) {
    uint8_t* e = Entry(t, s);
    e[fdd::kEntryC] = id.c;
    e[fdd::kEntryH] = id.h;
    e[fdd::kEntryR] = id.r;
    e[fdd::kEntryN] = id.n;
    e[fdd::kEntryDeleted] = id.deleted;
    e[fdd::kEntryDensity] = id.mfm;
  }
  // A sector whose data follows in the file; returns the data.
  std::vector<uint8_t> Stored(int t, int s, SectorId id, uint8_t seed) {
    Id(t, s, id);
    std::vector<uint8_t> data(SectorLength(id.n));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
    WriteLe32(Entry(t, s) + fdd::kEntryOffset, static_cast<uint32_t>(bytes_.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return data;
  }
  void Filled(int t, int s, SectorId id, uint8_t fill) {
    Id(t, s, id);
    Entry(t, s)[fdd::kEntryFill] = fill;
  }
  // A regular disk of tracks x sectors of size code n, all filled with 0xE5.
  void Regular(int tracks, int sectors, uint8_t n) {
    for (int t = 0; t < tracks; ++t) {
      for (int s = 0; s < sectors; ++s) Filled(t, s, Sid(t, s, n), 0xE5);
    }
  }
  static SectorId Sid(int t, int s, uint8_t n, uint8_t mfm = 1) {
    return {static_cast<uint8_t>(t / 2),
            static_cast<uint8_t>(t % 2),
            static_cast<uint8_t>(s + 1),
            n,
            0,
            mfm};
  }
  uint8_t* Entry(int t, int s) { return bytes_.data() + fdd::EntryAt(t, s); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

class FddReaderTest : public ::testing::Test {
 protected:
  std::string Put(const std::vector<uint8_t>& bytes, const std::string& name = "DISK.FDD") {
    test::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  CallResult Read(FddFile& file) { return reader_.ReadDisk(Put(file.bytes()), *image_); }

  test::LoadedPlugin reader_ = LoadBuiltPlugin("fdd_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = NewDiskImage();
};

TEST_F(FddReaderTest, ReportsItsIdentity) {
  EXPECT_EQ(reader_.kind(), kKindInput);
  EXPECT_EQ(reader_.interface_version(), 1);
  EXPECT_EQ(reader_.description(), "FDD形式入力Plug-in Ver.1.00");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(reader_.caps(), caps, kCapsSize), 0);
  EXPECT_EQ(reader_.extension(), "");
  EXPECT_EQ(reader_.label(), "");
}

TEST_F(FddReaderTest, RecognisesTheFamilyAndRefusesOtherVersionsByName) {
  FddFile file;
  file.Comment("\x83\x51\x81\x5B\x83\x80 DISK");  // "ゲーム DISK" in Shift-JIS
  const std::string good = Put(file.bytes(), "GOOD.FDD");
  EXPECT_EQ(reader_.IsSupport(good).result, kResultOk);
  CallResult info = reader_.GetFileInfo(good);
  EXPECT_EQ(info.result, kResultOk);
  EXPECT_EQ(info.message, "\r\nVirtual(QSP)形式ゲーム DISK");
  EXPECT_EQ(info.title, "");
  EXPECT_EQ(info.multi_disk, 0);

  file.Comment("");
  EXPECT_EQ(reader_.GetFileInfo(Put(file.bytes(), "EMPTY.FDD")).message, "\r\nVirtual(QSP)形式");

  file.Magic("VFD1.01");
  const std::string other = Put(file.bytes(), "OTHER.FDD");
  EXPECT_EQ(reader_.IsSupport(other).result, kResultOk);
  info = reader_.GetFileInfo(other);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\n未対応のFDD形式です");

  file.Magic("VFE");
  EXPECT_EQ(reader_.IsSupport(Put(file.bytes(), "VFE.FDD")).result, kResultNotMine);

  std::vector<uint8_t> short_file(fdd::kHeaderSize - 1, 0);
  std::memcpy(short_file.data(), fdd::kMagic, 7);
  const std::string cut = Put(short_file, "SHORT.FDD");
  EXPECT_EQ(reader_.IsSupport(cut).result, kResultNotMine);
  EXPECT_EQ(reader_.GetFileInfo(cut).result, kResultReadError);
  EXPECT_EQ(reader_.ReadDisk(cut, *image_).result, kResultReadError);

  const std::string missing = dir_ / "MISSING.FDD";
  EXPECT_EQ(reader_.IsSupport(missing).result, kResultReadError);
  info = reader_.GetFileInfo(missing);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\n変換元ファイルオープンエラー");
  info = reader_.ReadDisk(missing, *image_);
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, "\r\n変換元ファイルオープンエラー");
}

TEST_F(FddReaderTest, CopiesIdsAsStoredAndExpandsFillSectors) {
  // Track 0: 26 FM sectors of 128 bytes; tracks 1 to 3: 8 x 1024.
  FddFile file;
  std::vector<uint8_t> expected;
  for (int s = 0; s < 26; ++s) {
    const auto d = file.Stored(0, s, FddFile::Sid(0, s, 0, 0), static_cast<uint8_t>(s));
    expected.insert(expected.end(), d.begin(), d.end());
  }
  for (int t = 1; t < 4; ++t) {
    for (int s = 0; s < 8; ++s) {
      if (t == 2 && s == 3) {
        file.Filled(t, s, FddFile::Sid(t, s, 3), 0xE5);
        expected.insert(expected.end(), 1024, 0xE5);
      } else {
        const auto d = file.Stored(t, s, FddFile::Sid(t, s, 3), static_cast<uint8_t>(t * 8 + s));
        expected.insert(expected.end(), d.begin(), d.end());
      }
    }
  }
  // IDs need not match their place; flags are copied as they are.
  file.Id(3, 7, SectorId{9, 1, 0xF7, 3, 1, 0});
  // An empty entry's other bytes survive the copy.
  file.Entry(3, 8)[fdd::kEntryN] = 2;

  const CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(image_->track_count, 4);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->ids[0][25].n, 0);
  EXPECT_EQ(image_->ids[0][25].mfm, 0);
  EXPECT_EQ(image_->ids[0][25].r, 26);
  const SectorId odd = image_->ids[3][7];
  EXPECT_EQ(odd.c, 9);
  EXPECT_EQ(odd.r, 0xF7);
  EXPECT_EQ(odd.deleted, 1);
  EXPECT_EQ(odd.mfm, 0);
  EXPECT_EQ(image_->ids[3][8].c, 0xFF);
  EXPECT_EQ(image_->ids[3][8].n, 2);
  EXPECT_EQ(image_->ids[4][0].c, 0xFF);
  ASSERT_EQ(expected.size(), 26u * 128 + 24u * 1024);
  EXPECT_EQ(std::memcmp(image_->data, expected.data(), expected.size()), 0);
}

TEST_F(FddReaderTest, SectorsMayBeStoredInAnyOrderAndFillBytesMayBe0xFF) {
  FddFile file;
  const auto later = file.Stored(0, 1, FddFile::Sid(0, 1, 1), 40);
  const auto earlier = file.Stored(0, 0, FddFile::Sid(0, 0, 1), 80);
  file.Filled(1, 0, FddFile::Sid(1, 0, 1), 0xFF);
  ASSERT_EQ(Read(file).result, kResultOk);
  EXPECT_EQ(std::memcmp(image_->data, earlier.data(), 256), 0);
  EXPECT_EQ(std::memcmp(image_->data + 256, later.data(), 256), 0);
  EXPECT_EQ(std::vector<uint8_t>(image_->data + 512, image_->data + 768),
            std::vector<uint8_t>(256, 0xFF));
}

TEST_F(FddReaderTest, TrackCountNeverDropsASector) {
  struct Case {
    const char* name;
    void (*build)(FddFile&);
    int track_count;
    int sectors_per_track;
  };
  const Case cases[] = {
      {"row 1 empty, nothing after it", [](FddFile& f) { f.Regular(1, 8, 3); }, 1, 0},
      {"row 1 empty, a sector on row 5",
       [](FddFile& f) {
         f.Regular(1, 8, 3);
         f.Filled(5, 0, FddFile::Sid(5, 0, 3), 0);
       },
       6, 0},
      // The empty entries' N (0xFF) is no sector size: five sectors a track
      // still make a 160-track disk.
      {"5 sectors a track", [](FddFile& f) { f.Regular(160, 5, 3); }, 160, 5},
      {"size changes on track 40",
       [](FddFile& f) {
         f.Regular(40, 9, 2);
         for (int t = 40; t < 80; ++t) {
           for (int s = 0; s < 8; ++s) f.Filled(t, s, FddFile::Sid(t, s, 3), 0);
         }
       },
       80, 9},
      {"regular 1.25M", [](FddFile& f) { f.Regular(154, 8, 3); }, 154, 8},
      {"an irregular sector after the eighth entry counts not",
       [](FddFile& f) {
         f.Regular(154, 9, 2);
         f.Filled(10, 8, FddFile::Sid(10, 8, 3), 0);
       },
       154, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FddFile file;
    c.build(file);
    const CallResult r = Read(file);
    ASSERT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(image_->track_count, c.track_count);
    EXPECT_EQ(image_->sectors_per_track, c.sectors_per_track);
    EXPECT_EQ(r.progress.size(), 160u);
  }
}

TEST_F(FddReaderTest, TitleKeepsItsBytesAndReachesTheLogAsUtf8) {
  FddFile file;
  file.Regular(2, 8, 3);
  const std::string sjis = "\x83\x51\x81\x5B\x83\x80\xB1";  // "ゲームｱ"
  file.Comment(sjis);
  const CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk);
  EXPECT_EQ(std::string(image_->title), sjis);
  EXPECT_EQ(r.title, "ゲームｱ");
  ASSERT_EQ(r.progress.size(), 160u);
  EXPECT_EQ(r.progress[0].text, "ゲームｱ");
  for (int t = 0; t < 160; ++t) {
    EXPECT_EQ(r.progress[t].done, t);
    EXPECT_EQ(r.progress[t].total, 160);
  }
  // The recording callback empties the text, and the reader never refills it.
  EXPECT_EQ(r.progress[1].text, "");

  // 127 half-width kana need 381 bytes of UTF-8: the title buffer takes
  // what fits, whole characters only; the record keeps all 127 bytes.
  file.Comment(std::string(127, '\xB1'));
  const CallResult wide = Read(file);
  ASSERT_EQ(wide.result, kResultOk);
  EXPECT_EQ(std::strlen(image_->title), 127u);
  EXPECT_EQ(wide.title.size(), 255u);
  EXPECT_EQ(wide.progress[0].text, wide.title);
}

TEST_F(FddReaderTest, StopsWhenTheCallbackAsks) {
  FddFile file;
  file.Regular(4, 8, 3);
  const CallResult r = reader_.ReadDisk(Put(file.bytes()), *image_, 1, 1);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.progress.size(), 1u);
}

TEST_F(FddReaderTest, ReportsMissingSectorData) {
  FddFile file;
  file.Regular(2, 8, 3);
  file.Stored(1, 0, FddFile::Sid(1, 0, 3), 1);
  file.bytes().resize(file.bytes().size() - 1);
  EXPECT_EQ(Read(file).result, kResultReadError);

  FddFile far;
  far.Regular(2, 8, 3);
  WriteLe32(far.Entry(1, 1) + fdd::kEntryOffset, 0x7FFFFFFF);
  EXPECT_EQ(Read(far).result, kResultReadError);
}

TEST_F(FddReaderTest, RefusesWhatNoBufferHolds) {
  struct Case {
    const char* name;
    void (*build)(FddFile&);
    std::string_view message;
  };
  const Case cases[] = {
      {"N above 5",
       [](FddFile& f) {
         f.Regular(2, 8, 3);
         f.Filled(120, 0, FddFile::Sid(120, 0, 6), 0);
       },
       kMsgBadImageData},
      {"a row over 9472 bytes", [](FddFile& f) { f.Regular(2, 10, 3); }, kMsgBadImageData},
      {"more data than the record holds", [](FddFile& f) { f.Regular(160, 26, 5); },
       kMsgImageTooLarge},
      {"a comment without NUL", [](FddFile& f) { f.Comment(std::string(128, 'A')); },
       kMsgBadImageData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FddFile file;
    c.build(file);
    const CallResult r = Read(file);
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_TRUE(r.progress.empty());
  }
  FddFile file;
  file.Comment(std::string(128, 'A'));
  const CallResult info = reader_.GetFileInfo(Put(file.bytes()));
  EXPECT_EQ(info.result, kResultFailed);
  EXPECT_EQ(info.message, kMsgBadImageData);
}

TEST_F(FddReaderTest, EveryTruncationGetsAnAnswer) {
  FddFile file;
  file.Regular(4, 8, 3);
  file.Stored(0, 0, FddFile::Sid(0, 0, 3), 1);
  file.Stored(3, 7, FddFile::Sid(3, 7, 3), 2);
  const size_t full = file.bytes().size();
  test::ForEveryTruncation(
      "fdd_reader.dvr", file.bytes(), [&](size_t length, const test::TruncationAnswers& a) {
        const bool header = length >= fdd::kHeaderSize;
        ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
        ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
        ASSERT_EQ(a.read_disk, length == full ? kResultOk : kResultReadError) << length;
      });
}

// Writer and reader agree on every standard shape.
TEST(FddRoundTrip, EveryStandardShapeComesBackUnchanged) {
  const test::LoadedPlugin writer = LoadBuiltPlugin("fdd_writer.dvw");
  const test::LoadedPlugin reader = LoadBuiltPlugin("fdd_reader.dvr");
  test::TempDir dir;
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    auto original = NewDiskImage();
    test::BuildDisk(*original, shape, 7, "\x83\x51\x81\x5B\x83\x80 1");
    // Some sectors of one byte each, which the file keeps as fill bytes.
    std::memset(original->data, 0xE5, 1024);
    ASSERT_EQ(writer.WriteDisk(*original, dir / "R.FDD").result, kResultOk);
    auto back = NewDiskImage();
    const CallResult r = reader.ReadDisk(dir / "R.FDD", *back);
    ASSERT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    EXPECT_EQ(back->sectors_per_track, shape.sectors);
    EXPECT_EQ(back->size_code, shape.size_code);
    EXPECT_EQ(std::string(back->title), std::string(original->title));
  }
}

TEST(FddRoundTrip, KeepsFlagsOddIdsAndASectorAfterAGap) {
  const test::LoadedPlugin writer = LoadBuiltPlugin("fdd_writer.dvw");
  const test::LoadedPlugin reader = LoadBuiltPlugin("fdd_reader.dvr");
  test::TempDir dir;
  auto original = NewDiskImage();
  test::BuildDisk(*original, test::ShapeNamed("1.25M"), 3);
  original->ids[5][2].deleted = 1;
  original->ids[5][3].mfm = 0;
  original->ids[6][0].r = 0xF0;
  // Slot 6 of track 9 emptied, its data moved out: slot 7 follows a gap.
  original->ids[9][6].c = 0xFF;
  const size_t gap = (9 * 8 + 6) * 1024;
  std::memmove(original->data + gap, original->data + gap + 1024, (154 * 8 * 1024) - gap - 1024);
  ASSERT_EQ(writer.WriteDisk(*original, dir / "F.FDD").result, kResultOk);
  auto back = NewDiskImage();
  ASSERT_EQ(reader.ReadDisk(dir / "F.FDD", *back).result, kResultOk);
  EXPECT_EQ(test::CompareDisks(*original, *back), "");
  EXPECT_EQ(back->ids[5][2].deleted, 1);
  EXPECT_EQ(back->ids[5][3].mfm, 0);
}

}  // namespace
}  // namespace dravik
