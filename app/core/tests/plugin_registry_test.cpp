#include "plugin_registry.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "scratch_program.h"

namespace dravik {
namespace {

// Behaves as the window's drop-down does: nothing selected (-1) while empty,
// the first item once one is added, and no index it does not hold.
class ListSelector : public OutputSelector {
 public:
  int current() const override { return selected; }
  void Clear() override {
    labels.clear();
    selected = -1;
  }
  int Insert(int index, const std::string& label) override {
    labels.insert(labels.begin() + index, label);
    if (selected < 0) selected = 0;
    return refuse_at == index ? index + 1 : index;
  }
  void Select(int index) override {
    selected = index >= 0 && index < static_cast<int>(labels.size()) ? index : -1;
  }

  std::vector<std::string> labels;
  int selected = -1;
  int refuse_at = -1;
};

class PluginRegistryTest : public ::testing::Test {
 protected:
  // Test plug-ins under names that fix their order.
  void Add(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [file, as_name] : files) program_.AddTestPlugin(file, as_name);
  }

  test::ScratchProgram program_;
  PluginRegistry registry_{program_.folder()};
  test::RecordingHost host_;
  ListSelector selector_;
};

TEST_F(PluginRegistryTest, AcceptsInNameOrderAndSkipsWrongOnesSilently) {
  Add({{"plain_reader.dvr", "b_plain.dvr"},
       {"title_reader.dvr", "a_title.dvr"},
       {"kind1_reader.dvr", "c_kind1.dvr"},
       {"version2_reader.dvr", "d_version2.dvr"},
       {"refusing_reader.dvr", "e_refusing.dvr"},
       {"tst_writer.dvw", "b_tst.dvw"},
       {"kind0_writer.dvw", "a_kind0.dvw"}});
  test::WriteFile(program_.folder() + "f_junk.dvr", "not a library");
  ASSERT_TRUE(registry_.LoadInputPlugins(host_));
  ASSERT_TRUE(registry_.LoadOutputPlugins(host_, &selector_));
  ASSERT_EQ(registry_.input_count(), 2);
  EXPECT_EQ(registry_.input(0).file_name, "a_title.dvr");
  EXPECT_EQ(registry_.input(1).file_name, "b_plain.dvr");
  EXPECT_EQ(registry_.input(0).caps[9], 1);
  ASSERT_EQ(registry_.output_count(), 1);
  EXPECT_EQ(registry_.output(0).extension, ".TST");
  EXPECT_EQ(selector_.labels, std::vector<std::string>{"TST形式(テスト用)"});
  EXPECT_EQ(host_.log,
            "\r\nTITLE形式入力Plug-in Ver.1.00\r\nTEST形式入力Plug-in Ver.0.01"
            "\r\nTST形式出力Plug-in Ver.1.00");
}

TEST_F(PluginRegistryTest, MissingExportEndsDiscoveryOfItsKind) {
  Add({{"plain_reader.dvr", "a.dvr"},
       {"incomplete_reader.dvr", "b.dvr"},
       {"title_reader.dvr", "c.dvr"},
       {"incomplete_writer.dvw", "a.dvw"},
       {"tst_writer.dvw", "b.dvw"}});
  EXPECT_FALSE(registry_.LoadInputPlugins(host_));
  EXPECT_EQ(registry_.input_count(), 1);
  EXPECT_EQ(host_.log, "\r\nTEST形式入力Plug-in Ver.0.01\r\nPlug-in Error in b.dvr");
  host_.log.clear();
  EXPECT_FALSE(registry_.LoadOutputPlugins(host_, nullptr));
  EXPECT_EQ(registry_.output_count(), 0);
  EXPECT_EQ(host_.log, "\r\nPlug-in Error in a.dvw");
}

TEST_F(PluginRegistryTest, RestoresTheSelectionAndStopsWhenTheSelectorLosesAnEntry) {
  Add({{"tst_writer.dvw", "a.dvw"}, {"ts2_writer.dvw", "b.dvw"}});
  // Taken from the empty list at start-up: the first plug-in is selected.
  ASSERT_TRUE(registry_.LoadOutputPlugins(host_, &selector_));
  EXPECT_EQ(selector_.selected, 0);
  EXPECT_EQ(selector_.labels.size(), 2u);
  for (int remembered : {1, 2}) {
    selector_.selected = remembered;
    ASSERT_TRUE(registry_.LoadOutputPlugins(host_, &selector_));
    EXPECT_EQ(selector_.selected, remembered == 1 ? 1 : 0);
  }
  EXPECT_FALSE(registry_.LoadInputPlugins(host_));  // no .dvr at all
  EXPECT_EQ(registry_.input_count(), 0);
  registry_.UnloadAllPlugins();
  EXPECT_EQ(registry_.output_count(), 0);
  EXPECT_FALSE(registry_.output(0).library.loaded());

  selector_.refuse_at = 1;
  EXPECT_FALSE(registry_.LoadOutputPlugins(host_, &selector_));
  EXPECT_EQ(registry_.output_count(), 1);
  EXPECT_TRUE(host_.log.ends_with("\r\nEx Plug-in追加異常"));
}

TEST_F(PluginRegistryTest, IgnoresFilesBeyondTheTableWithOneLine) {
  for (int i = 1; i < kMaxPlugins; ++i) {
    test::WriteFile(program_.folder() + "a" + std::to_string(1000 + i) + ".dvr", "junk");
  }
  Add({{"plain_reader.dvr", "b.dvr"}, {"title_reader.dvr", "c.dvr"}});  // the 256th and 257th
  EXPECT_TRUE(registry_.LoadInputPlugins(host_));
  EXPECT_EQ(registry_.input_count(), 1);
  EXPECT_EQ(registry_.input(0).file_name, "b.dvr");
  EXPECT_EQ(host_.log,
            "\r\nPlug-inが多すぎます。256個を超えた1個は読み込みません"
            "\r\nTEST形式入力Plug-in Ver.0.01");
}

// The command line's registry leaves its plug-ins mapped when it goes (the
// process ends next). Whether an unloaded library really leaves depends on
// the toolchain (a sanitizer or unique C++ symbols can pin it), so only the
// kept side is checked.
TEST(PluginRegistryLifetimeTest, KeepsPluginsLoadedWhenAsked) {
  test::ScratchProgram program;
  program.AddTestPlugin("plain_reader.dvr", "a_plain.dvr");
  const std::string path = program.folder() + "a_plain.dvr";
  test::RecordingHost host;
  {
    PluginRegistry registry(program.folder());
    ASSERT_TRUE(registry.LoadInputPlugins(host));
    ASSERT_EQ(registry.input_count(), 1);
    registry.KeepLoadedUntilExit();
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(handle, nullptr);
  if (handle != nullptr) dlclose(handle);  // the reference NOLOAD took
}

}  // namespace
}  // namespace dravik
