#include "plugin_registry.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "scratch_program.h"

namespace dravik {
namespace {

using test::RecordingHost;
using test::ScratchProgram;

class ListSelector : public OutputSelector {
 public:
  int current() const override { return selected; }
  void Clear() override { labels.clear(); }
  int Insert(int index, const std::string& label) override {
    labels.insert(labels.begin() + index, label);
    return refuse_at == index ? index + 1 : index;
  }
  void Select(int index) override { selected = index; }

  std::vector<std::string> labels;
  int selected = 0;
  int refuse_at = -1;
};

TEST(PluginRegistry, AcceptsInNameOrderAndSkipsWrongOnesSilently) {
  ScratchProgram program;
  program.AddTestPlugin("plain_reader.dvr", "b_plain.dvr");
  program.AddTestPlugin("title_reader.dvr", "a_title.dvr");
  program.AddTestPlugin("kind1_reader.dvr", "c_kind1.dvr");
  program.AddTestPlugin("version2_reader.dvr", "d_version2.dvr");
  program.AddTestPlugin("refusing_reader.dvr", "e_refusing.dvr");
  test::WriteFile(program.folder() + "f_junk.dvr", "not a library");
  program.AddTestPlugin("tst_writer.dvw");
  program.AddTestPlugin("kind0_writer.dvw", "a_kind0.dvw");

  PluginRegistry registry(program.folder());
  RecordingHost host;
  ListSelector selector;
  ASSERT_TRUE(registry.LoadInputPlugins(host));
  ASSERT_TRUE(registry.LoadOutputPlugins(host, &selector));
  ASSERT_EQ(registry.input_count(), 2);
  EXPECT_EQ(registry.input(0).file_name, "a_title.dvr");
  EXPECT_EQ(registry.input(1).file_name, "b_plain.dvr");
  EXPECT_EQ(registry.input(0).caps[9], 1);
  ASSERT_EQ(registry.output_count(), 1);
  EXPECT_EQ(registry.output(0).extension, ".TST");
  EXPECT_EQ(selector.labels, std::vector<std::string>{"TST形式(テスト用)"});
  EXPECT_EQ(host.log,
            "\r\nTITLE形式入力Plug-in Ver.1.00\r\nTEST形式入力Plug-in Ver.0.01"
            "\r\nTST形式出力Plug-in Ver.1.00");
}

TEST(PluginRegistry, MissingExportEndsDiscoveryOfItsKind) {
  ScratchProgram program;
  program.AddTestPlugin("plain_reader.dvr", "a.dvr");
  program.AddTestPlugin("incomplete_reader.dvr", "b.dvr");
  program.AddTestPlugin("title_reader.dvr", "c.dvr");
  PluginRegistry registry(program.folder());
  RecordingHost host;
  EXPECT_FALSE(registry.LoadInputPlugins(host));
  EXPECT_EQ(registry.input_count(), 1);
  EXPECT_EQ(host.log, "\r\nTEST形式入力Plug-in Ver.0.01\r\nPlug-in Error in b.dvr");

  ScratchProgram outputs;
  outputs.AddTestPlugin("incomplete_writer.dvw", "a.dvw");
  outputs.AddTestPlugin("tst_writer.dvw", "b.dvw");
  PluginRegistry out_registry(outputs.folder());
  RecordingHost out_host;
  EXPECT_FALSE(out_registry.LoadOutputPlugins(out_host, nullptr));
  EXPECT_EQ(out_registry.output_count(), 0);
  EXPECT_EQ(out_host.log, "\r\nPlug-in Error in a.dvw");
}

TEST(PluginRegistry, SelectorThatLosesAnEntryStopsDiscovery) {
  ScratchProgram program;
  program.AddTestPlugin("tst_writer.dvw", "a.dvw");
  program.AddTestPlugin("ts2_writer.dvw", "b.dvw");
  PluginRegistry registry(program.folder());
  RecordingHost host;
  ListSelector selector;
  selector.refuse_at = 1;
  EXPECT_FALSE(registry.LoadOutputPlugins(host, &selector));
  EXPECT_EQ(registry.output_count(), 1);
  EXPECT_TRUE(host.log.ends_with("\r\nEx Plug-in追加異常"));
}

TEST(PluginRegistry, RestoresTheSelectionAndFailsWithoutPlugins) {
  ScratchProgram program;
  program.AddTestPlugin("tst_writer.dvw", "a.dvw");
  program.AddTestPlugin("ts2_writer.dvw", "b.dvw");
  PluginRegistry registry(program.folder());
  RecordingHost host;
  ListSelector selector;
  selector.selected = 1;
  ASSERT_TRUE(registry.LoadOutputPlugins(host, &selector));
  EXPECT_EQ(selector.selected, 1);
  EXPECT_EQ(selector.labels.size(), 2u);
  EXPECT_FALSE(registry.LoadInputPlugins(host));  // no .dvr at all
  EXPECT_EQ(registry.input_count(), 0);

  registry.UnloadAllPlugins();
  EXPECT_EQ(registry.output_count(), 0);
  EXPECT_FALSE(registry.output(0).library.loaded());
}

TEST(PluginRegistry, IgnoresFilesBeyondTheTableWithOneLine) {
  ScratchProgram program;
  for (int i = 0; i < kMaxPlugins - 1; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "a%03d.dvr", i);
    test::WriteFile(program.folder() + name, "junk");
  }
  program.AddTestPlugin("plain_reader.dvr", "b.dvr");  // the 256th file
  program.AddTestPlugin("title_reader.dvr", "c.dvr");  // the 257th
  PluginRegistry registry(program.folder());
  RecordingHost host;
  EXPECT_TRUE(registry.LoadInputPlugins(host));
  EXPECT_EQ(registry.input_count(), 1);
  EXPECT_EQ(registry.input(0).file_name, "b.dvr");
  EXPECT_EQ(host.log,
            "\r\nPlug-inが多すぎます。256個を超えた1個は読み込みません"
            "\r\nTEST形式入力Plug-in Ver.0.01");
}

}  // namespace
}  // namespace dravik
