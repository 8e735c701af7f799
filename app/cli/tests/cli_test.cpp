// dravik-cli run as a user runs it: a program folder with the executable
// and plug-ins, files named on the command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "disk_builder.h"
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
                   const std::vector<std::string>& names,
                   const std::vector<std::pair<std::string, std::string>>& lines = kPlain) {
    test::TempDir stash;
    std::string list;
    for (const std::string& name : names) {
      test::WriteFile(stash / name, Script(lines));
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
  // Runs with a bound, for runs that would otherwise hang for ever when they
  // fail (a FIFO opened waits for a writer): killed after two minutes.
  test::CommandResult RunWithin(const std::string& args) {
    return test::RunCommand("TMPDIR=" + ShellQuote(tmp_.path()) + " timeout -s KILL 120 " +
                            ShellQuote(program_.cli()) + " " + args);
  }
  // Runs with folder as the working folder.
  test::CommandResult RunIn(const std::string& folder, const std::string& args) {
    return program_.RunCli(args, "cd " + ShellQuote(folder) + " && TMPDIR=" + ShellQuote(tmp_.path()));
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
  for (const std::string args : {"", "--bogus -t tst ", "-j 0 -t tst ", "-o '' -t tst "}) {
    EXPECT_EQ(Run(args + file).status, 2) << args;
  }
  // A file name taken for options: the option given is named, and "--" helps.
  Source("-dash.img");
  const auto dash = RunIn(work_.path(), "-t tst -dash.img");
  EXPECT_EQ(dash.status, 2);
  EXPECT_TRUE(dash.err.starts_with("dravik-cli: unknown option: -d (in \"-dash.img\")")) << dash.err;
  for (const auto& [args, error] : std::vector<std::pair<std::string, std::string>>{
           {"-t tst --bogus=1 ", "unknown option: --bogus ("},
           {"-t tst --comment=1 ", "option takes no value: --comment\n"},
           {"-q -t", "option needs a value: -t\n"},
           {"-qZ -t tst ", "unknown option: -Z (in \"-qZ\") ("}}) {
    EXPECT_TRUE(Run(file + " " + args).err.starts_with("dravik-cli: " + error)) << args;
  }
  const auto after_dashes = RunIn(work_.path(), "-t tst -- -dash.img");
  EXPECT_EQ(after_dashes.status, 0) << after_dashes.err;
  EXPECT_TRUE(FileExists(work_ / "-dash.TST"));
  const auto help = Run("--help");
  EXPECT_NE(help.out.find("(required, there is no default)"), std::string::npos);
  EXPECT_NE(help.out.find("An output file of the same name is replaced"), std::string::npos);

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

  // A missing output folder is made, parents and all, before the batch; one
  // that cannot be made stops the command before any file is read.
  const auto made = Run("-o " + ShellQuote(out / "new/deeper") + " -t tst " + Source("H.img"));
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(FileExists(out / "new/deeper/H.TST"));
  test::WriteFile(out / "file", "");
  for (const std::string& folder : {out / "file", out / "file/sub"}) {
    const auto refused = Run("-o " + ShellQuote(folder) + " -t tst " + Source("J.img"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "dravik-cli: cannot use the output folder " + folder + ": Not a directory\n");
  }
}

// The design's messages stay as they are; a line after each names the file
// and gives the system's reason.
TEST_F(CliTest, OpenErrorsNameTheFileAndTheReason) {
  const std::string src = Source("G.img", {{"accept", "title"}, {"title", "T"}});
  ASSERT_EQ(mkdir((work_ / "G.dbg").c_str(), 0700), 0);
  const auto debug = Run("--debug -t tst " + src);
  EXPECT_EQ(debug.status, 0);
  EXPECT_EQ(debug.out, Header("G.img") + "\n--デバック情報ファイルを書き出せませんでした--\n" +
                           work_.path() + "G.dbg: Is a directory\n...変換完了\n");
  ASSERT_EQ(mkdir((work_ / "G.txt").c_str(), 0700), 0);
  const auto comment = Run("--comment -t tst " + src);
  EXPECT_EQ(comment.status, 1);
  EXPECT_EQ(comment.out, Header("G.img") + "\nコメントファイルオープンエラー\n" + work_.path() +
                             "G.txt: Is a directory\n");
}

// Texts from a disk may hold escape sequences: the terminal gets U+FFFD in
// place of each control, the files keep the disk's bytes.
TEST_F(CliTest, ControlsFromADiskNeverReachTheTerminal) {
  const std::string title = "A\x1b[2JB\x07\x7f\xc2\x9b";
  const std::string src = Source("E.img", {{"accept", "title"},
                                           {"title", title},
                                           {"info_message", "\\r\\nX\\rY\tZ"}});
  const auto r = Run("--comment -t tst " + src);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Header("E.img") + "\nX\xef\xbf\xbdY\tZ\n...変換完了\n");
  EXPECT_EQ(test::ReadFile(work_ / "E.txt"), "TITLE : " + title + "\n  E.TST : " + title + "\n");
  const auto i = Run("--info " + src);
  const std::string shown = "A\xef\xbf\xbd[2JB\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd";
  EXPECT_NE(i.out.find("\nTITLE : " + shown + "\n"), std::string::npos) << i.out;
}

// Plug-ins report after every track; the bar is drawn only when its figure
// changes. A pseudo-terminal makes dravik-cli draw it at all.
TEST_F(CliTest, TheProgressBarIsRedrawnOnlyWhenItsFigureChanges) {
  if (!test::HaveTool("script")) GTEST_SKIP() << "no script(1)";
  std::string calls = "0:4";
  for (int i = 0; i < 300; ++i) calls += ",1:4";
  const std::string src = Source("P.img", {{"accept", "plain"}, {"read_progress", calls}});
  const auto r = test::RunCommand("TMPDIR=" + ShellQuote(tmp_.path()) + " script -qec " +
                                  ShellQuote(ShellQuote(program_.cli()) + " -t tst " + src) +
                                  " /dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  size_t draws = 0;
  for (size_t at = 0; (at = r.out.find("\033[K[", at)) != std::string::npos; ++at) ++draws;
  EXPECT_EQ(draws, 3u) << r.out;  // 0 %, 12 %, and 0 % again after the disk
}

// Ctrl-C comes once the run is demonstrably under way (its private folder
// made, or its output begun); the reading or writing would go on for a minute
// after it, so the run ends early only by the interrupt.
TEST_F(CliTest, InterruptRemovesTheTemporaryFolder) {
  std::string calls = "0:600";
  for (int i = 1; i <= 600; ++i) calls += "," + std::to_string(i) + ":600";
  const std::string env = "TMPDIR=" + ShellQuote(tmp_.path());
  const std::string src = Source(
      "S.img", {{"accept", "plain"}, {"read_progress", calls}, {"progress_sleep_ms", "100"}});
  const auto r = program_.RunCliAndSignalWhen(
      "-t tst " + src, env, [&] { return !test::ListFolder(tmp_.path()).empty(); }, SIGINT);
  EXPECT_EQ(r.status, 130) << r.out << r.err;
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
  EXPECT_FALSE(FileExists(work_ / "S.TST"));

  // Stopped part way through its output, which must not replace the older one.
  test::WriteFile(work_ / "W.TST", "older");
  const std::string half_written = Source(
      "W.img", {{"accept", "plain"}, {"write_progress", calls}, {"progress_sleep_ms", "100"}});
  const auto writing = [&] {
    for (const std::string& name : test::ListFolder(work_.path())) {
      if (name.starts_with(".W.TST.")) return true;
    }
    return false;
  };
  const auto w = program_.RunCliAndSignalWhen("-t tst " + half_written, env, writing, SIGINT);
  EXPECT_EQ(w.status, 130) << w.out << w.err;
  EXPECT_EQ(test::ReadFile(work_ / "W.TST"), "older");
  EXPECT_EQ(test::ListFolder(work_.path()), (std::vector<std::string>{"S.img", "W.TST", "W.img"}));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
}

// Paths that are no files are refused before anything opens them (a FIFO
// would block for ever), and the batch goes on as after an unsupported file.
TEST_F(CliTest, PathsThatAreNoFilesAreRefusedUnopened) {
  ASSERT_EQ(mkfifo((work_ / "X.FDI").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((work_ / "DIR.FDI").c_str(), 0700), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = work_ / "S.FDI";
  ASSERT_LT(socket_path.size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const std::string files =
      ShellQuote(work_ / "X.FDI") + " " + ShellQuote(socket_path) + " /dev/null " + Source("A.img");
  const std::string refused = "\n通常のファイルではありません";
  for (const std::string options : {"-t tst ", "--info "}) {
    const auto r = RunWithin(options + files);
    EXPECT_EQ(r.status, 3) << options << r.err;
    EXPECT_TRUE(r.out.starts_with(Header("X.FDI") + refused + Header("S.FDI") + refused +
                                  Header("null") + refused +
                                  Header("A.img")))
        << r.out;
  }
  EXPECT_TRUE(FileExists(work_ / "A.TST"));
  close(sock);
  // A folder is walked only when asked to (-r); else nothing is converted.
  const auto folder = Run("-t tst " + files + " " + ShellQuote(work_ / "DIR.FDI"));
  EXPECT_EQ(folder.status, 2);
  EXPECT_EQ(folder.err, "dravik-cli: " + work_ / "DIR.FDI" +
                            " is a folder; give -r to convert the files in it\n");
  EXPECT_EQ(folder.out, "");

  const auto missing = Run("-t tst " + ShellQuote(work_ / "NONE.img"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, Header("NONE.img") + "\n...ファイルリードエラー\n" + work_.path() +
                             "NONE.img: No such file or directory\n");
}

// Two sources with one output name, converted at once, give what one worker
// gives: the output of the one named last. The first is slow to read, so
// without the ordering the second would write first and be overwritten.
TEST_F(CliTest, SourcesWithOneOutputNameAreConvertedInTheOrderGiven) {
  const std::vector<std::pair<std::string, std::string>> slow = {
      {"accept", "plain,keepext"},
      {"title", "FIRST"},
      {"read_progress", "0:4,1:4,2:4,3:4"},
      {"progress_sleep_ms", "150"}};
  const std::string files = Source("X.img", slow) + " " +
                            Source("X.fdd", {{"accept", "plain"}, {"title", "SECOND"}}) + " " +
                            Source("Y.img");
  const auto r = Run("-j 2 -t tst " + files);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Converted("X.img") + Converted("X.fdd") + Converted("Y.img") + "\n");
  EXPECT_EQ(test::ReadFile(work_ / "X.TST"), "disk=1\ntitle=SECOND\n");

  // The same folder named another way, through a link: still one name.
  ASSERT_EQ(symlink(work_.path().c_str(), (work_ / "alias").c_str()), 0);
  Source("Z.fdd", {{"accept", "plain"}, {"title", "THIRD"}});
  const auto l = Run("-j 2 -t tst " + Source("Z.img", slow) + " " + ShellQuote(work_ / "alias/Z.fdd"));
  EXPECT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(test::ReadFile(work_ / "Z.TST"), "disk=1\ntitle=THIRD\n");

  // A reader that keeps the source's extension names its output X_DCP.
  program_.AddTestPlugin("keepext_reader.dvr", "0_keep.dvr");
  const auto k = Run("-j 2 -t tst " + Source("X.dcp", slow) + " " +
                     Source("X_DCP.img", {{"accept", "plain"}, {"title", "SECOND"}}));
  EXPECT_EQ(k.status, 0) << k.err;
  EXPECT_EQ(test::ReadFile(work_ / "X_DCP.TST"), "disk=1\ntitle=SECOND\n");
}

// What happens to the files at the outputs' names, with the real plug-ins
// and a real image, GAME.FDD (a 1.25M disk with a title).
class CliOutputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    for (const char* plugin :
         {"fdd_reader.dvr", "fdi_reader.dvr", "fdd_writer.dvw", "fdi_writer.dvw",
          "bkdsk_writer.dvw"}) {
      program_.AddBuiltPlugin(plugin);
    }
    MakeSource("GAME.FDD", 1);
  }
  void MakeSource(const std::string& name, uint32_t seed) {
    auto disk = test::NewDiskImage();
    test::BuildDisk(*disk, test::ShapeNamed("1.25M"), seed, "TITLE");
    ASSERT_EQ(test::LoadBuiltPlugin("fdd_writer.dvw").WriteDisk(*disk, work_ / name).result, 0);
  }
  test::CommandResult Run(const std::string& args, const std::string& limit = "") {
    // A file-size limit stands for a full disk: writes past it fail (EFBIG)
    // once SIGXFSZ is ignored.
    const std::string prefix = limit.empty() ? "" : "trap '' XFSZ; prlimit --fsize=" + limit + " ";
    return test::RunCommand("cd " + ShellQuote(work_.path()) + " && TMPDIR=" +
                            ShellQuote(tmp_.path()) + " " + prefix + ShellQuote(program_.cli()) +
                            " " + args);
  }
  std::vector<std::string> Files() const { return test::ListFolder(work_.path()); }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
  test::TempDir elsewhere_;
};

// ln -s victim GAME.FDI; dravik-cli -t FDI GAME.FDD: the link is replaced by
// the image and victim stays; so for the comment file, the debug dump, a
// BKDSK name the writer picks itself, and a dangling link.
TEST_F(CliOutputFilesTest, LinksAtOutputNamesAreReplacedNeverFollowed) {
  test::WriteFile(elsewhere_ / "victim", "keep");
  for (const char* name : {"GAME.FDI", "GAME.txt", "GAME.HDM"}) {
    ASSERT_EQ(symlink((elsewhere_ / "victim").c_str(), (work_ / name).c_str()), 0);
  }
  ASSERT_EQ(symlink((elsewhere_ / "created").c_str(), (work_ / "GAME.dbg").c_str()), 0);
  const auto r = Run("--comment --debug -t FDI GAME.FDD");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const auto b = Run("-t BKDSK GAME.FDD");
  EXPECT_EQ(b.status, 0) << b.out << b.err;
  EXPECT_EQ(test::ReadFile(elsewhere_ / "victim"), "keep");
  EXPECT_EQ(test::ListFolder(elsewhere_.path()), std::vector<std::string>{"victim"});
  for (const char* name : {"GAME.FDI", "GAME.txt", "GAME.HDM", "GAME.dbg"}) {
    struct stat st {};
    ASSERT_EQ(lstat((work_ / name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
  }
  EXPECT_EQ(test::ReadFile(work_ / "GAME.txt"), "  GAME.FDI : TITLE\n");
  EXPECT_EQ(test::ReadFile(work_ / "GAME.HDM").size(), 1261568u);
  EXPECT_EQ(test::ReadFile(work_ / "GAME.dbg").size(), 25220u);
}

// A disk that fills up part way: the good GAME.FDI of an earlier run stays
// whole, a new output never appears cut short, and nothing else is left.
TEST_F(CliOutputFilesTest, AFullDiskLeavesTheOlderOutputWhole) {
  ASSERT_EQ(Run("--comment --debug -t FDI GAME.FDD").status, 0);
  const std::string good = test::ReadFile(work_ / "GAME.FDI");
  const std::string comment = test::ReadFile(work_ / "GAME.txt");
  MakeSource("GAME.FDD", 2);  // a changed source
  MakeSource("NEW.FDD", 3);
  const auto r = Run("-k --comment --debug -t FDI GAME.FDD NEW.FDD", "600000");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\n--デバック情報ファイルを書き出しました--\n...ファイルライトエラー\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(test::ReadFile(work_ / "GAME.FDI") == good);
  EXPECT_EQ(test::ReadFile(work_ / "GAME.txt"), comment);
  EXPECT_EQ(Files(), (std::vector<std::string>{"GAME.FDD", "GAME.FDI", "GAME.dbg", "GAME.txt",
                                               "NEW.FDD", "NEW.dbg"}));
  const auto info = Run("--info GAME.FDI");
  EXPECT_NE(info.out.find("1.25M"), std::string::npos) << info.out;
}

// One image named twice and extracted by two workers gives the tree that
// one worker gives, with no file mixed from two writes.
TEST_F(CliOutputFilesTest, OneImageNamedTwiceExtractsAsWithOneWorker) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no mtools";
  program_.AddBuiltPlugin("tfd_reader.dvr");
  program_.AddBuiltPlugin("file_extractor.dvw");
  std::string big;
  for (int i = 0; big.size() < 600000; ++i) big += std::to_string(i) + "\n";
  test::WriteFile(work_ / "BIG.TXT", big);
  test::WriteFile(work_ / "SMALL.TXT", "small");
  const auto made = test::RunCommand("cd " + ShellQuote(work_.path()) +
                                     " && mkfs.fat -C X.IMG 1440 >/dev/null && "
                                     "mcopy -i X.IMG BIG.TXT SMALL.TXT ::");
  ASSERT_EQ(made.status, 0) << made.err;
  const auto one = Run("-o one -t FILE X.IMG X.IMG");
  EXPECT_EQ(one.status, 0) << one.out;
  const auto two = Run("-j 2 -o two -t FILE X.IMG X.IMG");
  EXPECT_EQ(two.status, 0) << two.out;
  EXPECT_EQ(two.out, one.out);
  EXPECT_EQ(test::ListFolder(work_ / "two/X"), (std::vector<std::string>{"BIG.TXT", "SMALL.TXT"}));
  EXPECT_EQ(test::RunCommand("diff -r " + ShellQuote(work_ / "one") + " " + ShellQuote(work_ / "two"))
                .status,
            0);
  EXPECT_TRUE(test::ReadFile(work_ / "two/X/BIG.TXT") == big);
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

// Members of two archives that make one output name: the later archive's,
// as with one worker; the earlier archive is opened before anything else
// decides.
TEST_F(CliArchiveTest, MembersWithOneOutputNameAreConvertedInTheOrderGiven) {
  const std::string first = Pack("zip -q", "A.ZIP", {"GAME.img"},
                                 {{"accept", "plain"},
                                  {"title", "FIRST"},
                                  {"read_progress", "0:4,1:4,2:4,3:4"},
                                  {"progress_sleep_ms", "150"}});
  const std::string second =
      Pack("zip -q", "B.ZIP", {"GAME.img"}, {{"accept", "plain"}, {"title", "SECOND"}});
  const auto r = Run("-j 2 -t tst " + first + " " + second);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(work_ / "GAME.TST"), "disk=1\ntitle=SECOND\n");
  // A FIFO named like an archive is refused before an archiver opens it.
  ASSERT_EQ(mkfifo((work_ / "F.LZH").c_str(), 0600), 0);
  const auto f = RunWithin("-t tst " + ShellQuote(work_ / "F.LZH"));
  EXPECT_EQ(f.status, 3);
  EXPECT_EQ(f.out, Header("F.LZH") + "\n通常のファイルではありません\n");
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
