// SLF files built by test code (tracks compressed by lha where packed) read
// back as the disks they were made from; the format's odd corners and every
// refusal on small hand-laid records.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_conversion.h"
#include "disk_builder.h"
#include "slf_image.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::SlfRecord;
using test::SlfStorage;
using Bytes = std::vector<uint8_t>;

const std::string kTitle = "\x83\x51\x81\x5B\x83\x80 disk";  // "ゲーム disk" in Shift-JIS
const std::string kTitleUtf8 = "ゲーム disk";

class SlfReaderTest : public testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const std::string& name = "GAME.SLF") {
    const std::string path = dir_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  test::CallResult Read(const Bytes& bytes, int disk = 1, int abort_at = 0) {
    std::memset(image_.get(), 0, sizeof(DiskImage));
    return plugin_.ReadDisk(Write(bytes), *image_, disk, abort_at);
  }

  test::TempDir dir_;
  test::LoadedPlugin plugin_ = test::LoadBuiltPlugin("slf_reader.dvr");
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

std::unique_ptr<DiskImage> Disk(const char* shape, uint32_t seed) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed(shape), seed, kTitle);
  test::FillWithMixedContent(*disk, seed);
  // Mixed 2HD disks lie 2:1 interleaved on the track; SLF marks them so.
  if (std::string(shape) == "mixed2HD") test::InterleaveRows(*disk);
  return disk;
}

TEST_F(SlfReaderTest, EveryShapePackedOrRawReadsBackAsItsDisk) {
  EXPECT_EQ(plugin_.description(), "SLF形式入力Plug-in Ver.1.01");
  const uint8_t caps[kCapsSize] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(std::memcmp(plugin_.caps(), caps, kCapsSize), 0);
  for (const auto& shape : test::StandardShapes()) {
    const auto disk = Disk(shape.name, 3);
    for (SlfStorage storage : {SlfStorage::kPacked, SlfStorage::kRaw}) {
      SCOPED_TRACE(std::string(shape.name) + (storage == SlfStorage::kRaw ? " raw" : " packed"));
      const SlfRecord record = test::SlfRecordOf(*disk, storage);
      if (storage == SlfStorage::kPacked) {
        // All three ways of storing a track occur.
        int fills = 0, raws = 0, streams = 0;
        for (const auto& track : record.tracks) {
          if (track.stored.size() == 1) ++fills;
          else if (track.raw) ++raws;
          else if (!track.stored.empty()) ++streams;
        }
        EXPECT_TRUE(fills > 0 && raws > 0 && streams > 0) << fills << raws << streams;
      }
      const std::string path = Write(test::SlfFile({record}));
      EXPECT_EQ(plugin_.IsSupport(path).result, 0);
      const auto info = plugin_.GetFileInfo(path);
      EXPECT_EQ(info.result, 0);
      EXPECT_EQ(info.message, "\r\nSLF形式(1 DISK)");
      EXPECT_EQ(info.multi_disk, 0);
      EXPECT_EQ(info.title, "");
      const auto read = Read(test::SlfFile({record}));
      ASSERT_EQ(read.result, 0) << read.message;
      EXPECT_EQ(test::CompareDisks(*disk, *image_), "");
      EXPECT_EQ(std::string(image_->title), kTitle);
      EXPECT_EQ(read.title, kTitleUtf8);
      EXPECT_EQ(image_->head_count, 2);
      EXPECT_EQ(image_->sectors_per_track, shape.sectors);
      EXPECT_EQ(image_->size_code, shape.size_code);
      ASSERT_EQ(read.progress.size(), 160u);
      EXPECT_EQ(read.progress[159].done, 159);
      EXPECT_EQ(read.progress[159].total, 160);
    }
  }
}

TEST_F(SlfReaderTest, DisksFollowOneAnotherUntilTheChainEnds) {
  const auto first = Disk("1.25M", 1);
  const auto second = Disk("640K", 2);
  const SlfRecord a = test::SlfRecordOf(*first, SlfStorage::kPacked);
  const SlfRecord b = test::SlfRecordOf(*second, SlfStorage::kRaw);
  const Bytes two = test::SlfFile({a, b});
  const auto info = plugin_.GetFileInfo(Write(two));
  EXPECT_EQ(info.result, 0);
  EXPECT_EQ(info.message, "\r\nSLF形式(複数DISK)");
  EXPECT_EQ(info.multi_disk, 1);
  // Disk numbers below 2 (and 65,537, which is 1 in 16 bits) are the first.
  for (int disk : {1, 0, -3, 65537}) {
    EXPECT_EQ(Read(two, disk).result, 9) << disk;
    EXPECT_EQ(test::CompareDisks(*first, *image_), "") << disk;
  }
  EXPECT_EQ(Read(two, 2).result, 0);
  EXPECT_EQ(test::CompareDisks(*second, *image_), "");
  EXPECT_EQ(Read(two, 3).result, 6);

  // A record whose length would put the next one inside itself (L = 0, or
  // L + 6 wrapping in 32 bits) ends the chain where it stands.
  for (uint32_t next : {0u, 486u, 0xFFFFFFFAu}) {
    SlfRecord looping = a;
    looping.next = next;
    const Bytes file = test::SlfFile({looping, b});
    EXPECT_EQ(Read(file, 1).result, 0) << next;
    EXPECT_EQ(Read(file, 2).result, 6) << next;
    EXPECT_EQ(plugin_.GetFileInfo(Write(file)).multi_disk, 0) << next;
  }
  // A file that ends right behind its one record holds one disk; a few
  // bytes behind it are no second disk.
  for (size_t tail : {0, 1, 2, 494}) {
    Bytes file = test::SlfFile({b});
    file.resize(file.size() + tail);
    const auto one = plugin_.GetFileInfo(Write(file));
    EXPECT_EQ(one.result, 0) << tail;
    EXPECT_EQ(one.message, "\r\nSLF形式(1 DISK)") << tail;
    if (tail < 493) {
      EXPECT_EQ(Read(file).result, 0) << tail;
    }
  }
}

TEST_F(SlfReaderTest, CliConvertsSingleAndMultiDiskFiles) {
  const auto first = Disk("1.25M", 5);
  const auto second = Disk("1.44M", 6);
  const std::string single =
      Write(test::SlfFile({test::SlfRecordOf(*first, SlfStorage::kPacked)}), "ONE.SLF");
  test::ExpectCliConvertsToImages(single, {first.get()});
  const std::string both =
      Write(test::SlfFile({test::SlfRecordOf(*first, SlfStorage::kRaw),
                           test::SlfRecordOf(*second, SlfStorage::kPacked)}),
            "ゲーム.SLF");
  test::ExpectCliConvertsToImages(both, {first.get(), second.get()});
}

// A small record laid out by hand: 8 sectors of 1024 bytes on every track,
// tracks 0 to 3 present and raw, each sector filled with 16 * track + R.
SlfRecord SmallRecord() {
  SlfRecord r;
  r.comment = "small";
  r.attributes = {0x83, 0x83, 0x83};
  r.sectors = {8, 8, 8};
  for (int t = 0; t < 4; ++t) {
    for (int k = 0; k < 8; ++k) {
      r.tracks[t].stored.insert(r.tracks[t].stored.end(), 1024, static_cast<uint8_t>(16 * t + k + 1));
    }
    r.tracks[t].raw = true;
  }
  return r;
}

// "R:first data byte" of each used slot of a row.
std::string Row(const DiskImage& image, int track) {
  size_t offset = 0;
  std::string text;
  for (int t = 0; t <= track; ++t) {
    for (const SectorId& id : image.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      if (t == track) {
        text += (text.empty() ? "" : " ") + std::to_string(id.r) + ":" +
                std::to_string(image.data[offset]);
      }
      offset += SectorLength(id.n);
    }
  }
  return text;
}

TEST_F(SlfReaderTest, TrackFormatsOverridesAndAbsentTracks) {
  // Tracks 0 and 1 may differ from the rest.
  SlfRecord r = SmallRecord();
  r.attributes = {0x00, 0x81, 0x83};
  r.sectors = {26, 26, 8};
  r.tracks[0].stored.assign(26 * 128, 0x11);
  r.tracks[1].stored.assign(26 * 256, 0x22);
  ASSERT_EQ(Read(test::SlfFile({r})).result, 0);
  const int counts[] = {26, 26, 8, 8};
  const int sizes[] = {0, 1, 3, 3};
  const int mfm[] = {0, 1, 1, 1};
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(test::IdText(image_->ids[t][counts[t] - 1]),
              std::to_string(t / 2) + " " + std::to_string(t % 2) + " " +
                  std::to_string(counts[t]) + " " + std::to_string(sizes[t]) + " 0 " +
                  std::to_string(mfm[t]));
    if (counts[t] < 26) {
      EXPECT_TRUE(IsEmptySlot(&image_->ids[t][counts[t]]));
    }
  }
  EXPECT_EQ(image_->sectors_per_track, 8);
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(image_->track_count, 4);

  r = SmallRecord();
  // Track 1: one byte fills the track, whatever the raw bit says; deleted.
  r.tracks[1].stored = {0x5A};
  r.tracks[1].extra = 0x01;
  // Track 2: interleaved through an override, 1024-byte sectors kept.
  r.tracks[2].extra = 0x02;
  r.tracks[2].override_attribute = 0xC3;
  // Track 3: an extra byte without an override takes the header's
  // attribute, not track 2's override.
  r.tracks[3].extra = 0x00;
  // Tracks 4 to 6 absent, 5 with an extra byte and a pair to skip; 7 and 8
  // present again, 7 interleaved with 256-byte sectors and more raw bytes
  // than the track holds.
  r.tracks[5].extra = 0x03;
  r.tracks[5].override_attribute = 0x00;
  r.sectors[2] = 8;
  r.tracks[7].extra = 0x02;
  r.tracks[7].override_attribute = 0xC1;
  r.tracks[7].stored.clear();
  for (int k = 0; k < 8; ++k) r.tracks[7].stored.insert(r.tracks[7].stored.end(), 256, 0x70 + k + 1);
  r.tracks[7].stored.resize(8 * 1024, 0);
  r.tracks[7].raw = true;
  r.tracks[8] = r.tracks[0];
  const auto read = Read(test::SlfFile({r}));
  ASSERT_EQ(read.result, 0) << read.message;
  EXPECT_EQ(Row(*image_, 1), "1:90 2:90 3:90 4:90 5:90 6:90 7:90 8:90");
  EXPECT_EQ(image_->ids[1][0].deleted, 1);
  EXPECT_EQ(image_->ids[2][0].deleted, 0);
  EXPECT_EQ(Row(*image_, 2), "1:33 5:37 2:34 6:38 3:35 7:39 4:36 8:40");
  EXPECT_EQ(Row(*image_, 3), "1:49 2:50 3:51 4:52 5:53 6:54 7:55 8:56");
  EXPECT_EQ(image_->ids[3][0].n, 3);
  EXPECT_EQ(Row(*image_, 4), "");
  EXPECT_EQ(Row(*image_, 5), "");
  EXPECT_EQ(Row(*image_, 7), "1:113 5:117 2:114 6:118 3:115 7:119 4:116 8:120");
  EXPECT_EQ(image_->ids[7][0].n, 1);
  EXPECT_EQ(Row(*image_, 8), "1:1 2:2 3:3 4:4 5:5 6:6 7:7 8:8");
  // The count reaches the last present track, absent ones before it
  // included; every track reports.
  EXPECT_EQ(image_->track_count, 9);
  EXPECT_EQ(read.progress.size(), 160u);

  // An odd count interleaves as 1, 6, 2, 7, 3, 8, 4, 9, 5: every sector
  // kept, the middle one last.
  r = SmallRecord();
  r.sectors = {9, 8, 8};
  r.attributes[0] = 0x41;
  r.tracks[0].stored.clear();
  for (int k = 0; k < 9; ++k) r.tracks[0].stored.insert(r.tracks[0].stored.end(), 256, k + 1);
  ASSERT_EQ(Read(test::SlfFile({r})).result, 0);
  EXPECT_EQ(Row(*image_, 0), "1:1 6:6 2:2 7:7 3:3 8:8 4:4 9:9 5:5");
}

TEST_F(SlfReaderTest, DescriptionTitleAndMessages) {
  SlfRecord r = SmallRecord();
  r.flags = 0x13;
  r.file_system = 1;
  r.comment = kTitle;
  auto read = Read(test::SlfFile({r}));
  ASSERT_EQ(read.result, 0);
  EXPECT_EQ(read.progress[0].text, "\r\n2HD  160Tracks  無圧縮  MS-DOS  \r\n" + kTitleUtf8);
  EXPECT_EQ(read.progress[1].text, "");
  r.flags = 0x00;
  r.file_system = 0;
  read = Read(test::SlfFile({r}));
  EXPECT_EQ(read.progress[0].text, "\r\n2DD  154Tracks  圧縮  MS-DOS以外  \r\n" + kTitleUtf8);
  // The longest comment fills its field without a NUL.
  r.comment = std::string(159, 'c');
  read = Read(test::SlfFile({r}));
  EXPECT_EQ(std::string(image_->title), r.comment);
  EXPECT_EQ(read.title, r.comment);

  r.comment_length = 0x9E;
  read = Read(test::SlfFile({r}));
  EXPECT_EQ(read.result, 8);
  EXPECT_EQ(read.message, "\r\nコメント長データ異常 : 9e");

  const std::string path = Write(test::SlfFile({SmallRecord()}));
  const auto direct = plugin_.ReadDirect(path, dir_ / "out.fdd");
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  EXPECT_EQ(plugin_.ReadDisk(dir_ / "missing.slf", *image_).message,
            "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "missing.slf" +
                ": No such file or directory");
  EXPECT_EQ(plugin_.GetFileInfo(dir_ / "missing.slf").result, 8);
  EXPECT_EQ(plugin_.IsSupport(dir_ / "missing.slf").result, 6);
  // An ordinary MS-DOS program, and a file too short to tell.
  Bytes program = test::SlfFile({SmallRecord()});
  program[55] = 'X';
  EXPECT_EQ(plugin_.IsSupport(Write(program)).result, 2);
  program = test::SlfFile({});
  program.resize(63);
  EXPECT_EQ(plugin_.IsSupport(Write(program)).result, 2);
  EXPECT_EQ(Read(test::SlfFile({SmallRecord()}), 1, 1).result, 1);
}

TEST_F(SlfReaderTest, RefusesWhatNoBufferHolds) {
  struct Case {
    const char* name;
    void (*spoil)(SlfRecord&);
    int result;
    std::string message;
  } cases[] = {
      {"raw track shorter than the track",
       [](SlfRecord& r) { r.tracks[2].stored.resize(8 * 1024 - 1); }, 8,
       "\r\nイメージデータが異常です"},
      {"27 sectors", [](SlfRecord& r) { r.sectors[2] = 27; }, 8, "\r\nイメージデータが異常です"},
      {"27 sectors on an absent group",
       [](SlfRecord& r) {
         r.sectors[1] = 27;
         r.tracks[1].stored.clear();
       },
       8, "\r\nイメージデータが異常です"},
      {"track over 16,896 bytes", [](SlfRecord& r) { r.sectors[2] = 17; }, 8,
       "\r\nイメージデータが異常です"},
      {"disk over the record",
       [](SlfRecord& r) {
         r.sectors = {16, 16, 16};
         for (auto& track : r.tracks) track.stored = {0xE5};
       },
       8, "\r\nイメージが大きすぎます"},
      {"damaged lh5 track",
       [](SlfRecord& r) {
         r.tracks[3].stored.assign(40, 0xFF);
         r.tracks[3].raw = false;
       },
       8, "\r\nイメージデータが異常です"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlfRecord r = SmallRecord();
    c.spoil(r);
    const auto read = Read(test::SlfFile({r}));
    EXPECT_EQ(read.result, c.result);
    EXPECT_EQ(read.message, c.message);
  }
}

// Every prefix of a two-disk file: never a crash, a read error once the
// data runs out, the second disk gone once its header is cut.
TEST_F(SlfReaderTest, TruncatedFiles) {
  SlfRecord a;
  a.attributes = {0x80, 0x80, 0x80};
  a.sectors = {2, 2, 2};
  for (int t = 0; t < 4; ++t) {
    a.tracks[t].stored.assign(256, static_cast<uint8_t>(t));
    a.tracks[t].raw = true;
  }
  a.tracks[1].stored = {0x42};
  a.tracks[2].extra = 0x03;
  a.tracks[2].override_attribute = 0x41;
  a.tracks[2].stored.assign(600, 7);
  SlfRecord b = a;
  for (int t = 1; t < 4; ++t) b.tracks[t] = {};
  const Bytes file = test::SlfFile({a, b}, 64);
  const size_t first_end = 64 + test::SlfRecordBytes(a).size();
  test::ForEveryTruncation("slf_reader.dvr", file, [&](size_t length, const auto& answers) {
    EXPECT_EQ(answers.is_support, length >= 64 ? 0 : 2) << length;
    if (length < 64) return;
    EXPECT_EQ(answers.file_info, length >= 64 + 493 ? 0 : 6) << length;
    const int read = length >= first_end + 493 ? 9 : length >= first_end ? 0 : 6;
    EXPECT_EQ(answers.read_disk, read) << length;
  });
}

}  // namespace
}  // namespace dravik
