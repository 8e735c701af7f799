// UNLHA32 and UNZIP32 on archives made by independent tools at test time:
// jlha-utils for LZH (lh5 and lh0 entries, header levels 0 to 2), zip for
// ZIP. The unpacked names and bytes must be the ones that went in.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST_F(ToolArchiveTest, UnpacksDeflatedAndStoredZipEntriesBetweenQuotedJapanesePaths) {
  const std::string archive = out_ / "ゲーム ディスク.ZIP";
  const std::string folder = out_ / "出力 フォルダ/";
  mkdir(folder.c_str(), 0755);
  // Names as a PC-98 or Windows zipper leaves them: CP932 bytes, no UTF-8 flag.
  Pack("LC_ALL=C zip -q", archive, kSjisName);
  const std::string listing = test::RunCommand("unzip -v " + ShellQuote(archive)).out;
  EXPECT_NE(listing.find("Defl:"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Stored"), std::string::npos) << listing;
  EXPECT_TRUE(zip_.Check(archive));
  EXPECT_FALSE(lzh_.Check(archive));
  EXPECT_EQ(zip_.Extract(archive, folder), kArchiverOk);
  ExpectUnpacked(folder);
}

// A ZIP name is UTF-8 only when its flag says so, else CP932 (as zip on
// Linux leaves UTF-8 names, unflagged); bytes that are no CP932 character
// become "_" in both formats.
TEST_F(ToolArchiveTest, EntryNamesAreDecodedAsTheirArchiveSays) {
  const std::string broken = "A\375B\201.txt";  // FD, then a lead byte 81 without its trail
  test::WriteFile(src_ / "n.zip",
                  test::BuildZip({{.name = "フラグ付き.txt", .data = "a", .flags = 0x0800},
                                  {kUtf8Name, "b"},
                                  {broken, "c"}}));
  EXPECT_EQ(zip_.Extract(src_ / "n.zip", out_.path()), kArchiverOk);
  EXPECT_EQ(ListFolder(out_.path()),
            (Names{"A_B_.txt", "フラグ付き.txt", SjisToFileName(kUtf8Name)}));

  test::TempDir lzh_out;
  test::WriteFile(src_ / "n.lzh",
                  test::BuildLzh({{.name = broken, .data = "b", .level = 0}, {"C\xFD.txt", "c"}}));
  EXPECT_EQ(lzh_.Extract(src_ / "n.lzh", lzh_out.path()), kArchiverOk);
  EXPECT_EQ(ListFolder(lzh_out.path()), (Names{"A_B_.txt", "C_.txt"}));
}

TEST_F(ToolArchiveTest, ChecksReadTheDirectoryNotJustTheMagicAndNeverHang) {
  Pack("jlha c", src_ / "a.lzh");
  Pack("zip -q", src_ / "a.zip");
  const std::string lzh = ReadFile(src_ / "a.lzh");
  const std::string zip = ReadFile(src_ / "a.zip");
  const std::pair<std::string, std::string> refused[] = {
      {"text.lzh", "DRAVIK-TEST\naccept=plain\n"},
      {"empty.zip", ""},
      {"cut.lzh", lzh.substr(0, lzh.size() / 2)},   // a header promises data that is not there
      {"head.lzh", lzh.substr(0, 22)},              // the magic and nothing else
      {"cut.zip", zip.substr(0, zip.size() - 30)},  // no end of central directory
      {"local.zip", zip.substr(0, zip.find("PK\x01\x02"))},  // entries but no directory
  };
  Names paths = {src_ / "pipe.lzh", src_ / "dir.zip", src_ / "missing.zip", ""};
  ASSERT_EQ(mkfifo(paths[0].c_str(), 0600), 0);
  mkdir(paths[1].c_str(), 0755);
  for (const auto& [name, bytes] : refused) {
    test::WriteFile(src_ / name, bytes);
    paths.push_back(src_ / name);
  }
  for (const std::string& path : paths) {
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
