#include "settings_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace dravik {
namespace {

ConversionSettings Read(const std::string& text, int outputs = 4) {
  test::TempDir dir;
  test::WriteFile(dir / "Dravik.cfg", text);
  ConversionSettings s;
  ReadSettingsFile(dir / "Dravik.cfg", outputs, s);
  return s;
}

TEST(SettingsFile, MissingFileMeansDefaults) {
  ConversionSettings s;
  s.selected_output = 3;
  ReadSettingsFile("/nonexistent/Dravik.cfg", 5, s);
  EXPECT_EQ(s.selected_output, 0);
  EXPECT_TRUE(s.write_comment);
  EXPECT_FALSE(s.use_output_folder);
  EXPECT_EQ(s.output_folder, "");
  EXPECT_FALSE(s.debug);
}

TEST(SettingsFile, RoundTripsInItsOwnFormat) {
  test::TempDir dir;
  ConversionSettings s;
  s.use_output_folder = true;
  s.output_folder = "/home/user/出力 先";
  s.write_comment = false;
  s.selected_output = 3;
  s.debug = true;
  WriteSettingsFile(dir / "Dravik.cfg", s);
  EXPECT_EQ(test::ReadFile(dir / "Dravik.cfg"),
            "folder : 1\npath   : /home/user/出力 先\ncomment: 0\noutlist: 03\ndebug  : 1\n");
  ConversionSettings back;
  ReadSettingsFile(dir / "Dravik.cfg", 4, back);
  EXPECT_TRUE(back.use_output_folder);
  EXPECT_EQ(back.output_folder, s.output_folder);
  EXPECT_FALSE(back.write_comment);
  EXPECT_EQ(back.selected_output, 3);
  EXPECT_TRUE(back.debug);
}

TEST(SettingsFile, ReadingRules) {
  EXPECT_EQ(Read("outlist: 03\n", 4).selected_output, 3);
  EXPECT_EQ(Read("outlist: 03\n", 3).selected_output, 0);   // fewer outputs
  EXPECT_EQ(Read("outlist: 5\n", 20).selected_output, 12);   // LF read as a digit
  EXPECT_EQ(Read("outlist: 5\r\n", 20).selected_output, 12);  // the same with CR LF
  EXPECT_EQ(Read("outlist: 5\n", 4).selected_output, 0);
  EXPECT_EQ(Read("outlist: 1\n", 20).selected_output, 0);    // negative
  EXPECT_EQ(Read("outlist: 104\n", 20).selected_output, 10);  // three digits: first two
  EXPECT_FALSE(Read("folder : 2\n").use_output_folder);
  EXPECT_TRUE(Read("folder : 1\r\n").use_output_folder);
  EXPECT_EQ(Read("path   : \n").output_folder, "");
  EXPECT_EQ(Read("path   :  /a b \r\n").output_folder, " /a b ");
  EXPECT_EQ(Read("Path   : /x\n").output_folder, "");  // keys are case-sensitive
  const ConversionSettings s =
      Read("debug  : 1\nnoise\ncomment: 0\npath   : /a\npath   : /b\noutlist: 02\n");
  EXPECT_TRUE(s.debug);
  EXPECT_FALSE(s.write_comment);
  EXPECT_EQ(s.output_folder, "/b");  // the last occurrence wins
  EXPECT_EQ(s.selected_output, 2);
}

TEST(SettingsFile, LongPathsSurviveAndLineBreaksAreNotStored) {
  test::TempDir dir;
  ConversionSettings s;
  s.output_folder = "/" + std::string(3000, 'p');
  WriteSettingsFile(dir / "a.cfg", s);
  ConversionSettings back;
  ReadSettingsFile(dir / "a.cfg", 1, back);
  EXPECT_EQ(back.output_folder, s.output_folder);

  s.output_folder = "/tmp\noutlist: 07";
  WriteSettingsFile(dir / "b.cfg", s);
  ConversionSettings broken;
  ReadSettingsFile(dir / "b.cfg", 10, broken);
  EXPECT_EQ(broken.output_folder, "");
  EXPECT_EQ(broken.selected_output, 0);

  EXPECT_EQ(Read("path   : /" + std::string(5000, 'q') + "\n").output_folder, "");
}

TEST(SettingsFile, FallsBackToTheConfigFolderWhenTheProgramFolderIsNotWritable) {
  test::TempDir dir;
  setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  // A folder nobody can write to, root included: one that is not there.
  const std::string path = SettingsFilePath(dir / "gone/");
  EXPECT_EQ(path, dir / "cfg/dravik/Dravik.cfg");
  EXPECT_EQ(SettingsFilePath(dir.path()), dir / "Dravik.cfg");
  ConversionSettings s;
  s.debug = true;
  WriteSettingsFile(path, s);  // makes the folders it needs
  ConversionSettings back;
  ReadSettingsFile(path, 1, back);
  EXPECT_TRUE(back.debug);
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace dravik
