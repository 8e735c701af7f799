#include "archive_expander.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "archive_builder.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::FileExists;
using test::ListFolder;
using test::ReadFile;
using Names = std::vector<std::string>;

const std::string kLoaded = "\r\nUNLHA32.DLLをロードしました\r\nUNZIP32.DLLをロードしました";

ArchiverLibraries BuiltLibraries() {
  return {test::ProgramDir() + "UNLHA32.so", test::ProgramDir() + "UNZIP32.so"};
}

// Sets TMPDIR for one test.
class TmpDirScope {
 public:
  explicit TmpDirScope(const std::string& value) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", value.c_str(), 1);
  }
  ~TmpDirScope() {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

class ArchiveExpanderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    expander_.PrepareArchivers(temp(), host_);
    ASSERT_EQ(host_.log, kLoaded);
    host_.log.clear();
  }
  std::string temp() const { return root_ / "draviktemp/"; }
  std::string Put(const std::string& name, const std::string& bytes) {
    test::WriteFile(work_ / name, bytes);
    return work_ / name;
  }

  test::TempDir root_;
  test::TempDir work_;
  test::RecordingHost host_;
  ArchiveExpander expander_{BuiltLibraries()};
};

TEST_F(ArchiveExpanderTest, UnpacksLzhAndZipWhateverTheCaseOfTheExtension) {
  const std::string lzh = Put("GAME.LZH", test::BuildLzh({{"A.FDI", "a"}, {"B.FDI", "b"}}));
  const ExpandResult r = expander_.ExpandIfArchive(lzh, host_);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.expanded);
  EXPECT_EQ(host_.log, "\r\nGAME.LZH...展開中...完了");
  EXPECT_EQ(ListFolder(temp()), (Names{"A.FDI", "B.FDI"}));

  host_.log.clear();
  const std::string zip = Put("game.zip", test::BuildZip({{"C.FDI", "c"}}));
  EXPECT_TRUE(expander_.ExpandIfArchive(zip, host_).expanded);
  EXPECT_EQ(host_.log, "\r\ngame.zip...展開中...完了");
  // The previous archive's files are gone before the next one unpacks.
  EXPECT_EQ(ListFolder(temp()), (Names{"C.FDI"}));
}

TEST_F(ArchiveExpanderTest, EveryDropEmptiesTheFolderButKeepsFoldersAndTheDroppedFile) {
  test::WriteFile(temp() + "LEFT.FDI", "from an earlier drop");
  mkdir((temp() + "sub").c_str(), 0755);
  const std::string image = Put("IMAGE.FDI", "not an archive");
  EXPECT_FALSE(expander_.ExpandIfArchive(image, host_).expanded);
  EXPECT_EQ(ListFolder(temp()), (Names{"sub"}));

  // A file dropped from inside the folder stays, archive or not.
  test::WriteFile(temp() + "LEFT.FDI", "left");
  test::WriteFile(temp() + "INNER.ZIP", test::BuildZip({{"LEFT.FDI", "inner"}}));
  EXPECT_TRUE(expander_.ExpandIfArchive(temp() + "INNER.ZIP", host_).expanded);
  EXPECT_EQ(ListFolder(temp()), (Names{"INNER.ZIP", "LEFT.FDI", "sub"}));
  EXPECT_EQ(ReadFile(temp() + "LEFT.FDI"), "inner");
}

TEST_F(ArchiveExpanderTest, FilesNamedLikeArchivesThatAreNoneGoOnAsTheyAre) {
  for (const char* name : {"SCRIPT.LZH", "SCRIPT.ZIP", "EMPTY.zip"}) {
    const std::string path =
        Put(name, std::string(name).starts_with("EMPTY") ? "" : "DRAVIK-TEST\n");
    const ExpandResult r = expander_.ExpandIfArchive(path, host_);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.expanded);
  }
  EXPECT_EQ(host_.log, "");
}

TEST_F(ArchiveExpanderTest, AFailingLibraryStopsTheDropWithItsText) {
  const std::string zip =
      Put("BAD.ZIP", test::BuildZip({{.name = "A.FDI", .data = "a", .crc = 1}}));
  ExpandResult r = expander_.ExpandIfArchive(zip, host_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host_.log, "\r\nBAD.ZIP...展開中\r\nUnZip展開失敗");

  // A path the command line cannot quote: the library refuses it.
  host_.log.clear();
  const std::string quoted = Put("A\"B.LZH", test::BuildLzh({{"A.FDI", "a"}}));
  r = expander_.ExpandIfArchive(quoted, host_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(host_.log, "\r\nA\"B.LZH...展開中\r\nUnlha展開失敗");
  EXPECT_TRUE(ListFolder(temp()).empty());
}

TEST(ArchiveExpanderSetupTest, TheWindowsFolderStaysAndAnExistingOneIsUsed) {
  test::TempDir program;
  const std::string folder = WindowTempFolder(program.path());
  EXPECT_EQ(folder, program / "draviktemp/");
  test::RecordingHost host;
  {
    ArchiveExpander expander(BuiltLibraries());
    expander.PrepareArchivers(folder, host);
    EXPECT_EQ(expander.temp_folder(), folder);
    EXPECT_EQ(host.log, kLoaded);
    test::WriteFile(folder + "X.FDI", "x");
  }
  ArchiveExpander again(BuiltLibraries());
  again.PrepareArchivers(folder, host);
  EXPECT_EQ(again.temp_folder(), folder);
  EXPECT_TRUE(FileExists(folder + "X.FDI"));
}

TEST(ArchiveExpanderSetupTest, AFolderThatCannotBeMadeFallsBackToAPrivateOne) {
  test::TempDir tmp;
  TmpDirScope scope(tmp.path());
  test::TempDir program;
  test::WriteFile(program / "draviktemp", "a file, not a folder");
  const std::string link = program / "linked/";
  ASSERT_EQ(symlink(tmp.path().c_str(), (program / "linked").c_str()), 0);
  for (const std::string& wanted :
       {program / "draviktemp/", link, program / "no/such/", std::string()}) {
    SCOPED_TRACE(wanted);
    test::RecordingHost host;
    std::string used;
    {
      ArchiveExpander expander(BuiltLibraries());
      expander.PrepareArchivers(wanted, host);
      used = expander.temp_folder();
      EXPECT_TRUE(used.starts_with(tmp.path() + "dravik-")) << used;
      EXPECT_TRUE(expander.lzh_loaded());
      EXPECT_EQ(host.log, kLoaded);
    }
    EXPECT_FALSE(FileExists(used));  // a private folder goes with its expander
  }
}

TEST(ArchiveExpanderSetupTest, WithoutAnyFolderArchivesAreNotExpanded) {
  test::TempDir work;
  test::WriteFile(work / "A.ZIP", test::BuildZip({{"A.FDI", "a"}}));
  TmpDirScope scope("/nonexistent-dravik-tmp");
  test::RecordingHost host;
  ArchiveExpander expander(BuiltLibraries());
  expander.PrepareArchivers("/nonexistent-dravik/draviktemp/", host);
  EXPECT_EQ(host.log, "\r\n一時フォルダ作成失敗 err:2\r\nUNLHA/UNZIPの利用を禁止します");
  EXPECT_FALSE(expander.lzh_loaded());
  EXPECT_FALSE(expander.zip_loaded());
  const ExpandResult r = expander.ExpandIfArchive(work / "A.ZIP", host);
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.expanded);
}

TEST(ArchiveExpanderSetupTest, MissingLibrariesOrCommandsLeaveArchivesAsTheyAre) {
  test::TempDir root;
  test::TempDir work;
  test::WriteFile(work / "A.ZIP", test::BuildZip({{"A.FDI", "a"}}));
  test::RecordingHost host;
  ArchiveExpander none({root / "missing/UNLHA32.so", root / "missing/UNZIP32.so"});
  none.PrepareArchivers(root / "t1/", host);
  EXPECT_EQ(host.log, "");
  EXPECT_FALSE(none.ExpandIfArchive(work / "A.ZIP", host).expanded);
  EXPECT_EQ(host.log, "");

  // Libraries that accept the file but cannot unpack it: each says it
  // starts, neither unpacks, and the file goes on as it is.
  const std::string check_only = test::TestPluginDir() + "check_only_archiver.so";
  ArchiveExpander half({check_only, check_only});
  half.PrepareArchivers(root / "t2/", host);
  host.log.clear();
  const ExpandResult r = half.ExpandIfArchive(work / "A.ZIP", host);
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.expanded);
  EXPECT_EQ(host.log, "\r\nA.ZIP...展開中\r\nA.ZIP...展開中");
}

}  // namespace
}  // namespace dravik
