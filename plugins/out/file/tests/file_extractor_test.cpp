// The FILE extractor on disks built byte by byte: the layouts it reads, the
// entries it passes over, and damaged or hostile disks, which must end with
// a message and leave nothing outside the output folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "byte_order.h"
#include "extract_support.h"
#include "test_support.h"

namespace dravik {
namespace {

using Tree = std::map<std::string, std::string>;
using test::FatBuilder;
using test::Pattern;

const std::string kNothingFound = "\r\n出力可能なファイルは見つかりませんでした";
const std::string kBadData = "\r\nイメージデータが異常です";

class FileExtractorTest : public ::testing::Test {
 protected:
  // Extracts the image into work_/DISK, as the driver names it for a source
  // work_/DISK.IMG.
  test::CallResult Extract(int abort_at = 0) {
    return plugin_.WriteDisk(*image_, work_ / "DISK.", 0, abort_at);
  }
  test::CallResult Extract(const FatBuilder& fat, int abort_at = 0) {
    fat.Load(*image_);
    return Extract(abort_at);
  }
  Tree Output() { return test::ReadTree(work_ / "DISK"); }
  // Everything in the scratch folder lies in the output folder, or was put
  // there by the test (named in also).
  void ExpectNothingOutside(const std::vector<std::string>& also = {}) {
    for (const auto& [path, content] : test::ReadTree(work_.path())) {
      const bool inside = path.rfind("DISK/", 0) == 0;
      const bool known = std::find(also.begin(), also.end(), path) != also.end();
      EXPECT_TRUE(inside || known) << "outside the output folder: " << path;
    }
  }
  // A raw sector dump of shape with the given bytes placed at offsets.
  void LoadRaw(const std::string& shape, const std::vector<std::pair<size_t, std::string>>& parts) {
    const test::DiskShape& s = test::ShapeNamed(shape);
    std::vector<uint8_t> raw(size_t{SectorLength(static_cast<uint8_t>(s.size_code))} * s.sectors *
                             s.tracks);
    for (const auto& [at, bytes] : parts) std::memcpy(raw.data() + at, bytes.data(), bytes.size());
    test::BuildDiskFromRaw(*image_, s, raw);
  }

  test::LoadedPlugin plugin_ = test::LoadBuiltPlugin("file_extractor.dvw");
  test::TempDir work_;
  std::unique_ptr<DiskImage> image_ = test::NewDiskImage();
};

// 24-byte flat-table entries.
std::string BankedEntry(const std::string& name, uint8_t bank, uint16_t offset, uint32_t size) {
  std::string e(24, '\0');
  std::memcpy(e.data(), name.data(), std::min<size_t>(name.size(), 12));
  e[13] = static_cast<char>(bank);
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 14, offset);
  WriteLe32(reinterpret_cast<uint8_t*>(e.data()) + 16, size);
  return e;
}

std::string SectorEntry(const std::string& name, uint16_t sector, uint16_t offset, uint32_t size) {
  std::string e(24, '\0');
  std::memcpy(e.data(), name.data(), std::min<size_t>(name.size(), 12));
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 14, sector);
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 16, offset);
  WriteLe32(reinterpret_cast<uint8_t*>(e.data()) + 18, size);
  return e;
}

TEST_F(FileExtractorTest, DescribesItselfAsTheFileOutput) {
  EXPECT_EQ(plugin_.kind(), kKindOutput);
  EXPECT_EQ(plugin_.interface_version(), 1);
  EXPECT_EQ(plugin_.description(), "FILE出力Plug-in Ver.1.11");
  EXPECT_EQ(std::vector<uint8_t>(plugin_.caps(), plugin_.caps() + kCapsSize),
            (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(plugin_.extension(), ".");
  EXPECT_EQ(plugin_.label(), "FILE形式");
}

TEST_F(FileExtractorTest, RefusesDirectModeAndShapesWithoutALayout) {
  test::BuildDisk(*image_, test::ShapeNamed("mixed2HD"));
  auto r = plugin_.WriteDisk(*image_, work_ / "DISK.", 1);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n未対応の変換です。");
  // Only the low 16 bits count; a disk of 26 sectors a track has no layout.
  r = plugin_.WriteDisk(*image_, work_ / "DISK.", 0x10000);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kNothingFound);
  EXPECT_TRUE(r.progress.empty());
  EXPECT_FALSE(test::FileExists(work_ / "DISK"));
}

TEST_F(FileExtractorTest, ExtractsA144MRootFileWithOneProgressCallPerEntry) {
  FatBuilder fat("1.44M");  // media 0xF0: FAT entry 0 is 0xFF0
  const std::string a = Pattern(1000, 1);
  FatBuilder::Entry(fat.Root(0), "A", "TXT", 0x20, fat.Store(a), 1000);
  FatBuilder::Entry(fat.Root(1), "B", "TXT", 0x20, fat.Store("b"), 1);
  auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n2個のファイルを出力しました");
  EXPECT_EQ(Output(), (Tree{{"A.TXT", a}, {"B.TXT", "b"}}));
  ASSERT_EQ(r.progress.size(), 224u);
  EXPECT_EQ(r.progress.front().done, 19 * 512 + 32);
  EXPECT_EQ(r.progress.back().done, 33 * 512);
  for (const auto& p : r.progress) {
    EXPECT_EQ(p.total, 33 * 512);
    EXPECT_EQ(p.text, "");
  }

  // The callback's "stop" after the first entry: A is written, B is not.
  test::TempDir other;
  r = plugin_.WriteDisk(*image_, other / "DISK.", 0, 1);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(test::ReadTree(other / "DISK"), (Tree{{"A.TXT", a}}));
}

TEST_F(FileExtractorTest, WalksFoldersOfAPc98DiskAcrossTheirClusters) {
  FatBuilder fat("1.25M");  // 1024-byte clusters of 32 entries
  const uint16_t sub = fat.NewFolder(0);
  FatBuilder::Entry(fat.Root(0), "SUB", "", 0x10, sub, 0);
  FatBuilder::Entry(fat.InCluster(sub, 2), "B", "DAT", 0x20, fat.Store("bee"), 3);
  // DATA.1 and DATA.2 are two folders, each with its own SAME.TXT.
  for (int i = 1; i <= 2; ++i) {
    const uint16_t data = fat.NewFolder(0);
    FatBuilder::Entry(fat.Root(i), "DATA", std::to_string(i), 0x10, data, 0);
    FatBuilder::Entry(fat.InCluster(data, 2), "SAME", "TXT", 0x20,
                      fat.Store("same" + std::to_string(i)), 5);
  }
  // BIG spans two clusters that are not neighbours; its first cluster ends
  // with the folder LAST. The cluster that follows on the disk holds an
  // entry the walk must never read.
  const uint16_t big = fat.NewFolder(0);
  const uint16_t ghost = fat.NewFolder(0);
  FatBuilder::Entry(fat.InCluster(ghost, 0), "GHOST", "TXT", 0x20, fat.Store("boo"), 3);
  const uint16_t big2 = fat.Store("", 1);
  fat.SetFat(big, big2);
  FatBuilder::Entry(fat.Root(3), "BIG", "", 0x10, big, 0);
  Tree expected = {
      {"SUB/", ""},    {"SUB/B.DAT", "bee"},         {"DATA.1/", ""}, {"DATA.1/SAME.TXT", "same1"},
      {"DATA.2/", ""}, {"DATA.2/SAME.TXT", "same2"}, {"BIG/", ""}};
  for (uint32_t i = 2; i < 31; ++i) {
    const std::string name = "F" + std::to_string(i);
    FatBuilder::Entry(fat.InCluster(big, i), name, "", 0x20, fat.Store(name), name.size());
    expected["BIG/" + name] = name;
  }
  const uint16_t last = fat.NewFolder(big);
  FatBuilder::Entry(fat.InCluster(big, 31), "LAST", "", 0x10, last, 0);
  FatBuilder::Entry(fat.InCluster(last, 2), "IN", "TXT", 0x20, fat.Store("in"), 2);
  FatBuilder::Entry(fat.InCluster(big2, 0), "AFTER", "TXT", 0x20, fat.Store("after"), 5);
  expected["BIG/LAST/"] = "";
  expected["BIG/LAST/IN.TXT"] = "in";
  expected["BIG/AFTER.TXT"] = "after";

  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n34個のファイルを出力しました");
  EXPECT_EQ(Output(), expected);
  // Inside a folder the cursor has gone past the root: done exceeds total.
  EXPECT_GT(r.progress.back().done, 0);
  EXPECT_EQ(r.progress.back().total, 11 * 1024);
}

TEST_F(FileExtractorTest, PassesOverDeletedDotLabelAndLongNameEntriesOnly) {
  FatBuilder fat("1.44M");
  const uint16_t data = fat.Store("x");
  FatBuilder::Entry(fat.Root(0), "VOLUME", "", 0x08, 0, 0);
  FatBuilder::Entry(fat.Root(1), "AAAAAAAA", "AAA", 0x0F, data, 1);  // long-name entry
  FatBuilder::Entry(fat.Root(2), "\xE5OST", "TXT", 0x20, data, 1);   // deleted
  FatBuilder::Entry(fat.Root(3), ".", "", 0x10, 0, 0);
  FatBuilder::Entry(fat.Root(4), "..", "", 0x10, 0, 0);
  // Root(5) stays zero: an unused slot does not end the directory.
  FatBuilder::Entry(fat.Root(6), "EMPTY", "", 0x20, 0, 0);
  FatBuilder::Entry(fat.Root(7), "HIDDEN", "SYS", 0x07, data, 1);
  // 0x05 stands for the Shift-JIS lead byte 0xE5: this is 蜉蜍.TXT.
  FatBuilder::Entry(fat.Root(8), "\x05\x8A\xE5\x8B", "TXT", 0x20, data, 1);
  FatBuilder::Entry(fat.Root(223), "LAST", "", 0x20, data, 1);
  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n4個のファイルを出力しました");
  EXPECT_EQ(Output(), (Tree{{"EMPTY", ""}, {"HIDDEN.SYS", "x"}, {"蜉蜍.TXT", "x"}, {"LAST", "x"}}));
}

TEST_F(FileExtractorTest, AValidFatWithoutFilesLeavesAnEmptyFolderAndStopsTheLaterPasses) {
  FatBuilder fat("1.44M");
  // At 0x400, inside the FAT, bytes that the sector-table pass would take
  // for a file ABC, yet all FAT values in range.
  const std::string entry = SectorEntry("ABC", 0x100, 0, 16);
  std::memcpy(fat.raw().data() + 0x400, entry.data(), entry.size());
  auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kNothingFound);
  EXPECT_EQ(Output(), Tree{});
  EXPECT_TRUE(test::FileExists(work_ / "DISK"));

  // The banked pass runs whatever the FAT pass found.
  const std::string banked = BankedEntry("BANK.BIN", 1, 0, 4);
  std::memcpy(fat.raw().data() + 0xA0000, banked.data(), banked.size());
  std::memcpy(fat.raw().data() + 8192, "bank", 4);
  r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(Output(), (Tree{{"BANK.BIN", "bank"}}));

  // Without a FAT and a banked table, the bytes at 0x400 are a sector table.
  fat.raw()[512] = 0;
  fat.raw()[0xA0000] = 0;
  r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(Output().at("ABC"), std::string(16, '\0'));
}

struct Broken {
  const char* what;
  void (*make)(FatBuilder&);
  const char* message;
};

const Broken kBrokenChains[] = {
    {"chain one cluster short",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "BAD", "", 0, f.Store("", 2), 3 * 512); },
     "\r\nFAT異常[fff]"},
    {"chain one cluster long",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "BAD", "", 0, f.Store("", 3), 2 * 512); },
     "\r\nFAT異常[005]"},  // clusters 3, 4, 5 after GOOD's 2: 4 -> 5
    {"chain into a free cluster",
     [](FatBuilder& f) {
       const uint16_t c = f.Store("", 1);
       f.SetFat(c, 0);
       FatBuilder::Entry(f.Root(1), "BAD", "", 0, c, 2 * 512);
     },
     "\r\nFAT異常[000]"},
    {"chain into a bad cluster",
     [](FatBuilder& f) {
       const uint16_t c = f.Store("", 1);
       f.SetFat(c, 0xFF7);
       FatBuilder::Entry(f.Root(1), "BAD", "", 0, c, 2 * 512);
     },
     "\r\nFAT異常[ff7]"},
    {"chain past the disk",  // within the FAT check (L + 2) but not on the disk
     [](FatBuilder& f) {
       const uint16_t c = f.Store("", 1);
       f.SetFat(c, 2850);
       FatBuilder::Entry(f.Root(1), "BAD", "", 0, c, 2 * 512);
     },
     "\r\nFAT異常[b22]"},
    {"first cluster reserved",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "BAD", "", 0, 1, 10); }, "\r\nFAT異常[001]"},
    {"first cluster an end mark",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "BAD", "", 0, 0xFFF, 10); },
     "\r\nFAT異常[fff]"},
    {"cyclic chain of 4 GB",
     [](FatBuilder& f) {
       const uint16_t c = f.Store("", 2);
       f.SetFat(c + 1, c);
       FatBuilder::Entry(f.Root(1), "BAD", "", 0, c, 0xFFFFFFFF);
     },
     "\r\nFAT異常[004]"},  // the 2,848th cluster of a disk of 2,847
    {"folder on a free cluster",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "DIR", "", 0x10, 0, 0); },
     "\r\nFAT異常[000]"},
    {"folder past the disk",
     [](FatBuilder& f) { FatBuilder::Entry(f.Root(1), "DIR", "", 0x10, 4000, 0); },
     "\r\nFAT異常[fa0]"},
    {"folder chain that loops",
     [](FatBuilder& f) {
       const uint16_t c = f.NewFolder(0);
       f.SetFat(c, c);
       FatBuilder::Entry(f.Root(1), "DIR", "", 0x10, c, 0);
     },
     "\r\nFAT異常[003]"},
    {"folder that holds itself",
     [](FatBuilder& f) {
       const uint16_t c = f.NewFolder(0);
       FatBuilder::Entry(f.InCluster(c, 2), "SELF", "", 0x10, c, 0);
       FatBuilder::Entry(f.Root(1), "DIR", "", 0x10, c, 0);
     },
     "\r\nFAT異常[003]"},
    {"two folders on one cluster",
     [](FatBuilder& f) {
       const uint16_t c = f.NewFolder(0);
       FatBuilder::Entry(f.Root(1), "DIR1", "", 0x10, c, 0);
       FatBuilder::Entry(f.Root(2), "DIR2", "", 0x10, c, 0);
     },
     "\r\nFAT異常[003]"},
};

TEST_F(FileExtractorTest, DamagedChainsEndWithTheFatMessageAndKeepEarlierFiles) {
  for (const Broken& b : kBrokenChains) {
    SCOPED_TRACE(b.what);
    test::TempDir scratch;
    FatBuilder fat("1.44M");
    FatBuilder::Entry(fat.Root(0), "GOOD", "", 0x20, fat.Store("good"), 4);
    b.make(fat);
    fat.Load(*image_);
    const auto r = plugin_.WriteDisk(*image_, scratch / "DISK.", 0);
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, b.message);
    const Tree out = test::ReadTree(scratch / "DISK");
    EXPECT_EQ(out.at("GOOD"), "good");
    // The looping 4 GB file stops within the disk's own size.
    if (out.count("BAD") != 0) {
      EXPECT_LE(out.at("BAD").size(), 2847u * 512);
    }
    for (const auto& [path, content] : test::ReadTree(scratch.path())) {
      EXPECT_EQ(path.rfind("DISK/", 0), 0u) << path;
    }
  }
}

TEST_F(FileExtractorTest, FoldersNestAtMost32Deep) {
  for (const int depth : {32, 33}) {
    SCOPED_TRACE(depth);
    test::TempDir scratch;
    FatBuilder fat("1.44M");
    uint16_t parent = 0;
    uint8_t* slot = fat.Root(0);
    std::string path;
    for (int d = 0; d < depth; ++d) {
      const uint16_t c = fat.NewFolder(parent);
      FatBuilder::Entry(slot, "D", "", 0x10, c, 0);
      slot = fat.InCluster(c, 2);
      parent = c;
      path += "D/";
    }
    FatBuilder::Entry(slot, "F", "", 0x20, fat.Store("deep"), 4);
    fat.Load(*image_);
    const auto r = plugin_.WriteDisk(*image_, scratch / "DISK.", 0);
    if (depth == 32) {
      EXPECT_EQ(r.result, kResultOk);
      EXPECT_EQ(test::ReadFile(scratch / "DISK/" + path + "F"), "deep");
    } else {
      EXPECT_EQ(r.result, kResultFailed);
      EXPECT_EQ(r.message, kBadData);
    }
  }
}

TEST_F(FileExtractorTest, NamesFromTheDiskAreMadeSafeAndKeptApart) {
  FatBuilder fat("1.44M");
  const uint16_t data = fat.Store("x");
  FatBuilder::Entry(fat.Root(0), "A/B", "", 0x20, data, 1);
  FatBuilder::Entry(fat.Root(1), "A_B", "", 0x20, fat.Store("y"), 1);
  FatBuilder::Entry(fat.Root(2), "/", "", 0x20, data, 1);
  FatBuilder::Entry(fat.Root(3), " ", "", 0x20, data, 1);   // no name at all
  FatBuilder::Entry(fat.Root(4), " ", ".", 0x20, data, 1);  // "" + "." + "." = ".."
  FatBuilder::Entry(fat.Root(5), " ", "", 0x10, fat.NewFolder(0), 0);
  FatBuilder::Entry(fat.Root(6), std::string_view("N\0L", 3), "", 0x20, data, 1);
  FatBuilder::Entry(fat.Root(7), "\x81", "TXT", 0x20, data, 1);  // a lone lead byte
  const uint16_t dots = fat.NewFolder(0);
  FatBuilder::Entry(fat.Root(8), " ", ".", 0x10, dots, 0);
  FatBuilder::Entry(fat.InCluster(dots, 2), "IN", "", 0x20, data, 1);
  // A banked-table file named like the first FAT one shares its host name.
  const std::string banked = BankedEntry("A/B", 1, 0, 1);
  std::memcpy(fat.raw().data() + 0xA0000, banked.data(), banked.size());
  fat.raw()[8192] = 'z';

  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk) << r.message;
  EXPECT_EQ(Output(), (Tree{{"A_B", "z"},
                            {"A_B~2", "y"},
                            {"_", "x"},
                            {"_~2", "x"},
                            {"_..", "x"},
                            {"_~3/", ""},
                            {"N_L", "x"},
                            {"_.TXT", "x"},
                            {"_..~2/", ""},
                            {"_..~2/IN", "x"}}));
  ExpectNothingOutside();
}

TEST_F(FileExtractorTest, LinksInTheOutputFolderAreNeverFollowed) {
  ASSERT_EQ(mkdir((work_ / "outside").c_str(), 0700), 0);
  test::WriteFile(work_ / "outside/victim", "keep");
  ASSERT_EQ(mkdir((work_ / "DISK").c_str(), 0700), 0);
  ASSERT_EQ(symlink((work_ / "outside/victim").c_str(), (work_ / "DISK/A.TXT").c_str()), 0);
  ASSERT_EQ(symlink((work_ / "outside").c_str(), (work_ / "DISK/SUB").c_str()), 0);
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "A", "TXT", 0x20, fat.Store("new"), 3);
  const uint16_t sub = fat.NewFolder(0);
  FatBuilder::Entry(fat.Root(1), "SUB", "", 0x10, sub, 0);
  FatBuilder::Entry(fat.InCluster(sub, 2), "VICTIM", "", 0x20, fat.Store("evil"), 4);
  FatBuilder::Entry(fat.InCluster(sub, 3), "B", "", 0x20, fat.Store("b"), 1);
  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(Output(),
            (Tree{{"A.TXT", "new"}, {"SUB/", ""}, {"SUB/VICTIM", "evil"}, {"SUB/B", "b"}}));
  EXPECT_EQ(test::ReadTree(work_ / "outside"), (Tree{{"victim", "keep"}}));
}

TEST_F(FileExtractorTest, PathsBeyondThePlatformLimitAreRefusedWithAShortenedMessage) {
  // An output folder a few bytes short of PATH_MAX: the folder fits, the
  // disk's subfolder in it does not.
  std::string folder = work_.path();
  const std::string part(200, 'p');
  while (folder.size() + part.size() + 1 < PATH_MAX - 20) {
    folder += part + "/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  }
  folder += std::string(PATH_MAX - 8 - folder.size(), 'q');
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "OK", "", 0x20, fat.Store("ok"), 2);
  FatBuilder::Entry(fat.Root(1), "SUBFOLDR", "", 0x10, fat.NewFolder(0), 0);
  fat.Load(*image_);
  const auto r = plugin_.WriteDisk(*image_, folder + ".", 0);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_LT(r.message.size(), static_cast<size_t>(kMessageSize));
  EXPECT_EQ(r.message.rfind("\r\n[" + work_.path(), 0), 0u) << r.message;
  EXPECT_NE(r.message.find("…"), std::string::npos);
  const std::string tail = "SUBFOLDR]\r\nの作成失敗";
  EXPECT_EQ(r.message.substr(r.message.size() - tail.size()), tail);
  EXPECT_EQ(test::ReadFile(folder + "/OK"), "ok");
}

TEST_F(FileExtractorTest, ReportsAFolderThatCannotBeMadeAndAFailedWrite) {
  test::WriteFile(work_ / "plain", "");
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "BIG", "", 0x20, fat.Store(Pattern(100000, 3)), 100000);
  fat.Load(*image_);
  auto r = plugin_.WriteDisk(*image_, work_ / "plain/DISK.", 0);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, "\r\n[" + work_ / "plain/DISK" + "]\r\nの作成失敗");

  // A file size limit makes writes fail as a full disk would.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit low = old;
  low.rlim_cur = 50000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  r = Extract();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(r.result, kResultWriteError);
  EXPECT_EQ(r.message, "\r\n[" + work_ / "DISK/BIG" + "]\r\nの書込失敗");
}

TEST_F(FileExtractorTest, TrackCountIsAdjustedBeforeTheShapeIsChosen) {
  FatBuilder fat("1.25M");
  FatBuilder::Entry(fat.Root(0), "A", "", 0x20, fat.Store("a"), 1);
  fat.Load(*image_);
  image_->track_count = 160;  // a dump that claims 160 tracks; 154 to 159 empty
  auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(image_->track_count, 154);
  EXPECT_EQ(Output(), (Tree{{"A", "a"}}));

  test::BuildDisk(*image_, test::ShapeNamed("640K"));
  plugin_.WriteDisk(*image_, work_ / "OTHER.", 0);
  EXPECT_EQ(image_->track_count, 160);  // sectors on 154 to 159: stays
  image_->track_count = 100;
  plugin_.WriteDisk(*image_, work_ / "OTHER.", 0);
  EXPECT_EQ(image_->track_count, 154);
}

TEST_F(FileExtractorTest, BankedTableFilesSkipTheTableRegion) {
  const std::string one = Pattern(5000, 1);
  const std::string split = Pattern(10000, 2);
  const size_t split_start = 0xA0000 - 3000;
  LoadRaw("1.25M",
          {{0xA0000,
            BankedEntry("ONE.BIN", 0x40, 0x10, 5000) + BankedEntry("SPLIT", 0x4F, 0x1448, 10000) +
                BankedEntry("../x", 0x40, 0x10, 0) + BankedEntry("ONE.BIN", 0x40, 0x10, 10)},
           {0x80010, one},
           {split_start, split.substr(0, 3000)},
           {0xA2000, split.substr(3000)},
           // a sector table that must not be read once the banked one found files
           {0x400, SectorEntry("SECTOR", 4, 0, 1)}});
  ASSERT_EQ(split_start, 0x4Fu * 8192 + 0x1448);
  const auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n4個のファイルを出力しました");
  // The same name twice: the second overwrites the first.
  EXPECT_EQ(Output(), (Tree{{"ONE.BIN", one.substr(0, 10)}, {"SPLIT", split}, {".._x", ""}}));
  EXPECT_TRUE(r.progress.empty());
}

TEST_F(FileExtractorTest, SectorTableFilesWhenNothingElseIsThere) {
  const std::string a = Pattern(300, 4);
  LoadRaw("720K", {{0x400, SectorEntry("A.TXT", 100, 12, 300) + SectorEntry("EMPTY", 200, 0, 0) +
                               SectorEntry("..", 0, 0, 0)},
                   {100 * 1024 + 12, a}});
  const auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n3個のファイルを出力しました");
  EXPECT_EQ(Output(), (Tree{{"A.TXT", a}, {"EMPTY", ""}, {"_..", ""}}));
}

TEST_F(FileExtractorTest, FlatFilesPastTheDiskAreRefused) {
  struct Case {
    const char* what;
    size_t at;
    std::string entry;
  };
  const Case cases[] = {
      {"starts past a 720K disk", 0x400, SectorEntry("FAR", 1000, 0, 1)},
      {"runs past the disk", 0x400, SectorEntry("LONG", 700, 0, 20 * 1024 + 1)},
      {"4 GB", 0xA0000, BankedEntry("HUGE", 0, 0, 0xFFFFFFFF)},
      {"split, second piece past the disk", 0xA0000, BankedEntry("SPLIT", 0x4F, 0, 100000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoadRaw("720K", {{c.at, c.entry}});
    const auto r = Extract();
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, kBadData);
    EXPECT_EQ(Output(), Tree{});
  }
}

TEST_F(FileExtractorTest, FlatTablesEndWithTheDisk) {
  // 34,133 entries from 0xA0000 to the last byte of a 1.44M disk.
  std::string table;
  for (size_t at = 0xA0000; at + 24 <= 1474560; at += 24) table += BankedEntry("SAME.DAT", 0, 0, 1);
  LoadRaw("1.44M", {{0xA0000, table}, {0, "s"}});
  auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n34133個のファイルを出力しました");
  EXPECT_EQ(Output(), (Tree{{"SAME.DAT", "s"}}));

  // The same table with every file a megabyte from the same bytes: the
  // extraction stops long before the host's disk fills.
  table.clear();
  for (size_t at = 0xA0000; at + 24 <= 1474560; at += 24) {
    table += BankedEntry("MEG.DAT", 0, 0, 1000000);
  }
  LoadRaw("1.44M", {{0xA0000, table}});
  r = Extract();
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kBadData);
  ExpectNothingOutside();
}

TEST_F(FileExtractorTest, CompactFatLayoutOnEightAndNineSectorDisks) {
  struct Case {
    const char* shape;
    size_t root;
    size_t cluster_bytes;
  };
  for (const Case& c : {Case{"1.25M", 3 * 1024, 1024}, Case{"720K", 4 * 1024, 2048}}) {
    SCOPED_TRACE(c.shape);
    test::TempDir scratch;
    const size_t data = c.root + 1024;
    const std::string big = Pattern(c.cluster_bytes + 1, 5);
    std::string root(64, '\0');
    FatBuilder::Entry(reinterpret_cast<uint8_t*>(root.data()), "BIG", "BIN", 0x20, 2, big.size());
    FatBuilder::Entry(reinterpret_cast<uint8_t*>(root.data()) + 32, "SUB", "", 0x10, 4, 0);
    std::string sub(96, '\0');
    FatBuilder::Entry(reinterpret_cast<uint8_t*>(sub.data()), ".", "", 0x10, 4, 0);
    FatBuilder::Entry(reinterpret_cast<uint8_t*>(sub.data()) + 32, "..", "", 0x10, 0, 0);
    FatBuilder::Entry(reinterpret_cast<uint8_t*>(sub.data()) + 64, "IN", "", 0x20, 0, 0);
    // FAT: FF FF FF, then 2 -> 3 -> end, 4 -> end.
    const std::string fat = {'\xFF', '\xFF', '\xFF', '\x03', '\xF0', '\xFF', '\xFF', '\x0F'};
    LoadRaw(c.shape,
            {{0x400, fat}, {c.root, root}, {data, big}, {data + 2 * c.cluster_bytes, sub}});
    const auto r = plugin_.WriteDisk(*image_, scratch / "DISK.", 0);
    EXPECT_EQ(r.result, kResultOk) << r.message;
    EXPECT_EQ(test::ReadTree(scratch / "DISK"),
              (Tree{{"BIG.BIN", big}, {"SUB/", ""}, {"SUB/IN", ""}}));
    EXPECT_EQ(r.progress.size(), 32u + 32 * c.cluster_bytes / 1024);
  }
}

}  // namespace
}  // namespace dravik
