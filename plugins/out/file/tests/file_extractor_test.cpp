// The FILE extractor on disks built byte by byte: the layouts it reads, the
// entries it passes over, and damaged or hostile disks, which must end with
// a message and leave nothing outside the output folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <optional>

#include "byte_order.h"
#include "extract_support.h"

namespace dravik {
namespace {

using test::FatBuilder;
using test::Pattern;
using test::Tree;

const std::string kNothingFound = "\r\n出力可能なファイルは見つかりませんでした";
const std::string kBadData = "\r\nイメージデータが異常です";

class FileExtractorTest : public ::testing::Test {
 protected:
  // Extracts the image into work_/DISK, as the driver names it for a source
  // work_/DISK.IMG.
  test::CallResult Extract(int abort_at = 0) {
    return plugin_.WriteDisk(*image_, work_ / "DISK.", 0, abort_at);
  }
  test::CallResult Extract(const FatBuilder& fat) {
    fat.Load(*image_);
    return Extract();
  }
  Tree Output() { return test::ReadTree(work_ / "DISK"); }
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

// Everything in folder lies in its DISK folder.
void ExpectNothingOutside(const std::string& folder) {
  for (const auto& [path, content] : test::ReadTree(folder)) {
    EXPECT_EQ(path.rfind("DISK/", 0), 0u) << "outside the output folder: " << path;
  }
}

// 24-byte flat-table entries: a NUL-padded name, then where the data lies.
std::string BankedEntry(const std::string& name, uint8_t bank, uint16_t offset, uint32_t size) {
  std::string e = name + std::string(24 - name.size(), '\0');
  e[13] = static_cast<char>(bank);
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 14, offset);
  WriteLe32(reinterpret_cast<uint8_t*>(e.data()) + 16, size);
  return e;
}
std::string SectorEntry(const std::string& name, uint16_t sector, uint16_t offset, uint32_t size) {
  std::string e = name + std::string(24 - name.size(), '\0');
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 14, sector);
  WriteLe16(reinterpret_cast<uint8_t*>(e.data()) + 16, offset);
  WriteLe32(reinterpret_cast<uint8_t*>(e.data()) + 18, size);
  return e;
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

// One root directory of every kind of entry: those passed over, those whose
// names must be made safe, and those a planted link would lead outside.
TEST_F(FileExtractorTest, ExtractsTheRootOfA144MDiskEntryByEntry) {
  test::TempDir outside;
  test::WriteFile(outside / "victim", "keep");
  ASSERT_EQ(mkdir((work_ / "DISK").c_str(), 0700), 0);
  ASSERT_EQ(symlink((outside / "victim").c_str(), (work_ / "DISK/A_B.TXT").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (work_ / "DISK/SUB").c_str()), 0);

  FatBuilder fat("1.44M");  // media 0xF0: FAT entry 0 is 0xFF0
  const std::string a = Pattern(1000, 1);
  FatBuilder::Entry(fat.Root(0), "A", "TXT", 0x20, fat.Store(a), 1000);
  const uint16_t x = fat.Store("x");
  FatBuilder::Entry(fat.Root(1), "VOLUME", "", 0x08, 0, 0);
  FatBuilder::Entry(fat.Root(2), "AAAAAAAA", "AAA", 0x0F, x, 1);  // long-name entry
  FatBuilder::Entry(fat.Root(3), "\xE5OST", "TXT", 0x20, x, 1);   // deleted
  FatBuilder::Entry(fat.Root(4), ".", "", 0x10, 0, 0);
  FatBuilder::Entry(fat.Root(5), "..", "", 0x10, 0, 0);
  // Root(6) stays zero: an unused slot does not end the directory.
  FatBuilder::Entry(fat.Root(7), "EMPTY", "", 0x20, 0, 0);
  FatBuilder::Entry(fat.Root(8), "HIDDEN", "SYS", 0x07, x, 1);
  // 0x05 stands for the Shift-JIS lead byte 0xE5: this is 蜉蜍.TXT.
  FatBuilder::Entry(fat.Root(9), "\x05\x8A\xE5\x8B", "TXT", 0x20, x, 1);
  FatBuilder::Entry(fat.Root(10), "A/B", "TXT", 0x20, x, 1);
  FatBuilder::Entry(fat.Root(11), "A_B", "TXT", 0x20, fat.Store("y"), 1);
  FatBuilder::Entry(fat.Root(12), "/", "", 0x20, x, 1);
  FatBuilder::Entry(fat.Root(13), " ", "", 0x20, x, 1);   // no name at all
  FatBuilder::Entry(fat.Root(14), " ", ".", 0x20, x, 1);  // "" + "." + "." = ".."
  FatBuilder::Entry(fat.Root(15), " ", "", 0x10, fat.NewFolder(0), 0);
  FatBuilder::Entry(fat.Root(16), std::string_view("N\0L", 3), "", 0x20, x, 1);
  FatBuilder::Entry(fat.Root(17), "\x81", "TXT", 0x20, x, 1);  // a lone lead byte
  const uint16_t dots = fat.NewFolder(0);
  FatBuilder::Entry(fat.Root(18), " ", ".", 0x10, dots, 0);
  FatBuilder::Entry(fat.InCluster(dots, 2), "IN", "", 0x20, x, 1);
  const uint16_t sub = fat.NewFolder(0);
  FatBuilder::Entry(fat.Root(19), "SUB", "", 0x10, sub, 0);
  FatBuilder::Entry(fat.InCluster(sub, 2), "VICTIM", "", 0x20, fat.Store("evil"), 4);
  FatBuilder::Entry(fat.Root(223), "LAST", "", 0x20, x, 1);
  // A banked-table file named like a FAT one is kept apart from it.
  const std::string banked = BankedEntry("A/B.TXT", 1, 0, 1);
  std::memcpy(fat.raw().data() + 0xA0000, banked.data(), banked.size());
  fat.raw()[8192] = 'z';

  auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n15個のファイルを出力しました");
  const Tree expected = {
      {"A.TXT", a},           {"EMPTY", ""},      {"HIDDEN.SYS", "x"}, {"蜉蜍.TXT", "x"},
      {"A_B.TXT", "x"},       {"A_B~2.TXT", "y"}, {"A_B~3.TXT", "z"},  {"_", "x"},
      {"_~2", "x"},           {"_..", "x"},       {"_~3/", ""},        {"N_L", "x"},
      {"_.TXT", "x"},         {"_..~2/", ""},     {"_..~2/IN", "x"},   {"SUB/", ""},
      {"SUB/VICTIM", "evil"}, {"LAST", "x"}};
  EXPECT_EQ(test::DiffTrees(expected, Output()), "");
  EXPECT_EQ(test::ReadTree(outside.path()), (Tree{{"victim", "keep"}}));
  ExpectNothingOutside(work_.path());
  // One call per entry, against the end of the root directory.
  ASSERT_EQ(r.progress.size(), 224u + 3 * 16);
  EXPECT_EQ(r.progress.front().done, 19 * 512 + 32);
  EXPECT_EQ(r.progress.back().done, 33 * 512);
  EXPECT_EQ(r.progress.back().total, 33 * 512);

  // The callback's "stop" after the first entry: A is written, nothing else.
  test::TempDir other;
  r = plugin_.WriteDisk(*image_, other / "DISK.", 0, 1);
  EXPECT_EQ(r.result, kResultAborted);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(test::ReadTree(other / "DISK"), (Tree{{"A.TXT", a}}));
}

TEST_F(FileExtractorTest, AValidFatWithoutFilesLeavesNoFolderAndStopsTheLaterPasses) {
  FatBuilder fat("1.44M");
  // At 0x400, inside the FAT, bytes that the sector-table pass would take
  // for a file ABC, yet all FAT values in range.
  const std::string entry = SectorEntry("ABC", 0x100, 0, 16);
  std::memcpy(fat.raw().data() + 0x400, entry.data(), entry.size());
  auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kNothingFound);
  // Nothing extracted: the folder made for it is gone again.
  EXPECT_FALSE(test::FileExists(work_ / "DISK"));

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

// A file BAD, or folder DIR, in the root slot after a sound file GOOD (which
// takes cluster 2).
void Bad(FatBuilder& f, uint16_t cluster, uint32_t size) {
  FatBuilder::Entry(f.Root(1), "BAD", "", 0x20, cluster, size);
}
void Dir(uint8_t* slot, uint16_t cluster) { FatBuilder::Entry(slot, "DIR", "", 0x10, cluster, 0); }
// A fresh chain of n clusters whose last one points to next.
uint16_t Chain(FatBuilder& f, uint32_t n, uint16_t next) {
  const uint16_t first = f.Store("", n);
  f.SetFat(first + n - 1, next);
  return first;
}

struct Broken {
  const char* what;
  void (*make)(FatBuilder&);
  const char* value;  // of the "FAT異常" message
};

const Broken kBrokenChains[] = {
    {"chain one cluster short", [](FatBuilder& f) { Bad(f, f.Store("", 2), 3 * 512); }, "fff"},
    // Clusters 3, 4 and 5: 4 -> 5 is one too many.
    {"chain one cluster long", [](FatBuilder& f) { Bad(f, f.Store("", 3), 2 * 512); }, "005"},
    {"chain into a free cluster", [](FatBuilder& f) { Bad(f, Chain(f, 1, 0), 1024); }, "000"},
    {"chain into a bad cluster", [](FatBuilder& f) { Bad(f, Chain(f, 1, 0xFF7), 1024); }, "ff7"},
    // Within the FAT check (L + 2) but not on the disk.
    {"chain past the disk", [](FatBuilder& f) { Bad(f, Chain(f, 1, 2850), 1024); }, "b22"},
    {"first cluster reserved", [](FatBuilder& f) { Bad(f, 1, 10); }, "001"},
    {"first cluster an end mark", [](FatBuilder& f) { Bad(f, 0xFFF, 10); }, "fff"},
    // Clusters 3 and 4, 4 -> 3: the 2,848th cluster of a disk of 2,847.
    {"cyclic chain of 4 GB", [](FatBuilder& f) { Bad(f, Chain(f, 2, 3), 0xFFFFFFFF); }, "004"},
    {"folder on a free cluster", [](FatBuilder& f) { Dir(f.Root(1), 0); }, "000"},
    {"folder past the disk", [](FatBuilder& f) { Dir(f.Root(1), 4000); }, "fa0"},
    {"folder chain that loops", [](FatBuilder& f) { Dir(f.Root(1), Chain(f, 1, 3)); }, "003"},
    {"folder that holds itself",
     [](FatBuilder& f) {
       const uint16_t c = f.NewFolder(0);
       Dir(f.InCluster(c, 2), c);
       Dir(f.Root(1), c);
     },
     "003"},
    {"two folders on one cluster",
     [](FatBuilder& f) {
       const uint16_t c = f.NewFolder(0);
       Dir(f.Root(1), c);
       FatBuilder::Entry(f.Root(2), "DIR2", "", 0x10, c, 0);
     },
     "003"},
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
    EXPECT_EQ(r.message, "\r\nFAT異常[" + std::string(b.value) + "]");
    const Tree out = test::ReadTree(scratch / "DISK");
    EXPECT_EQ(out.at("GOOD"), "good");
    // The looping 4 GB file stops within the disk's own size.
    EXPECT_LE(out.count("BAD") ? out.at("BAD").size() : 0, 2847u * 512);
    ExpectNothingOutside(scratch.path());
  }
}

// VFAT long-name entries for name ahead of the short entry at slot
// first + parts, last part first; the checksum is that of short_entry's 11
// name bytes unless given.
size_t PutLongName(FatBuilder& fat, uint32_t first, std::u16string name, const uint8_t* short_entry,
                   std::optional<uint8_t> checksum = {}) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_entry[i]);
  if (name.size() % 13 != 0) name += u'\0';
  while (name.size() % 13 != 0) name += u'\xFFFF';
  const size_t parts = name.size() / 13;
  static constexpr int kUnits[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t p = 0; p < parts; ++p) {
    const size_t ordinal = parts - p;
    uint8_t* e = fat.Root(first + static_cast<uint32_t>(p));
    std::memset(e, 0, 32);
    e[0] = static_cast<uint8_t>(ordinal | (p == 0 ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = checksum.value_or(sum);
    for (int k = 0; k < 13; ++k) WriteLe16(e + kUnits[k], name[(ordinal - 1) * 13 + k]);
  }
  return parts;
}

// Long names stand for the short entry they belong to; anything that does
// not add up leaves the 8.3 name.
TEST_F(FileExtractorTest, LongNamesWhereTheirChecksumMatches) {
  FatBuilder fat("1.44M");
  const uint16_t x = fat.Store("x");
  uint32_t slot = 0;
  // Puts a short entry after a long name made by make (which returns the
  // slots it took).
  auto with_long = [&](const char* name, const char* ext, uint8_t attributes, uint16_t cluster,
                       uint32_t size, auto make) {
    uint8_t short_entry[32];
    FatBuilder::Entry(short_entry, name, ext, attributes, cluster, size);
    slot += static_cast<uint32_t>(make(short_entry));
    std::memcpy(fat.Root(slot++), short_entry, 32);
  };
  auto long_name = [&](std::u16string text, std::optional<uint8_t> checksum = {}) {
    return [&fat, &slot, text, checksum](const uint8_t* e) {
      return PutLongName(fat, slot, text, e, checksum);
    };
  };
  with_long("ALONGF~1", "TXT", 0x20, x, 1, long_name(u"A Long File Name.txt"));
  with_long("________", "TXT", 0x20, x, 1, long_name(u"日本語の長い名前.txt"));
  with_long("EXACT~1", "", 0x20, x, 1, long_name(u"thirteen.char"));  // no NUL: 13 units
  with_long("FLOPPY~1", "", 0x20, x, 1, long_name(u"disk\U0001F4BE"));
  with_long("LONE~1", "", 0x20, x, 1, long_name(std::u16string{u'a', 0xD800, u'b'}));
  const uint16_t sub = fat.NewFolder(0);
  FatBuilder::Entry(fat.InCluster(sub, 2), "IN", "", 0x20, x, 1);
  with_long("MYFOLD~1", "", 0x10, sub, 0, long_name(u"My Folder"));
  with_long("STALE", "TXT", 0x20, x, 1, long_name(u"renamed since.txt", 0x12));
  with_long("TOOLONG", "", 0x20, x, 1, long_name(std::u16string(86, u'長')));  // 258 bytes
  // A part missing from the middle, and parts of one name out of order.
  with_long("GAP", "", 0x20, x, 1, [&](const uint8_t* e) {
    const size_t n = PutLongName(fat, slot, u"twenty-six characters long", e);
    std::memset(fat.Root(slot + 1), 0, 32);
    fat.Root(slot + 1)[0] = 0xE5;
    return n;
  });
  with_long("SWAP", "", 0x20, x, 1, [&](const uint8_t* e) {
    const size_t n = PutLongName(fat, slot, u"twenty-six characters long", e);
    uint8_t first[32];
    std::memcpy(first, fat.Root(slot), 32);
    std::memcpy(fat.Root(slot), fat.Root(slot + 1), 32);
    std::memcpy(fat.Root(slot + 1), first, 32);
    return n;
  });
  // A long name ahead of a deleted entry belongs to nothing after it.
  with_long(
      "\xE5"
      "GONE",
      "", 0x20, x, 1, long_name(u"deleted.txt"));
  FatBuilder::Entry(fat.Root(slot++), "AFTER", "", 0x20, x, 1);

  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk) << r.message;
  const Tree expected = {{"A Long File Name.txt", "x"},
                         {"日本語の長い名前.txt", "x"},
                         {"thirteen.char", "x"},
                         {"disk\U0001F4BE", "x"},
                         {"a_b", "x"},
                         {"My Folder/", ""},
                         {"My Folder/IN", "x"},
                         {"STALE.TXT", "x"},
                         {"TOOLONG", "x"},
                         {"GAP", "x"},
                         {"SWAP", "x"},
                         {"AFTER", "x"}};
  EXPECT_EQ(test::DiffTrees(expected, Output()), "");
}

// Names that clash, on the disk or once made safe, are all kept; control
// bytes do not reach the host.
TEST_F(FileExtractorTest, EveryEntryGetsANameOfItsOwn) {
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "SAME", "TXT", 0x20, fat.Store("first"), 5);
  FatBuilder::Entry(fat.Root(1), "SAME", "TXT", 0x20, fat.Store("second"), 6);
  FatBuilder::Entry(fat.Root(2), "SAME", "TXT", 0x10, fat.NewFolder(0), 0);
  FatBuilder::Entry(fat.Root(3), "ESC\x1B[2J", "", 0x20, fat.Store("e"), 1);
  FatBuilder::Entry(fat.Root(4), "LINE\nBRK", "\r\x7F", 0x20, fat.Store("l"), 1);
  const uint16_t d1 = fat.NewFolder(0);
  FatBuilder::Entry(fat.InCluster(d1, 2), "IN", "", 0x20, fat.Store("one"), 3);
  const uint16_t d2 = fat.NewFolder(0);
  FatBuilder::Entry(fat.InCluster(d2, 2), "IN", "", 0x20, fat.Store("two"), 3);
  FatBuilder::Entry(fat.Root(5), "DIR", "", 0x10, d1, 0);
  FatBuilder::Entry(fat.Root(6), "DIR", "", 0x10, d2, 0);
  const auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n6個のファイルを出力しました");
  const Tree expected = {{"SAME.TXT", "first"}, {"SAME~2.TXT", "second"}, {"SAME~3.TXT/", ""},
                         {"ESC_[2J", "e"},      {"LINE_BRK.__", "l"},     {"DIR/", ""},
                         {"DIR/IN", "one"},     {"DIR~2/", ""},           {"DIR~2/IN", "two"}};
  EXPECT_EQ(test::DiffTrees(expected, Output()), "");
}

// Files and folders keep the date and time of their entry, read as local
// time as MS-DOS wrote it; an entry without a valid one gets the time of
// extraction.
TEST_F(FileExtractorTest, EntriesKeepTheirDateAndTime) {
  FatBuilder fat("1.44M");
  auto stamp = [](uint8_t* entry, int year, int month, int day, int hour, int minute, int second) {
    WriteLe16(entry + 22, static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2));
    WriteLe16(entry + 24, static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day));
  };
  FatBuilder::Entry(fat.Root(0), "OLD", "TXT", 0x20, fat.Store("o"), 1);
  stamp(fat.Root(0), 1993, 4, 5, 6, 7, 8);
  FatBuilder::Entry(fat.Root(1), "NODATE", "", 0x20, fat.Store("n"), 1);
  FatBuilder::Entry(fat.Root(2), "BADDATE", "", 0x20, fat.Store("b"), 1);
  stamp(fat.Root(2), 1990, 4, 31, 0, 0, 0);  // no 31st of April
  const uint16_t sub = fat.NewFolder(0);
  FatBuilder::Entry(fat.InCluster(sub, 2), "IN", "", 0x20, fat.Store("i"), 1);
  stamp(fat.InCluster(sub, 2), 2000, 2, 29, 23, 59, 58);
  FatBuilder::Entry(fat.Root(3), "SUB", "", 0x10, sub, 0);
  stamp(fat.Root(3), 1985, 12, 31, 12, 0, 0);

  const time_t before = time(nullptr);
  ASSERT_EQ(Extract(fat).result, kResultOk);
  auto mtime = [&](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat((work_ / ("DISK/" + path)).c_str(), &st), 0) << path;
    return st.st_mtime;
  };
  auto local = [](int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return mktime(&tm);
  };
  EXPECT_EQ(mtime("OLD.TXT"), local(1993, 4, 5, 6, 7, 8));
  EXPECT_EQ(mtime("SUB/IN"), local(2000, 2, 29, 23, 59, 58));
  EXPECT_EQ(mtime("SUB"), local(1985, 12, 31, 12, 0, 0));
  EXPECT_GE(mtime("NODATE"), before);
  EXPECT_GE(mtime("BADDATE"), before);
}

// The output folder takes "~2" when a file has its name (a source without
// an extension); an extraction that finds nothing removes the folders it
// made, and only those.
TEST_F(FileExtractorTest, OutputFolderBesideAFileOfItsNameAndNoFolderForNothing) {
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "A", "", 0x20, fat.Store("a"), 1);
  test::WriteFile(work_ / "DISK", "the source image");
  auto r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(test::ReadFile(work_ / "DISK"), "the source image");
  EXPECT_EQ(test::ReadTree(work_ / "DISK~2"), (Tree{{"A", "a"}}));
  // Again: the folder of the first run is used, its file replaced.
  r = Extract(fat);
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(test::ListFolder(work_.path()), (std::vector<std::string>{"DISK", "DISK~2"}));

  // Folders but no files: nothing stays.
  FatBuilder empty("1.44M");
  const uint16_t sub = empty.NewFolder(0);
  FatBuilder::Entry(empty.InCluster(sub, 2), "DEEPER", "", 0x10, empty.NewFolder(sub), 0);
  FatBuilder::Entry(empty.Root(0), "SUB", "", 0x10, sub, 0);
  empty.Load(*image_);
  test::TempDir other;
  r = plugin_.WriteDisk(*image_, other / "DISK.", 0);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_EQ(r.message, kNothingFound);
  EXPECT_TRUE(test::ListFolder(other.path()).empty());
  // A folder that was there stays, with what it held; only SUB/DEEPER,
  // made now, goes.
  ASSERT_EQ(mkdir((other / "DISK").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((other / "DISK/SUB").c_str(), 0755), 0);
  test::WriteFile(other / "DISK/KEEP", "k");
  r = plugin_.WriteDisk(*image_, other / "DISK.", 0);
  EXPECT_EQ(r.message, kNothingFound);
  EXPECT_EQ(test::ReadTree(other / "DISK"), (Tree{{"KEEP", "k"}, {"SUB/", ""}}));
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
    EXPECT_EQ(r.result, depth == 32 ? kResultOk : kResultFailed);
    EXPECT_EQ(r.message, depth == 32 ? "\r\n1個のファイルを出力しました" : kBadData);
    EXPECT_EQ(test::FileExists(scratch / "DISK/" + path + "F"), depth == 32);
  }
}

TEST_F(FileExtractorTest, ReportsHostFailuresWithTheirPath) {
  FatBuilder fat("1.44M");
  FatBuilder::Entry(fat.Root(0), "BIG", "", 0x20, fat.Store(Pattern(100000, 3)), 100000);
  FatBuilder::Entry(fat.Root(1), "SUBFOLDR", "", 0x10, fat.NewFolder(0), 0);
  fat.Load(*image_);
  test::WriteFile(work_ / "plain", "");
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

  // An output folder a few bytes short of PATH_MAX: the folder fits, the
  // disk's subfolder in it does not, and the message shortens the path.
  std::string folder = work_.path();
  while (folder.size() + 201 < PATH_MAX - 20) {
    folder += std::string(200, 'p') + "/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  }
  folder += std::string(PATH_MAX - 8 - folder.size(), 'q');
  r = plugin_.WriteDisk(*image_, folder + ".", 0);
  EXPECT_EQ(r.result, kResultFailed);
  EXPECT_LT(r.message.size(), static_cast<size_t>(kMessageSize));
  EXPECT_EQ(r.message.rfind("\r\n[" + work_.path(), 0), 0u) << r.message;
  EXPECT_NE(r.message.find("…"), std::string::npos);
  EXPECT_TRUE(r.message.ends_with("SUBFOLDR]\r\nの作成失敗")) << r.message;
  EXPECT_EQ(test::ReadFile(folder + "/BIG").size(), 100000u);
}

TEST_F(FileExtractorTest, TrackCountIsAdjustedBeforeTheShapeIsChosen) {
  FatBuilder fat("1.25M");
  FatBuilder::Entry(fat.Root(0), "A", "", 0x20, fat.Store("a"), 1);
  fat.Load(*image_);
  image_->track_count = 160;  // a dump that claims 160 tracks; 154 to 159 empty
  EXPECT_EQ(Extract().result, kResultOk);
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
  const size_t split_start = 0x4F * 8192 + 0x1448;  // 3,000 bytes before the table
  LoadRaw("1.25M",
          {{0xA0000,
            BankedEntry("ONE.BIN", 0x40, 0x10, 5000) + BankedEntry("SPLIT", 0x4F, 0x1448, 10000) +
                BankedEntry("../x", 0x40, 0x10, 0) + BankedEntry("ONE.BIN", 0x40, 0x10, 10)},
           {0x80010, one},
           {split_start, split.substr(0, 3000)},
           {0xA2000, split.substr(3000)},
           // a sector table that must not be read once the banked one found files
           {0x400, SectorEntry("SECTOR", 4, 0, 1)}});
  const auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n4個のファイルを出力しました");
  // The same name twice: both are kept.
  EXPECT_EQ(
      Output(),
      (Tree{{"ONE.BIN", one}, {"ONE~2.BIN", one.substr(0, 10)}, {"SPLIT", split}, {".._x", ""}}));
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

// A flat file past the disk is bad data; an entry a table cannot hold (a
// start past 0x134000, a name that is not printable) means there is no table.
TEST_F(FileExtractorTest, FlatFilesPastTheDiskAreRefused) {
  struct Case {
    size_t at;
    std::string entry;
    const std::string& message;
  };
  const Case cases[] = {
      {0x400, SectorEntry("FAR", 1000, 0, 1), kBadData},  // starts past a 720K disk
      {0x400, SectorEntry("LONG", 700, 0, 20 * 1024 + 1), kBadData},
      {0xA0000, BankedEntry("HUGE", 0, 0, 0xFFFFFFFF), kBadData},
      {0xA0000, BankedEntry("SPLIT", 0x4F, 0, 100000), kBadData},  // its second piece
      {0xA0000, BankedEntry("FAR", 0x9A, 1, 1), kNothingFound},
      {0x400, SectorEntry("\x7F", 0, 0, 0), kNothingFound},
      {0xA0000, BankedEntry("\x01", 0, 0, 0), kNothingFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry.c_str());
    LoadRaw("720K", {{c.at, c.entry}});
    const auto r = Extract();
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(Output(), Tree{});
  }
}

TEST_F(FileExtractorTest, FlatTablesEndWithTheDisk) {
  // 3,413 entries from 0xA0000 to the last byte of a 720K disk, all of one
  // name: each is kept under a number of its own.
  std::string table;
  for (size_t at = 0xA0000; at + 24 <= 737280; at += 24) table += BankedEntry("SAME.DAT", 0, 0, 1);
  LoadRaw("720K", {{0xA0000, table}, {0, "s"}});
  auto r = Extract();
  EXPECT_EQ(r.result, kResultOk);
  EXPECT_EQ(r.message, "\r\n3413個のファイルを出力しました");
  const Tree out = Output();
  EXPECT_EQ(out.size(), 3413u);
  EXPECT_EQ(out.at("SAME.DAT"), "s");
  EXPECT_EQ(out.at("SAME~3413.DAT"), "s");

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
  ExpectNothingOutside(work_.path());
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
