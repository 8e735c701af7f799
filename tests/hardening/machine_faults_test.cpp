// Faults of the machine, through dravik-cli: an output or temporary folder
// on a full file system, a read-only output folder, sources that are no
// files, Ctrl-C in the middle of a batch. Each run ends with a clear message
// and an exit status of the contract, no output cut short under its final
// name, and the temporary folder gone. File systems are mounted in a user
// namespace of the test's own (unshare -rm); where that is not allowed,
// those cases are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "fat_disk.h"
#include "format_samples.h"
#include "scratch_program.h"
#include "test_support.h"

namespace dravik {
namespace {

using test::ShellQuote;

bool CanMount() {
  static const bool can = [] {
    test::TempDir where;
    return test::RunCommand("unshare -rm mount -t tmpfs -o size=64k none " +
                            ShellQuote(where.path()) + " 2>/dev/null")
               .status == 0;
  }();
  return can;
}

constexpr char kNoMounts[] = "no user namespace with mounts here (unshare -rm)";

// What a run inside the namespace left, read before the namespace (and its
// mounts) went away.
struct NamespaceRun {
  int status = -1;
  std::string log;                 // stdout and stderr of dravik-cli
  std::vector<std::string> temps;  // what is left in the temporary folder
};

class MachineFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"src", "out", "tmp", "saved"}) {
      ASSERT_EQ(mkdir((root_ / folder).c_str(), 0755), 0);
    }
    auto disk = test::NewDiskImage();
    test::BuildSampleDisk(*disk, test::ShapeNamed("1.25M"));
    const auto fdd = test::WrittenBy(test::ProgramDir() + "fdd_writer.dvw", *disk, "GAME");
    ASSERT_EQ(fdd.size(), 1u);
    game_.assign(fdd[0].bytes.begin(), fdd[0].bytes.end());
    test::WriteFile(root_ / "src/GAME.FDD", game_);
  }

  std::string Cli(const std::string& args) const {
    return "env TMPDIR=" + ShellQuote(root_ / "tmp") + " " +
           ShellQuote(test::ProgramDir() + "dravik-cli") + " " + args;
  }

  // dravik-cli with args after the mount commands, in a mount namespace of
  // its own. The output folder is copied to saved/ before the namespace
  // ends.
  NamespaceRun InNamespace(const std::string& mounts, const std::string& args) {
    const std::string script = mounts + " && { " + Cli(args) + " 2>&1; echo \"status=$?\"; ls -A " +
                               ShellQuote(root_ / "tmp") + "; cp -a " +
                               ShellQuote(root_ / "out/.") + " " + ShellQuote(root_ / "saved") +
                               "; }";
    const auto r = test::RunCommand("unshare -rm sh -c " + ShellQuote(script));
    NamespaceRun run;
    const size_t at = r.out.rfind("status=");
    EXPECT_NE(at, std::string::npos) << r.out << r.err;
    if (at == std::string::npos) return run;
    run.log = r.out.substr(0, at);
    run.status = std::atoi(r.out.c_str() + at + 7);
    const size_t line = r.out.find('\n', at);
    for (size_t start = line + 1; line != std::string::npos && start < r.out.size();) {
      const size_t end = r.out.find('\n', start);
      run.temps.push_back(r.out.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return run;
  }

  std::string Mount(const std::string& size, const std::string& folder) const {
    return "mount -t tmpfs -o size=" + size + " none " + ShellQuote(root_ / folder);
  }

  void ExpectTempFolderGone() {
    EXPECT_EQ(test::ListFolder(root_ / "tmp"), std::vector<std::string>{});
  }

  test::TempDir root_;
  std::string game_;
};

// 300 KB: no room for a 1.25 MB image. The older output at its name stays.
TEST_F(MachineFaultTest, AFullOutputFolderFailsCleanlyAndKeepsTheOlderOutput) {
  if (!CanMount()) GTEST_SKIP() << kNoMounts;
  const std::string out = root_ / "out";
  const auto r = InNamespace(
      Mount("300k", "out") + " && printf old > " + ShellQuote(out + "/GAME.FDI"),
      "-t FDI -o " + ShellQuote(out) + " " + ShellQuote(root_ / "src/GAME.FDD"));
  EXPECT_EQ(r.status, 1) << r.log;
  EXPECT_NE(r.log.find("ファイルライトエラー"), std::string::npos) << r.log;
  EXPECT_EQ(test::ListFolder(root_ / "saved"), std::vector<std::string>{"GAME.FDI"});
  EXPECT_EQ(test::ReadFile(root_ / "saved/GAME.FDI"), "old");
  ExpectTempFolderGone();
}

// An archive unpacked into a temporary folder that fills up: the archive
// fails, nothing is converted from what was cut short, and the private
// folder is removed.
TEST_F(MachineFaultTest, AFullTemporaryFolderFailsTheArchive) {
  if (!CanMount()) GTEST_SKIP() << kNoMounts;
  test::WriteFile(root_ / "src/GAMES.ZIP",
                  test::BuildZip({{.name = "SMALL.FDD", .data = game_.substr(0, 1000)},
                                  {.name = "GAME.FDD", .data = game_}}));
  const auto r = InNamespace(Mount("300k", "tmp"), "-t FDI -o " + ShellQuote(root_ / "out") + " " +
                                                       ShellQuote(root_ / "src/GAMES.ZIP"));
  EXPECT_EQ(r.status, 1) << r.log;
  EXPECT_NE(r.log.find("展開失敗"), std::string::npos) << r.log;
  EXPECT_EQ(r.temps, std::vector<std::string>{});
  EXPECT_EQ(test::ListFolder(root_ / "saved"), std::vector<std::string>{});
}

// The FILE output writes many files; the disk fills part way. What it left
// is only whole files, each as on the disk.
TEST_F(MachineFaultTest, AFullFileSystemLeavesNoExtractedFileCutShort) {
  if (!CanMount()) GTEST_SKIP() << kNoMounts;
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no mtools";
  std::vector<test::FatFile> files;
  for (char c = 'A'; c <= 'L'; ++c) {
    files.push_back({std::string(8, c) + ".BIN", std::string(30000, c)});
  }
  test::WriteFile(root_ / "src/FAT.TFD", test::MakeFatDump("640K", files));
  const auto r = InNamespace(Mount("128k", "out"), "-t FILE -o " + ShellQuote(root_ / "out") +
                                                       " " + ShellQuote(root_ / "src/FAT.TFD"));
  EXPECT_EQ(r.status, 1) << r.log;
  const std::vector<std::string> left = test::ListFolder(root_ / "saved/FAT");
  EXPECT_LT(left.size(), files.size()) << r.log;
  for (const std::string& name : left) {
    EXPECT_EQ(test::ReadFile(root_ / "saved/FAT/" + name), std::string(30000, name[0])) << name;
  }
  ExpectTempFolderGone();
}

TEST_F(MachineFaultTest, AReadOnlyOutputFolderFailsWithTheReason) {
  if (!CanMount()) GTEST_SKIP() << kNoMounts;
  const std::string out = ShellQuote(root_ / "out");
  const auto r = InNamespace("mount --bind " + out + " " + out + " && mount -o remount,bind,ro " +
                                 out,
                             "-t FDI -o " + out + " " + ShellQuote(root_ / "src/GAME.FDD"));
  EXPECT_EQ(r.status, 1) << r.log;
  EXPECT_NE(r.log.find("変換先ファイルオープンエラー"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("Read-only file system"), std::string::npos) << r.log;
  EXPECT_EQ(test::ListFolder(root_ / "saved"), std::vector<std::string>{});
  ExpectTempFolderGone();
}

// A FIFO nobody writes to, directly, through a link and as the partner file
// of a two-file image, and a device that never ends: refused, never waited
// on; the batch goes on to the file after them. A folder is a usage error.
TEST_F(MachineFaultTest, SourcesThatAreNoFilesAreRefusedWithoutAHang) {
  const std::string fifo = root_ / "src/PIPE.FDD";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("PIPE.FDD", (root_ / "src/LINK.FDD").c_str()), 0);
  const test::InputFormat* mahalito = nullptr;
  for (const test::InputFormat& format : test::InputFormats()) {
    if (format.name == "MAHALITO") mahalito = &format;
  }
  ASSERT_NE(mahalito, nullptr);
  auto disk = test::NewDiskImage();
  test::BuildSampleDisk(*disk, test::ShapeNamed("1.25M"));
  const test::SampleFiles pair = mahalito->make(*disk, "PAIR", test::ProgramDir());
  ASSERT_EQ(pair.size(), 2u);
  test::WriteFile(root_ / "src/" + pair[0].name, pair[0].bytes);
  ASSERT_EQ(mkfifo((root_ / "src/" + pair[1].name).c_str(), 0600), 0);

  // timeout turns a hang into a failure instead of a stuck test run.
  const std::string files = ShellQuote(fifo) + " " + ShellQuote(root_ / "src/LINK.FDD") + " " +
                            ShellQuote(root_ / "src/" + pair[0].name) + " /dev/zero " +
                            ShellQuote(root_ / "src/GAME.FDD");
  const auto r = test::RunCommand("timeout 300 " + Cli("-k -t FDI -o " +
                                                      ShellQuote(root_ / "out") + " " + files));
  EXPECT_NE(r.status, 124) << "hung";
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("PIPE.FDD   ----------\n通常のファイルではありません"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("LINK.FDD   ----------\n通常のファイルではありません"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("zero   ----------\n通常のファイルではありません"), std::string::npos)
      << r.out;
  EXPECT_EQ(test::ListFolder(root_ / "out"), std::vector<std::string>{"GAME.FDI"});
  ExpectTempFolderGone();

  ASSERT_EQ(mkdir((root_ / "src/FOLDER.FDD").c_str(), 0755), 0);
  const auto folder = test::RunCommand(
      Cli("-t FDI -o " + ShellQuote(root_ / "out2") + " " + ShellQuote(root_ / "src/FOLDER.FDD")));
  EXPECT_EQ(folder.status, 2) << folder.err;
  EXPECT_FALSE(test::FileExists(root_ / "out2"));
  ExpectTempFolderGone();
}

// SIGINT reaches the program while it reads the second of three sources (the
// scripted reader raises it itself, so the moment is exact): the batch stops
// there, the first output stays, nothing of the second or third is written,
// and the folder the archive was unpacked into is gone. SIGTERM and a closed
// terminal's SIGHUP end it the same way (before, SIGHUP killed it on the
// spot and left the temporary folder behind).
TEST_F(MachineFaultTest, CtrlCInTheMiddleOfABatch) {
  test::ScratchProgram program;
  program.AddCli();
  program.AddTestPlugin("plain_reader.dvr");
  program.AddTestPlugin("tst_writer.dvw");
  program.AddBuiltPlugin("UNZIP32.so");
  const std::vector<std::pair<std::string, std::string>> plain = {{"accept", "plain"},
                                                                 {"read_progress", "1:4,2:4"}};
  test::WriteFile(root_ / "src/A.IMG", test::Script(plain));
  test::WriteFile(root_ / "src/C.IMG", test::Script(plain));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const std::string b : {"B.IMG", "B.ZIP"}) {
      SCOPED_TRACE(b + " " + strsignal(signal));
      auto interrupted = plain;
      interrupted.push_back({"raise", std::to_string(signal)});
      if (b == "B.IMG") {
        test::WriteFile(root_ / "src/B.IMG", test::Script(interrupted));
      } else {
        test::WriteFile(root_ / "src/B.ZIP",
                        test::BuildZip({{.name = "B1.IMG", .data = test::Script(plain)},
                                        {.name = "B2.IMG", .data = test::Script(interrupted)},
                                        {.name = "B3.IMG", .data = test::Script(plain)}}));
      }
      test::TempDir out;
      const auto r = program.RunCli("-t tst -o " + ShellQuote(out.path()) + " " +
                                        ShellQuote(root_ / "src/A.IMG") + " " +
                                        ShellQuote(root_ / ("src/" + b)) + " " +
                                        ShellQuote(root_ / "src/C.IMG"),
                                    "TMPDIR=" + ShellQuote(root_ / "tmp"));
      EXPECT_EQ(r.status, 130) << r.out << r.err;
      EXPECT_NE(r.err.find("dravik-cli: interrupted"), std::string::npos) << r.err;
      const std::vector<std::string> expected =
          b == "B.IMG" ? std::vector<std::string>{"A.TST"}
                       : std::vector<std::string>{"A.TST", "B1.TST"};
      EXPECT_EQ(test::ListFolder(out.path()), expected) << r.out;
      ExpectTempFolderGone();
    }
  }
}

}  // namespace
}  // namespace dravik
