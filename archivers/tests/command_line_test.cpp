// The command lines the program sends, and the names unpacked files get.
#include <gtest/gtest.h>

#include "archiver.h"

namespace dravik::archiver {
namespace {

TEST(CommandLineTest, ReadsTheProgramsCommandLines) {
  const struct {
    Format format;
    const char* line;
    const char* archive;
    const char* folder;
  } cases[] = {
      {Format::kLzh, "e -n1 \"/home/ユーザー/My Disks/ゲーム.LZH\" \"/opt/dravik/draviktemp/\"",
       "/home/ユーザー/My Disks/ゲーム.LZH", "/opt/dravik/draviktemp/"},
      {Format::kZip, "-x -j --i \"a b.zip\" \"t/\"", "a b.zip", "t/"},
      // Unquoted words, tabs and extra blanks, as the libraries always read them.
      {Format::kLzh, "  E\t-n  a.lzh   out/ ", "a.lzh", "out/"},
      // A quoted word that looks like a switch is a path.
      {Format::kZip, "-j -x \"-a.zip\" \"-t/\"", "-a.zip", "-t/"},
  };
  for (const auto& c : cases) {
    const auto command = ParseCommandLine(c.format, c.line);
    ASSERT_TRUE(command) << c.line;
    EXPECT_EQ(command->archive, c.archive);
    EXPECT_EQ(command->folder, c.folder);
  }
}

TEST(CommandLineTest, RefusesWhatItCannotReadForCertain) {
  const std::pair<Format, const char*> refused[] = {
      {Format::kLzh, "e -n1 \"a\"b.lzh\" \"t/\""},  // a quote inside the path
      {Format::kLzh, "e -n1 \"a.lzh\" \"t/"},       // unclosed
      {Format::kLzh, "e -n1 \"a.lzh\"\"t/\""},      // glued words
      {Format::kLzh, "e -n1 a\"b.lzh t/"},
      {Format::kLzh, "e -n1 \"a\nb.lzh\" \"t/\""},  // a line break
      {Format::kLzh, "e -n1 \"a\rb.lzh\" \"t/\""},
      {Format::kLzh, "e -n1 \"a.lzh\" \"t/\" GAME.FDI"},  // a file list
      {Format::kLzh, "e -n1 \"a.lzh\""},
      {Format::kLzh, "e -n1 \"\" \"t/\""},
      {Format::kLzh, "x -n1 \"a.lzh\" \"t/\""},  // extract with folders
      {Format::kLzh, "-n1 e \"a.lzh\" \"t/\""},
      {Format::kLzh, "e -n3 \"a.lzh\" \"t/\""},
      {Format::kLzh, "e -x \"a.lzh\" \"t/\""},
      {Format::kLzh, ""},
      {Format::kZip, "-x --i \"a.zip\" \"t/\""},  // keeping folders
      {Format::kZip, "-j --i \"a.zip\" \"t/\""},  // no command
      {Format::kZip, "-x -j -o \"a.zip\" \"t/\""},
      {Format::kZip, "-x -j \"a.zip\" \"t/\" \"u/\""},
      {Format::kZip, "e -x -j \"a.zip\" \"t/\""},
  };
  for (const auto& [format, line] : refused) {
    EXPECT_FALSE(ParseCommandLine(format, line)) << line;
  }
}

// Hostile names are tested through real archives; these are the rest.
TEST(EntryNameTest, SafeBaseNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"DIR/", ""},
      {"a/.", ""},
      {".hidden", ".hidden"},
      {"del\x7f", "del_"},
      {"bad\xff.FDI", "bad_.FDI"},
      {"ゲーム.FDI", "ゲーム.FDI"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(SafeBaseName(path), name) << path;
}

TEST(EntryNameTest, LzhNamesComeBackToShiftJis) {
  // ソ is 0x83 0x5C; a level-0 header's "\" turned "/" by libarchive is put back.
  EXPECT_EQ(DecodeLzhName("\u0083/\u0083t\u0083g.txt"), "ソフト.txt");
  EXPECT_EQ(DecodeLzhName("\u0083\\\u0083t\u0083g.txt"), "ソフト.txt");
  EXPECT_EQ(DecodeLzhName("DIR/\u00B1.FDI"), "DIR/ｱ.FDI");  // half-width: one byte
  EXPECT_EQ(DecodeLzhName("A\u00FD.FDI"), "A_.FDI");
  // A name libarchive decoded from a code page in the header stays.
  EXPECT_EQ(DecodeLzhName("日本語.FDI"), "日本語.FDI");
}

TEST(EntryNameTest, NumberedNamesFitTheNameLimit) {
  EXPECT_EQ(NumberedName("GAME", 12), "GAME_12");
  EXPECT_EQ(NumberedName(".disk", 3), ".disk_3");
  std::string long_name;
  for (int i = 0; i < 100; ++i) long_name += "あ";
  const std::string numbered = NumberedName(long_name + ".FDI", 7);
  EXPECT_LE(numbered.size(), 255u);
  EXPECT_TRUE(numbered.ends_with("あ_7.FDI"));  // cut at a character, extension kept
  EXPECT_LE(NumberedName(std::string(300, 'x'), 2).size(), 255u);
}

}  // namespace
}  // namespace dravik::archiver
