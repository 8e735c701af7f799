// Archives through dravik-cli, the libraries beside it and the test
// plug-ins converting what they hold: the names members get, what a damaged
// or empty archive says, and archives inside an archive.
#include <gtest/gtest.h>
#include <unistd.h>

#include "archive_builder.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::ShellQuote;

const std::string kImage = test::Script({{"accept", "plain"}});

class ArchiveCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::HaveTool("zip") && test::HaveTool("lha")) << "zip and lha needed";
    program_.AddCli();
    program_.AddTestPlugin("plain_reader.dvr");
    program_.AddTestPlugin("tst_writer.dvw");
    program_.AddBuiltPlugin("UNLHA32.so");
    program_.AddBuiltPlugin("UNZIP32.so");
  }
  // Packs images under the names given with an archiver tool ("zip -q",
  // "lha a") into work_/archive; a name that is an archive path of work_
  // packs that archive.
  void Pack(const std::string& command, const std::string& archive,
            const std::vector<std::string>& names) {
    test::TempDir stash;
    std::string list;
    for (const std::string& name : names) {
      const bool packed = FileExists(work_ / name);
      test::WriteFile(stash / name, packed ? test::ReadFile(work_ / name) : kImage);
      list += " " + ShellQuote(name);
    }
    const auto made = test::RunCommand("cd " + ShellQuote(stash.path()) + " && " + command + " " +
                                       ShellQuote(work_ / archive) + list + " >/dev/null");
    ASSERT_EQ(made.status, 0) << made.err;
  }
  test::CommandResult Run(const std::string& names) {
    std::string args = "-t tst";
    for (std::string_view rest = names; !rest.empty();) {
      const size_t space = rest.find(' ');
      args += " " + ShellQuote(work_ / std::string(rest.substr(0, space)));
      rest = space == std::string_view::npos ? "" : rest.substr(space + 1);
    }
    return program_.RunCli(args, "TMPDIR=" + ShellQuote(tmp_.path()));
  }
  static std::string Converted(const std::string& name) {
    return "\n\n---------   " + name + "   ----------\n...変換完了";
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
};

// zip on Linux stores UTF-8 names without the UTF-8 flag; a PC-98 or
// Windows zipper (MS-DOS host) stores CP932; a zipper that knows both adds
// Info-ZIP's Unicode path field to a name of its code page.
TEST_F(ArchiveCliTest, MemberNamesFollowTheZipNameRule) {
  Pack("zip -q", "LINUX.ZIP", {"ゲーム.img"});
  test::WriteFile(work_ / "DOS.ZIP",
                  test::BuildZip({{"\x83\x66\x83\x42\x83\x58\x83\x4E.img", kImage}}));  // ディスク
  test::WriteFile(
      work_ / "UPATH.ZIP",
      test::BuildZip({{.name = "DISK~1.IMG",
                       .data = kImage,
                       .extra = test::UnicodePathField("DISK~1.IMG", "長い名前.img")}}));
  const auto r = Run("LINUX.ZIP DOS.ZIP UPATH.ZIP");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "\nLINUX.ZIP...展開中...完了" + Converted("ゲーム.img") +
                       "\nDOS.ZIP...展開中...完了" + Converted("ディスク.img") +
                       "\nUPATH.ZIP...展開中...完了" + Converted("長い名前.img") + "\n");
  for (const char* name : {"ゲーム.TST", "ディスク.TST", "長い名前.TST"}) {
    EXPECT_TRUE(FileExists(work_ / name)) << name;
  }
}

// A damaged archive is one that fails to unpack, not a file of no known
// format; an empty one says so in a line of its own.
TEST_F(ArchiveCliTest, DamagedArchivesFailAndEmptyOnesSaySo) {
  Pack("zip -q", "GOOD.ZIP", {"A.img", "B.img"});
  Pack("lha a", "GOOD.LZH", {"A.img", "B.img"});
  const std::string zip = test::ReadFile(work_ / "GOOD.ZIP");
  const std::string lzh = test::ReadFile(work_ / "GOOD.LZH");
  test::WriteFile(work_ / "CUT.ZIP", zip.substr(0, zip.size() - 30));
  test::WriteFile(work_ / "CUT.LZH", lzh.substr(0, lzh.size() - 10));  // in B's data
  for (const std::string name : {"CUT.ZIP", "CUT.LZH"}) {
    const auto r = Run(name + " GOOD.ZIP");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out,
              "\n" + name + "...展開中\n" + (name == "CUT.ZIP" ? "UnZip" : "Unlha") + "展開失敗\n");
    EXPECT_FALSE(FileExists(work_ / "A.TST"));
  }

  // What lha leaves when the last file is deleted, and a ZIP of folders.
  ASSERT_EQ(
      test::RunCommand("cd " + ShellQuote(work_.path()) + " && lha d GOOD.LZH A.img B.img").status,
      0);
  test::WriteFile(work_ / "DIRS.ZIP", test::BuildZip({{.name = "DISKS/", .unix_mode = 040755}}));
  for (const std::string name : {"GOOD.LZH", "DIRS.ZIP"}) {
    const auto r = Run(name);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(r.out, "\n" + name + "...展開中...完了\nアーカイブにファイルがありません\n");
  }
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
}

// A ZIP of LZH files, one per disk, as collections hold them; an archive in
// those stays what it is.
TEST_F(ArchiveCliTest, ArchivesInAnArchiveConvertBesideTheOuterOne) {
  Pack("lha a", "DISK1.LZH", {"A.img", "B.img"});
  Pack("zip -q", "DISK2.ZIP", {"C.img"});
  Pack("lha a", "DISK3.LZH", {"DISK2.ZIP"});
  test::WriteFile(work_ / "UP.LZH",
                  test::BuildLzh({{.name = "..\\..\\UP.img", .data = kImage, .level = 0}}));
  Pack("zip -q", "SET.ZIP", {"DISK1.LZH", "DISK3.LZH", "UP.LZH", "D.img"});
  for (const char* name : {"DISK1.LZH", "DISK2.ZIP", "DISK3.LZH", "UP.LZH"}) {
    unlink((work_ / name).c_str());
  }
  const auto r = Run("SET.ZIP");
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(r.out, "\nSET.ZIP...展開中...完了" + Converted("A.img") + Converted("B.img") +
                       Converted("D.img") +
                       "\n\n---------   DISK2.ZIP   ----------\n未対応のフォーマットです。" +
                       Converted("UP.img") + "\n");
  EXPECT_EQ(test::ListFolder(work_.path()),
            (std::vector<std::string>{"A.TST", "B.TST", "D.TST", "SET.ZIP", "UP.TST"}));
  EXPECT_TRUE(test::ListFolder(tmp_.path()).empty());
}

}  // namespace
}  // namespace dravik
