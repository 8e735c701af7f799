// UNLHA32 and UNZIP32 on archives made by independent tools at test time:
// jlha-utils for LZH (lh5 and lh0 entries, header levels 0 to 2), zip for
// ZIP. The unpacked names and bytes must be the ones that went in.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <thread>

#include "archive_builder.h"
#include "archiver_harness.h"
#include "text.h"

namespace dravik {
namespace {

using test::ListFolder;
using test::ReadFile;
using test::ShellQuote;
using Names = std::vector<std::string>;

// ソフト.txt: "ソ" is 0x83 0x5C, whose second byte is "\".
const std::string kSjisName = "\x83\x5C\x83\x74\x83\x67.txt";
const std::string kUtf8Name = "ソフト.txt";

std::string Repeated(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// Bytes that no compressor shrinks, so that the tools store them.
std::string Noise(size_t size) {
  std::mt19937 random(1);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

class ToolArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::HaveTool("jlha") && test::HaveTool("zip")) << "jlha-utils and zip needed";
    mkdir((src_ / "DIR").c_str(), 0755);
    for (const auto& [path, bytes] : files_) test::WriteFile(src_ / path, bytes);
  }
  // Packs the files, the last one under the name given.
  void Pack(const std::string& command, const std::string& archive,
            const std::string& last_name = kUtf8Name) {
    if (last_name != kUtf8Name) test::WriteFile(src_ / last_name, files_.back().second);
    const auto made =
        test::RunIn(src_.path(), command + " " + ShellQuote(archive) +
                                     " text.txt noise.bin DIR/inner.txt " + ShellQuote(last_name));
    ASSERT_EQ(made.status, 0) << made.err;
  }
  void ExpectUnpacked(const std::string& folder) {
    EXPECT_EQ(ListFolder(folder), (Names{"inner.txt", "noise.bin", "text.txt", kUtf8Name}));
    for (const auto& [path, bytes] : files_) {
      EXPECT_EQ(ReadFile(folder + path.substr(path.find('/') + 1)), bytes) << path;
    }
  }

  test::TempDir src_;
  test::TempDir out_;
  const std::vector<std::pair<std::string, std::string>> files_ = {
      {"text.txt", Repeated("PC-98 disk image line\n", 3000)},
      {"noise.bin", Noise(20000)},
      {"DIR/inner.txt", Repeated("inner\n", 500)},
      {kUtf8Name, "sjis name\n"}};
  test::LoadedArchiver lzh_{"UNLHA32.so"};
  test::LoadedArchiver zip_{"UNZIP32.so"};
};

TEST_F(ToolArchiveTest, UnpacksLzhOfEveryHeaderLevelInThreadsAtOnce) {
  for (const char* level : {"0", "1", "2"}) {
    SCOPED_TRACE(std::string("level ") + level);
    const std::string archive = src_ / ("test" + std::string(level) + ".lzh");
    Pack(std::string("jlha c") + level + "y", archive);  // "y": Shift-JIS names
    ASSERT_NE(ReadFile(archive).find(kSjisName), std::string::npos);
    const std::string listing = test::RunCommand("jlha v " + ShellQuote(archive)).out;
    EXPECT_NE(listing.find("-lh5-"), std::string::npos) << listing;
    EXPECT_NE(listing.find("-lh0-"), std::string::npos) << listing;
    EXPECT_TRUE(lzh_.Check(archive));
    EXPECT_FALSE(zip_.Check(archive));

    test::TempDir folders[3];
    int results[3];
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
      threads.emplace_back([&, i] {
        std::string folder = folders[i].path();
        if (i == 0) folder.pop_back();  // a folder given without its "/"
        results[i] = lzh_.Extract(archive, folder);
      });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(results[i], kArchiverOk);
      ExpectUnpacked(folders[i].path());
    }
  }
}

// zip on Linux stores names as their bytes, unflagged: UTF-8 from a UTF-8
// locale, CP932 when the files were named so (as a PC-98 or Windows zipper
// leaves them). Both come out as the names that went in.
TEST_F(ToolArchiveTest, UnpacksDeflatedAndStoredZipEntriesBetweenQuotedJapanesePaths) {
  for (const std::string& name : {kUtf8Name, kSjisName}) {
    SCOPED_TRACE(name == kUtf8Name ? "UTF-8" : "CP932");
    const std::string archive = out_ / ("ゲーム ディスク" + std::to_string(name.size()) + ".ZIP");
    const std::string folder = out_ / ("出力 フォルダ" + std::to_string(name.size()) + "/");
    mkdir(folder.c_str(), 0755);
    Pack("LC_ALL=C.UTF-8 zip -q", archive, name);
    ASSERT_NE(ReadFile(archive).find(name), std::string::npos);
    const std::string listing = test::RunCommand("unzip -v " + ShellQuote(archive)).out;
    EXPECT_NE(listing.find("Defl:"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Stored"), std::string::npos) << listing;
    EXPECT_TRUE(zip_.Check(archive));
    EXPECT_FALSE(lzh_.Check(archive));
    EXPECT_EQ(zip_.Extract(archive, folder), kArchiverOk);
    ExpectUnpacked(folder);
  }
}

// A ZIP name is read as UTF-8 when Info-ZIP's Unicode path field names it,
// when the flag says so, or when it was made on Unix and is UTF-8; else as
// CP932. Bytes that are no CP932 character become "_" in both formats.
TEST_F(ToolArchiveTest, EntryNamesAreDecodedAsTheirArchiveSays) {
  const std::string broken = "A\375B\201.txt";  // FD, then a lead byte 81 without its trail
  const uint32_t unix_file = S_IFREG | 0644;
  test::WriteFile(src_ / "n.zip",
                  test::BuildZip({{.name = "フラグ付き.txt", .data = "a", .flags = 0x0800},
                                  {"ドス.txt", "b"},
                                  {.name = "ユニックス.txt", .data = "c", .unix_mode = unix_file},
                                  {.name = kSjisName, .data = "d", .unix_mode = unix_file},
                                  {.name = "GAME~1.IMG",
                                   .data = "e",
                                   .extra = test::UnicodePathField("GAME~1.IMG", "ゲーム.IMG")},
                                  // A field left from before a rename no longer matches the name.
                                  {.name = "STALE.IMG",
                                   .data = "f",
                                   .extra = test::UnicodePathField("OLD.IMG", "古い.IMG")},
                                  {broken, "g"}}));
  EXPECT_EQ(zip_.Extract(src_ / "n.zip", out_.path()), kArchiverOk);
  Names expected = {"フラグ付き.txt", SjisToFileName("ドス.txt"),
                    "ユニックス.txt", kUtf8Name,
                    "ゲーム.IMG",     "STALE.IMG",
                    "A_B_.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(out_.path()), expected);
  EXPECT_EQ(ReadFile(out_ / "ゲーム.IMG"), "e");
  // A self-extractor's program in front moves the directory from where its
  // end record says it is.
  test::TempDir sfx_out;
  test::WriteFile(src_ / "sfx.zip", "MZ" + std::string(510, '\x90') + ReadFile(src_ / "n.zip"));
  EXPECT_TRUE(zip_.Check(src_ / "sfx.zip"));
  EXPECT_EQ(zip_.Extract(src_ / "sfx.zip", sfx_out.path()), kArchiverOk);
  EXPECT_EQ(ListFolder(sfx_out.path()), expected);

  test::TempDir lzh_out;
  test::WriteFile(src_ / "n.lzh",
                  test::BuildLzh({{.name = broken, .data = "b", .level = 0}, {"C\xFD.txt", "c"}}));
  EXPECT_EQ(lzh_.Extract(src_ / "n.lzh", lzh_out.path()), kArchiverOk);
  EXPECT_EQ(ListFolder(lzh_out.path()), (Names{"A_B_.txt", "C_.txt"}));
}

// A damaged archive is still taken by its library, so that unpacking it
// fails and says so; an empty one unpacks to nothing. Whatever is no
// archive of either format is refused without hanging.
TEST_F(ToolArchiveTest, ChecksTakeArchivesByTheirStartAndDamageFailsTheUnpacking) {
  Pack("jlha c", src_ / "a.lzh");
  Pack("zip -q", src_ / "a.zip");
  const std::string lzh = ReadFile(src_ / "a.lzh");
  const std::string zip = ReadFile(src_ / "a.zip");
  // An LZH from which lha deleted every file, and a ZIP of no entries.
  test::WriteFile(src_ / "gone.txt", "x");
  ASSERT_EQ(test::RunIn(src_.path(), "lha a gone.lzh gone.txt && lha d gone.lzh gone.txt").status,
            0);
  ASSERT_EQ(ReadFile(src_ / "gone.lzh"), std::string(1, '\0'));
  ASSERT_EQ(
      test::RunIn(src_.path(), "zip -q none.zip gone.txt && zip -q -d none.zip gone.txt").status,
      0);
  const struct {
    std::string name;
    std::string bytes;
    bool lzh;  // which library takes it
    int result;
  } taken[] = {
      {"cut.lzh", lzh.substr(0, lzh.size() / 2), true, kArchiverDamaged},
      {"head.lzh", lzh.substr(0, 22), true, kArchiverDamaged},  // the header's start alone
      {"cut.zip", zip.substr(0, zip.size() - 30), false, kArchiverDamaged},  // no end record
      {"local.zip", zip.substr(0, zip.find("PK\x01\x02")), false, kArchiverDamaged},
      {"gone.lzh", ReadFile(src_ / "gone.lzh"), true, kArchiverOk},
      {"none.zip", ReadFile(src_ / "none.zip"), false, kArchiverOk},
  };
  for (const auto& t : taken) {
    SCOPED_TRACE(t.name);
    test::WriteFile(src_ / t.name, t.bytes);
    const test::LoadedArchiver& archiver = t.lzh ? lzh_ : zip_;
    const test::LoadedArchiver& other = t.lzh ? zip_ : lzh_;
    EXPECT_TRUE(archiver.Check(src_ / t.name));
    EXPECT_FALSE(other.Check(src_ / t.name));
    EXPECT_EQ(archiver.Extract(src_ / t.name, out_.path()), t.result);
  }

  Names refused = {src_ / "pipe.lzh", src_ / "dir.zip", src_ / "missing.zip", ""};
  ASSERT_EQ(mkfifo(refused[0].c_str(), 0600), 0);
  mkdir(refused[1].c_str(), 0755);
  for (const auto& [name, bytes] :
       {std::pair<std::string, std::string>{"text.lzh", "DRAVIK-TEST\n"}, {"empty.zip", ""}}) {
    test::WriteFile(src_ / name, bytes);
    refused.push_back(src_ / name);
  }
  for (const std::string& path : refused) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(lzh_.Check(path));
    EXPECT_FALSE(zip_.Check(path));
    EXPECT_NE(lzh_.Extract(path, out_.path()), kArchiverOk);
    EXPECT_NE(zip_.Extract(path, out_.path()), kArchiverOk);
  }
  EXPECT_TRUE(ListFolder(out_.path()).empty());
}

}  // namespace
}  // namespace dravik
