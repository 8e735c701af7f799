// The FDD reader driven through its built library, on files put together
// field by field here, independently of the writer.
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
using Bytes = std::vector<uint8_t>;

// What the file holds for a stored sector at track t, slot s.
Bytes Pattern(int t, int s, uint8_t n) {
  Bytes data(SectorLength(n));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(t * 29 + s + i * 7);
  return data;
}

// Every entry starts empty; a stored sector's data is appended when it is
// added, so the order of calls is the order in the file.
class FddFile {
 public:
  FddFile() : bytes_(fdd::kHeaderSize, 0) {
    std::memcpy(bytes_.data(), fdd::kMagic, sizeof(fdd::kMagic));
    for (int t = 0; t < kMaxTracks; ++t) {
      for (int s = 0; s < kMaxSectorsPerTrack; ++s) Set(t, s, {255, 255, 255, 255, 255, 255}, 255);
    }
  }
  void Comment(const std::string& text) {
    std::memset(bytes_.data() + fdd::kCommentOffset, 0, fdd::kCommentSize);
    std::memcpy(bytes_.data() + fdd::kCommentOffset, text.data(), text.size());
  }
  void Set(int t, int s, SectorId id, uint8_t fill, uint32_t offset = fdd::kNotStored) {
    uint8_t* e = Entry(t, s);
    const uint8_t fields[8] = {id.c, id.h, id.r, id.n, fill, id.deleted, id.mfm, 0};
    std::memcpy(e, fields, sizeof(fields));
    WriteLe32(e + fdd::kEntryOffset, offset);
  }
  // C, H and R from the sector's place; fill < 0 stores Pattern(t, s, n).
  void Sector(int t, int s, uint8_t n, int fill = -1, uint8_t mfm = 1) {
    const SectorId id{uint8_t(t / 2), uint8_t(t % 2), uint8_t(s + 1), n, 0, mfm};
    if (fill >= 0) return Set(t, s, id, static_cast<uint8_t>(fill));
    Set(t, s, id, 0xFF, static_cast<uint32_t>(bytes_.size()));
    const Bytes data = Pattern(t, s, n);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void Regular(int tracks, int sectors, uint8_t n) {
    for (int t = 0; t < tracks; ++t) {
      for (int s = 0; s < sectors; ++s) Sector(t, s, n, 0xE5);
    }
  }
  uint8_t* Entry(int t, int s) { return bytes_.data() + fdd::EntryAt(t, s); }
  Bytes& bytes() { return bytes_; }

 private:
  Bytes bytes_;
};

class FddReaderTest : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes) {
    test::WriteFile(dir_ / "DISK.FDD", bytes);
    return dir_ / "DISK.FDD";
  }
  CallResult Read(FddFile& file, int abort_at = 0) {
    return reader_.ReadDisk(Put(file.bytes()), *image_, 1, abort_at);
  }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("fdd_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(FddReaderTest, TakesTheFamilyAndNamesOnlyItsVersion) {
  const struct {
    const char* magic;
    std::string comment;
    int is_support;
    int info;
    std::string_view message;
  } cases[] = {
      {"VFD1.00", "\x83\x51\x81\x5B\x83\x80 DISK", kResultOk, kResultOk,
       "\r\nVirtual(QSP)形式ゲーム DISK"},
      {"VFD1.00", "", kResultOk, kResultOk, "\r\nVirtual(QSP)形式"},
      {"VFD1.00", std::string(128, 'A'), kResultOk, kResultFailed, kMsgBadImageData},
      {"VFD1.01", "", kResultOk, kResultFailed, "\r\n未対応のFDD形式です"},
      {"VFE1.00", "", kResultNotMine, kResultFailed, "\r\n未対応のFDD形式です"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.magic + c.comment);
    FddFile file;
    std::memcpy(file.bytes().data(), c.magic, 7);
    file.Comment(c.comment);
    const std::string path = Put(file.bytes());
    EXPECT_EQ(reader_.IsSupport(path).result, c.is_support);
    const CallResult info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, c.info);
    EXPECT_EQ(info.message, c.message);
    EXPECT_EQ(info.title, "");
  }
}

TEST_F(FddReaderTest, CopiesIdsAsStoredAndPlacesEverySectorsData) {
  // Track 0: 26 FM sectors of 128 bytes; tracks 1 to 3: 8 x 1024, stored
  // back to front so that the reader must seek.
  FddFile file;
  for (int t = 3; t >= 0; --t) {
    for (int s = 0; s < (t == 0 ? 26 : 8); ++s) {
      if (t == 2 && s == 3) {
        file.Sector(t, s, 3, 0xFF);   // a fill byte equal to the stored sectors' mark
      } else if (t != 3 || s != 5) {  // a gap before two more sectors
        file.Sector(t, s, t == 0 ? 0 : 3, -1, t == 0 ? 0 : 1);
      }
    }
  }
  file.Entry(3, 5)[fdd::kEntryN] = 2;  // an empty entry's other bytes stay
  // IDs need not match their place; flags are copied as they are.
  file.Set(3, 7, {9, 1, 0xF7, 3, 1, 0}, 0xFF, ReadLe32(file.Entry(3, 7) + fdd::kEntryOffset));

  const CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(image_->track_count, 4);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 8);  // row 1 decides
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(test::IdText(image_->ids[0][25]), "0 0 26 0 0 0");
  EXPECT_EQ(test::IdText(image_->ids[3][5]), "255 255 255 2 255 255");
  EXPECT_EQ(test::IdText(image_->ids[3][7]), "9 1 247 3 1 0");
  EXPECT_EQ(image_->ids[4][0].c, 0xFF);
  Bytes expected;
  for (int t = 0; t < 4; ++t) {
    for (int s = 0; s < (t == 0 ? 26 : 8); ++s) {
      const Bytes d = t == 2 && s == 3 ? Bytes(1024, 0xFF) : Pattern(t, s, t == 0 ? 0 : 3);
      if (t != 3 || s != 5) expected.insert(expected.end(), d.begin(), d.end());
    }
  }
  EXPECT_TRUE(Bytes(image_->data, image_->data + expected.size()) == expected);
}

// Each table either reads with a track count that drops no sector, or is
// refused before any byte is moved.
TEST_F(FddReaderTest, TrackCountNeverDropsASectorAndNoBufferIsOverrun) {
  const struct {
    const char* name;
    void (*build)(FddFile&);
    int result;
    int track_count;
    int sectors_per_track;
    std::string_view message = "";
  } cases[] = {
      {"row 1 empty, nothing after it", [](FddFile& f) { f.Regular(1, 8, 3); }, kResultOk, 1, 0},
      {"row 1 empty, a sector on row 5",
       [](FddFile& f) { f.Regular(1, 8, 3), f.Sector(5, 0, 3, 0); }, kResultOk, 6, 0},
      // The empty entries' N (0xFF) is no sector size: five sectors a track
      // still make a 160-track disk.
      {"5 sectors a track", [](FddFile& f) { f.Regular(160, 5, 3); }, kResultOk, 160, 5},
      {"size changes on track 40",
       [](FddFile& f) {
         f.Regular(40, 9, 2);
         for (int t = 40; t < 80; ++t) {
           for (int s = 0; s < 8; ++s) f.Sector(t, s, 3, 0);
         }
       },
       kResultOk, 80, 9},
      {"regular 1.25M", [](FddFile& f) { f.Regular(154, 8, 3); }, kResultOk, 154, 8},
      {"an irregular sector after the eighth entry counts not",
       [](FddFile& f) { f.Regular(154, 9, 2), f.Sector(10, 8, 3, 0); }, kResultOk, 154, 9},
      {"N above 5", [](FddFile& f) { f.Regular(2, 8, 3), f.Sector(120, 0, 6, 0); }, kResultFailed,
       0, 0, kMsgBadImageData},
      {"a row over 9472 bytes", [](FddFile& f) { f.Regular(2, 10, 3); }, kResultFailed, 0, 0,
       kMsgBadImageData},
      {"more data than the record holds", [](FddFile& f) { f.Regular(160, 26, 5); }, kResultFailed,
       0, 0, kMsgImageTooLarge},
      {"a comment without NUL", [](FddFile& f) { f.Comment(std::string(128, 'A')); }, kResultFailed,
       0, 0, kMsgBadImageData},
      {"data far beyond the end",
       [](FddFile& f) {
         f.Regular(2, 8, 3), WriteLe32(f.Entry(1, 1) + fdd::kEntryOffset, 0x7FFFFFFF);
       },
       kResultReadError, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FddFile file;
    c.build(file);
    const CallResult r = Read(file);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
    if (r.result != kResultOk) {
      EXPECT_EQ(r.progress.empty(), r.result == kResultFailed);
      continue;
    }
    EXPECT_EQ(image_->track_count, c.track_count);
    EXPECT_EQ(image_->sectors_per_track, c.sectors_per_track);
  }
}

TEST_F(FddReaderTest, TitleKeepsItsBytesAndReachesTheLogAsUtf8InTheFirstProgressCall) {
  FddFile file;
  file.Regular(2, 8, 3);
  file.Comment("\x83\x51\x81\x5B\x83\x80\xB1");  // "ゲームｱ"
  CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk);
  EXPECT_EQ(std::string(image_->title), "\x83\x51\x81\x5B\x83\x80\xB1");
  EXPECT_EQ(r.title, "ゲームｱ");
  ASSERT_EQ(r.progress.size(), 160u);
  for (int t = 0; t < 160; ++t) {
    EXPECT_EQ(r.progress[t].done, t);
    EXPECT_EQ(r.progress[t].total, 160);
    // The recording callback empties the text, and the reader never refills it.
    EXPECT_EQ(r.progress[t].text, t == 0 ? "ゲームｱ" : "");
  }

  // 127 half-width kana need 381 bytes of UTF-8: the title buffer takes
  // whole characters only, the record all 127 bytes.
  file.Comment(std::string(127, '\xB1'));
  r = Read(file);
  ASSERT_EQ(r.result, kResultOk);
  EXPECT_EQ(std::strlen(image_->title), 127u);
  EXPECT_EQ(r.title.size(), 255u);
  EXPECT_EQ(r.progress[0].text, r.title);

  r = Read(file, 1);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.progress.size(), 1u);
}

}  // namespace
}  // namespace dravik
