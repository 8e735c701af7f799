// The HDI/THD converter: generated hard-disk images of both containers,
// converted by the plug-in in direct mode and through dravik-cli.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scratch_program.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::ShellQuote;

constexpr uint32_t kCylinder = 67584;
const std::string kSameName = "\r\n変換先ファイル名が変換元と同じです";
const std::string kTargetOpenError = "\r\n変換先ファイルオープンエラー";

std::string Le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

struct HdiFields {
  uint32_t header_size = 4096;
  uint32_t sector_length = 256;
  uint32_t sectors = 33;
  uint32_t heads = 8;
  int64_t data_size = -1;  // -1: as the other fields give it
};

std::string HdiHeader(uint32_t cylinders, const HdiFields& f = {}) {
  const uint64_t size = f.data_size >= 0
                            ? static_cast<uint64_t>(f.data_size)
                            : uint64_t{f.sector_length} * f.sectors * f.heads * cylinders;
  std::string h = Le32(0) + Le32(0) + Le32(f.header_size) + Le32(static_cast<uint32_t>(size)) +
                  Le32(f.sector_length) + Le32(f.sectors) + Le32(f.heads) + Le32(cylinders);
  return h + std::string(4096 - h.size(), '\0');
}

std::string ThdHeader(uint32_t cylinders) { return Le32(cylinders) + std::string(252, '\0'); }

// Cylinders of data that differ from each other and from cylinder to
// cylinder, so a dropped, doubled or shifted cylinder shows.
std::string Cylinders(int count, uint32_t seed) {
  std::string data(static_cast<size_t>(count) * kCylinder, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return data;
}

class HdiThdTest : public ::testing::Test {
 protected:
  test::LoadedPlugin converter_ = test::LoadBuiltPlugin("hdi_thd_converter.dvr");
  test::TempDir dir_;
};

TEST_F(HdiThdTest, RecognisesBothHeadersAndEveryFieldTheyPinDown) {
  const std::string data = Cylinders(2, 1);
  struct Case {
    const char* name;
    std::string bytes;
    int result;
    std::string info = "";
  };
  const Case cases[] = {
      {"HDI", HdiHeader(2) + data, 0, "\r\nHDI形式   SIZE = 135168 bytes"},
      {"THD", ThdHeader(2) + data, 0, "\r\nTHD形式   SIZE = 135168 bytes"},
      // 512-byte sectors still give a whole number of 256-byte cylinders.
      {"HDI of 512-byte sectors", HdiHeader(1, {.sector_length = 512}) + data, 2},
      {"HDI of 17 sectors", HdiHeader(2, {.sectors = 17}) + data, 2},
      {"HDI of 4 heads", HdiHeader(2, {.heads = 4}) + data, 2},
      {"HDI header of 512", HdiHeader(2, {.header_size = 512}) + data, 2},
      {"HDI data size off", HdiHeader(2, {.data_size = 2 * kCylinder + 256}) + data, 2},
      // 2^21 + 1 cylinders: their size taken to 32 bits is one cylinder.
      {"HDI whose size wraps", HdiHeader(2097153, {.data_size = kCylinder}) + data, 2},
      {"THD with a byte in its header", ThdHeader(2).replace(100, 1, "\1") + data, 2},
      {"THD with half a sector more", ThdHeader(2) + data + std::string(128, '\0'), 2},
      {"shorter than an HDI header", ThdHeader(0) + std::string(3839, '\0'), 2},
      {"a floppy FDI", HdiHeader(77, {.sector_length = 1024, .sectors = 8, .heads = 2}), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(dir_ / "DISK.IMG", c.bytes);
    const auto r = converter_.IsSupport(dir_ / "DISK.IMG");
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.message, "");
    if (c.result == 0) {
      const auto info = converter_.GetFileInfo(dir_ / "DISK.IMG");
      EXPECT_EQ(info.result, 0);
      EXPECT_EQ(info.message, c.info);
      EXPECT_EQ(info.title, "");
    }
  }
  for (const std::string& path : {dir_ / "missing.hdi", dir_.path()}) {
    EXPECT_EQ(converter_.IsSupport(path).result, 8) << path;
    EXPECT_EQ(converter_.GetFileInfo(path).result, 8) << path;
  }
}

// The output keeps the driver's path up to its extension, whatever that
// is; the data is copied unchanged under the other header.
TEST_F(HdiThdTest, ConvertsEachWayCylinderByCylinder) {
  const std::string data = Cylinders(3, 2);
  const std::string hdi = HdiHeader(3) + data;
  test::WriteFile(dir_ / "GAME.HDI", hdi);
  const auto to_thd = converter_.ReadDirect(dir_ / "GAME.HDI", dir_ / "GAME.   ");
  ASSERT_EQ(to_thd.result, 0) << to_thd.message;
  EXPECT_EQ(to_thd.message + to_thd.title, "");
  EXPECT_TRUE(test::ReadFile(dir_ / "GAME.THD") == ThdHeader(3) + data);
  ASSERT_EQ(to_thd.progress.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(to_thd.progress[i].done, i);
    EXPECT_EQ(to_thd.progress[i].total, 3);
    EXPECT_EQ(to_thd.progress[i].text, "");
  }

  test::RunCommand("mkdir " + ShellQuote(dir_ / "out.d"));
  const auto to_hdi = converter_.ReadDirect(dir_ / "GAME.THD", dir_ / "out.d/NEW.FDD");
  ASSERT_EQ(to_hdi.result, 0) << to_hdi.message;
  EXPECT_TRUE(test::ReadFile(dir_ / "out.d/NEW.HDI") == hdi);
  EXPECT_EQ(test::ListFolder(dir_ / "out.d"), std::vector<std::string>{"NEW.HDI"});

  // A THD of 153 cylinders takes an HDI header that states them.
  const std::string thd153 = ThdHeader(153) + Cylinders(153, 3);
  test::WriteFile(dir_ / "BIG.THD", thd153);
  ASSERT_EQ(converter_.ReadDirect(dir_ / "BIG.THD", dir_ / "out.d/BIG").result, 0);
  const std::string hdi153 = test::ReadFile(dir_ / "out.d/BIG.HDI");
  EXPECT_EQ(hdi153.size(), 4096u + 10340352u);
  EXPECT_EQ(hdi153.substr(0, 4096), HdiHeader(153));
  EXPECT_EQ(HdiHeader(153).substr(12, 4), Le32(10340352));
  EXPECT_TRUE(hdi153.substr(4096) == thd153.substr(256));
}

TEST_F(HdiThdTest, NeverWritesOverItsSource) {
  const std::string hdi = HdiHeader(1) + Cylinders(1, 4);
  // An HDI stored under the name its output would take.
  test::WriteFile(dir_ / "GAME.THD", hdi);
  const auto same = converter_.ReadDirect(dir_ / "GAME.THD", dir_ / "GAME.   ");
  EXPECT_EQ(same.result, 8);
  EXPECT_EQ(same.message, kSameName);
  // Names that differ only in case, as on a case-blind mount, or a link:
  // the same file all the same.
  test::WriteFile(dir_ / "game.thd", hdi);
  ASSERT_EQ(unlink((dir_ / "GAME.THD").c_str()), 0);
  ASSERT_EQ(symlink("game.thd", (dir_ / "GAME.THD").c_str()), 0);
  ASSERT_EQ(link((dir_ / "game.thd").c_str(), (dir_ / "Game.THD").c_str()), 0);
  for (const std::string output : {"GAME.   ", "Game.IMG"}) {
    const auto linked = converter_.ReadDirect(dir_ / "game.thd", dir_ / output);
    EXPECT_EQ(linked.result, 8) << output;
    EXPECT_EQ(linked.message, kSameName) << output;
  }
  EXPECT_TRUE(test::ReadFile(dir_ / "game.thd") == hdi);
}

TEST_F(HdiThdTest, RefusalsAndFailuresLeaveNoOutput) {
  const std::string thd = ThdHeader(2) + Cylinders(2, 5);
  test::WriteFile(dir_ / "A.THD", thd);
  auto image = test::NewDiskImage();
  const auto not_direct = converter_.ReadDisk(dir_ / "A.THD", *image);
  EXPECT_EQ(not_direct.result, 8);
  EXPECT_EQ(not_direct.message, "\r\n未対応の変換です。");

  const auto missing = converter_.ReadDirect(dir_ / "B.THD", dir_ / "B.   ");
  EXPECT_EQ(missing.result, 8);
  EXPECT_EQ(missing.message, "\r\n変換元ファイルオープンエラー\r\n" + dir_ / "B.THD" +
                                 ": No such file or directory");
  // Stopped part way: the file already under the output's name stays, and
  // nothing of the unfinished copy is left beside it.
  test::TempDir elsewhere;
  test::WriteFile(elsewhere / "A.HDI", "older");
  const auto aborted = converter_.ReadDirect(dir_ / "A.THD", elsewhere / "A.   ", 1, 2);
  EXPECT_EQ(aborted.result, 1);
  EXPECT_EQ(aborted.progress.size(), 2u);
  EXPECT_TRUE(test::ReadFile(elsewhere / "A.HDI") == "older");
  EXPECT_EQ(test::ListFolder(elsewhere.path()), std::vector<std::string>{"A.HDI"});
  const auto no_folder = converter_.ReadDirect(dir_ / "A.THD", dir_ / "none/A.   ");
  EXPECT_EQ(no_folder.result, 8);
  EXPECT_EQ(no_folder.message,
            kTargetOpenError + "\r\n" + dir_ / "none/A.HDI" + ": No such file or directory");

  // More cylinders claimed than held: a read error, found before writing.
  test::WriteFile(dir_ / "C.THD", ThdHeader(3) + thd.substr(256));
  EXPECT_EQ(converter_.ReadDirect(dir_ / "C.THD", dir_ / "C.   ").result, 6);
  // More than an HDI header can state.
  test::WriteFile(dir_ / "D.THD", ThdHeader(63551) + thd.substr(256));
  const auto huge = converter_.ReadDirect(dir_ / "D.THD", dir_ / "D.   ");
  EXPECT_EQ(huge.result, 8);
  EXPECT_EQ(huge.message, "\r\nイメージが大きすぎます");
  // A file this plug-in does not take is not copied.
  test::WriteFile(dir_ / "E.THD", thd + "x");
  const auto foreign = converter_.ReadDirect(dir_ / "E.THD", dir_ / "E.   ");
  EXPECT_EQ(foreign.result, 8);
  EXPECT_EQ(foreign.message, "\r\nイメージデータが異常です");
  EXPECT_EQ(test::ListFolder(dir_.path()),
            (std::vector<std::string>{"A.THD", "C.THD", "D.THD", "E.THD"}));
}

TEST(HdiThdCli, ConvertsA310CylinderDiskToThdAndBack) {
  test::ScratchProgram program;
  program.AddCli();
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.ends_with(".dvr") || name.ends_with(".dvw")) program.AddBuiltPlugin(name);
  }
  test::TempDir work;
  test::TempDir back;
  test::TempDir tmp;
  const std::string hdi = HdiHeader(310) + Cylinders(310, 6);
  test::WriteFile(work / "GAME.HDI", hdi);
  const std::string env = "TMPDIR=" + ShellQuote(tmp.path());
  const auto there = program.RunCli("-t fdd " + ShellQuote(work / "GAME.HDI"), env);
  EXPECT_EQ(there.status, 0) << there.err;
  EXPECT_EQ(there.out, "\n\n---------   GAME.HDI   ----------\nHDI形式   SIZE = 20951040 bytes"
                       "\n...変換完了\n");
  const std::string thd = test::ReadFile(work / "GAME.THD");
  ASSERT_EQ(thd.size(), 256u + 20951040u);
  EXPECT_EQ(thd.substr(0, 256), ThdHeader(310));

  const auto home = program.RunCli("-t tfd -o " + ShellQuote(back.path()) + " " +
                                   ShellQuote(work / "GAME.THD"), env);
  EXPECT_EQ(home.status, 0) << home.err;
  EXPECT_TRUE(test::ReadFile(back / "GAME.HDI") == hdi);
  EXPECT_EQ(test::ListFolder(work.path()), (std::vector<std::string>{"GAME.HDI", "GAME.THD"}));

  // The program stops the batch at the refusal and leaves the source alone.
  test::WriteFile(work / "OLD.THD", hdi);
  const auto same = program.RunCli("-t fdd " + ShellQuote(work / "OLD.THD"), env);
  EXPECT_EQ(same.status, 1);
  EXPECT_EQ(same.out, "\n\n---------   OLD.THD   ----------\nHDI形式   SIZE = 20951040 bytes"
                      "\n変換先ファイル名が変換元と同じです\n...変換エラー\n");
  EXPECT_TRUE(test::ReadFile(work / "OLD.THD") == hdi);
}

// The output through the program: a link planted at its name is replaced,
// not written through, and a copy that fails part way (here a full disk,
// stood in for by a file-size limit) leaves the older file as it was.
TEST(HdiThdCli, OutputReplacesItsNameOnlyWhenComplete) {
  test::ScratchProgram program;
  program.AddCli();
  program.AddBuiltPlugin("hdi_thd_converter.dvr");
  program.AddBuiltPlugin("fdd_writer.dvw");
  test::TempDir work;
  test::TempDir elsewhere;
  test::TempDir tmp;
  const std::string hdi = HdiHeader(2) + Cylinders(2, 7);
  test::WriteFile(work / "GAME.HDI", hdi);
  test::WriteFile(elsewhere / "victim", "keep");
  ASSERT_EQ(symlink((elsewhere / "victim").c_str(), (work / "GAME.THD").c_str()), 0);
  const std::string env = "TMPDIR=" + ShellQuote(tmp.path());
  const auto linked = program.RunCli("-t fdd " + ShellQuote(work / "GAME.HDI"), env);
  EXPECT_EQ(linked.status, 0) << linked.out << linked.err;
  struct stat st {};
  ASSERT_EQ(lstat((work / "GAME.THD").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_TRUE(test::ReadFile(work / "GAME.THD") == ThdHeader(2) + hdi.substr(4096));
  EXPECT_EQ(test::ReadFile(elsewhere / "victim"), "keep");

  test::WriteFile(work / "GAME.THD", "older");
  const auto full = program.RunCli("-t fdd " + ShellQuote(work / "GAME.HDI"),
                                   "trap '' XFSZ; " + env + " prlimit --fsize=100000");
  EXPECT_NE(full.status, 0) << full.out;
  EXPECT_NE(full.out.find("...ファイルライトエラー"), std::string::npos) << full.out;
  EXPECT_TRUE(test::ReadFile(work / "GAME.THD") == "older");
  EXPECT_EQ(test::ListFolder(work.path()), (std::vector<std::string>{"GAME.HDI", "GAME.THD"}));
}

}  // namespace
}  // namespace dravik
