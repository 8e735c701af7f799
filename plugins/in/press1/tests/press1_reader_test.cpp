// The Press1 reader on files built here from generated disks: every disk
// type, one and several records, cylinders stored raw, compressed and as a
// fill byte; what it refuses and with which message; and conversions
// through dravik-cli.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "byte_order.h"
#include "disk_builder.h"
#include "press1_file.h"
#include "scratch_program.h"
#include "test_support.h"

namespace dravik {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kBadData = "\r\nイメージデータが異常です";
const std::string kGame = "\x83\x51\x81\x5B\x83\x80";  // "ゲーム" in Shift-JIS

struct DiskType {
  const char* label;
  uint8_t type;
  uint8_t sub_type;
  test::DiskShape shape;
  bool diskbasic = false;
};

const DiskType kTypes[] = {
    {"\r\n(N88DISK-BASIC 1MB)", 1, 0x5A, test::ShapeNamed("mixed2HD"), true},
    {"\r\n(1.44M)", 2, 18, test::ShapeNamed("1.44M")},
    {"\r\n(640KB)", 2, 8, test::ShapeNamed("640K")},
    {"\r\n(N88DISK-BASIC 640KB)", 2, 2, {"640K 26x256", 160, 26, 1}},
    {"\r\n(1.25M)", 4, 0x12, test::ShapeNamed("1.25M")},
    {"\r\n(GAME)", 0x31, 0, test::ShapeNamed("1.25M")},
};

using test::CylinderSpan;
using test::Press1Record;

// A Press1 file of the records, under a title of its own.
test::Bytes FileOf(const std::vector<Press1Record>& records,
                   const std::string& title = "FILE " + kGame) {
  return test::Press1File(records, title);
}

// Every eighth cylinder compressed, every eighth (made uniform) a fill
// byte, the others raw; the last one raw, which on a 1.44M disk makes the
// largest block a record holds.
uint8_t MixedStorage(int c, int cylinders) {
  if (c == cylinders - 1) return 0;
  return c % 8 == 0 ? 1 : c % 8 == 2 ? 3 : 0;
}

// A generated disk of the type, with the cylinders that MixedStorage keeps
// as a fill byte made uniform, and half of each compressed one text, which
// gives the compressor matches to find.
void BuildTypeDisk(DiskImage& disk, const DiskType& type, uint32_t seed, const std::string& title) {
  test::BuildDisk(disk, type.shape, seed, title);
  const int cylinders = type.shape.tracks / 2;
  const std::string text = "10 PRINT \"" + std::to_string(seed) + " DISK\"\r\n20 GOTO 10\r\n";
  for (int c = 0; c < cylinders; ++c) {
    const auto [offset, length] = CylinderSpan(disk, c);
    if (MixedStorage(c, cylinders) == 3) std::memset(disk.data + offset, c == 2 ? 0xE5 : c, length);
    if (MixedStorage(c, cylinders) != 1) continue;
    for (size_t i = length / 2; i < length; ++i)
      disk.data[offset + i] = text[(i + c) % text.size()];
  }
}

Press1Record MixedRecord(const DiskImage& disk, const DiskType& type, const std::string& comment) {
  const int cylinders = type.shape.tracks / 2;
  return {&disk, type.type, type.sub_type, comment,
          [cylinders](int c) { return MixedStorage(c, cylinders); }};
}

std::unique_ptr<DiskImage> Expected(const DiskImage& disk, const DiskType& type) {
  auto expected = test::NewDiskImage();
  std::memcpy(expected.get(), &disk, sizeof(DiskImage));
  if (type.diskbasic) test::InterleaveRows(*expected);
  return expected;
}

class Press1ReaderTest : public ::testing::Test {
 protected:
  // Reads disk `number` of a file of these bytes.
  test::CallResult Read(const Bytes& bytes, int number = 1) {
    test::WriteFile(path_, bytes);
    return reader_.ReadDisk(path_, *image_, number);
  }
  // Result 8 with this message.
  void ExpectRefused(const Bytes& bytes, const std::string& message, int number = 1) {
    const auto read = Read(bytes, number);
    EXPECT_EQ(read.result, 8);
    EXPECT_EQ(read.message, message);
  }

  test::LoadedPlugin reader_ = test::LoadBuiltPlugin("press1_reader.dvr");
  test::TempDir dir_;
  const std::string path_ = dir_ / "disk.p1";
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

TEST_F(Press1ReaderTest, ReadsEveryDiskTypeStoredEveryWay) {
  auto disk = test::NewDiskImage();
  for (const DiskType& type : kTypes) {
    SCOPED_TRACE(type.label);
    const std::string comment = kGame + " " + type.shape.name;
    BuildTypeDisk(*disk, type, type.type * 7 + type.sub_type, comment);
    test::WriteFile(path_, FileOf({MixedRecord(*disk, type, comment)}));

    EXPECT_EQ(reader_.IsSupport(path_).result, 0);
    const auto info = reader_.GetFileInfo(path_);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.message, "\r\nPress1形式(1 DISK)\r\nFILE ゲーム");
    EXPECT_EQ(info.title, "FILE ゲーム");
    EXPECT_EQ(info.multi_disk, 0);

    const auto read = reader_.ReadDisk(path_, *image_);
    ASSERT_EQ(read.result, 0) << read.message;
    const auto expected = Expected(*disk, type);
    EXPECT_EQ(test::CompareDisks(*expected, *image_), "");
    // Geometry, title and every ID slot, those past the disk included.
    EXPECT_EQ(std::memcmp(expected.get(), image_.get(), kDebugDumpSize), 0);
    EXPECT_EQ(read.title, "ゲーム " + std::string(type.shape.name));
    const int cylinders = type.shape.tracks / 2;
    ASSERT_EQ(read.progress.size(), static_cast<size_t>(cylinders));
    EXPECT_EQ(read.progress.back().done, cylinders - 1);
    EXPECT_EQ(read.progress.back().total, cylinders);
    EXPECT_EQ(read.progress[0].text, type.label + read.title);
    if (type.diskbasic) {
      // FM row 0 of 128-byte sectors; every row 2:1 interleaved.
      EXPECT_EQ(test::IdText(image_->ids[0][1]), "0 0 14 0 0 0");
      EXPECT_EQ(test::IdText(image_->ids[153][25]), "76 1 26 1 0 1");
    }
  }
}

// Disk n skips n - 1 records; 9 says that another follows. The disk number
// counts in 16 bits, and anything below 2 is the first disk.
TEST_F(Press1ReaderTest, ReadsEachRecordOfAFileInTurn) {
  const int type_of[] = {4, 0, 2};
  std::vector<std::unique_ptr<DiskImage>> disks;
  std::vector<Press1Record> records;
  for (const int t : type_of) {
    disks.push_back(test::NewDiskImage());
    // The last comment fills its field, with no NUL.
    const std::string comment = t == 2 ? std::string(80, 'C') : "disk " + std::to_string(t);
    BuildTypeDisk(*disks.back(), kTypes[t], 30 + t, comment);
    records.push_back(MixedRecord(*disks.back(), kTypes[t], comment));
  }
  test::WriteFile(path_, FileOf(records, std::string(80, 'T')));
  const auto info = reader_.GetFileInfo(path_);
  EXPECT_EQ(info.message, "\r\nPress1形式(複数DISK)\r\n" + std::string(80, 'T'));
  EXPECT_EQ(info.multi_disk, 1);

  const std::pair<int, int> reads[] = {{1, 0},  {2, 1},       {3, 2},         {0, 0},
                                       {-3, 0}, {0x10002, 1}, {0x7FFF0001, 0}};
  for (const auto& [number, record] : reads) {
    SCOPED_TRACE(number);
    const auto read = reader_.ReadDisk(path_, *image_, number);
    EXPECT_EQ(read.result, record == 2 ? 0 : 9);
    const auto expected = Expected(*disks[record], kTypes[type_of[record]]);
    EXPECT_EQ(test::CompareDisks(*expected, *image_), "");
    EXPECT_EQ(std::memcmp(expected.get(), image_.get(), kDebugDumpSize), 0);
  }
  EXPECT_EQ(reader_.ReadDisk(path_, *image_, 4).result, 6);
}

TEST_F(Press1ReaderTest, RefusesWhatNoRecordCanHold) {
  auto disk = test::NewDiskImage();
  const DiskType& small = kTypes[2];  // 640K: 80 cylinders of 8 x 512 x 2
  BuildTypeDisk(*disk, small, 5, "");
  auto raw = [](int) -> uint8_t { return 0; };
  const Bytes good = FileOf({{disk.get(), small.type, small.sub_type, "", raw}});
  ASSERT_EQ(Read(good).result, 0);
  const size_t table = good.size() - 4 * 80;  // in the file
  auto offset = [&](int c) { return ReadLe32(good.data() + table + 4 * c); };
  auto with = [&](std::function<void(Bytes&)> change) {
    Bytes bytes = good;
    change(bytes);
    return bytes;
  };
  auto spoiled = [&](std::function<uint8_t(int)> storage, std::function<void(int, Bytes&)> spoil) {
    return FileOf({{disk.get(), small.type, small.sub_type, "", storage, spoil}});
  };
  const struct {
    const char* name;
    Bytes bytes;
    std::string message;
  } cases[] = {
      {"disk type 3", with([](Bytes& b) { b[94 + 87] = 3; }), "\r\n未対応の形式です"},
      {"type 2, sub-type 9", with([](Bytes& b) { b[94 + 99] = 9; }), "\r\n未対応の形式です"},
      {"storage type 2", spoiled(raw, [](int c, Bytes& b) { b[4] = c == 5 ? 2 : 0; }),
       "\r\nトラックデータ格納方式エラー"},
      // The design read these as stale bytes of the cylinder before.
      {"raw block one byte short",
       spoiled(raw, [](int c, Bytes& b) { b.resize(b.size() - (c == 9)); }), kBadData},
      {"fill block without its byte",
       spoiled([](int c) -> uint8_t { return c == 9 ? 3 : 0; },
               [](int c, Bytes& b) { b.resize(c == 9 ? 5 : b.size()); }),
       kBadData},
      {"block shorter than its header",
       spoiled(raw, [](int c, Bytes& b) { b.resize(c == 9 ? 4 : b.size()); }), kBadData},
      {"block longer than the work area",
       spoiled(raw, [](int c, Bytes& b) { b.resize(c == 9 ? 5 + 18689 : b.size()); }), kBadData},
      {"offsets not increasing",
       with([&](Bytes& b) { WriteLe32(b.data() + table + 4 * 10, offset(9)); }), kBadData},
      {"offsets decreasing",
       with([&](Bytes& b) { WriteLe32(b.data() + table + 4 * 10, offset(8)); }), kBadData},
      {"first block inside the record header",
       with([&](Bytes& b) { WriteLe32(b.data() + table, 116); }), kBadData},
      {"last block inside the offset table", with([&](Bytes& b) {
         WriteLe32(b.data() + table + 4 * 79, static_cast<uint32_t>(table - 94 + 4));
       }),
       kBadData},
      {"last block past the record",
       with([&](Bytes& b) { WriteLe32(b.data() + table + 4 * 79, 0xFFFFFFF0); }), kBadData},
      {"record longer than the file", with([&](Bytes& b) {
         WriteLe32(b.data() + 94, static_cast<uint32_t>(good.size() - 94 + 1));
       }),
       kBadData},
      {"record too short for its offset table",
       with([&](Bytes& b) { WriteLe32(b.data() + 94, 117 + 4 * 80 - 1); }), kBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(c.bytes, c.message);
  }
  // A raw block may be longer than its cylinder, up to the work area's
  // size; only the cylinder counts.
  for (const size_t data_length : {size_t{8192 + 100}, size_t{18688}}) {
    ASSERT_EQ(Read(spoiled(raw, [&](int, Bytes& b) { b.resize(5 + data_length, 0x77); })).result,
              0);
    EXPECT_EQ(test::CompareDisks(*disk, *image_), "");
  }

  // A record in front of the one asked for must fit too; GetFileInfo
  // checks the first.
  Bytes two = FileOf({{disk.get(), small.type, small.sub_type, "", raw},
                      {disk.get(), small.type, small.sub_type, "", raw}});
  ASSERT_EQ(Read(two, 2).result, 0);
  WriteLe32(two.data() + 94, 100);
  ExpectRefused(two, kBadData, 2);
  WriteLe32(two.data() + 94, static_cast<uint32_t>(two.size()));
  ExpectRefused(two, kBadData, 2);
  EXPECT_EQ(reader_.GetFileInfo(path_).message, kBadData);
}

// Every prefix of a small file, down to nothing: no call reads or writes
// out of bounds; a file cut inside its records is refused, never read.
TEST_F(Press1ReaderTest, AnswersEveryTruncationOfAFile) {
  auto disk = test::NewDiskImage();
  const DiskType& small = kTypes[2];
  test::BuildDisk(*disk, small.shape, 1, "");
  std::memset(disk->data, 0xE5, test::RawBytes(*disk).size());
  const Bytes file = FileOf({{disk.get(), small.type, small.sub_type, "T",
                              [](int c) -> uint8_t { return c < 76 ? 3 : 1; }}});
  test::ForEveryTruncation("press1_reader.dvr", file, [&](size_t length, const auto& answers) {
    EXPECT_EQ(answers.is_support, length < 94 ? 2 : 0) << length;
    const int expected = length == file.size() ? 0 : length < 94 + 117 ? 6 : 8;
    EXPECT_EQ(answers.file_info, expected) << length;
    EXPECT_EQ(answers.read_disk, expected) << length;
  });
}

TEST_F(Press1ReaderTest, TellsItsFilesByTheirHeader) {
  Bytes header(94, 0);
  std::memcpy(header.data(), "FICT", 4);
  header[13] = 'P';
  const std::pair<Bytes, int> cases[] = {
      {header, 0},
      {Bytes(header.begin(), header.end() - 1), 2},
      {[&] {
         Bytes b = header;
         b[13] = 'Q';
         return b;
       }(),
       2},
      {[&] {
         Bytes b = header;
         b[0] = 'f';
         return b;
       }(),
       2},
  };
  for (const auto& [bytes, result] : cases) {
    test::WriteFile(path_, bytes);
    EXPECT_EQ(reader_.IsSupport(path_).result, result);
  }
  EXPECT_EQ(reader_.IsSupport(dir_ / "missing").result, 6);
}

TEST_F(Press1ReaderTest, RefusesDirectModeAndMissingFilesAndStopsWhenAborted) {
  auto disk = test::NewDiskImage();
  BuildTypeDisk(*disk, kTypes[4], 3, "");
  test::WriteFile(path_, FileOf({MixedRecord(*disk, kTypes[4], "")}));
  const auto aborted = reader_.ReadDisk(path_, *image_, 1, 3);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 3u);

  for (const std::string& source : {path_, dir_ / "missing"}) {
    const auto direct = reader_.ReadDirect(source, dir_ / "out.img");
    EXPECT_EQ(direct.result, 8);
    EXPECT_EQ(direct.message, "\r\n未対応の変換です。");
  }
  EXPECT_FALSE(test::FileExists(dir_ / "out.img"));
  const auto info = reader_.GetFileInfo(dir_ / "missing");
  const auto read = reader_.ReadDisk(dir_ / "missing", *image_);
  EXPECT_EQ(info.result, 8);
  EXPECT_EQ(read.result, 8);
  const std::string open_error =
      "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "missing" + ": No such file or directory";
  EXPECT_EQ(info.message, open_error);
  EXPECT_EQ(read.message, open_error);
}

// A file of two disks through dravik-cli: two raw sector dumps (BKDSK),
// numbered, each the generated disk's bytes; and an FDI of the first that
// MAME's floptool reads back as the same sectors.
TEST(Press1Cli, ConvertsEachDiskOfAFile) {
  test::ScratchProgram program;
  program.AddCli();
  for (const char* plugin : {"press1_reader.dvr", "bkdsk_writer.dvw", "fdi_writer.dvw"}) {
    program.AddBuiltPlugin(plugin);
  }
  test::TempDir work;
  auto first = test::NewDiskImage();
  auto second = test::NewDiskImage();
  BuildTypeDisk(*first, kTypes[4], 11, kGame);
  BuildTypeDisk(*second, kTypes[1], 12, "");
  const std::string source = work / "ゲーム.P1";
  test::WriteFile(
      source, FileOf({MixedRecord(*first, kTypes[4], kGame), MixedRecord(*second, kTypes[1], "")}));
  const auto run = program.RunCli("-t BKDSK " + test::ShellQuote(source));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Press1形式(複数DISK)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("(1.25M)ゲーム"), std::string::npos) << run.out;
  const Bytes first_raw = test::RawBytes(*first);
  const Bytes second_raw = test::RawBytes(*second);
  EXPECT_TRUE(test::ReadFile(work / "ゲーム_01.HDM") ==
              std::string(first_raw.begin(), first_raw.end()));
  EXPECT_TRUE(test::ReadFile(work / "ゲーム_02.HD4") ==
              std::string(second_raw.begin(), second_raw.end()));

  ASSERT_EQ(program.RunCli("-t FDI " + test::ShellQuote(source)).status, 0);
  ASSERT_TRUE(test::HaveTool("floptool")) << "mame-tools needed";
  const auto back = test::RunCommand("floptool flopconvert pc98_fdi pc98 " +
                                     test::ShellQuote(work / "ゲーム_01.FDI") + " " +
                                     test::ShellQuote(work / "back.img") + " 2>&1");
  ASSERT_EQ(back.status, 0) << back.out;
  EXPECT_TRUE(test::ReadFile(work / "back.img") == std::string(first_raw.begin(), first_raw.end()));
}

}  // namespace
}  // namespace dravik
