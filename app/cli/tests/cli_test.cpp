// dravik-cli run as a user runs it: a program folder with the executable
// and plug-ins, files named on the command line.
#include <gtest/gtest.h>

#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::Script;
using test::ShellQuote;

const std::vector<std::pair<std::string, std::string>> kPlain = {{"accept", "plain"}};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    program_.AddTestPlugin("title_reader.dvr", "a_title.dvr");
    program_.AddTestPlugin("plain_reader.dvr", "b_plain.dvr");
    program_.AddTestPlugin("tst_writer.dvw", "a_tst.dvw");
    program_.AddTestPlugin("ts2_writer.dvw", "b_ts2.dvw");
  }
  std::string Source(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& lines = kPlain) {
    test::WriteFile(work_ / name, Script(lines));
    return ShellQuote(work_ / name);
  }
  // Packs scripts for the plain reader with command ("zip -q", "jlha c") into work_.
  std::string Pack(const std::string& command, const std::string& archive,
                   const std::vector<std::string>& names) {
    test::TempDir stash;
    std::string list;
    for (const std::string& name : names) {
      test::WriteFile(stash / name, Script(kPlain));
      list += " " + ShellQuote(name);
    }
    const auto made = test::RunCommand("cd " + ShellQuote(stash.path()) + " && " + command + " " +
                                       ShellQuote(work_ / archive) + list);
    EXPECT_EQ(made.status, 0) << made.err;
    return ShellQuote(work_ / archive);
  }
  static std::string Header(const std::string& name) {
    return "\n\n---------   " + name + "   ----------";
  }
  static std::string Converted(const std::string& name) { return Header(name) + "\n...変換完了"; }
  test::CommandResult Run(const std::string& args) {
    return program_.RunCli(args, "TMPDIR=" + ShellQuote(tmp_.path()));
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
};

TEST_F(CliTest, ListsAndDescribesWithoutConverting) {
  const auto r = Run("--list");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("a_title.dvr"), std::string::npos);
  EXPECT_NE(r.out.find("TITLE形式入力Plug-in Ver.1.00"), std::string::npos);
  EXPECT_NE(r.out.find("TS2形式出力Plug-in Ver.1.00  .TS2  BKTEST形式"), std::string::npos);

  const auto i = Run(
      "--info " + Source("I.img", {{"accept", "title"}, {"info_message", "\\r\\nTEST形式(2HD)"}}));
  EXPECT_EQ(i.status, 0);
  EXPECT_EQ(i.out, Header("I.img") + "\n[TITLE形式入力Plug-in Ver.1.00]\nTEST形式(2HD)\n");
  EXPECT_FALSE(FileExists(work_ / "I.TST"));
}

TEST_F(CliTest, UsageErrorsAndUnsupportedFiles) {
  test::WriteFile(work_ / "x.bin", "nothing");
  const std::string file = ShellQuote(work_ / "x.bin");
  const auto r = Run("-t fdd " + file);  // names no loaded output
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("known: TST, TS2, BKTEST"), std::string::npos) << r.err;
  for (const std::string args : {"", "--bogus -t tst ", "-j 0 -t tst "}) {
    EXPECT_EQ(Run(args + file).status, 2) << args;
  }

  const auto u = Run("-t tst " + file);
  EXPECT_EQ(u.status, 3);
  EXPECT_EQ(u.out, Header("x.bin") + "\n未対応のフォーマットです。\n");
}

TEST_F(CliTest, StopsAtTheFirstFailureUnlessKeepGoing) {
  const std::string files = Source("1.img") + " " +
                            Source("2.img", {{"accept", "plain"}, {"read", "8"}}) + " " +
                            Source("3.img");
  const auto r = Run("-t tst " + files);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(FileExists(work_ / "1.TST"));
  EXPECT_FALSE(FileExists(work_ / "3.TST"));
  EXPECT_TRUE(r.out.ends_with("...変換エラー\n")) << r.out;

  const auto k = Run("-k -t tst " + files);
  EXPECT_EQ(k.status, 1);
  EXPECT_TRUE(FileExists(work_ / "3.TST"));

  const auto q = Run("-q -k -t tst " + files);
  EXPECT_EQ(q.out, Header("2.img") + "\n...変換エラー\n");
}

TEST_F(CliTest, ParallelJobsKeepEachLogWholeAndInOrder) {
  std::string files;
  std::string expected;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "P" + std::to_string(i) + ".img";
    files += Source(name, {{"accept", "plain"},
                           {"read_message", "\\r\\nread " + std::to_string(i)},
                           {"read_progress", "0:4,1:4,2:4,3:4"},
                           {"progress_sleep_ms", std::to_string(5 * (12 - i))}}) +
             " ";
    expected += Header(name) + "\nread " + std::to_string(i) + "\n...変換完了";
  }
  const auto r = Run("-j 4 -t tst " + files);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected + "\n");
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(FileExists(work_ / ("P" + std::to_string(i) + ".TST")));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty()) << "private temporary folders left";
}

TEST_F(CliTest, OutputOptions) {
  EXPECT_EQ(Run("-t TsT " + Source("A.img")).status, 0);  // by extension
  EXPECT_TRUE(FileExists(work_ / "A.TST"));
  EXPECT_EQ(Run("-t bktest " + Source("B.img")).status, 0);  // by label
  EXPECT_TRUE(FileExists(work_ / "B.TS2"));

  test::TempDir out;
  const auto r = Run("--comment --debug -o " + ShellQuote(out.path()) + " -t tst " +
                     Source("G.img", {{"accept", "title"}, {"title", "T"}}));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::ListFolder(out.path()), (std::vector<std::string>{"G.TST", "G.dbg", "G.txt"}));
  EXPECT_EQ(Run("-o '' -t tst " + Source("H.img")).status, 1);
}

TEST_F(CliTest, InterruptRemovesTheTemporaryFolder) {
  std::string calls = "0:50";
  for (int i = 1; i <= 12; ++i) calls += "," + std::to_string(i) + ":50";
  const std::string src = Source(
      "S.img", {{"accept", "plain"}, {"read_progress", calls}, {"progress_sleep_ms", "200"}});
  const auto r = Run("-t tst " + src + " & pid=$!; sleep 0.5; kill -INT $pid; wait $pid");
  EXPECT_EQ(r.status, 130) << r.out << r.err;
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
  EXPECT_FALSE(FileExists(work_ / "S.TST"));
}

// Archives are made by the independent tools, holding scripts for the test
// plug-ins.
class CliArchiveTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    program_.AddBuiltPlugin("UNLHA32.so");
    program_.AddBuiltPlugin("UNZIP32.so");
  }
};

// The files a ZIP leaves are gone before the LZH unpacks (else they would
// be converted twice); files named like archives that are none go to the
// plug-ins as they are.
TEST_F(CliArchiveTest, MembersConvertInListingOrderBesideEachArchive) {
  const std::string zip = Pack("zip -q", "GAMES.ZIP", {"C.img", "A.img", "B.img"});
  const std::string lzh = Pack("jlha c", "game.lzh", {"DISK1.img", "DISK2.img"});
  const auto r =
      Run("-t tst " + zip + " " + lzh + " " + Source("SCRIPT.ZIP") + " " + Source("script.lzh"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\nGAMES.ZIP...展開中...完了" + Converted("A.img") + Converted("B.img") +
                       Converted("C.img") + "\ngame.lzh...展開中...完了" + Converted("DISK1.img") +
                       Converted("DISK2.img") + Converted("SCRIPT.ZIP") + Converted("script.lzh") +
                       "\n");
  for (const char* name :
       {"A.TST", "B.TST", "C.TST", "DISK1.TST", "DISK2.TST", "SCRIPT.TST", "script.TST"}) {
    EXPECT_TRUE(FileExists(work_ / name)) << name;
  }
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty()) << "private temporary folder left";
}

TEST_F(CliArchiveTest, AFailedUnpackingStopsTheBatch) {
  const std::string archive = Pack("zip -q -0", "BAD.ZIP", {"A.img"});
  std::string zip = test::ReadFile(work_ / "BAD.ZIP");
  zip[zip.find("DRAVIK-TEST")] ^= 0x20;  // stored data no longer matches its CRC
  test::WriteFile(work_ / "BAD.ZIP", zip);
  const auto r = Run("-t tst " + archive + " " + Source("NEXT.img"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\nBAD.ZIP...展開中\nUnZip展開失敗\n");
  EXPECT_FALSE(FileExists(work_ / "NEXT.TST"));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
}

// The libraries are optional: without them archives reach the plug-ins.
TEST_F(CliTest, WithoutArchiversArchivesGoToThePlugins) {
  const auto r =
      Run("-t tst " + Source("SCRIPT.LZH") + " " + Pack("zip -q", "REAL.ZIP", {"A.img"}));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.out, Converted("SCRIPT.LZH") + Header("REAL.ZIP") + "\n未対応のフォーマットです。\n");
  EXPECT_TRUE(FileExists(work_ / "SCRIPT.TST"));
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace dravik
