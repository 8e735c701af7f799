#include "conversion_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "paths.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::ReadFile;
using test::Script;

// Pretends that every ".ZIP" holds the files it lists, one name a line.
class FakeArchiveExpander : public ArchiveExpander {
 public:
  explicit FakeArchiveExpander(std::string folder) : folder_(std::move(folder)) {}
  ExpandResult ExpandIfArchive(const std::string& path, Host&) override {
    EmptyFolder(folder_, path);
    if (ToUpperAscii(ExtensionOf(path)) != ".ZIP") return {};
    const std::string list = ReadFile(path);
    size_t start = 0;
    while (start < list.size()) {
      const size_t end = list.find('\n', start);
      const std::string source = list.substr(start, end - start);
      test::CopyFile(source, folder_ + std::string(FileNameOf(source)));
      start = end == std::string::npos ? list.size() : end + 1;
    }
    return {true, true};
  }
  const std::string& temp_folder() const override { return folder_; }

 private:
  std::string folder_;
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddTestPlugin("title_reader.dvr", "a_title.dvr");
    program_.AddTestPlugin("keepext_reader.dvr", "b_keepext.dvr");
    program_.AddTestPlugin("direct_reader.dvr", "c_direct.dvr");
    program_.AddTestPlugin("plain_reader.dvr", "d_plain.dvr");
    program_.AddTestPlugin("tst_writer.dvw");
    registry_ = std::make_unique<PluginRegistry>(program_.folder());
    ASSERT_TRUE(registry_->LoadInputPlugins(host_));
    ASSERT_TRUE(registry_->LoadOutputPlugins(host_, nullptr));
    host_ = {};
    expander_ = std::make_unique<FakeArchiveExpander>(temp_.path());
    driver_ = std::make_unique<ConversionDriver>(host_, *registry_, *expander_);
    settings_.write_comment = false;
    driver_->set_settings(settings_);
  }

  std::string Source(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& lines) {
    test::WriteFile(work_ / name, Script(lines));
    return work_ / name;
  }
  Flow Convert(const std::string& path) {
    driver_->set_settings(settings_);
    return driver_->ConvertDroppedFile(path);
  }
  static std::string Header(const std::string& name) {
    return "\r\n\r\n---------   " + name + "   ----------";
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir temp_;
  test::RecordingHost host_;
  ConversionSettings settings_;
  std::unique_ptr<PluginRegistry> registry_;
  std::unique_ptr<ArchiveExpander> expander_;
  std::unique_ptr<ConversionDriver> driver_;
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
  EXPECT_EQ(host_.log, Header("GAME.img") +
                           "\r\n認識\r\nTEST形式\r\n途中\r\n読込\r\n書込\r\n...変換完了");
  // read 0..50, write 50..100, clamped; a total of 0 shows as 0.
  EXPECT_EQ(host_.progress, (std::vector<int>{0, 25, 62, 0, 75, 100, 0, 0}));
  EXPECT_EQ(ReadFile(work_ / "GAME.TST"), "disk=1\ntitle=\n");
  EXPECT_EQ(host_.events, 1);
  EXPECT_EQ(host_.busy_depth, 0);
  EXPECT_EQ(host_.focus, 1);
  EXPECT_EQ(driver_->tally().converted, 1);
}

struct ResultCase {
  const char* key;
  const char* value;
  const char* tail;  // what the log ends with
  Flow flow;
};

TEST_F(DriverTest, AnswersEveryResultCodeOfEveryCall) {
  const ResultCase cases[] = {
      {"issupport", "1", "...イメージ判断エラー", Flow::kStop},
      {"issupport", "6", "...ファイルリードエラー", Flow::kStop},
      {"issupport", "7", "...ファイルライトエラー", Flow::kStop},
      {"issupport", "8", "...イメージ判断エラー", Flow::kStop},
      {"issupport", "9", "...イメージ判断エラー", Flow::kStop},
      {"issupport", "10", "----------", Flow::kContinue},
      {"issupport", "2", "未対応のフォーマットです。", Flow::kContinue},
      {"info", "1", "...情報取得エラー", Flow::kStop},
      {"info", "2", "...情報取得エラー", Flow::kStop},
      {"info", "6", "...ファイルリードエラー", Flow::kStop},
      {"info", "7", "...ファイルライトエラー", Flow::kStop},
      {"info", "9", "...情報取得エラー", Flow::kStop},
      {"info", "10", "...情報取得エラー", Flow::kStop},
      {"read", "1", "...変換エラー", Flow::kStop},
      {"read", "2", "...変換エラー", Flow::kStop},
      {"read", "6", "...ファイルリードエラー", Flow::kStop},
      {"read", "7", "...ファイルライトエラー", Flow::kStop},
      {"read", "8", "...変換エラー", Flow::kStop},
      {"read", "10", "...変換エラー", Flow::kStop},
      {"read", "-1", "...変換エラー", Flow::kStop},
      {"write", "1", "...変換出力エラー", Flow::kStop},
      {"write", "2", "...変換出力エラー", Flow::kStop},
      {"write", "6", "...ファイルリードエラー", Flow::kStop},
      {"write", "7", "...ファイルライトエラー", Flow::kStop},
      {"write", "8", "...変換出力エラー", Flow::kStop},
      {"write", "9", "...変換出力エラー", Flow::kStop},
      {"write", "10", "...変換出力エラー", Flow::kStop},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    host_.log.clear();
    const std::string src = Source("R.img", {{"accept", "plain"}, {c.key, c.value}});
    EXPECT_EQ(Convert(src), c.flow);
    EXPECT_TRUE(host_.log.ends_with(c.tail)) << host_.log;
    EXPECT_EQ(host_.busy_depth, 0);
  }
}

TEST_F(DriverTest, UnsupportedFileLogsEveryProbeAndGoesOn) {
  test::WriteFile(work_ / "x.bin", "no script");
  EXPECT_EQ(Convert(work_ / "x.bin"), Flow::kContinue);
  EXPECT_EQ(host_.log, Header("x.bin") + "\r\n未対応のフォーマットです。");
  EXPECT_EQ(driver_->tally().unsupported, 1);
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
}

TEST_F(DriverTest, CommentFileOnlyForReadersWithTitles) {
  settings_.write_comment = true;
  Convert(Source("PLAIN.img", {{"accept", "plain"}, {"title", "ABC"}}));
  EXPECT_FALSE(FileExists(work_ / "PLAIN.txt"));
  Convert(Source("EMPTY.img", {{"accept", "title"}}));
  ASSERT_TRUE(FileExists(work_ / "EMPTY.txt"));
  EXPECT_EQ(ReadFile(work_ / "EMPTY.txt"), "");
}

TEST_F(DriverTest, KeepExtensionNames) {
  Convert(Source("GAME.dcp", {{"accept", "keepext"}}));
  EXPECT_TRUE(FileExists(work_ / "GAME_DCP.TST"));
  Convert(Source("NOEXT", {{"accept", "keepext"}}));
  EXPECT_TRUE(FileExists(work_ / "NOEXT_.TST"));
  Convert(Source(".disk", {{"accept", "plain"}}));
  EXPECT_TRUE(FileExists(work_ / ".disk.TST"));
}

TEST_F(DriverTest, OutputFolderWithOrWithoutTrailingSlash) {
  test::TempDir out;
  settings_.use_output_folder = true;
  settings_.output_folder = out.path();  // with "/"
  Convert(Source("A.FDI", {{"accept", "plain"}}));
  EXPECT_TRUE(FileExists(out / "A.TST"));
  settings_.output_folder.pop_back();
  Convert(Source("B.FDI", {{"accept", "plain"}}));
  EXPECT_TRUE(FileExists(out / "B.TST"));
  EXPECT_FALSE(FileExists(work_ / "A.TST"));

  settings_.output_folder.clear();
  host_.log.clear();
  EXPECT_EQ(Convert(Source("C.FDI", {{"accept", "plain"}})), Flow::kStop);
  EXPECT_EQ(host_.log, "\r\n出力先フォルダが指定されていません");
}

TEST_F(DriverTest, ArchiveMembersGoBesideTheArchive) {
  test::TempDir stash;
  std::string list;
  for (const char* name : {"C.img", "A.img", "B.img"}) {
    test::WriteFile(stash / name, Script({{"accept", "plain"}}));
    list += stash / name;
    list += "\n";
  }
  list.pop_back();
  test::WriteFile(work_ / "game.zip", list);
  EXPECT_EQ(Convert(work_ / "game.zip"), Flow::kContinue);
  for (const char* name : {"A.TST", "B.TST", "C.TST"}) EXPECT_TRUE(FileExists(work_ / name));
  EXPECT_LT(host_.log.find(Header("A.img")), host_.log.find(Header("B.img")));
  EXPECT_LT(host_.log.find(Header("B.img")), host_.log.find(Header("C.img")));
  EXPECT_FALSE(FileExists(temp_ / "A.TST"));

  test::TempDir out;
  settings_.use_output_folder = true;
  settings_.output_folder = out.path();
  Convert(work_ / "game.zip");
  EXPECT_EQ(test::ListFolder(out.path()), (std::vector<std::string>{"A.TST", "B.TST", "C.TST"}));
}

TEST_F(DriverTest, NeverReplacesTheSource) {
  const std::string same = Source("DISK.TST", {{"accept", "plain"}});
  host_.log.clear();
  EXPECT_EQ(Convert(same), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n入出力ファイル名が同じになりました"));
  EXPECT_EQ(ReadFile(same), Script({{"accept", "plain"}}));

  // Another name for the same file.
  const std::string src = Source("LINK.img", {{"accept", "plain"}});
  ASSERT_EQ(link(src.c_str(), (work_ / "LINK.TST").c_str()), 0);
  host_.log.clear();
  EXPECT_EQ(Convert(src), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n入出力ファイル名が同じになりました"));

  // The comment file and the debug file may not take its place either.
  settings_.write_comment = true;
  const std::string txt = Source("NOTE.txt", {{"accept", "title"}, {"title", "T"}});
  EXPECT_EQ(Convert(txt), Flow::kStop);
  EXPECT_EQ(ReadFile(txt), Script({{"accept", "title"}, {"title", "T"}}));
  settings_.write_comment = false;
  settings_.debug = true;
  const std::string dbg = Source("DUMP.dbg", {{"accept", "plain"}});
  host_.log.clear();
  EXPECT_EQ(Convert(dbg), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n入出力ファイル名が同じになりました"));
  EXPECT_FALSE(FileExists(work_ / "DUMP.TST"));
}

TEST_F(DriverTest, DebugFileIsWrittenEvenWhenReadingFails) {
  settings_.debug = true;
  Convert(Source("OK.img", {{"accept", "plain"}, {"title", "TTL"}}));
  const std::string dump = ReadFile(work_ / "OK.dbg");
  ASSERT_EQ(dump.size(), static_cast<size_t>(kDebugDumpSize));
  EXPECT_EQ(dump.substr(0, 4), std::string("TTL\0", 4));
  EXPECT_EQ(dump[256], 1);  // the test reader stores the disk number here

  host_.log.clear();
  EXPECT_EQ(Convert(Source("BAD.img", {{"accept", "plain"}, {"read", "8"}})), Flow::kStop);
  EXPECT_TRUE(FileExists(work_ / "BAD.dbg"));
  EXPECT_TRUE(host_.log.ends_with(
      "\r\n--デバック情報ファイルを書き出しました--\r\n...変換エラー"));
}

TEST_F(DriverTest, DirectModeWritesThroughTheReader) {
  const std::string src = Source("HD.hdi", {{"accept", "direct"},
                                            {"read_progress", "0:10,5:10,10:10,11:10"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_EQ(ReadFile(work_ / "HD.OUT"), "direct disk=1\n");
  EXPECT_FALSE(FileExists(work_ / "HD.TST"));
  EXPECT_EQ(host_.progress, (std::vector<int>{0, 50, 100, 100, 0}));
}

TEST_F(DriverTest, RefusesPathsBeyondThePlatformLimits) {
  const std::string long_name(252, 'n');
  const std::string src = Source(long_name + ".b", {{"accept", "plain"}});  // .TST: 256 bytes
  EXPECT_EQ(Convert(src), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n...変換エラー"));

  host_.log.clear();
  std::string deep = work_.path();
  while (deep.size() < kMaxPathBytes) deep += std::string(200, 'd') + "/";
  EXPECT_EQ(Convert(deep + "X.img"), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n...変換エラー"));

  settings_.use_output_folder = true;
  settings_.output_folder = deep;
  host_.log.clear();
  EXPECT_EQ(Convert(Source("Y.img", {{"accept", "plain"}})), Flow::kStop);
  EXPECT_TRUE(host_.log.ends_with("\r\n...変換エラー"));
}

TEST_F(DriverTest, NoUsableOutputPlugin) {
  for (int index : {-1, 1}) {
    settings_.selected_output = index;
    host_.log.clear();
    EXPECT_EQ(Convert(Source("A.img", {{"accept", "plain"}})), Flow::kStop);
    EXPECT_EQ(host_.log, "\r\n有効な出力プラグインが選択されていません");
  }
}

TEST_F(DriverTest, PluginTextsCannotOverrunOrBeWrittenTwice) {
  const std::string src = Source("U.img", {{"accept", "plain"},
                                           {"issupport_unterminated", "1"},
                                           {"read_progress", "1:2,2:2"}});
  EXPECT_EQ(Convert(src), Flow::kContinue);
  EXPECT_NE(host_.log.find(Header("U.img") + std::string(kMessageSize, 'x') + "\r\n"),
            std::string::npos);
}

TEST_F(DriverTest, EmptiesTheTemporaryFolderButKeepsADroppedFile) {
  test::WriteFile(temp_ / "stale.img", "old");
  test::WriteFile(temp_ / "mine.img", Script({{"accept", "plain"}}));
  EXPECT_EQ(Convert(temp_ / "mine.img"), Flow::kContinue);
  EXPECT_FALSE(FileExists(temp_ / "stale.img"));
  EXPECT_TRUE(FileExists(temp_ / "mine.img"));
  EXPECT_TRUE(FileExists(temp_ / "mine.TST"));
}

TEST_F(DriverTest, AnArchiveDroppedFromTheTemporaryFolderIsNotItsOwnMember) {
  test::TempDir stash;
  test::WriteFile(stash / "M.img", Script({{"accept", "plain"}}));
  test::WriteFile(temp_ / "INNER.ZIP", stash / "M.img");
  EXPECT_EQ(Convert(temp_ / "INNER.ZIP"), Flow::kContinue);
  EXPECT_EQ(host_.log, Header("M.img") + "\r\n...変換完了");
  EXPECT_EQ(driver_->tally().unsupported, 0);
}

TEST_F(DriverTest, DescribesWithoutConverting) {
  const std::string src = Source("D.img", {{"accept", "title"},
                                           {"info_message", "\\r\\nTEST形式(1.25M)"},
                                           {"title", "タイトル"},
                                           {"multi", "1"}});
  EXPECT_EQ(driver_->DescribeDroppedFile(src), Flow::kContinue);
  EXPECT_EQ(host_.log, Header("D.img") +
                           "\r\n[TITLE形式入力Plug-in Ver.1.00]\r\nTEST形式(1.25M)"
                           "\r\nTITLE : タイトル\r\n(複数ディスク)");
  EXPECT_FALSE(FileExists(work_ / "D.TST"));
}

}  // namespace
}  // namespace dravik
