#include "settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace dravik {
namespace {

// Every field on one line, so that each case checks all of them.
std::string Fields(const ConversionSettings& s) {
  return std::to_string(s.use_output_folder) + "|" + s.output_folder + "|" +
         std::to_string(s.write_comment) + "|" + std::to_string(s.selected_output) + "|" +
         std::to_string(s.debug);
}

std::string Read(const std::string& path, int outputs) {
  ConversionSettings s;
  ReadSettingsFile(path, outputs, s);
  return Fields(s);
}

TEST(SettingsFile, ReadingRules) {
  ConversionSettings missing;
  missing.selected_output = 3;
  ReadSettingsFile("/nonexistent/Dravik.cfg", 5, missing);
  EXPECT_EQ(Fields(missing), "0||1|0|0");
  // A FIFO that nobody writes to blocked the read (and the window's start)
  // for ever; a folder is no settings file either.
  test::TempDir odd;
  ASSERT_EQ(mkfifo((odd / "Dravik.cfg").c_str(), 0600), 0);
  ConversionSettings fifo;
  fifo.selected_output = 3;
  ReadSettingsFile(odd / "Dravik.cfg", 5, fifo);
  EXPECT_EQ(Fields(fifo), "0||1|0|0");
  EXPECT_EQ(Read(odd.path(), 5), "0||1|0|0");

  const struct {
    std::string text;
    int outputs;
    const char* fields;
  } cases[] = {
      {"outlist: 03\n", 4, "0||1|3|0"},
      {"outlist: 03\n", 3, "0||1|0|0"},     // fewer outputs
      {"outlist: 5\n", 20, "0||1|12|0"},    // LF read as a digit
      {"outlist: 5\r\n", 20, "0||1|12|0"},  // the same with CR LF
      {"outlist: 5\n", 4, "0||1|0|0"},
      {"outlist: 1\n", 20, "0||1|0|0"},     // negative
      {"outlist: 104\n", 20, "0||1|10|0"},  // three digits: the first two
      {"folder : 2\n", 4, "0||1|0|0"},
      {"folder : 1\r\n", 4, "1||1|0|0"},
      {"path   :  /a b \r\n", 4, "0| /a b |1|0|0"},
      {"path   : /a\npath   : \n", 4, "0||1|0|0"},  // the last occurrence wins, even empty
      {"Path   : /x\n", 4, "0||1|0|0"},             // keys are case-sensitive
      {"path   : /" + std::string(5000, 'q') + "\n", 4, "0||1|0|0"},  // past the path limit
      {"debug  : 1\nnoise\ncomment: 0\npath   : /a\noutlist: 02\n", 4, "0|/a|0|2|1"},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    test::WriteFile(dir / "Dravik.cfg", c.text);
    EXPECT_EQ(Read(dir / "Dravik.cfg", c.outputs), c.fields) << c.text;
  }
}

TEST(SettingsFile, RoundTripsLongPathsButNoLineBreaks) {
  ConversionSettings s;
  s.use_output_folder = true;
  s.output_folder = "/home/user/出力 先";
  s.write_comment = false;
  s.selected_output = 3;
  s.debug = true;
  test::TempDir dir;
  const std::string path = dir / "Dravik.cfg";
  WriteSettingsFile(path, s);
  EXPECT_EQ(test::ReadFile(path),
            "folder : 1\npath   : /home/user/出力 先\ncomment: 0\noutlist: 03\ndebug  : 1\n");
  EXPECT_EQ(Read(path, 4), Fields(s));
  s.output_folder = "/" + std::string(3000, 'p');
  WriteSettingsFile(path, s);
  EXPECT_EQ(Read(path, 4), Fields(s));
  s.output_folder = "/tmp\noutlist: 07";
  WriteSettingsFile(path, s);
  EXPECT_EQ(Read(path, 10), "1||0|3|1");
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
  EXPECT_EQ(Read(path, 1), "0||1|0|1");
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace dravik
