// FILE extraction through dravik-cli, the raw-image reader taking the disks:
// long names and dates as mtools puts them on a mkfs.fat disk, names that
// clash or hold control bytes, a source without an extension, and a disk
// without files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "extract_support.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::ShellQuote;

class FileCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    program_.AddBuiltPlugin("tfd_reader.dvr");
    program_.AddBuiltPlugin("file_extractor.dvw");
  }
  // Extracts work_/source with the time zone given.
  test::CommandResult Extract(const std::string& source, const std::string& tz = "UTC0") {
    return program_.RunCli("-t FILE " + ShellQuote(work_ / source),
                           "TZ=" + tz + " TMPDIR=" + ShellQuote(tmp_.path()));
  }
  // Runs mtools and mkfs.fat in work_.
  void Tools(const std::string& command) {
    const auto r = test::RunCommand(
        "export PATH=/usr/sbin:/sbin:$PATH LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 TZ=JST-9; cd " +
        ShellQuote(work_.path()) + " && " + command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
  }
  static std::string Log(const std::string& source, const std::string& message,
                         const std::string& ending = "...変換完了") {
    return "\n\n---------   " + source + "   ----------\nTFD形式(1.44M)\n" + message + "\n" +
           ending + "\n";
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
};

// mcopy -m writes each file's time as the local time of its TZ, and VFAT
// long names for what 8.3 cannot hold; both come back as they went in.
TEST_F(FileCliTest, LongNamesAndDatesAsMtoolsWroteThem) {
  if (!test::HaveTool("mcopy")) GTEST_SKIP() << "mtools missing";
  ASSERT_EQ(mkdir((work_ / "put").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((work_ / "put/Long Folder Name").c_str(), 0755), 0);
  test::WriteFile(work_ / "put/A Long File Name.txt", "long");
  test::WriteFile(work_ / "put/日本語の長い名前.txt", "japanese");
  test::WriteFile(work_ / "put/SHORT.TXT", "short");
  test::WriteFile(work_ / "put/Long Folder Name/inner file.dat", test::Pattern(3000, 1));
  Tools(
      "touch -d '1993-04-05 06:07:08' 'put/A Long File Name.txt' && "
      "touch -d '2001-12-31 23:59:58' put/SHORT.TXT 'put/Long Folder Name/inner file.dat' && "
      "mkfs.fat -C -F 12 disk.img 1440 >/dev/null && mcopy -s -m -i disk.img put/* ::/");
  const auto r = Extract("disk.img", "JST-9");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, Log("disk.img", "4個のファイルを出力しました"));
  EXPECT_EQ(test::DiffTrees(test::ReadTree(work_ / "put"), test::ReadTree(work_ / "disk")), "");
  for (const char* name :
       {"A Long File Name.txt", "SHORT.TXT", "Long Folder Name/inner file.dat"}) {
    struct stat put {};
    struct stat out {};
    ASSERT_EQ(stat((work_ / "put/" + name).c_str(), &put), 0);
    ASSERT_EQ(stat((work_ / "disk/" + name).c_str(), &out), 0);
    EXPECT_EQ(out.st_mtime, put.st_mtime) << name;
  }
}

// A source named DISK, without an extension: its folder is DISK~2. On the
// disk, two files of one name and names with control bytes, which no tool
// writes.
TEST_F(FileCliTest, ClashingNamesAndControlBytesBesideASourceWithoutExtension) {
  test::FatBuilder fat("1.44M");
  test::FatBuilder::Entry(fat.Root(0), "SAME", "TXT", 0x20, fat.Store("first"), 5);
  test::FatBuilder::Entry(fat.Root(1), "SAME", "TXT", 0x20, fat.Store("second"), 6);
  test::FatBuilder::Entry(fat.Root(2), "ESC\x1B[2J", "", 0x20, fat.Store("e"), 1);
  test::FatBuilder::Entry(fat.Root(3), "LINE\nBRK", "\r", 0x20, fat.Store("l"), 1);
  test::WriteFile(work_ / "DISK", fat.raw());
  const auto r = Extract("DISK");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, Log("DISK", "4個のファイルを出力しました"));
  EXPECT_EQ(
      test::DiffTrees(
          {{"SAME.TXT", "first"}, {"SAME~2.TXT", "second"}, {"ESC_[2J", "e"}, {"LINE_BRK._", "l"}},
          test::ReadTree(work_ / "DISK~2")),
      "");
}

// A formatted disk without files fails as it always did, and leaves no
// empty folder behind.
TEST_F(FileCliTest, ADiskWithoutFilesLeavesNoFolder) {
  if (!test::HaveTool("mcopy")) GTEST_SKIP() << "mtools missing";
  Tools("mkfs.fat -C -F 12 empty.img 1440 >/dev/null && mmd -i empty.img ::/FOLDER");
  const auto r = Extract("empty.img");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out,
            Log("empty.img", "出力可能なファイルは見つかりませんでした", "...変換出力エラー"));
  EXPECT_EQ(test::ListFolder(work_.path()), (std::vector<std::string>{"empty.img"}));
}

}  // namespace
}  // namespace dravik
