// The D88 reader driven through its built library, on files put together
// field by field here, independently of the writer: the quirks met in files
// from the wild, several disks in one file, and every refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "byte_order.h"
#include "cli_conversion.h"
#include "d88_layout.h"
#include "disk_builder.h"
#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::CallResult;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(int t, int s, size_t length) {
  Bytes data(length);
  for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(t * 31 + s * 7 + i * 13);
  return data;
}

struct Sector {
  SectorId id;
  Bytes data;  // as the file stores it
  uint8_t status = 0;
};

// One disk as a file would hold it, and the ways real files stray from the
// layout.
struct DiskSpec {
  std::string name;
  uint8_t media = d88::kMedia2HD;
  uint8_t protect = d88::kWritable;
  std::map<int, std::vector<Sector>> tracks;
  bool short_table = false;       // 160 offsets, a 0x2A0 header
  bool big_endian_counts = false;
  bool unused_at_end = false;     // no-track entries point at the disk's end
  int64_t size_delta = 0;         // added to the disk size field
  Bytes trailing;                 // after the disk, outside its size
};

// Tracks 0 to tracks - 1 of sectors x (128 << n), IDs by place, R in order.
void Regular(DiskSpec& spec, int tracks, int sectors, uint8_t n) {
  for (int t = 0; t < tracks; ++t) {
    for (int s = 0; s < sectors; ++s) {
      spec.tracks[t].push_back(
          {{uint8_t(t / 2), uint8_t(t % 2), uint8_t(s + 1), n, 0, 1}, Pattern(t, s, 128u << n)});
    }
  }
}

Bytes BuildDisk(const DiskSpec& spec) {
  const size_t header = spec.short_table ? d88::kShortHeaderSize : d88::kHeaderSize;
  const int entries = spec.short_table ? 160 : 164;
  Bytes file(header, 0);
  std::memcpy(file.data(), spec.name.data(), spec.name.size());
  file[d88::kProtectOffset] = spec.protect;
  file[d88::kMediaOffset] = spec.media;
  std::vector<uint32_t> offsets(entries, 0);
  for (const auto& [t, sectors] : spec.tracks) {
    offsets[t] = static_cast<uint32_t>(file.size());
    for (const Sector& sector : sectors) {
      uint8_t h[16] = {sector.id.c, sector.id.h, sector.id.r, sector.id.n};
      const uint16_t count = static_cast<uint16_t>(sectors.size());
      WriteLe16(h + 4, spec.big_endian_counts ? static_cast<uint16_t>(count << 8) : count);
      h[6] = sector.id.mfm ? 0x00 : 0x40;
      h[7] = sector.id.deleted ? 0x10 : 0x00;
      h[8] = sector.status;
      WriteLe16(h + 14, static_cast<uint16_t>(sector.data.size()));
      file.insert(file.end(), h, h + 16);
      file.insert(file.end(), sector.data.begin(), sector.data.end());
    }
  }
  for (int t = 0; t < entries; ++t) {
    if (offsets[t] == 0 && spec.unused_at_end) offsets[t] = static_cast<uint32_t>(file.size());
    WriteLe32(file.data() + d88::kTrackTableOffset + 4 * t, offsets[t]);
  }
  WriteLe32(file.data() + d88::kDiskSizeOffset, static_cast<uint32_t>(file.size() + spec.size_delta));
  file.insert(file.end(), spec.trailing.begin(), spec.trailing.end());
  return file;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The record a reader should make of spec: IDs as stored, data padded with
// zeros or cut to 128 << N.
std::unique_ptr<DiskImage> Expected(const DiskSpec& spec) {
  auto image = test::NewDiskImage();
  std::memset(image->ids, 0xFF, sizeof(image->ids));
  size_t cursor = 0;
  int last = 0;
  for (const auto& [t, sectors] : spec.tracks) {
    for (size_t s = 0; s < sectors.size(); ++s) {
      image->ids[t][s] = sectors[s].id;
      image->ids[t][s].deleted = sectors[s].id.deleted ? 1 : 0;
      const size_t length = 128u << sectors[s].id.n;
      std::memcpy(image->data + cursor, sectors[s].data.data(),
                  std::min(length, sectors[s].data.size()));
      cursor += length;
      last = t;
    }
  }
  image->track_count = static_cast<uint8_t>(last + 1);
  return image;
}

class D88ReaderTest : public ::testing::Test {
 protected:
  std::string Put(const Bytes& bytes, const std::string& name = "DISK.D88") {
    test::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  CallResult Read(const Bytes& bytes, int disk = 1, int abort_at = 0) {
    return reader_.ReadDisk(Put(bytes), *image_, disk, abort_at);
  }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("d88_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(D88ReaderTest, TakesPlausibleHeadersOnlyAndNamesTheMedia) {
  const auto header_only = [](uint8_t media) {
    DiskSpec spec;
    spec.media = media;
    return BuildDisk(spec);
  };
  const auto with_track = [](std::string name, uint8_t media, uint8_t protect = 0) {
    DiskSpec spec;
    spec.name = std::move(name);
    spec.media = media;
    spec.protect = protect;
    Regular(spec, 2, 8, 3);
    return BuildDisk(spec);
  };
  const auto patch = [&](Bytes file, size_t at, std::vector<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + at);
    return file;
  };
  const Bytes good = with_track("", d88::kMedia2HD);
  const struct {
    const char* name;
    Bytes file;
    int is_support;
    std::string info;  // GetFileInfo's message when it is mine
    std::string title = "";
  } cases[] = {
      {"2HD with a Shift-JIS name", with_track("\x83\x51\x81\x5B\x83\x80 1", 0x20), kResultOk,
       "\r\nD88形式(2HD) ゲーム 1", "ゲーム 1"},
      {"2D, protected", with_track("A", 0x00, 0x10), kResultOk, "\r\nD88形式(2D) A", "A"},
      {"2DD", with_track("", 0x10), kResultOk, "\r\nD88形式(2DD)"},
      {"1DD", with_track("", 0x30), kResultOk, "\r\nD88形式(1DD)"},
      {"1D", with_track("", 0x40), kResultOk, "\r\nD88形式(1D)"},
      {"17-byte name without NUL", with_track(std::string(17, 'N'), 0x20), kResultOk,
       "\r\nD88形式(2HD) " + std::string(17, 'N'), std::string(17, 'N')},
      {"unformatted: a bare header", header_only(0x10), kResultOk, "\r\nD88形式(2DD)"},
      {"a bare header with more behind it", Concat({header_only(0x10), Bytes(4096, 0)}),
       kResultNotMine, ""},
      {"media 0x50", patch(good, d88::kMediaOffset, {0x50}), kResultNotMine, ""},
      {"protect byte 0x01", patch(good, d88::kProtectOffset, {0x01}), kResultNotMine, ""},
      {"disk size below the header", patch(good, d88::kDiskSizeOffset, {0x9F, 0x02, 0, 0}),
       kResultNotMine, ""},
      {"an offset inside the header", patch(good, d88::kTrackTableOffset + 8, {0x10, 0x01, 0, 0}),
       kResultNotMine, ""},
      {"an offset past file and disk size",
       patch(good, d88::kTrackTableOffset + 8, {0xFF, 0xFF, 0xFF, 0x00}), kResultNotMine, ""},
      {"first sector count 0", patch(good, d88::kHeaderSize + 4, {0, 0}), kResultNotMine, ""},
      {"first sector's data past the end", patch(good, d88::kHeaderSize + 14, {0xFF, 0xFF}),
       kResultNotMine, ""},
      {"shorter than a header", Bytes(good.begin(), good.begin() + 0x29F), kResultNotMine, ""},
      {"zeros", Bytes(0x2B0, 0), kResultNotMine, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Put(c.file);
    EXPECT_EQ(reader_.IsSupport(path).result, c.is_support);
    if (c.is_support != kResultOk) continue;
    const CallResult info = reader_.GetFileInfo(path);
    EXPECT_EQ(info.result, kResultOk);
    EXPECT_EQ(info.message, c.info);
    EXPECT_EQ(info.title, c.title);
    EXPECT_EQ(info.multi_disk, 0);
    EXPECT_EQ(Read(c.file).result, kResultOk);
  }
  EXPECT_EQ(reader_.IsSupport(dir_ / "missing.d88").result, kResultReadError);
}

TEST_F(D88ReaderTest, CopiesIdsFlagsAndDataAsStored) {
  DiskSpec spec;
  spec.name = "\x83\x51\x81\x5B\x83\x80";
  // Track 0: 26 FM sectors of 128 bytes, interleaved; tracks 1 to 153: 8 x
  // 1024; track 5 holds IDs unlike its place, a deleted sector, a sector
  // read with a CRC error and data shorter and longer than N says.
  for (int i = 0; i < 26; ++i) {
    const int r = i % 2 == 0 ? i / 2 + 1 : i / 2 + 14;
    spec.tracks[0].push_back({{0, 0, uint8_t(r), 0, 0, 0}, Pattern(0, i, 128)});
  }
  for (int t = 1; t < 154; ++t) {
    for (int s = 0; s < 8; ++s) {
      spec.tracks[t].push_back({{uint8_t(t / 2), uint8_t(t % 2), uint8_t(s + 1), 3, 0, 1},
                                Pattern(t, s, 1024)});
    }
  }
  std::vector<Sector>& odd = spec.tracks[5];
  odd[0].id = {40, 1, 0xF7, 3, 0, 1};
  odd[1].id.deleted = 1;
  odd[1].status = 0x10;
  odd[2].status = 0xB0;
  odd[3].data.resize(300);
  odd[4].data.resize(1500, 0x77);
  spec.tracks.erase(100);  // an unformatted track between formatted ones
  const Bytes file = BuildDisk(spec);

  const CallResult r = Read(file);
  ASSERT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(r.message,
            "\r\nデータ長がNの長さと違うセクタを2個、Nの長さに合わせました(最初はトラック5 R=4 "
            "N=3、300バイト)"
            "\r\nエラーステータス付きのセクタが1個あります(ステータスは変換先に残りません)");
  EXPECT_EQ(r.title, "ゲーム");
  EXPECT_EQ(std::string(image_->title), spec.name);
  EXPECT_EQ(image_->head_count, 2);
  EXPECT_EQ(image_->sectors_per_track, 8);  // what most tracks hold
  EXPECT_EQ(image_->size_code, 3);
  EXPECT_EQ(test::IdText(image_->ids[0][1]), "0 0 14 0 0 0");
  EXPECT_EQ(test::IdText(image_->ids[5][0]), "40 1 247 3 0 1");
  EXPECT_EQ(test::IdText(image_->ids[5][1]), "2 1 2 3 1 1");
  EXPECT_EQ(test::CompareDisks(*Expected(spec), *image_), "");
  ASSERT_EQ(r.progress.size(), 160u);
  EXPECT_EQ(r.progress[159].done, 159);
  EXPECT_EQ(r.progress[159].total, 160);
  EXPECT_EQ(Read(file, 1, 10).result, kResultAborted);
}

// Each quirk on a 2DD disk of 9 x 512: the disk reads as if it were not
// there, and the log says what was met.
TEST_F(D88ReaderTest, ReadsTheQuirksOfFilesFromTheWildAndSaysSo) {
  const struct {
    const char* name;
    void (*quirk)(DiskSpec&);
    std::string note;
  } cases[] = {
      {"as laid out", [](DiskSpec&) {}, ""},
      {"big-endian sector counts", [](DiskSpec& s) { s.big_endian_counts = true; },
       "\r\nセクタ数がビッグエンディアンで記録されたトラックを読みました(160個)"},
      {"unused offsets at the end of the disk",
       [](DiskSpec& s) { s.tracks.erase(159), s.tracks.erase(158); s.unused_at_end = true; },
       "\r\nディスクの終わりを指す未使用のトラック位置を読み飛ばしました(6個)"},
      {"a 160-entry table", [](DiskSpec& s) { s.short_table = true; },
       "\r\nトラック表が160個の形式です"},
      {"disk size larger than the file", [](DiskSpec& s) { s.size_delta = 4096; },
       "\r\nディスクサイズ欄(765104バイト)がファイル上の大きさ(761008バイト)と違います"},
      {"disk size short of the last track", [](DiskSpec& s) { s.size_delta = -4752; },
       "\r\nディスクサイズ欄(756256バイト)がファイル上の大きさ(761008バイト)と違います"},
      {"junk after the disk", [](DiskSpec& s) { s.trailing = Bytes(100, 0x1A); },
       "\r\nディスクサイズ欄(761008バイト)がファイル上の大きさ(761108バイト)と違います"},
      {"unused offsets at the end, junk after it",
       [](DiskSpec& s) {
         s.tracks.erase(159);
         s.unused_at_end = true;
         s.trailing = Bytes(3, 0);
       },
       "\r\nディスクサイズ欄(756256バイト)がファイル上の大きさ(756259バイト)と違います"
       "\r\nディスクの終わりを指す未使用のトラック位置を読み飛ばしました(5個)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DiskSpec spec;
    spec.media = d88::kMedia2DD;
    Regular(spec, 160, 9, 2);
    c.quirk(spec);
    const CallResult r = Read(BuildDisk(spec));
    ASSERT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(r.message, c.note);
    EXPECT_EQ(test::CompareDisks(*Expected(spec), *image_), "");
    EXPECT_EQ(image_->sectors_per_track, 9);
    EXPECT_EQ(image_->size_code, 2);
  }
}

TEST_F(D88ReaderTest, ReadsEachDiskOfAFileInTurn) {
  DiskSpec a, b, c;
  a.name = "DISK A";
  Regular(a, 154, 8, 3);
  b.name = "\x83\x51\x81\x5B\x83\x80 B";
  b.media = d88::kMedia2DD;
  Regular(b, 160, 9, 2);
  b.big_endian_counts = true;
  c.media = d88::kMedia2DD;
  Regular(c, 4, 16, 1);
  c.trailing = Bytes(16, 0);  // the last disk owns the rest of the file
  const Bytes file = Concat({BuildDisk(a), BuildDisk(b), BuildDisk(c)});
  const std::string path = Put(file);

  const CallResult info = reader_.GetFileInfo(path);
  EXPECT_EQ(info.result, kResultOk);
  EXPECT_EQ(info.message, "\r\nD88形式(2HD) DISK A ほか2枚");
  EXPECT_EQ(info.title, "DISK A");
  EXPECT_NE(info.multi_disk, 0);

  const struct {
    const DiskSpec* spec;
    int result;
    std::string message;
    std::string title;
  } disks[] = {
      {&a, kResultMoreDisks, "\r\nディスク1/3: D88形式(2HD) DISK A", "DISK A"},
      {&b, kResultMoreDisks,
       "\r\nディスク2/3: D88形式(2DD) ゲーム B"
       "\r\nセクタ数がビッグエンディアンで記録されたトラックを読みました(160個)",
       "ゲーム B"},
      {&c, kResultOk,
       "\r\nディスク3/3: D88形式(2DD)"
       "\r\nディスクサイズ欄(18096バイト)がファイル上の大きさ(18112バイト)と違います",
       ""},
  };
  for (int d = 0; d < 3; ++d) {
    SCOPED_TRACE(d + 1);
    const CallResult r = reader_.ReadDisk(path, *image_, d + 1);
    EXPECT_EQ(r.result, disks[d].result);
    EXPECT_EQ(r.message, disks[d].message);
    EXPECT_EQ(r.title, disks[d].title);
    EXPECT_EQ(test::CompareDisks(*Expected(*disks[d].spec), *image_), "");
  }
  const CallResult past = reader_.ReadDisk(path, *image_, 4);
  EXPECT_EQ(past.result, kResultFailed);
  EXPECT_EQ(past.message, kMsgBadImageData);

  // A disk size that leads nowhere makes the rest part of the disk before.
  Bytes broken = file;
  WriteLe32(broken.data() + d88::kDiskSizeOffset, ReadLe32(file.data() + d88::kDiskSizeOffset) + 1);
  const CallResult one = reader_.GetFileInfo(Put(broken));
  EXPECT_EQ(one.message, "\r\nD88形式(2HD) DISK A");
  EXPECT_EQ(one.multi_disk, 0);
}

TEST_F(D88ReaderTest, RefusesWhatTheRecordCannotHoldAndDamagedTracks) {
  const struct {
    const char* name;
    void (*spoil)(DiskSpec&, Bytes&);
    int result;
    std::string_view message;
  } cases[] = {
      {"27 sectors on a track",
       [](DiskSpec& s, Bytes&) { Regular(s, 2, 8, 3), Regular(s, 1, 19, 0); }, kResultFailed,
       kMsgImageTooLarge},
      {"a sector of 8192 bytes",
       [](DiskSpec& s, Bytes&) { s.tracks[3].push_back({{1, 1, 1, 6, 0, 1}, Bytes(8192)}); },
       kResultFailed, kMsgImageTooLarge},
      {"N 0xFF", [](DiskSpec& s, Bytes&) { s.tracks[3].push_back({{1, 1, 1, 0xFF, 0, 1}, {}}); },
       kResultFailed, kMsgBadImageData},
      {"a sector on track 160",
       [](DiskSpec& s, Bytes&) { s.tracks[160].push_back({{80, 0, 1, 2, 0, 1}, Bytes(512)}); },
       kResultFailed, kMsgImageTooLarge},
      {"more data than the record holds", [](DiskSpec& s, Bytes&) { Regular(s, 160, 26, 3); },
       kResultFailed, kMsgImageTooLarge},
      {"a sector count with both bytes set",
       [](DiskSpec& s, Bytes& f) {
         Regular(s, 4, 8, 3);
         f = BuildDisk(s);
         WriteLe16(f.data() + ReadLe32(f.data() + d88::kTrackTableOffset + 8) + 4, 0x0808);
       },
       kResultFailed, kMsgBadImageData},
      {"a track's sectors run past the file",
       [](DiskSpec& s, Bytes& f) {
         Regular(s, 4, 8, 3);
         f = BuildDisk(s);
         f.resize(f.size() - 1);
       },
       kResultFailed, kMsgBadImageData},
      {"a track past the end of the file",
       [](DiskSpec& s, Bytes& f) {
         Regular(s, 4, 8, 3);
         s.size_delta = 100000;
         f = BuildDisk(s);
         WriteLe32(f.data() + d88::kTrackTableOffset + 4 * 10, static_cast<uint32_t>(f.size() + 10));
       },
       kResultFailed, kMsgBadImageData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DiskSpec spec;
    Regular(spec, 1, 8, 3);
    Bytes file;
    c.spoil(spec, file);
    if (file.empty()) file = BuildDisk(spec);
    const CallResult r = Read(file);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.message);
  }
  DiskSpec spec;
  Regular(spec, 2, 8, 3);
  const CallResult direct = reader_.ReadDirect(Put(BuildDisk(spec)), dir_ / "OUT");
  EXPECT_EQ(direct.result, kResultFailed);
  EXPECT_EQ(direct.message, kMsgUnsupportedConversion);
}

// Every prefix of a small file: a result code, never a crash or a text left
// unterminated.
TEST_F(D88ReaderTest, AnswersEveryTruncation) {
  DiskSpec spec;
  spec.name = "CUT";
  Regular(spec, 3, 4, 1);
  spec.tracks[1][2].data.resize(40);
  const Bytes file = BuildDisk(spec);
  test::ForEveryTruncation("d88_reader.dvr", file, [&](size_t length, const auto& a) {
    // The disk size field says where the disk ends; a shorter file reads
    // until a track leaves it.
    const bool whole = length == file.size();
    if (a.is_support == kResultOk) {
      ASSERT_EQ(a.file_info, kResultOk) << length;
      ASSERT_EQ(a.read_disk, whole ? kResultOk : kResultFailed) << length;
    } else {
      ASSERT_EQ(a.is_support, kResultNotMine) << length;
    }
    ASSERT_EQ(a.is_support == kResultOk, length >= d88::kHeaderSize + 16 + 256) << length;
  });
}

// A disk through the writer and back is the same disk, slot for slot: the
// order of each track, every ID and flag, and the name.
TEST_F(D88ReaderTest, GivesBackWhatTheWriterWrote) {
  const auto writer = test::LoadBuiltPlugin("d88_writer.dvw");
  std::vector<test::DiskShape> shapes = test::StandardShapes();
  shapes.push_back({"1M26", 154, 26, 1});
  for (const test::DiskShape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    auto disk = test::NewDiskImage();
    test::BuildDisk(*disk, shape, 3, "\x83\x51\x81\x5B\x83\x80");
    test::InterleaveRows(*disk);
    disk->ids[2][1].deleted = 1;
    ASSERT_EQ(writer.WriteDisk(*disk, dir_ / "RT.D88").result, kResultOk);
    const CallResult r = reader_.ReadDisk(dir_ / "RT.D88", *image_);
    ASSERT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(test::CompareDisks(*disk, *image_), "");
    EXPECT_EQ(std::string(image_->title), disk->title);
    EXPECT_EQ(image_->sectors_per_track, disk->sectors_per_track);
    EXPECT_EQ(image_->size_code, disk->size_code);
  }
}

// Three disks of one file through dravik-cli: GAME_01, GAME_02 and GAME_03
// in every image format.
TEST_F(D88ReaderTest, ConvertsEachDiskOfAFileThroughTheCommandLine) {
  const auto writer = test::LoadBuiltPlugin("d88_writer.dvw");
  std::vector<std::unique_ptr<DiskImage>> disks;
  Bytes file;
  for (const char* shape : {"1.25M", "720K", "640K"}) {
    disks.push_back(test::NewDiskImage());
    test::BuildDisk(*disks.back(), test::ShapeNamed(shape), 31, shape);
    auto copy = test::NewDiskImage();
    std::memcpy(copy.get(), disks.back().get(), sizeof(DiskImage));
    ASSERT_EQ(writer.WriteDisk(*copy, dir_ / "ONE.D88").result, kResultOk);
    const std::string one = test::ReadFile(dir_ / "ONE.D88");
    file.insert(file.end(), one.begin(), one.end());
  }
  test::ExpectCliConvertsToImages(Put(file, "GAME.D88"),
                                  {disks[0].get(), disks[1].get(), disks[2].get()});
}

// floptool reads the files built here as this reader does.
TEST_F(D88ReaderTest, FloptoolReadsTheSameSectors) {
  if (!test::HaveTool("floptool")) GTEST_SKIP() << "floptool (mame-tools) not installed";
  DiskSpec spec;
  Regular(spec, 154, 8, 3);
  for (int t = 0; t < 154; ++t) std::swap(spec.tracks[t][1], spec.tracks[t][6]);
  const std::string path = Put(BuildDisk(spec));
  const auto run = test::RunCommand("floptool flopconvert d88 pc98 " + test::ShellQuote(path) +
                                    " " + test::ShellQuote(dir_ / "DISK.RAW"));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(reader_.ReadDisk(path, *image_).result, kResultOk);
  const std::string raw = test::ReadFile(dir_ / "DISK.RAW");
  EXPECT_TRUE(test::RawBytes(*image_) == Bytes(raw.begin(), raw.end()));
}

}  // namespace
}  // namespace dravik
