#include "archive_expander.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
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
const ArchiverLibraries kBuilt = {test::ProgramDir() + "UNLHA32.so",
                                  test::ProgramDir() + "UNZIP32.so"};

// Sets TMPDIR for one test.
class TmpDirScope {
 public:
  explicit TmpDirScope(const std::string& value) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old;
    setenv("TMPDIR", value.c_str(), 1);
  }
  ~TmpDirScope() { old_ ? setenv("TMPDIR", old_->c_str(), 1) : unsetenv("TMPDIR"); }

 private:
  std::optional<std::string> old_;
};

class ArchiveExpanderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    expander_.PrepareArchivers(temp(), host_);
    ASSERT_EQ(host_.log, kLoaded);
  }
  const std::string& temp() const { return expander_.temp_folder(); }
  // Expands work_/name holding bytes, with a fresh log.
  ExpandResult Expand(const std::string& name, const std::string& bytes) {
    test::WriteFile(work_ / name, bytes);
    host_.log.clear();
    return expander_.ExpandIfArchive(work_ / name, host_);
  }

  test::TempDir root_;
  test::TempDir work_;
  test::RecordingHost host_;
  ArchiveExpander expander_{kBuilt};
};

TEST_F(ArchiveExpanderTest, UnpacksLzhAndZipWhateverTheCaseOfTheExtension) {
  ExpandResult r = Expand("GAME.LZH", test::BuildLzh({{"A.FDI", "a"}, {"B.FDI", "b"}}));
  EXPECT_TRUE(r.ok && r.expanded);
  EXPECT_EQ(host_.log, "\r\nGAME.LZH...展開中...完了");
  EXPECT_EQ(ListFolder(temp()), (Names{"A.FDI", "B.FDI"}));

  r = Expand("game.zip", test::BuildZip({{"C.FDI", "c"}}));
  EXPECT_TRUE(r.ok && r.expanded);
  EXPECT_EQ(host_.log, "\r\ngame.zip...展開中...完了");
  // The previous archive's files are gone before the next one unpacks.
  EXPECT_EQ(ListFolder(temp()), (Names{"C.FDI"}));
}

TEST_F(ArchiveExpanderTest, EveryDropEmptiesTheFolderButKeepsFoldersAndTheDroppedFile) {
  mkdir((temp() + "sub").c_str(), 0755);
  // Files that are no archive, whatever their names, go on as they are.
  for (const char* name : {"IMAGE.FDI", "SCRIPT.LZH", "SCRIPT.ZIP", "EMPTY.zip"}) {
    SCOPED_TRACE(name);
    test::WriteFile(temp() + "LEFT.FDI", "from an earlier drop");
    const ExpandResult r = Expand(name, name[0] == 'E' ? "" : "DRAVIK-TEST\n");
    EXPECT_TRUE(r.ok && !r.expanded);
    EXPECT_EQ(host_.log, "");
    EXPECT_EQ(ListFolder(temp()), (Names{"sub"}));
  }

  // A file dropped from inside the folder stays, archive or not.
  test::WriteFile(temp() + "LEFT.FDI", "left");
  test::WriteFile(temp() + "INNER.ZIP", test::BuildZip({{"LEFT.FDI", "inner"}}));
  EXPECT_TRUE(expander_.ExpandIfArchive(temp() + "INNER.ZIP", host_).expanded);
  EXPECT_EQ(ListFolder(temp()), (Names{"INNER.ZIP", "LEFT.FDI", "sub"}));
  EXPECT_EQ(ReadFile(temp() + "LEFT.FDI"), "inner");
}

TEST_F(ArchiveExpanderTest, AFailingLibraryStopsTheDropWithItsText) {
  EXPECT_FALSE(Expand("BAD.ZIP", test::BuildZip({{.name = "A.FDI", .data = "a", .crc = 1}})).ok);
  EXPECT_EQ(host_.log, "\r\nBAD.ZIP...展開中\r\nUnZip展開失敗");
  // A path the command line cannot quote: the library refuses it.
  EXPECT_FALSE(Expand("A\"B.LZH", test::BuildLzh({{"A.FDI", "a"}})).ok);
  EXPECT_EQ(host_.log, "\r\nA\"B.LZH...展開中\r\nUnlha展開失敗");
  EXPECT_TRUE(ListFolder(temp()).empty());
}

// An archive that yields nothing says so; one cut short fails, as its
// library accepts it by how it begins.
TEST_F(ArchiveExpanderTest, EmptyAndDamagedArchivesSayWhatHappened) {
  const std::string lzh = test::BuildLzh({{"A.FDI", std::string(100, 'a')}});
  const std::string zip = test::BuildZip({{"A.FDI", std::string(100, 'a')}});
  const std::string end_only = zip.substr(zip.rfind("PK\x05\x06"));
  const struct {
    std::string name;
    std::string bytes;
    bool ok;
    std::string log;
  } cases[] = {
      {"EMPTY.LZH", std::string(1, '\0'), true, "...完了\r\nアーカイブにファイルがありません"},
      {"EMPTY.ZIP", end_only.substr(0, 10) + std::string(12, '\0'), true,
       "...完了\r\nアーカイブにファイルがありません"},
      {"DIRS.ZIP", test::BuildZip({{.name = "DIR/", .unix_mode = S_IFDIR | 0755}}), true,
       "...完了\r\nアーカイブにファイルがありません"},
      {"CUT.LZH", lzh.substr(0, 60), false, "\r\nUnlha展開失敗"},
      {"CUT.ZIP", zip.substr(0, zip.size() - 10), false, "\r\nUnZip展開失敗"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ExpandResult r = Expand(c.name, c.bytes);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.expanded && r.empty, c.ok);
    EXPECT_EQ(host_.log, "\r\n" + c.name + "...展開中" + c.log);
    EXPECT_TRUE(ListFolder(temp()).empty());
  }
  // The dropped archive lying in the folder is not what it held.
  test::WriteFile(temp() + "IN.ZIP", test::BuildZip({{.name = "D/", .unix_mode = S_IFDIR | 0755}}));
  host_.log.clear();
  EXPECT_TRUE(expander_.ExpandIfArchive(temp() + "IN.ZIP", host_).empty);
  EXPECT_EQ(host_.log, "\r\nIN.ZIP...展開中...完了\r\nアーカイブにファイルがありません");
}

// A ZIP of LZH archives, as collections hold them: the inner archives are
// unpacked in their place, and nothing inside them is looked into again.
TEST_F(ArchiveExpanderTest, ArchivesInsideAnArchiveAreUnpackedOneLevelDeep) {
  const std::string deeper = test::BuildZip({{"DEEP.FDI", "deep"}});
  const std::string disk1 = test::BuildLzh({{"GAME.FDI", "one"}, {"DEEPER.ZIP", deeper}});
  const std::string disk2 = test::BuildZip({{"GAME.FDI", "two"}, {"../UP.FDI", "up"}});
  const ExpandResult r = Expand("SET.ZIP", test::BuildZip({{"DISK1.LZH", disk1},
                                                           {"DISK2.zip", disk2},
                                                           {"NOTES.LZH", "no archive"},
                                                           {"GAME.FDI", "outer"}}));
  EXPECT_TRUE(r.ok && r.expanded && !r.empty);
  EXPECT_EQ(host_.log, "\r\nSET.ZIP...展開中...完了");
  EXPECT_EQ(ListFolder(temp()),
            (Names{"DEEPER.ZIP", "GAME.FDI", "GAME_2.FDI", "GAME_3.FDI", "NOTES.LZH", "UP.FDI"}));
  EXPECT_EQ(ReadFile(temp() + "GAME.FDI"), "outer");
  EXPECT_EQ(ReadFile(temp() + "GAME_2.FDI"), "one");
  EXPECT_EQ(ReadFile(temp() + "GAME_3.FDI"), "two");
  EXPECT_EQ(ReadFile(temp() + "DEEPER.ZIP"), deeper);

  // A damaged inner archive fails the whole unpacking.
  const std::string cut = test::BuildZip({{"DISK1.LZH", disk1.substr(0, 40)}});
  EXPECT_FALSE(Expand("BAD.ZIP", cut).ok);
  EXPECT_EQ(host_.log, "\r\nBAD.ZIP...展開中\r\nUnZip展開失敗");
}

// Two windows of one program folder: each unpacks into a folder of its own
// under draviktemp/, which a drop on the other does not touch, and which goes
// when its window does.
TEST(ArchiveExpanderSetupTest, EachExpanderHasItsOwnFolderUnderTheParent) {
  test::TempDir program;
  const std::string parent = WindowTempFolder(program.path());
  EXPECT_EQ(parent, program / "draviktemp/");
  test::RecordingHost host;
  auto first = std::make_unique<ArchiveExpander>(kBuilt);
  ArchiveExpander second(kBuilt);
  first->PrepareArchivers(parent, host);
  second.PrepareArchivers(parent, host);
  EXPECT_EQ(host.log, kLoaded + kLoaded);
  const std::string mine = first->temp_folder();
  EXPECT_TRUE(mine.starts_with(parent + "dravik-")) << mine;
  EXPECT_TRUE(second.temp_folder().starts_with(parent + "dravik-"));
  EXPECT_NE(mine, second.temp_folder());

  test::WriteFile(mine + "BEING.FDI", "converted right now");
  test::WriteFile(program / "X.FDI", "x");
  second.ExpandIfArchive(program / "X.FDI", host);
  EXPECT_TRUE(FileExists(mine + "BEING.FDI"));
  first.reset();
  EXPECT_FALSE(FileExists(mine));
  EXPECT_EQ(ListFolder(parent).size(), 1u);
}

TEST(ArchiveExpanderSetupTest, AParentThatCannotServeFallsBackToAPrivateFolder) {
  test::TempDir tmp;
  TmpDirScope scope(tmp.path());
  test::TempDir program;
  test::WriteFile(program / "file", "a file, not a folder");
  ASSERT_EQ(symlink(tmp.path().c_str(), (program / "linked").c_str()), 0);
  // Left by another user, or not writable: root can give it away, others
  // can take away their own right to write.
  ASSERT_EQ(mkdir((program / "foreign").c_str(), 0777), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown((program / "foreign").c_str(), 65534, 65534), 0);
  } else {
    ASSERT_EQ(chmod((program / "foreign").c_str(), 0555), 0);
  }
  for (const std::string& wanted : {program / "file/", program / "linked/", program / "foreign/",
                                    program / "no/such/", std::string()}) {
    SCOPED_TRACE(wanted);
    test::RecordingHost host;
    std::string used;
    {
      ArchiveExpander expander(kBuilt);
      expander.PrepareArchivers(wanted, host);
      used = expander.temp_folder();
      EXPECT_TRUE(used.starts_with(tmp.path() + "dravik-")) << used;
      EXPECT_TRUE(expander.lzh_loaded());
      EXPECT_EQ(host.log, kLoaded);
    }
    EXPECT_FALSE(FileExists(used));  // a private folder goes with its expander
  }
  EXPECT_TRUE(ListFolder(program / "foreign").empty());
  chmod((program / "foreign").c_str(), 0755);
}

// The command line loads the libraries only when an archive comes: files
// that are none never map libarchive, and the first archive unpacks as it
// would have, without the start-up lines.
TEST(ArchiveExpanderSetupTest, LibrariesLoadedOnDemandWaitForTheFirstArchive) {
  test::TempDir root;
  test::RecordingHost host;
  ArchiveExpander expander(kBuilt);
  expander.PrepareArchivers(root / "parent/", host, ArchiverLoading::kOnFirstArchive);
  EXPECT_EQ(host.log, "");
  EXPECT_FALSE(expander.temp_folder().empty());
  test::WriteFile(root / "IMAGE.FDI", "not an archive");
  EXPECT_FALSE(expander.ExpandIfArchive(root / "IMAGE.FDI", host).expanded);
  EXPECT_FALSE(expander.lzh_loaded());
  test::WriteFile(root / "GAME.lzh", test::BuildLzh({{"A.FDI", "a"}}));
  const ExpandResult r = expander.ExpandIfArchive(root / "GAME.lzh", host);
  EXPECT_TRUE(r.ok && r.expanded);
  EXPECT_TRUE(expander.lzh_loaded());
  EXPECT_EQ(host.log, "\r\nGAME.lzh...展開中...完了");
  EXPECT_EQ(ListFolder(expander.temp_folder()), (Names{"A.FDI"}));
}

// Without a folder, or without libraries that can unpack, archives go on as
// they are.
TEST(ArchiveExpanderSetupTest, ArchivesStayWithoutAFolderOrWorkingLibraries) {
  test::TempDir root;
  test::WriteFile(root / "A.ZIP", test::BuildZip({{"A.FDI", "a"}}));
  const std::string check_only = test::TestPluginDir() + "check_only_archiver.so";
  const struct {
    ArchiverLibraries libraries;
    std::string folder;
    std::string prepare_log;
    std::string expand_log;
  } cases[] = {
      {kBuilt, "/nonexistent-dravik/draviktemp/",
       "\r\n一時フォルダ作成失敗 err:2\r\nUNLHA/UNZIPの利用を禁止します", ""},
      {{root / "missing/UNLHA32.so", root / "missing/UNZIP32.so"}, root / "t1/", "", ""},
      // Libraries that accept the file but have no command: each says it starts.
      {{check_only, check_only}, root / "t2/", kLoaded, "\r\nA.ZIP...展開中\r\nA.ZIP...展開中"},
  };
  TmpDirScope scope("/nonexistent-dravik-tmp");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    test::RecordingHost host;
    ArchiveExpander expander(c.libraries);
    expander.PrepareArchivers(c.folder, host);
    EXPECT_EQ(host.log, c.prepare_log);
    host.log.clear();
    const ExpandResult r = expander.ExpandIfArchive(root / "A.ZIP", host);
    EXPECT_TRUE(r.ok && !r.expanded);
    EXPECT_EQ(host.log, c.expand_log);
  }
}

}  // namespace
}  // namespace dravik
