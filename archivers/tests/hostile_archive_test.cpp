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
using test::FileExists;
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
  void RemoveFiles() {
    for (const std::string& name : ListFolder(out())) unlink((out() + name).c_str());
  }
  std::string outside() const { return root_ / "outside/"; }
  std::string Put(const std::string& name, const std::string& bytes) {
    test::WriteFile(root_ / ("in/" + name), bytes);
    return root_ / ("in/" + name);
  }
  int Zip(const std::vector<ZipEntry>& entries) {
    const std::string path = Put("test.zip", BuildZip(entries));
    EXPECT_TRUE(zip_.Check(path));
    return zip_.Extract(path, out());
  }
  int Lzh(const std::vector<LzhEntry>& entries) {
    const std::string path = Put("test.lzh", BuildLzh(entries));
    EXPECT_TRUE(lzh_.Check(path));
    return lzh_.Extract(path, out());
  }

  test::TempDir root_;
  test::LoadedArchiver lzh_{"UNLHA32.so"};
  test::LoadedArchiver zip_{"UNZIP32.so"};
};

TEST_F(HostileArchiveTest, NamesAreCutToASafeBaseName) {
  const std::string absolute = outside() + "abs.txt";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"../escape.txt", "escape.txt"},
      {"../../x/..\\up.txt", "up.txt"},
      {absolute, "abs.txt"},
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
    zip.emplace_back(name, "z:" + safe);
    if (!name.empty()) {  // an LZH header without a name is no header
      lzh0.push_back(LzhEntry(name, "0:" + safe).Level(0));
      lzh2.emplace_back(name, "2:" + safe);
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
  EXPECT_EQ(Zip({ZipEntry("link", target).UnixMode(S_IFLNK | 0777),
                 ZipEntry("dev", "").UnixMode(S_IFCHR | 0666),
                 ZipEntry("blk", "").UnixMode(S_IFBLK | 0666),
                 ZipEntry("sock", "").UnixMode(S_IFSOCK | 0666),
                 ZipEntry("DIR/", "").UnixMode(S_IFDIR | 0755),
                 ZipEntry("DIR/file.txt", "in a folder").UnixMode(S_IFREG | 0644)}),
            kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"file.txt"}));
  EXPECT_EQ(ReadFile(out() + "file.txt"), "in a folder");

  RemoveFiles();
  EXPECT_EQ(Lzh({LzhEntry("link|" + target, "").UnixMode(S_IFLNK | 0777),
                 LzhEntry("", "").Method("-lhd-").Directory("DIR/"),
                 LzhEntry("file.txt", "in a folder").Directory("DIR/SUB/")}),
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
  EXPECT_EQ(Lzh({LzhEntry("GAME.FDI", "one").Directory("DISK1/"),
                 LzhEntry("GAME.FDI", "two").Directory("DISK2/"),
                 {"NOEXT", "a"},
                 {"NOEXT", "b"}}),
            kArchiverOk);
  EXPECT_EQ(ListFolder(out()), (Names{"GAME.FDI", "GAME_2.FDI", "NOEXT", "NOEXT_2"}));
  EXPECT_EQ(ReadFile(out() + "GAME_2.FDI"), "two");
}

TEST_F(HostileArchiveTest, FilesAlreadyInTheFolderAreNeitherOverwrittenNorFollowed) {
  // The dropped file itself may lie in the temporary folder; a link there
  // must not carry an entry elsewhere.
  test::WriteFile(out() + "GAME.FDI", "dropped");
  test::WriteFile(outside() + "victim", "untouched");
  ASSERT_EQ(symlink((outside() + "victim").c_str(), (out() + "kept-link.FDI").c_str()), 0);
  EXPECT_EQ(Zip({{"GAME.FDI", "unpacked"}, {"kept-link.FDI", "unpacked link"}}), kArchiverOk);
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
  const std::string path = Put("ok.zip", zip);
  EXPECT_EQ(zip_.Extract(path, out() + "\" x.zip\" \"" + outside()), kArchiverBadCommand);
  EXPECT_TRUE(ListFolder(out()).empty());
}

TEST_F(HostileArchiveTest, DeclaredSizesOverTheLimitsUnpackNothing) {
  // One byte of data behind a header that promises more than 1 GiB.
  EXPECT_EQ(Zip({{"small.txt", "s"}, ZipEntry("big.FDI", "x").OriginalSize(kGiB + 1)}),
            kArchiverTooLarge);
  EXPECT_EQ(Lzh({{"small.txt", "s"}, LzhEntry("big.FDI", "x").OriginalSize(kGiB + 1)}),
            kArchiverTooLarge);
  // Exactly 1 GiB is allowed; this one then fails on its missing data.
  EXPECT_EQ(Lzh({LzhEntry("big.FDI", "x").OriginalSize(kGiB)}), kArchiverDamaged);
  // Five entries of 1 GiB each.
  std::vector<LzhEntry> five;
  for (int i = 0; i < 5; ++i) five.push_back(LzhEntry("E.FDI", "x").OriginalSize(kGiB));
  EXPECT_EQ(Lzh(five), kArchiverTooLarge);
  EXPECT_TRUE(ListFolder(out()).empty());
}

// The limits are enforced while data streams as well, for headers that lie;
// these cases use small limits through the library's core.
TEST_F(HostileArchiveTest, LimitsHoldWhileStreamingAndPartFilesAreRemoved) {
  const std::string honest(600, 'h');
  const std::string liar(5000, 'l');
  const std::string path = Put(
      "lie.lzh", BuildLzh({{"HONEST.FDI", honest}, LzhEntry("LIAR.FDI", liar).OriginalSize(1)}));
  archiver::Limits limits{.entry_bytes = 1000, .total_bytes = 100000, .entries = 10};
  EXPECT_EQ(archiver::ExtractArchive(Format::kLzh, path, out(), limits).result, kArchiverTooLarge);
  // The first file stays (the next drop empties the folder), the cut one is gone.
  EXPECT_EQ(ListFolder(out()), (Names{"HONEST.FDI"}));

  RemoveFiles();
  limits = {.entry_bytes = 10000, .total_bytes = 1000, .entries = 10};
  EXPECT_EQ(archiver::ExtractArchive(Format::kLzh, path, out(), limits).result, kArchiverTooLarge);
  EXPECT_EQ(ListFolder(out()), (Names{"HONEST.FDI"}));

  // Within the limits, a size other than the promised one is damage.
  RemoveFiles();
  EXPECT_EQ(archiver::ExtractArchive(Format::kLzh, path, out()).result, kArchiverDamaged);
  EXPECT_EQ(ListFolder(out()), (Names{"HONEST.FDI"}));

  RemoveFiles();
  limits = {.entry_bytes = 10000, .total_bytes = 100000, .entries = 1};
  EXPECT_EQ(archiver::ExtractArchive(Format::kLzh, path, out(), limits).result, kArchiverTooLarge);
  EXPECT_TRUE(ListFolder(out()).empty());
}

TEST_F(HostileArchiveTest, EncryptedEntriesFail) {
  EXPECT_EQ(Zip({{"plain.txt", "p"}, ZipEntry("secret.FDI", "xxxxxxxxxxxx").Flags(1)}),
            kArchiverEncrypted);
  test::TempDir src;
  test::WriteFile(src / "A.FDI", std::string(3000, 'a'));
  const std::string made = root_ / "in/enc.zip";
  ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(src.path()) + " && zip -q -P secret " +
                             test::ShellQuote(made) + " A.FDI")
                .status,
            0);
  EXPECT_TRUE(zip_.Check(made));
  EXPECT_EQ(zip_.Extract(made, out()), kArchiverEncrypted);
  EXPECT_TRUE(ListFolder(out()).empty());
}

TEST_F(HostileArchiveTest, DamagedDataFailsAndLeavesNoPartFile) {
  EXPECT_EQ(Zip({{"good.txt", "g"}, ZipEntry("bad.FDI", "data").Crc(0x12345678)}),
            kArchiverDamaged);
  EXPECT_EQ(ListFolder(out()), (Names{"good.txt"}));
  RemoveFiles();
  for (int level : {0, 2}) {
    SCOPED_TRACE(level);
    EXPECT_EQ(Lzh({LzhEntry("bad.FDI", "data").Level(level).Crc(0x1234)}), kArchiverDamaged);
    // Methods libarchive does not decode are damage too, not an empty file.
    EXPECT_EQ(Lzh({LzhEntry("old.FDI", "data").Level(level).Method("-lh1-")}), kArchiverDamaged);
  }
  EXPECT_EQ(Zip({ZipEntry("imploded.FDI", "data").Method(6)}), kArchiverDamaged);
  EXPECT_TRUE(ListFolder(out()).empty());
}

TEST_F(HostileArchiveTest, DamagedLh5StreamsOfEveryHeaderLevelFail) {
  test::TempDir src;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a disk\n";
  test::WriteFile(src / "T.FDI", text);
  for (const char* level : {"0", "1", "2"}) {
    SCOPED_TRACE(level);
    const std::string made = root_ / "in/made.lzh";
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(src.path()) + " && jlha c" + level + " " +
                               test::ShellQuote(made) + " T.FDI")
                  .status,
              0);
    std::string bytes = ReadFile(made);
    ASSERT_GT(bytes.size(), 200u);
    bytes[bytes.size() - 40] ^= 0x55;  // inside the compressed stream
    test::WriteFile(made, bytes);
    EXPECT_NE(lzh_.Extract(made, out()), kArchiverOk);
    EXPECT_TRUE(ListFolder(out()).empty());
    unlink(made.c_str());
  }
}

}  // namespace
}  // namespace dravik
