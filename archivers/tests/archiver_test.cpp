// UNLHA32 and UNZIP32 on archives made by independent tools at test time:
// jlha-utils for LZH (lh5 and lh0 entries, header levels 0 to 2), zip for
// ZIP. The unpacked names and bytes must be the ones that went in.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "archive_builder.h"
#include "archiver_harness.h"
#include "text.h"

namespace dravik {
namespace {

using test::FileExists;
using test::ListFolder;
using test::ReadFile;
using test::ShellQuote;

// ソフト.txt: "ソ" is 0x83 0x5C, whose second byte is "\".
const std::string kSjisName = "\x83\x5C\x83\x74\x83\x67.txt";
const std::string kUtf8Name = "ソフト.txt";

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Bytes that no compressor shrinks, so that jlha stores them as -lh0-.
std::string Noise(size_t size) {
  std::string out(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

class ToolArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::HaveTool("jlha")) << "jlha-utils is needed";
    ASSERT_TRUE(test::HaveTool("zip")) << "zip is needed";
    mkdir((src_ / "DIR").c_str(), 0755);
    test::WriteFile(src_ / "text.txt", text_);
    test::WriteFile(src_ / "noise.bin", noise_);
    test::WriteFile(src_ / "DIR/inner.txt", inner_);
    test::WriteFile(src_ / kUtf8Name, "sjis name\n");
  }
  test::CommandResult InSource(const std::string& command) {
    return test::RunCommand("cd " + ShellQuote(src_.path()) + " && " + command);
  }
  void ExpectUnpacked(const std::string& folder) {
    EXPECT_EQ(ListFolder(folder),
              (std::vector<std::string>{"inner.txt", "noise.bin", "text.txt", kUtf8Name}));
    EXPECT_EQ(ReadFile(folder + "text.txt"), text_);
    EXPECT_EQ(ReadFile(folder + "noise.bin"), noise_);
    EXPECT_EQ(ReadFile(folder + "inner.txt"), inner_);
    EXPECT_EQ(ReadFile(folder + kUtf8Name), "sjis name\n");
  }

  test::TempDir src_;
  test::TempDir out_;
  const std::string text_ = Repeated("PC-98 disk image line\n", 3000);
  const std::string noise_ = Noise(20000);
  const std::string inner_ = Repeated("inner\n", 500);
  test::LoadedArchiver lzh_{"UNLHA32.so"};
  test::LoadedArchiver zip_{"UNZIP32.so"};
};

TEST_F(ToolArchiveTest, UnpacksLzhOfEveryHeaderLevel) {
  for (const char* level : {"0", "1", "2"}) {
    SCOPED_TRACE(std::string("level ") + level);
    const std::string archive = src_ / ("test" + std::string(level) + ".lzh");
    // "y" stores the names as Shift-JIS.
    const auto made = InSource(std::string("jlha c") + level + "y " + ShellQuote(archive) +
                               " text.txt noise.bin DIR/inner.txt " + ShellQuote(kUtf8Name));
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_NE(ReadFile(archive).find(kSjisName), std::string::npos);
    // The oracle's own listing: both methods are really in the archive.
    const auto listing = InSource("jlha v " + ShellQuote(archive));
    EXPECT_NE(listing.out.find("-lh5-"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("-lh0-"), std::string::npos) << listing.out;

    test::TempDir out;
    EXPECT_TRUE(lzh_.Check(archive));
    EXPECT_FALSE(zip_.Check(archive));
    EXPECT_EQ(lzh_.Extract(archive, out.path()), kArchiverOk);
    ExpectUnpacked(out.path());
  }
}

TEST_F(ToolArchiveTest, UnpacksZipWithDeflatedAndStoredEntries) {
  const std::string archive = src_ / "test.zip";
  // Names as a PC-98 or Windows zipper leaves them: CP932 bytes, no UTF-8 flag.
  test::WriteFile(src_ / kSjisName, "sjis name\n");
  const auto made = InSource("LC_ALL=C zip -q " + ShellQuote(archive) +
                             " text.txt noise.bin DIR/inner.txt " + ShellQuote(kSjisName));
  ASSERT_EQ(made.status, 0) << made.err;
  const auto listing = test::RunCommand("unzip -v " + ShellQuote(archive));
  EXPECT_NE(listing.out.find("Defl:"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("Stored"), std::string::npos) << listing.out;

  EXPECT_TRUE(zip_.Check(archive));
  EXPECT_FALSE(lzh_.Check(archive));
  EXPECT_EQ(zip_.Extract(archive, out_.path()), kArchiverOk);
  ExpectUnpacked(out_.path());
}

TEST_F(ToolArchiveTest, QuotedPathsWithSpacesAndJapanese) {
  test::TempDir root;
  const std::string folder = root / "出力 フォルダ/";
  const std::string archive = root / "ゲーム ディスク.ZIP";
  mkdir(folder.c_str(), 0755);
  ASSERT_EQ(InSource("zip -q " + ShellQuote(archive) + " text.txt").status, 0);
  EXPECT_TRUE(zip_.Check(archive));
  EXPECT_EQ(zip_.Extract(archive, folder), kArchiverOk);
  EXPECT_EQ(ReadFile(folder + "text.txt"), text_);
  // The folder may be given without its "/".
  test::TempDir other;
  std::string bare = other.path();
  bare.pop_back();
  EXPECT_EQ(zip_.Extract(archive, bare), kArchiverOk);
  EXPECT_TRUE(FileExists(other / "text.txt"));
}

TEST_F(ToolArchiveTest, ZipNamesAreUtf8OnlyWhenTheArchiveSaysSo) {
  const std::string flagged = src_ / "flagged.zip";
  test::WriteFile(flagged, test::BuildZip({test::ZipEntry("フラグ付き.txt", "a").Flags(0x0800)}));
  EXPECT_EQ(zip_.Extract(flagged, out_.path()), kArchiverOk);
  // zip on Linux stores UTF-8 bytes without the flag: read as CP932, as a
  // PC-98 archive would be.
  const std::string unflagged = src_ / "unflagged.zip";
  ASSERT_EQ(InSource("zip -q " + ShellQuote(unflagged) + " " + ShellQuote(kUtf8Name)).status, 0);
  EXPECT_EQ(zip_.Extract(unflagged, out_.path()), kArchiverOk);
  // Bytes that are no CP932 character become "_".
  const std::string broken = src_ / "broken.zip";
  test::WriteFile(broken, test::BuildZip({{"A\xFD"
                                           "B\x81.txt",
                                           "b"}}));
  EXPECT_EQ(zip_.Extract(broken, out_.path()), kArchiverOk);

  EXPECT_EQ(ListFolder(out_.path()),
            (std::vector<std::string>{"A_B_.txt", "フラグ付き.txt", SjisToFileName(kUtf8Name)}));
}

TEST_F(ToolArchiveTest, LzhNameThatIsNoShiftJisKeepsItsFile) {
  const std::string archive = src_ / "broken.lzh";
  test::WriteFile(archive, test::BuildLzh({test::LzhEntry("A\xFD"
                                                          "B\x81.txt",
                                                          "b")
                                               .Level(0),
                                           {"C\xFD.txt", "c"}}));
  EXPECT_EQ(lzh_.Extract(archive, out_.path()), kArchiverOk);
  EXPECT_EQ(ListFolder(out_.path()), (std::vector<std::string>{"A_B_.txt", "C_.txt"}));
}

TEST_F(ToolArchiveTest, ChecksReadTheDirectoryNotJustTheMagic) {
  ASSERT_EQ(InSource("jlha c " + ShellQuote(src_ / "a.lzh") + " text.txt noise.bin").status, 0);
  ASSERT_EQ(InSource("zip -q " + ShellQuote(src_ / "a.zip") + " text.txt noise.bin").status, 0);
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
  for (const auto& [name, bytes] : refused) {
    SCOPED_TRACE(name);
    test::WriteFile(src_ / name, bytes);
    EXPECT_FALSE(lzh_.Check(src_ / name));
    EXPECT_FALSE(zip_.Check(src_ / name));
    EXPECT_NE(lzh_.Extract(src_ / name, out_.path()), kArchiverOk);
    EXPECT_NE(zip_.Extract(src_ / name, out_.path()), kArchiverOk);
  }
  EXPECT_TRUE(ListFolder(out_.path()).empty());
}

TEST_F(ToolArchiveTest, ChecksRefuseWhatIsNoFileWithoutHanging) {
  const std::string fifo = src_ / "pipe.lzh";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  mkdir((src_ / "dir.zip").c_str(), 0755);
  for (const std::string& path : {fifo, src_ / "dir.zip", src_ / "missing.zip", std::string()}) {
    EXPECT_FALSE(lzh_.Check(path)) << path;
    EXPECT_FALSE(zip_.Check(path)) << path;
  }
  EXPECT_EQ(zip_.Extract(fifo, out_.path()), kArchiverNotArchive);
}

TEST_F(ToolArchiveTest, ThreadsUnpackAtOnce) {
  const std::string archive = src_ / "t.lzh";
  ASSERT_EQ(InSource("jlha cy " + ShellQuote(archive) + " text.txt noise.bin DIR/inner.txt " +
                     ShellQuote(kUtf8Name))
                .status,
            0);
  std::vector<std::unique_ptr<test::TempDir>> folders;
  std::vector<std::thread> threads;
  std::vector<int> results(4, -1);
  for (int i = 0; i < 4; ++i) {
    folders.push_back(std::make_unique<test::TempDir>());
    threads.emplace_back([&, i] { results[i] = lzh_.Extract(archive, folders[i]->path()); });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(results[i], kArchiverOk);
    ExpectUnpacked(folders[i]->path());
  }
}

}  // namespace
}  // namespace dravik
