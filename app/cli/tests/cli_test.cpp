// dravik-cli run as a user runs it: a program folder with the executable
// and plug-ins, files named on the command line.
#include <gtest/gtest.h>

#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::Script;
using test::ShellQuote;

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
                     const std::vector<std::pair<std::string, std::string>>& lines) {
    test::WriteFile(work_ / name, Script(lines));
    return ShellQuote(work_ / name);
  }
  test::CommandResult Run(const std::string& args) {
    return program_.RunCli(args, "TMPDIR=" + ShellQuote(tmp_.path()));
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
};

TEST_F(CliTest, ListsThePluginsOfItsFolder) {
  const auto r = Run("--list");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("a_title.dvr"), std::string::npos);
  EXPECT_NE(r.out.find("TITLE形式入力Plug-in Ver.1.00"), std::string::npos);
  EXPECT_NE(r.out.find("TS2形式出力Plug-in Ver.1.00  .TS2  BKTEST形式"), std::string::npos);
}

TEST_F(CliTest, UnsupportedFileEndsWithItsMessageAndStatus3) {
  test::WriteFile(work_ / "x.bin", "nothing");
  const auto r = Run("-t fdd " + ShellQuote(work_ / "x.bin") + " || echo status=$?");
  // -t fdd names no loaded output: a usage error comes first.
  EXPECT_NE(r.out.find("status=2"), std::string::npos);
  EXPECT_NE(r.err.find("known: TST, TS2, BKTEST"), std::string::npos);

  const auto u = Run("-t tst " + ShellQuote(work_ / "x.bin"));
  EXPECT_EQ(u.status, 3);
  EXPECT_EQ(u.out, "\n\n---------   x.bin   ----------\n未対応のフォーマットです。\n");
}

TEST_F(CliTest, MatchesOutputsByExtensionOrLabel) {
  EXPECT_EQ(Run("-t TsT " + Source("A.img", {{"accept", "plain"}})).status, 0);
  EXPECT_TRUE(FileExists(work_ / "A.TST"));
  EXPECT_EQ(Run("-t bktest " + Source("B.img", {{"accept", "plain"}})).status, 0);
  EXPECT_TRUE(FileExists(work_ / "B.TS2"));
  EXPECT_EQ(Run(Source("C.img", {})).status, 2);  // no -t
  EXPECT_EQ(Run("--bogus x").status, 2);
  EXPECT_EQ(Run("-j 0 x").status, 2);
}

TEST_F(CliTest, StopsAtTheFirstFailureUnlessKeepGoing) {
  const std::string files = Source("1.img", {{"accept", "plain"}}) + " " +
                            Source("2.img", {{"accept", "plain"}, {"read", "8"}}) + " " +
                            Source("3.img", {{"accept", "plain"}});
  const auto r = Run("-t tst " + files);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(FileExists(work_ / "1.TST"));
  EXPECT_FALSE(FileExists(work_ / "3.TST"));
  EXPECT_TRUE(r.out.ends_with("...変換エラー\n")) << r.out;

  const auto k = Run("-k -t tst " + files);
  EXPECT_EQ(k.status, 1);
  EXPECT_TRUE(FileExists(work_ / "3.TST"));

  const auto q = Run("-q -k -t tst " + files);
  EXPECT_EQ(q.out, "\n\n---------   2.img   ----------\n...変換エラー\n");
}

TEST_F(CliTest, ParallelJobsKeepEachLogWholeAndInOrder) {
  std::string files;
  std::string expected;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "P" + std::to_string(i) + ".img";
    files += Source(name, {{"accept", "plain"},
                           {"read_message", "\\r\\nread " + std::to_string(i)},
                           {"read_progress", "0:4,1:4,2:4,3:4"},
                           {"progress_sleep_ms", std::to_string(5 * (12 - i))}}) + " ";
    expected += "\n\n---------   " + name + "   ----------\nread " + std::to_string(i) +
                "\n...変換完了";
  }
  const auto r = Run("-j 4 -t tst " + files);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected + "\n");
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(FileExists(work_ / ("P" + std::to_string(i) + ".TST")));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty()) << "private temporary folders left";
}

TEST_F(CliTest, InfoDescribesWithoutConverting) {
  const auto r = Run("--info " + Source("I.img", {{"accept", "title"},
                                                  {"info_message", "\\r\\nTEST形式(2HD)"}}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\n\n---------   I.img   ----------\n[TITLE形式入力Plug-in Ver.1.00]\nTEST形式(2HD)\n");
  EXPECT_FALSE(FileExists(work_ / "I.TST"));
}

TEST_F(CliTest, OutputFolderCommentAndDebugOptions) {
  test::TempDir out;
  const auto r = Run("--comment --debug -o " + ShellQuote(out.path()) + " -t tst " +
                     Source("G.img", {{"accept", "title"}, {"title", "T"}}));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::ListFolder(out.path()), (std::vector<std::string>{"G.TST", "G.dbg", "G.txt"}));
  EXPECT_EQ(Run("-o '' -t tst " + Source("H.img", {{"accept", "plain"}})).status, 1);
}

TEST_F(CliTest, InterruptRemovesTheTemporaryFolder) {
  const std::string src = Source("S.img", {{"accept", "plain"},
                                           {"read_progress", "0:50,1:50,2:50,3:50,4:50,5:50,6:50,"
                                                             "7:50,8:50,9:50,10:50,11:50,12:50"},
                                           {"progress_sleep_ms", "200"}});
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
  // Packs the named scripts with command ("zip -q" or "jlha c") into work_.
  std::string Pack(const std::string& command, const std::string& archive,
                   const std::vector<std::string>& names) {
    test::TempDir stash;
    std::string list;
    for (const std::string& name : names) {
      test::WriteFile(stash / name, Script({{"accept", "plain"}}));
      list += " " + ShellQuote(name);
    }
    const auto made = test::RunCommand("cd " + ShellQuote(stash.path()) + " && " + command + " " +
                                       ShellQuote(work_ / archive) + list);
    EXPECT_EQ(made.status, 0) << made.err;
    return ShellQuote(work_ / archive);
  }
  static std::string Converted(const std::string& name) {
    return "\n\n---------   " + name + "   ----------\n...変換完了";
  }
};

TEST_F(CliArchiveTest, ZipMembersConvertInListingOrderBesideTheArchive) {
  const auto r = Run("-t tst " + Pack("zip -q", "GAMES.ZIP", {"C.img", "A.img", "B.img"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\nGAMES.ZIP...展開中...完了" + Converted("A.img") + Converted("B.img") +
                       Converted("C.img") + "\n");
  for (const char* name : {"A.TST", "B.TST", "C.TST"}) EXPECT_TRUE(FileExists(work_ / name));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty()) << "private temporary folder left";
}

TEST_F(CliArchiveTest, LowerCaseLzhIsRecognised) {
  const auto r = Run("-t tst " + Pack("jlha c", "game.lzh", {"DISK1.img", "DISK2.img"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\ngame.lzh...展開中...完了" + Converted("DISK1.img") + Converted("DISK2.img") + "\n");
  EXPECT_TRUE(FileExists(work_ / "DISK1.TST"));
  EXPECT_TRUE(FileExists(work_ / "DISK2.TST"));
}

TEST_F(CliArchiveTest, AnEarlierDropsFilesAreGoneBeforeTheNextArchiveUnpacks) {
  const std::string first = Pack("zip -q", "FIRST.ZIP", {"X.img"});
  const std::string second = Pack("jlha c", "SECOND.LZH", {"Y.img"});
  const auto r = Run("-j 1 -t tst " + first + " " + second);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\nFIRST.ZIP...展開中...完了" + Converted("X.img") +
                       "\nSECOND.LZH...展開中...完了" + Converted("Y.img") + "\n");
}

TEST_F(CliArchiveTest, FilesNamedLikeArchivesThatAreNoneGoToThePlugins) {
  const auto r = Run("-t tst " + Source("SCRIPT.ZIP", {{"accept", "plain"}}) + " " +
                     Source("script.lzh", {{"accept", "plain"}}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Converted("SCRIPT.ZIP") + Converted("script.lzh") + "\n");
}

TEST_F(CliArchiveTest, AFailedUnpackingStopsTheBatch) {
  const std::string archive = Pack("zip -q -0", "BAD.ZIP", {"A.img"});
  std::string zip = test::ReadFile(work_ / "BAD.ZIP");
  zip[zip.find("DRAVIK-TEST")] ^= 0x20;  // stored data no longer matches its CRC
  test::WriteFile(work_ / "BAD.ZIP", zip);
  const auto r = Run("-t tst " + archive + " " + Source("NEXT.img", {{"accept", "plain"}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\nBAD.ZIP...展開中\nUnZip展開失敗\n");
  EXPECT_FALSE(FileExists(work_ / "NEXT.TST"));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
}

// The libraries are optional: without them archives reach the plug-ins.
TEST_F(CliTest, WithoutArchiversArchivesGoToThePlugins) {
  test::TempDir stash;
  test::WriteFile(stash / "A.img", Script({{"accept", "plain"}}));
  ASSERT_EQ(test::RunCommand("cd " + ShellQuote(stash.path()) + " && zip -q " +
                             ShellQuote(work_ / "REAL.ZIP") + " A.img")
                .status,
            0);
  const auto r = Run("-t tst " + Source("SCRIPT.LZH", {{"accept", "plain"}}) + " " +
                     ShellQuote(work_ / "REAL.ZIP"));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.out,
            "\n\n---------   SCRIPT.LZH   ----------\n...変換完了"
            "\n\n---------   REAL.ZIP   ----------\n未対応のフォーマットです。\n");
  EXPECT_TRUE(FileExists(work_ / "SCRIPT.TST"));
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace dravik
