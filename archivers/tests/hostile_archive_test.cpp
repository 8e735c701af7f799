// Archives built to break out of the target folder, to lose or overwrite
// files, or to exhaust the disk. Every case must leave nothing outside the
// target folder, and a failure must leave no partly written file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archive_builder.h"
#include "archiver.h"
#include "archiver_harness.h"

namespace dravik {
namespace {

using archiver::Format;
using test::BuildLzh;
using test::BuildZip;
using test::ListFolder;
using test::LzhEntry;
using test::ReadFile;
using test::ZipEntry;
using Names = std::vector<std::string>;

constexpr uint32_t kGiB = 1u << 30;

class HostileArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"in", "out", "outside"}) mkdir((root_ / dir).c_str(), 0755);
  }
  void TearDown() override {
    // Whatever the archive held, only the target folder may have changed.
    EXPECT_EQ(ListFolder(root_.path()), (Names{"in", "out", "outside"}));
    EXPECT_TRUE(ListFolder(outside()).empty());
    for (const std::string& name : ListFolder(out())) {
      struct stat st {};
      EXPECT_EQ(lstat((out() + name).c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode) || name == "kept-link.FDI") << name;
    }
  }
  std::string out() const { return root_ / "out/"; }
  std::string outside() const { return root_ / "outside/"; }
  void RemoveFiles() {
    for (const std::string& name : ListFolder(out())) unlink((out() + name).c_str());
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    test::WriteFile(root_ / ("in/" + name), bytes);
    return root_ / ("in/" + name);
  }
  int Unpack(bool lzh, const std::string& bytes) {
    const std::string path = Put(lzh ? "test.lzh" : "test.zip", bytes);
    const test::LoadedArchiver& archiver = lzh ? lzh_ : zip_;
    EXPECT_TRUE(archiver.Check(path));
    return archiver.Extract(path, out());
  }
  int Zip(const std::vector<ZipEntry>& entries) { return Unpack(false, BuildZip(entries)); }
  int Lzh(const std::vector<LzhEntry>& entries) { return Unpack(true, BuildLzh(entries)); }

  test::TempDir root_;
  test::LoadedArchiver lzh_{"UNLHA32.so"};
  test::LoadedArchiver zip_{"UNZIP32.so"};
};

TEST_F(HostileArchiveTest, NamesAreCutToASafeBaseName) {
  const std::pair<std::string, std::string> names[] = {
      {"../escape.txt", "escape.txt"},
      {"../../x/..\\up.txt", "up.txt"},
      {outside() + "abs.txt", "abs.txt"},
      {"a\\b\\back.txt", "back.txt"},
      {"ctl\x01\x1f.txt", "ctl__.txt"},
      {"line\nbreak.txt", "line_break.txt"},
      {".", ""},
      {"..", ""},
      {"sub/..", ""},
      {"", ""},
  };
  std::vector<ZipEntry> zip;
  std::vector<LzhEntry> lzh0;
  std::vector<LzhEntry> lzh2;
  Names expected;
  for (const auto& [name, safe] : names) {
    zip.push_back({name, "z:" + safe});
    if (!name.empty()) {  // an LZH header without a name is no header
      lzh0.push_back({.name = name, .data = "0:" + safe, .level = 0});
      lzh2.push_back({name, "2:" + safe});
    }
    if (!safe.empty()) expected.push_back(safe);
  }
  std::sort(expected.begin(), expected.end());

  EXPECT_EQ(Zip(zip), kArchiverOk);
  EXPECT_EQ(ListFolder(out()), expected);
  EXPECT_EQ(ReadFile(out() + "escape.txt"), "z:escape.txt");
  for (const auto& entries : {lzh0, lzh2}) {
    RemoveFiles();
    EXPECT_EQ(Lzh(entries), kArchiverOk);
    EXPECT_EQ(ListFolder(out()), expected);
  }
}

TEST_F(HostileArchiveTest, LinksDevicesAndFoldersAreNotUnpacked) {
  const std::string target = outside() + "target";
  EXPECT_EQ(Zip({{.name = "link", .data = target, .unix_mode = S_IFLNK | 0777},
                 {.name = "dev", .unix_mode = S_IFCHR | 0666},
                 {.name = "blk", .unix_mode = S_IFBLK | 0666},
                 {.name = "sock", .unix_mode = S_IFSOCK | 0666},
                 {.name = "DIR/", .unix_mode = S_IFDIR | 0755},
                 {.name = "DIR/file.txt", .data = "in a folder", .unix_mode = S_IFREG | 0644}}),
            kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"file.txt"}));
  EXPECT_EQ(ReadFile(out() + "file.txt"), "in a folder");

  RemoveFiles();
  EXPECT_EQ(Lzh({{.name = "link|" + target, .unix_mode = S_IFLNK | 0777},
                 {.method = "-lhd-", .directory = "DIR/"},
                 {.name = "file.txt", .data = "in a folder", .directory = "DIR/SUB/"}}),
            kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"file.txt"}));
}

TEST_F(HostileArchiveTest, SameBaseNamesAreAllKept) {
  EXPECT_EQ(Zip({{"DISK1/GAME.FDI", "one"},
                 {"DISK2/GAME.FDI", "two"},
                 {"GAME_2.FDI", "literal"},
                 {"DISK3\\GAME.FDI", "three"},
                 {"disk4/game.fdi", "lower"}}),
            kArchiverOk);
  EXPECT_EQ(ReadFile(out() + "GAME.FDI"), "one");
  EXPECT_EQ(ReadFile(out() + "GAME_2.FDI"), "two");
  EXPECT_EQ(ReadFile(out() + "GAME_2_2.FDI"), "literal");
  EXPECT_EQ(ReadFile(out() + "GAME_3.FDI"), "three");
  EXPECT_EQ(ReadFile(out() + "game.fdi"), "lower");

  RemoveFiles();
  EXPECT_EQ(Lzh({{.name = "GAME.FDI", .data = "one", .directory = "DISK1/"},
                 {.name = "GAME.FDI", .data = "two", .directory = "DISK2/"},
                 {"NOEXT", "a"},
                 {"NOEXT", "b"}}),
            kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"GAME.FDI", "GAME_2.FDI", "NOEXT", "NOEXT_2"}));
  EXPECT_EQ(ReadFile(out() + "GAME_2.FDI"), "two");
}

TEST_F(HostileArchiveTest, FilesAlreadyInTheFolderAreNeitherOverwrittenNorFollowed) {
  // The dropped file itself may lie in the temporary folder; a link there
  // must not carry an entry elsewhere.
  const std::string zip = BuildZip({{"GAME.FDI", "unpacked"}, {"kept-link.FDI", "unpacked link"}});
  test::WriteFile(out() + "GAME.FDI", "dropped");
  test::WriteFile(outside() + "victim", "untouched");
  ASSERT_EQ(symlink((outside() + "victim").c_str(), (out() + "kept-link.FDI").c_str()), 0);
  EXPECT_EQ(Unpack(false, zip), kArchiverOk);
  EXPECT_EQ(ReadFile(out() + "GAME.FDI"), "dropped");
  EXPECT_EQ(ReadFile(out() + "GAME_2.FDI"), "unpacked");
  EXPECT_EQ(ReadFile(out() + "kept-link_2.FDI"), "unpacked link");
  EXPECT_EQ(ReadFile(outside() + "victim"), "untouched");
  unlink((outside() + "victim").c_str());
}

TEST_F(HostileArchiveTest, PathsThatCannotBeQuotedAreRefused) {
  const std::string zip = BuildZip({{"A.FDI", "a"}});
  const std::string lzh = BuildLzh({{"A.FDI", "a"}});
  for (const std::string name : {"quote\"d", "line\nbreak", "cr\rreturn"}) {
    SCOPED_TRACE(name);
    const std::string zip_path = Put(name + ".zip", zip);
    const std::string lzh_path = Put(name + ".lzh", lzh);
    // The files are archives all the same; only the command line fails.
    EXPECT_TRUE(zip_.Check(zip_path));
    EXPECT_TRUE(lzh_.Check(lzh_path));
    EXPECT_EQ(zip_.Extract(zip_path, out()), kArchiverBadCommand);
    EXPECT_EQ(lzh_.Extract(lzh_path, out()), kArchiverBadCommand);
    unlink(zip_path.c_str());
    unlink(lzh_path.c_str());
  }
  // A folder with a quote: the tail of the line cannot be trusted either.
  EXPECT_EQ(zip_.Extract(Put("ok.zip", zip), out() + "\" x.zip\" \"" + outside()),
            kArchiverBadCommand);
  EXPECT_TRUE(ListFolder(out()).empty());
}

// Sizes over the limits, encryption and damage: each fails with its own
// result, and only entries that were whole before the failure stay.
TEST_F(HostileArchiveTest, RefusedArchivesLeaveNoPartFile) {
  EXPECT_EQ(Zip({{"good.txt", "g"}, {.name = "bad.FDI", .data = "data", .crc = 0x12345678}}),
            kArchiverDamaged);
  EXPECT_EQ(ListFolder(out()), (Names{"good.txt"}));
  RemoveFiles();
  // One byte of data behind a header that promises more than 1 GiB.
  EXPECT_EQ(Zip({{"small.txt", "s"}, {.name = "big.FDI", .data = "x", .original_size = kGiB + 1}}),
            kArchiverTooLarge);
  EXPECT_EQ(Lzh({{"small.txt", "s"}, {.name = "big.FDI", .data = "x", .original_size = kGiB + 1}}),
            kArchiverTooLarge);
  // Exactly 1 GiB is allowed (and then its data is missing); five are too much together.
  const LzhEntry gib{.name = "E.FDI", .data = "x", .original_size = kGiB};
  EXPECT_EQ(Lzh({gib}), kArchiverDamaged);
  EXPECT_EQ(Lzh(std::vector<LzhEntry>(5, gib)), kArchiverTooLarge);
  EXPECT_EQ(Zip({{"plain.txt", "p"}, {.name = "secret.FDI", .data = "xxxxxxxxxxxx", .flags = 1}}),
            kArchiverEncrypted);
  for (int level : {0, 2}) {
    SCOPED_TRACE(level);
    EXPECT_EQ(Lzh({{.name = "bad.FDI", .data = "data", .level = level, .crc = 0x1234}}),
              kArchiverDamaged);
    // Methods libarchive does not decode are damage too, not an empty file.
    EXPECT_EQ(Lzh({{.name = "old.FDI", .data = "data", .method = "-lh1-", .level = level}}),
              kArchiverDamaged);
  }
  EXPECT_EQ(Zip({{.name = "imploded.FDI", .data = "data", .method = 6}}), kArchiverDamaged);
  EXPECT_TRUE(ListFolder(out()).empty());
}

TEST_F(HostileArchiveTest, ToolMadeArchivesWithAPasswordOrDamagedLh5Fail) {
  test::TempDir src;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a disk\n";
  test::WriteFile(src / "T.FDI", text);
  ASSERT_EQ(test::RunIn(src.path(), "zip -q -P secret made.zip T.FDI").status, 0);
  EXPECT_EQ(Unpack(false, ReadFile(src / "made.zip")), kArchiverEncrypted);
  for (const std::string level : {"0", "1", "2"}) {
    SCOPED_TRACE(level);
    ASSERT_EQ(test::RunIn(src.path(), "jlha c" + level + " " + level + ".lzh T.FDI").status, 0);
    std::string bytes = ReadFile(src / (level + ".lzh"));
    bytes[bytes.size() - 40] ^= 0x55;  // inside the compressed stream
    EXPECT_EQ(Unpack(true, bytes), kArchiverDamaged);
  }
  EXPECT_TRUE(ListFolder(out()).empty());
}

// The limits hold while data streams as well, for headers that lie; small
// limits through the library's core.
TEST_F(HostileArchiveTest, LimitsHoldWhileStreamingAndPartFilesAreRemoved) {
  const std::string path =
      Put("lie.lzh",
          BuildLzh({{"HONEST.FDI", std::string(600, 'h')},
                    {.name = "LIAR.FDI", .data = std::string(5000, 'l'), .original_size = 1}}));
  const struct {
    uint64_t entry_bytes, total_bytes, entries;
    int result;
    Names left;  // the first file stays (the next drop empties the folder)
  } cases[] = {
      {1000, 100000, 10, kArchiverTooLarge, {"HONEST.FDI"}},
      {10000, 1000, 10, kArchiverTooLarge, {"HONEST.FDI"}},
      {10000, 100000, 1, kArchiverTooLarge, {}},
      // Within the limits, a size other than the promised one is damage.
      {10000, 100000, 10, kArchiverDamaged, {"HONEST.FDI"}},
  };
  for (const auto& c : cases) {
    RemoveFiles();
    const archiver::Limits limits{c.entry_bytes, c.total_bytes, c.entries};
    EXPECT_EQ(archiver::ExtractArchive(Format::kLzh, path, out(), limits).result, c.result);
    EXPECT_EQ(ListFolder(out()), c.left);
  }
}

// An archive inside is unpacked under the same rules as the one dropped:
// safe base names, nothing but regular files, and one set of limits for
// everything the drop unpacks.
TEST_F(HostileArchiveTest, ArchivesInsideShareTheNamesLinksAndLimits) {
  const std::string target = outside() + "target";
  const std::string inner = BuildLzh({{.name = "..\\..\\escape.FDI", .data = "e", .level = 0},
                                      {.name = "link|" + target, .unix_mode = S_IFLNK | 0777},
                                      {.name = "GAME.FDI", .data = std::string(600, 'i')}});
  const std::string outer_zip =
      BuildZip({{"../IN.LZH", inner}, {"GAME.FDI", std::string(600, 'o')}});
  EXPECT_EQ(Unpack(false, outer_zip), kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"GAME.FDI", "GAME_2.FDI", "escape.FDI"}));
  EXPECT_EQ(ReadFile(out() + "GAME_2.FDI"), std::string(600, 'i'));

  const std::string path = Put("outer.zip", outer_zip);
  const struct {
    archiver::Limits limits;
    int result;
  } limits[] = {
      {{1000, 100000, 5}, kArchiverOk},        // 2 entries outside, 3 inside
      {{1000, 100000, 4}, kArchiverTooLarge},  // one too many together
      // Outside: the LZH and 600 bytes; inside: 601 more, one byte too many.
      {{1000, inner.size() + 1200, 10}, kArchiverTooLarge},
  };
  for (const auto& l : limits) {
    RemoveFiles();
    EXPECT_EQ(archiver::ExtractArchive(Format::kZip, path, out(), l.limits).result, l.result);
  }
}

}  // namespace
}  // namespace dravik
