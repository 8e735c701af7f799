// The FILE output end to end: dravik-cli reads a disk made by mkfs.fat and
// mtools through an input plug-in and extracts its files beside it. The
// readers come from other plug-ins; a test waits (skips) until they are built.
#include <gtest/gtest.h>

#include "extract_support.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using Tree = std::map<std::string, std::string>;
using test::ShellQuote;

bool Built(const std::string& plugin) { return test::FileExists(test::ProgramDir() + plugin); }

class FileCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tools_.available()) GTEST_SKIP() << "mkfs.fat or mtools missing";
    test::WriteFile(work_ / "README.TXT", "read me\n");
    test::WriteFile(work_ / "DATA.BIN", test::Pattern(3000, 9));
    for (const std::string& command :
         {test::FatTools::Format("1.44M", "GAME.IMG"), std::string("mmd -i GAME.IMG ::/SUB"),
          std::string("mcopy -i GAME.IMG README.TXT ::/ && mcopy -i GAME.IMG DATA.BIN ::/SUB/")}) {
      const auto r = tools_.Run(command);
      ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    }
  }
  // Runs dravik-cli from a program folder holding just these plug-ins.
  test::CommandResult Cli(const std::vector<std::string>& plugins, const std::string& args) {
    test::ScratchProgram program;
    program.AddCli();
    for (const std::string& p : plugins) program.AddBuiltPlugin(p);
    return program.RunCli(args, "TMPDIR=" + ShellQuote(tmp_.path()));
  }
  static Tree Expected() {
    return {{"README.TXT", "read me\n"}, {"SUB/", ""}, {"SUB/DATA.BIN", test::Pattern(3000, 9)}};
  }

  test::TempDir work_;
  test::TempDir tmp_;
  test::FatTools tools_{work_.path()};
};

TEST_F(FileCliTest, ExtractsARawDiskIntoAFolderNamedAfterIt) {
  if (!Built("tfd_reader.dvr")) GTEST_SKIP() << "tfd_reader.dvr is not built yet";
  const auto r =
      Cli({"tfd_reader.dvr", "file_extractor.dvw"}, "-t FILE " + ShellQuote(work_ / "GAME.IMG"));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("2個のファイルを出力しました"), std::string::npos) << r.out;
  EXPECT_EQ(test::DiffTrees(Expected(), test::ReadTree(work_ / "GAME")), "");
}

TEST_F(FileCliTest, ExtractsFddAndFdiWrappingsOfTheDisk) {
  int ran = 0;
  for (const char* format_name : {"FDD", "FDI"}) {
    const std::string format = format_name;
    std::string lower = format;
    for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
    const std::string writer = lower + "_writer.dvw";
    const std::string reader = lower + "_reader.dvr";
    if (!Built("tfd_reader.dvr") || !Built(writer) || !Built(reader)) continue;
    SCOPED_TRACE(format);
    ++ran;
    test::TempDir folder;
    auto r = Cli({"tfd_reader.dvr", writer}, "-t " + format + " -o " + ShellQuote(folder.path()) +
                                                 " " + ShellQuote(work_ / "GAME.IMG"));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = Cli({reader, "file_extractor.dvw"}, "-t FILE " + ShellQuote(folder / ("GAME." + format)));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(test::DiffTrees(Expected(), test::ReadTree(folder / "GAME")), "");
  }
  if (ran == 0) GTEST_SKIP() << "no FDD or FDI reader and writer built yet";
}

}  // namespace
}  // namespace dravik
