// The MAHALITO reader: pairs of an ID file and a ".dat" file, made here from
// generated disks, read back by the plug-in and converted through dravik-cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disk_builder.h"
#include "mahalito_pair.h"
#include "scratch_program.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::ShellQuote;

const std::string& kSig2hd = test::kMahalitoSig2hd;
const std::string& kSig2dd = test::kMahalitoSig2dd;
const std::string& kSigRange = test::kMahalitoSigRange;
const std::string kSkipped = "\r\n...スキップします。";
const std::string kNoDataFile = "\r\nMAHALITOデータファイルが開けません";
const std::string kBadData = "\r\nイメージデータが異常です";
const std::string kTooLarge = "\r\nイメージが大きすぎます";

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

// The pairs themselves are laid out by the shared test builder.
std::string Record(bool fill, int fill_byte, int c, int h, int r, int n, int deleted = 0) {
  return test::MahalitoRecord(fill, fill_byte, c, h, r, n, deleted);
}
using Pair = test::MahalitoPair;
Pair Encode(const DiskImage& disk, const std::string& header) {
  return test::MahalitoFiles(disk, header);
}

// A generated disk with what the format carries beyond plain data: every
// third sector one repeated byte, and a deleted-data mark.
std::unique_ptr<DiskImage> SampleDisk(const test::DiskShape& shape, uint32_t seed) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, shape, seed);
  size_t cursor = 0;
  int k = 0;
  for (int t = 0; t < shape.tracks; ++t) {
    for (const SectorId& id : disk->ids[t]) {
      if (IsEmptySlot(&id)) continue;
      if (k++ % 3 == 0) std::memset(disk->data + cursor, 0xE5, SectorLength(id.n));
      cursor += SectorLength(id.n);
    }
  }
  disk->ids[3][1].deleted = 1;
  return disk;
}

struct Version {
  std::string name;       // of the ID file
  test::DiskShape shape;
  std::string header;     // signature and cylinders
  std::string description;
  std::string output;     // what the BKDSK writer names the result
};

// Each signature with a disk of its kind. The v1.20 header stores a
// cylinder range, here ones that do not start at 0. The mixed-density disks
// hold FM sectors of 128 bytes on track 0, so the nominal geometry must come
// from track 1.
std::vector<Version> Versions() {
  return {
      {"GAME.2HD", test::ShapeNamed("1.25M"), kSig2hd + Byte(77), "\r\nMAHALITO(2HD)形式",
       "GAME.HDM"},
      {"GAME.2DD", test::ShapeNamed("640K"), kSig2dd + Byte(80), "\r\nMAHALITO(2DD)形式",
       "GAME.DD6"},
      {"GAME.2HD", test::ShapeNamed("mixed2HD"), kSigRange + Byte(3) + Byte(80),
       "\r\nMAHALITO(v1.20)形式", "GAME.HDB"},
      {"GAME.2HD", {"fm0", 154, 8, 3, true}, kSigRange + Byte(1) + Byte(78),
       "\r\nMAHALITO(v1.20)形式", ""},
  };
}

class MahalitoTest : public ::testing::Test {
 protected:
  // Writes the pair as dir_/name and dir_/data_name.
  void WritePair(const Pair& pair, const std::string& name = "GAME.2HD",
                 const std::string& data_name = "GAME.dat") {
    test::WriteFile(dir_ / name, pair.id);
    test::WriteFile(dir_ / data_name, pair.dat);
  }
  test::CallResult Read(const std::string& name = "GAME.2HD", int abort_at = 0) {
    return reader_.ReadDisk(dir_ / name, *image_, 1, abort_at);
  }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("mahalito_reader.dvr");
  test::TempDir dir_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(MahalitoTest, ReadsEachVersionWithFillSectorsAndFlags) {
  bool upper = false;
  for (const Version& v : Versions()) {
    SCOPED_TRACE(v.shape.name);
    const auto disk = SampleDisk(v.shape, 5);
    const Pair pair = Encode(*disk, v.header);
    // The data file is found whatever the case of its name.
    WritePair(pair, v.name, (upper = !upper) ? "GAME.DAT" : "GAME.dat");
    EXPECT_EQ(reader_.IsSupport(dir_ / v.name).result, 0);
    const auto info = reader_.GetFileInfo(dir_ / v.name);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.message, v.description);

    const auto read = Read(v.name);
    ASSERT_EQ(read.result, 0) << read.message;
    EXPECT_EQ(read.message + read.title + image_->title, "");
    EXPECT_EQ(test::CompareDisks(*disk, *image_), "");
    EXPECT_EQ(image_->sectors_per_track, v.shape.sectors);
    EXPECT_EQ(image_->size_code, v.shape.size_code);
    EXPECT_EQ(image_->head_count, 2);
    EXPECT_EQ(image_->ids[3][1].deleted, 1);
    EXPECT_EQ(image_->ids[0][0].mfm, v.shape.fm_track0 ? 0 : 1);
    if (v.shape.tracks < kMaxTracks) {
      EXPECT_TRUE(IsEmptySlot(&image_->ids[v.shape.tracks][0]));
    }
    ASSERT_EQ(read.progress.size(), 160u);
    EXPECT_EQ(read.progress[159].done, 159);
    EXPECT_EQ(read.progress[159].total, 160);
    test::RunCommand("rm -f " + ShellQuote(dir_.path()) + "GAME.*");
  }
}

TEST_F(MahalitoTest, RecognisesIdFilesAndClaimsOnlyTheDataHalfOfAPair) {
  const std::string body(64, '\0');
  const std::string mixture = "2DD 1.10  ";  // each position from one signature
  for (const std::string& head : {kSig2hd, kSig2dd, kSigRange, mixture}) {
    test::WriteFile(dir_ / "id.img", head + body);
    EXPECT_EQ(reader_.IsSupport(dir_ / "id.img").result, 0) << head;
  }
  const auto mixed = reader_.GetFileInfo(dir_ / "id.img");
  EXPECT_EQ(mixed.result, 8);
  EXPECT_EQ(mixed.message, "");
  test::WriteFile(dir_ / "short.img", kSig2hd);
  EXPECT_EQ(reader_.IsSupport(dir_ / "short.img").result, 2);
  EXPECT_EQ(reader_.GetFileInfo(dir_ / "short.img").result, 6);
  test::WriteFile(dir_ / "foreign.img", "ver 2.00  " + body);
  EXPECT_EQ(reader_.IsSupport(dir_ / "foreign.img").result, 2);

  const std::string id_file = kSig2hd + Byte(0);
  const std::string raw_image(1261568, '\xE5');
  struct Case {
    std::vector<std::pair<std::string, std::string>> files;
    std::string dropped;
    int result;
  };
  const Case cases[] = {
      {{{"A.2hd", id_file}, {"A.DAT", body}}, "A.DAT", 10},
      {{{"B.2DD", id_file}, {"b.dat", body}}, "b.dat", 10},
      {{{"C.2HD", id_file}, {"c.Dat", body}}, "c.Dat", 10},
      {{{"D.DAT", body}}, "D.DAT", 2},
      // A raw image named like an ID file does not make a pair.
      {{{"E.2HD", raw_image}, {"E.DAT", body}}, "E.DAT", 2},
      {{{"F.2HD", raw_image}, {"F.2DD", id_file}, {"F.DAT", body}}, "F.DAT", 10},
      {{{"G.2hd", id_file}, {"G.dat", body}, {"G.BIN", body}}, "G.BIN", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dropped);
    test::TempDir dir;
    for (const auto& [name, bytes] : c.files) test::WriteFile(dir / name, bytes);
    const auto r = reader_.IsSupport(dir / c.dropped);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, c.result == 10 ? kSkipped : "");
  }

  for (const std::string& path : {dir_ / "missing.2hd", dir_.path()}) {
    EXPECT_EQ(reader_.IsSupport(path).result, 6) << path;
  }
}

// Hand-made ID files for the bounds: each case is refused with its message,
// or read when it lies just inside them.
TEST_F(MahalitoTest, RefusesWhatTheRecordCannotHoldAndReadsUpToItsLimits) {
  const std::string empty_track = Byte(0) + Byte(1);
  auto tracks = [&](int n, const std::string& track) {
    std::string all;
    for (int i = 0; i < n; ++i) all += track;
    return all;
  };
  // 26 fill sectors of 512 bytes: 160 such tracks fill the record exactly.
  std::string full_track = Byte(26) + Byte(1);
  for (int s = 0; s < 26; ++s) full_track += Record(true, 0xE5, 0, 0, s + 1, 2);
  std::string larger_track = Byte(26) + Byte(1);
  for (int s = 0; s < 26; ++s) larger_track += Record(true, 0xE5, 0, 0, s + 1, s == 25 ? 3 : 2);
  struct Case {
    std::string name;
    std::string id;
    int result;
    std::string message;
    int track_count = 0;
  };
  const Case cases[] = {
      {"81 cylinders", kSig2hd + Byte(81) + tracks(162, empty_track), 8, kTooLarge},
      // 2 x 128 is 0 when kept to 8 bits: an empty disk instead of a refusal.
      {"128 cylinders", kSig2hd + Byte(128) + tracks(256, empty_track), 8, kTooLarge},
      {"range of 130", kSigRange + Byte(0) + Byte(130) + tracks(260, empty_track), 8, kTooLarge},
      {"range backwards", kSigRange + Byte(5) + Byte(4) + tracks(2, empty_track), 8, kBadData},
      {"27 sectors", kSig2hd + Byte(1) + Byte(27) + Byte(1) + tracks(27, Record(true, 0, 0, 0, 1, 0)),
       8, kBadData},
      {"N of 6", kSig2hd + Byte(1) + Byte(1) + Byte(1) + Record(true, 0, 0, 0, 1, 6) + empty_track,
       8, kBadData},
      {"one sector over the record", kSig2hd + Byte(80) + tracks(159, full_track) + larger_track, 8,
       kTooLarge},
      {"a full record", kSig2hd + Byte(80) + tracks(160, full_track), 0, "", 160},
      {"range of 80", kSigRange + Byte(3) + Byte(83) + tracks(160, empty_track), 0, "", 160},
      {"no cylinders", kSig2dd + Byte(0), 0, "", 0},
  };
  test::WriteFile(dir_ / "GAME.dat", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(dir_ / "GAME.2HD", c.id);
    const auto read = Read();
    EXPECT_EQ(read.result, c.result);
    EXPECT_EQ(read.message, c.message);
    if (c.result == 0) {
      EXPECT_EQ(image_->track_count, c.track_count);
    }
  }
}

// Records the layout allows but no consumer could take as they stand.
TEST_F(MahalitoTest, DropsSectorsMarkedEmptyAndCountsOnlyUsedSlots) {
  const std::string a(256, 'a'), x(256, 'x'), b(256, 'b'), c(512, 'c');
  std::string id = kSig2hd + Byte(2);
  id += Byte(1) + Byte(1) + Record(false, 0, 0, 0, 1, 1);
  // Track 1: a stored sector whose C is 0xFF between two others.
  id += Byte(3) + Byte(0) + Record(false, 0, 0, 1, 1, 1) + Record(false, 0, 0xFF, 1, 2, 1) +
        Record(true, 0x4E, 0, 1, 3, 1, 1);
  // Track 2: a negative count is no sector at all.
  id += Byte(0xF0) + Byte(1);
  id += Byte(1) + Byte(1) + Record(false, 0, 1, 1, 1, 2);
  WritePair({id, a + b + x + c});
  const auto read = Read();
  ASSERT_EQ(read.result, 0) << read.message;

  auto expected = test::NewDiskImage();
  std::memset(expected->ids, 0xFF, sizeof(expected->ids));
  expected->track_count = 4;
  expected->ids[0][0] = {0, 0, 1, 1, 0, 1};
  expected->ids[1][0] = {0, 1, 1, 1, 0, 0};
  expected->ids[1][2] = {0, 1, 3, 1, 1, 0};
  expected->ids[3][0] = {1, 1, 1, 2, 0, 1};
  const std::string data = a + b + std::string(256, 0x4E) + c;
  std::memcpy(expected->data, data.data(), data.size());
  EXPECT_EQ(test::CompareDisks(*expected, *image_), "");
  EXPECT_EQ(std::memcmp(image_->ids, expected->ids, sizeof(expected->ids)), 0);
  EXPECT_EQ(image_->sectors_per_track, 2);
  EXPECT_EQ(image_->size_code, 1);

  // A negative count on track 1 gives no sectors, not a raw -16.
  std::string negative = kSig2hd + Byte(1) + Byte(1) + Byte(1) + Record(true, 0, 0, 0, 1, 3) +
                         Byte(0x80) + Byte(1);
  WritePair({negative, ""});
  ASSERT_EQ(Read().result, 0);
  EXPECT_EQ(image_->sectors_per_track, 0);
  EXPECT_EQ(image_->size_code, 0);
}

TEST_F(MahalitoTest, ShortFilesMissingPartnersDirectModeAndAbort) {
  const auto disk = SampleDisk(test::ShapeNamed("640K"), 9);
  const Pair pair = Encode(*disk, kSig2dd + Byte(80));
  WritePair(pair);
  ASSERT_EQ(Read().result, 0);

  const auto aborted = Read("GAME.2HD", 3);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 3u);
  const auto direct = reader_.ReadDirect(dir_ / "GAME.2HD", dir_ / "OUT.FDD");
  EXPECT_EQ(direct.result, 8);
  EXPECT_EQ(direct.message, "\r\n未対応の変換です。");

  // Every cut of the ID file inside its header or records, and of the data.
  for (size_t cut : {size_t{0}, size_t{10}, size_t{11}, size_t{12}, size_t{19}, pair.id.size() - 1}) {
    test::WriteFile(dir_ / "GAME.2HD", pair.id.substr(0, cut));
    EXPECT_EQ(Read().result, 6) << cut;
  }
  test::WriteFile(dir_ / "GAME.2HD", pair.id);
  test::WriteFile(dir_ / "GAME.dat", pair.dat.substr(0, pair.dat.size() - 1));
  EXPECT_EQ(Read().result, 6);

  std::remove((dir_ / "GAME.dat").c_str());
  const auto no_data = Read();
  EXPECT_EQ(no_data.result, 8);
  EXPECT_EQ(no_data.message, kNoDataFile);
  const auto no_id = Read("NONE.2HD");
  EXPECT_EQ(no_id.result, 8);
  EXPECT_EQ(no_id.message,
            "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "NONE.2HD" + ": No such file or directory");
}

// Dropping both halves of each pair at once: the ID file converts, the data
// file is skipped with result 10 and the batch goes on. The BKDSK output is
// a plain sector dump, so it is checked against the disk's raw bytes.
TEST(MahalitoCli, ConvertsEachPairAndSkipsItsDataFile) {
  test::ScratchProgram program;
  program.AddCli();
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.ends_with(".dvr") || name.ends_with(".dvw")) program.AddBuiltPlugin(name);
  }
  test::TempDir work;
  std::string files;
  std::string expected_log;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> outputs;
  int i = 0;
  for (const Version& v : Versions()) {
    if (v.output.empty()) continue;  // no BKDSK shape
    const std::string folder = work / std::to_string(i++);
    test::RunCommand("mkdir " + ShellQuote(folder));
    const auto disk = SampleDisk(v.shape, 11);
    const Pair pair = Encode(*disk, v.header);
    test::WriteFile(folder + "/" + v.name, pair.id);
    test::WriteFile(folder + "/GAME.DAT", pair.dat);
    files += " " + ShellQuote(folder + "/" + v.name) + " " + ShellQuote(folder + "/GAME.DAT");
    expected_log += "\n\n---------   " + v.name + "   ----------" + v.description.substr(1) +
                    "\n...変換完了\n\n---------   GAME.DAT   ----------\n...スキップします。";
    outputs.emplace_back(folder + "/" + v.output, test::RawBytes(*disk));
  }
  test::TempDir tmp;
  const auto r = program.RunCli("-t bkdsk" + files, "TMPDIR=" + ShellQuote(tmp.path()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected_log + "\n");
  for (const auto& [path, raw] : outputs) {
    EXPECT_TRUE(test::ReadFile(path) == std::string(raw.begin(), raw.end())) << path;
  }
}

}  // namespace
}  // namespace dravik
