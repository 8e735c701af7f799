#include "conversion_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "archive_builder.h"
#include "paths.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::ReadFile;
using test::Script;
using Lines = std::vector<std::pair<std::string, std::string>>;

const Lines kPlain = {{"accept", "plain"}};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddTestPlugin("title_reader.dvr", "a_title.dvr");
    program_.AddTestPlugin("keepext_reader.dvr", "b_keepext.dvr");
    program_.AddTestPlugin("direct_reader.dvr", "c_direct.dvr");
    program_.AddTestPlugin("plain_reader.dvr", "d_plain.dvr");
    program_.AddTestPlugin("blank_direct_reader.dvr", "e_blank.dvr");
    program_.AddTestPlugin("tst_writer.dvw");
    ASSERT_TRUE(registry_.LoadInputPlugins(host_));
    ASSERT_TRUE(registry_.LoadOutputPlugins(host_, nullptr));
    expander_.PrepareArchivers(temp_.path(), host_);
    host_ = {};
    settings_.write_comment = false;
  }

  std::string Source(const std::string& name, const Lines& lines = kPlain) {
    test::WriteFile(work_ / name, Script(lines));
    return work_ / name;
  }
  // Each conversion starts with an empty log.
  Flow Convert(const std::string& path) {
    host_.log.clear();
    driver_.set_settings(settings_);
    return driver_.ConvertDroppedFile(path);
  }
  static std::string Header(const std::string& name) {
    return "\r\n\r\n---------   " + name + "   ----------";
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir temp_;
  test::RecordingHost host_;
  ConversionSettings settings_;
  PluginRegistry registry_{program_.folder()};
  ArchiveExpander expander_{{test::ProgramDir() + "UNLHA32.so", test::ProgramDir() + "UNZIP32.so"}};
  ConversionDriver driver_{host_, registry_, expander_};
};

TEST_F(DriverTest, ConvertsADiskAndLogsEveryTextInOrder) {
  const std::string src = Source("GAME.img", {{"accept", "plain"},
                                              {"issupport_message", "\\r\\n認識"},
                                              {"info_message", "\\r\\nTEST形式"},
                                              {"read_message", "\\r\\n読込"},
                                              {"read_progress", "0:160,80:160,200:160,-3:160"},
                                              {"read_progress_text", "\\r\\n途中"},
                                              {"write_message", "\\r\\n書込"},
                                              {"write_progress", "80:160,400:160,1:0"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_EQ(host_.log,
            Header("GAME.img") + "\r\n認識\r\nTEST形式\r\n途中\r\n読込\r\n書込\r\n...変換完了");
  // read 0..50, write 50..100, clamped; a total of 0 shows as 0.
  EXPECT_EQ(host_.progress, (std::vector<int>{0, 25, 62, 0, 75, 100, 0, 0}));
  EXPECT_EQ(ReadFile(work_ / "GAME.TST"), "disk=1\ntitle=\n");
  EXPECT_EQ(host_.events, 1);
  EXPECT_EQ(host_.busy_depth, 0);
  EXPECT_EQ(host_.focus, 1);
  EXPECT_EQ(driver_.tally().converted, 1);

  test::WriteFile(work_ / "x.bin", "no script");
  EXPECT_EQ(Convert(work_ / "x.bin"), Flow::kContinue);
  EXPECT_EQ(host_.log, Header("x.bin") + "\r\n未対応のフォーマットです。");
  EXPECT_EQ(driver_.tally().unsupported, 1);
}

TEST_F(DriverTest, AnswersEveryResultCodeOfEveryCall) {
  struct Case {
    std::string key;
    std::vector<int> results;
    std::string tail;  // what the log ends with
    Flow flow = Flow::kStop;
  };
  std::vector<Case> cases = {
      {"issupport", {1, 8, 9}, "...イメージ判断エラー"},
      {"issupport", {10}, "----------", Flow::kContinue},
      {"issupport", {2}, "未対応のフォーマットです。", Flow::kContinue},
      {"info", {1, 2, 9, 10}, "...情報取得エラー"},
      {"read", {1, 2, 8, 10, -1}, "...変換エラー"},
      {"write", {1, 2, 8, 9, 10}, "...変換出力エラー"},
  };
  for (const char* key : {"issupport", "info", "read", "write"}) {
    cases.push_back({key, {6}, "...ファイルリードエラー"});
    cases.push_back({key, {7}, "...ファイルライトエラー"});
  }
  for (const Case& c : cases) {
    for (int result : c.results) {
      SCOPED_TRACE(c.key + "=" + std::to_string(result));
      EXPECT_EQ(Convert(Source("R.img", {{"accept", "plain"}, {c.key, std::to_string(result)}})),
                c.flow);
      EXPECT_TRUE(host_.log.ends_with(c.tail)) << host_.log;
      EXPECT_EQ(host_.busy_depth, 0);
    }
  }
}

TEST_F(DriverTest, MultiDiskNamesAndCommentFile) {
  settings_.write_comment = true;
  const std::string src = Source("GAME.vfz", {{"accept", "title"},
                                              {"multi", "1"},
                                              {"title", "ABC"},
                                              {"read1", "9"},
                                              {"read2", "9"},
                                              {"read_title3", "第三"},
                                              {"read3", "0"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_EQ(ReadFile(work_ / "GAME_01.TST"), "disk=1\ntitle=ABC\n");
  EXPECT_EQ(ReadFile(work_ / "GAME_02.TST"), "disk=2\ntitle=ABC\n");
  EXPECT_EQ(ReadFile(work_ / "GAME_03.TST"), "disk=3\ntitle=ABC\n");
  EXPECT_EQ(ReadFile(work_ / "GAME.txt"),
            "TITLE : ABC\n  GAME_01.TST : ABC\n  GAME_02.TST : ABC\n  GAME_03.TST : 第三\n");
  EXPECT_EQ(host_.events, 3);
  EXPECT_TRUE(host_.log.ends_with("...変換完了"));

  // Only readers that know titles get one, even when empty.
  Convert(Source("PLAIN.img", {{"accept", "plain"}, {"title", "ABC"}}));
  EXPECT_FALSE(FileExists(work_ / "PLAIN.txt"));
  Convert(Source("EMPTY.img", {{"accept", "title"}}));
  EXPECT_EQ(ReadFile(work_ / "EMPTY.txt"), "");
}

TEST_F(DriverTest, NamesTheOutput) {
  test::TempDir out;
  std::string bare_out = out.path();
  bare_out.pop_back();
  const struct {
    const char* source;
    const char* tag;
    std::string folder;  // the output-folder option, off when empty
    std::string output;
  } cases[] = {
      {"GAME.dcp", "keepext", "", work_ / "GAME_DCP.TST"},
      {"NOEXT", "keepext", "", work_ / "NOEXT_.TST"},
      {".disk", "plain", "", work_ / ".disk.TST"},
      {"A.FDI", "plain", out.path(), out / "A.TST"},
      {"B.FDI", "plain", bare_out, out / "B.TST"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    settings_.use_output_folder = !c.folder.empty();
    settings_.output_folder = c.folder;
    EXPECT_EQ(Convert(Source(c.source, {{"accept", c.tag}})), Flow::kContinue);
    EXPECT_TRUE(FileExists(c.output));
  }
  settings_.use_output_folder = true;
  settings_.output_folder.clear();
  EXPECT_EQ(Convert(Source("C.FDI")), Flow::kStop);
  EXPECT_EQ(host_.log, "\r\n出力先フォルダが指定されていません");
}

TEST_F(DriverTest, ArchiveMembersGoBesideTheArchiveInNameOrder) {
  const std::string zip = test::BuildZip({{"C.img", Script(kPlain)}, {"A.img", Script(kPlain)}});
  test::WriteFile(work_ / "game.zip", zip);
  EXPECT_EQ(Convert(work_ / "game.zip"), Flow::kContinue);
  EXPECT_EQ(host_.log, "\r\ngame.zip...展開中...完了" + Header("A.img") + "\r\n...変換完了" +
                           Header("C.img") + "\r\n...変換完了");
  EXPECT_TRUE(FileExists(work_ / "A.TST") && FileExists(work_ / "C.TST"));

  test::TempDir out;
  settings_.use_output_folder = true;
  settings_.output_folder = out.path();
  Convert(work_ / "game.zip");
  EXPECT_EQ(test::ListFolder(out.path()), (std::vector<std::string>{"A.TST", "C.TST"}));

  // An archive dropped from inside the temporary folder is not its own member.
  const std::string inner = expander_.temp_folder() + "INNER.ZIP";
  test::WriteFile(inner, zip);
  EXPECT_EQ(Convert(inner), Flow::kContinue);
  EXPECT_EQ(host_.log, "\r\nINNER.ZIP...展開中...完了" + Header("A.img") + "\r\n...変換完了" +
                           Header("C.img") + "\r\n...変換完了");
}

// Neither the output, the comment file nor the debug file may replace the
// source, under its own name or another; nothing is written.
TEST_F(DriverTest, NeverReplacesTheSource) {
  const struct {
    const char* name;
    const char* tag;
    bool comment;
    bool debug;
    const char* link;  // another name of the source
  } cases[] = {
      {"DISK.TST", "plain", false, false, nullptr},
      {"LINK.img", "plain", false, false, "LINK.TST"},
      {"NOTE.txt", "title", true, false, nullptr},
      // Found before the comment file is made.
      {"SAME.TST", "title", true, false, nullptr},
      {"DUMP.dbg", "plain", false, true, nullptr},
      // Found out before the comment file is made, not at the first disk.
      {"FIRST.dbg", "title", true, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    settings_.write_comment = c.comment;
    settings_.debug = c.debug;
    const std::string src = Source(c.name, {{"accept", c.tag}, {"title", "T"}});
    if (c.link != nullptr) {
      ASSERT_EQ(link(src.c_str(), (work_ / c.link).c_str()), 0);
    }
    const auto files = test::ListFolder(work_.path());
    EXPECT_EQ(Convert(src), Flow::kStop);
    EXPECT_TRUE(host_.log.ends_with("\r\n入出力ファイル名が同じになりました")) << host_.log;
    EXPECT_EQ(ReadFile(src), Script({{"accept", c.tag}, {"title", "T"}}));
    EXPECT_EQ(test::ListFolder(work_.path()), files);
  }
}

TEST_F(DriverTest, DebugFileIsWrittenEvenWhenReadingFails) {
  settings_.debug = true;
  Convert(Source("OK.img", {{"accept", "plain"}, {"title", "TTL"}}));
  const std::string dump = ReadFile(work_ / "OK.dbg");
  ASSERT_EQ(dump.size(), static_cast<size_t>(kDebugDumpSize));
  EXPECT_EQ(dump.substr(0, 4), std::string("TTL\0", 4));
  EXPECT_EQ(dump[256], 1);  // the test reader stores the disk number here

  EXPECT_EQ(Convert(Source("BAD.img", {{"accept", "plain"}, {"read", "8"}})), Flow::kStop);
  EXPECT_TRUE(FileExists(work_ / "BAD.dbg"));
  EXPECT_TRUE(host_.log.ends_with("\r\n--デバック情報ファイルを書き出しました--\r\n...変換エラー"));
}

TEST_F(DriverTest, DirectModeWritesThroughTheReader) {
  const std::string src =
      Source("HD.hdi", {{"accept", "direct"}, {"read_progress", "0:10,5:10,10:10,11:10"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_EQ(ReadFile(work_ / "HD.OUT"), "direct=1 disk=1\n");
  EXPECT_FALSE(FileExists(work_ / "HD.TST"));
  EXPECT_EQ(host_.progress, (std::vector<int>{0, 50, 100, 100, 0}));
}

// As the hard-disk converter is driven: the output name ends in the reader's
// own extension, blanks and all; the flag is exactly 1; 9 asks for the next
// disk as it does in ordinary mode; no debug dump, as there is no image.
TEST_F(DriverTest, DirectModeWithTheReadersBlankExtension) {
  settings_.debug = true;
  EXPECT_EQ(Convert(Source("GAME.thd", {{"accept", "blank"}, {"read1", "9"}, {"read2", "0"}})),
            Flow::kContinue);
  EXPECT_EQ(test::ListFolder(work_.path()), (std::vector<std::string>{"GAME.   ", "GAME.thd"}));
  EXPECT_EQ(ReadFile(work_ / "GAME.   "), "direct=1 disk=2\n");
  EXPECT_EQ(host_.events, 2);
  EXPECT_EQ(host_.log, Header("GAME.thd") + "\r\n...変換完了");

  EXPECT_EQ(Convert(Source("TWO.hdi", {{"accept", "blank"},
                                       {"multi", "1"},
                                       {"read1", "9"},
                                       {"read2", "9"},
                                       {"read3", "7"}})),
            Flow::kStop);
  EXPECT_EQ(ReadFile(work_ / "TWO_01.   "), "direct=1 disk=1\n");
  EXPECT_EQ(ReadFile(work_ / "TWO_03.   "), "direct=1 disk=3\n");
  EXPECT_TRUE(host_.log.ends_with("\r\n...ファイルライトエラー"));
}

TEST_F(DriverTest, RefusesPathsBeyondTheLimitsAndAMissingOutput) {
  // An output name of 256 bytes; a dropped path and an output folder beyond 4,095.
  std::string deep = work_.path();
  while (deep.size() < kMaxPathBytes) deep += std::string(200, 'd') + "/";
  const std::pair<std::string, std::string> paths[] = {
      {Source(std::string(252, 'n') + ".b"), ""}, {deep + "X.img", ""}, {Source("Y.img"), deep}};
  for (const auto& [path, folder] : paths) {
    settings_.use_output_folder = !folder.empty();
    settings_.output_folder = folder;
    EXPECT_EQ(Convert(path), Flow::kStop);
    EXPECT_TRUE(host_.log.ends_with("\r\n...変換エラー"));
  }
  settings_.use_output_folder = false;
  for (int index : {-1, 1}) {
    settings_.selected_output = index;
    EXPECT_EQ(Convert(Source("A.img")), Flow::kStop);
    EXPECT_EQ(host_.log, "\r\n有効な出力プラグインが選択されていません");
  }
}

// A text without its NUL is read to the buffer's end only; an empty
// progress text is never written to.
TEST_F(DriverTest, PluginTextsCannotOverrunOrBeWrittenTwice) {
  const std::string src =
      Source("U.img",
             {{"accept", "plain"}, {"issupport_unterminated", "1"}, {"read_progress", "1:2,2:2"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_NE(host_.log.find(Header("U.img") + std::string(kMessageSize, 'x') + "\r\n"),
            std::string::npos);
}

TEST_F(DriverTest, DescribesWithoutConverting) {
  const std::string src = Source("D.img", {{"accept", "title"},
                                           {"info_message", "\\r\\nTEST形式(1.25M)"},
                                           {"title", "タイトル"},
                                           {"multi", "1"}});
  EXPECT_EQ(driver_.DescribeDroppedFile(src), Flow::kContinue);
  EXPECT_EQ(host_.log, Header("D.img") +
                           "\r\n[TITLE形式入力Plug-in Ver.1.00]\r\nTEST形式(1.25M)"
                           "\r\nTITLE : タイトル\r\n(複数ディスク)");
  EXPECT_FALSE(FileExists(work_ / "D.TST"));
}

}  // namespace
}  // namespace dravik
