#include "folder_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace dravik {
namespace {

std::vector<std::string> Paths(const FolderWalk& walk, const std::string& root) {
  std::vector<std::string> paths;
  for (const WalkedFile& f : walk.files) {
    EXPECT_TRUE(f.path.starts_with(root + "/" + f.relative)) << f.path << " " << f.relative;
    paths.push_back(f.path.substr(root.size() + 1));
  }
  return paths;
}

// A collection with what a walk must leave alone: hidden entries, a link
// back up the tree, a link to a file, a FIFO.
class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() + "coll";
    for (const char* folder : {"", "/b", "/b/deep", "/b/deep/er", "/.hidden", "/a", "/out"}) {
      ASSERT_EQ(mkdir((root_ + folder).c_str(), 0700), 0) << folder;
    }
    for (const char* file : {"/Z.FDI", "/b.FDI", "/a/1.FDD", "/b/deep/er/X.D88", "/b/deep/Y.LZH",
                             "/.hidden/H.FDI", "/.dot.FDI", "/out/old.FDD"}) {
      test::WriteFile(root_ + file, "x");
    }
    ASSERT_EQ(symlink("../..", (root_ + "/b/deep/loop").c_str()), 0);
    ASSERT_EQ(symlink("../Z.FDI", (root_ + "/a/link.FDI").c_str()), 0);
    ASSERT_EQ(mkfifo((root_ + "/a/fifo.FDI").c_str(), 0600), 0);
  }
  test::TempDir dir_;
  std::string root_;
};

TEST_F(FolderWalkTest, SortedDepthFirstWithoutHiddenEntriesLinksOrSpecialFiles) {
  const FolderWalk walk = WalkFolder(root_);
  EXPECT_TRUE(walk.errors.empty());
  EXPECT_EQ(Paths(walk, root_),
            (std::vector<std::string>{"Z.FDI", "a/1.FDD", "b/deep/Y.LZH", "b/deep/er/X.D88",
                                      "b.FDI", "out/old.FDD"}));
  EXPECT_EQ(walk.files[3].relative, "b/deep/er/");
  EXPECT_EQ(walk.files[0].relative, "");
  // A trailing "/" on the root changes no name; the output folder inside the
  // collection is not walked however it is named.
  const FolderWalk skipped = WalkFolder(root_ + "//", root_ + "/b/../out/");
  EXPECT_EQ(Paths(skipped, root_),
            (std::vector<std::string>{"Z.FDI", "a/1.FDD", "b/deep/Y.LZH", "b/deep/er/X.D88",
                                      "b.FDI"}));
}

TEST_F(FolderWalkTest, ANamedHiddenOrLinkedRootIsWalked) {
  EXPECT_EQ(Paths(WalkFolder(root_ + "/.hidden"), root_ + "/.hidden"),
            std::vector<std::string>{"H.FDI"});
  ASSERT_EQ(symlink(root_.c_str(), (dir_.path() + "link").c_str()), 0);
  EXPECT_EQ(WalkFolder(dir_.path() + "link").files.size(), 6u);
  EXPECT_TRUE(IsFolder(dir_.path() + "link"));
  EXPECT_FALSE(IsFolder(root_ + "/Z.FDI"));
  EXPECT_FALSE(IsFolder(root_ + "/missing"));
}

TEST_F(FolderWalkTest, AnUnreadableFolderIsReportedAndTheRestWalked) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  ASSERT_EQ(chmod((root_ + "/b/deep").c_str(), 0), 0);
  const FolderWalk walk = WalkFolder(root_);
  chmod((root_ + "/b/deep").c_str(), 0700);
  ASSERT_EQ(walk.errors.size(), 1u);
  EXPECT_EQ(walk.errors[0], root_ + "/b/deep: Permission denied");
  EXPECT_EQ(Paths(walk, root_),
            (std::vector<std::string>{"Z.FDI", "a/1.FDD", "b.FDI", "out/old.FDD"}));
  const FolderWalk missing = WalkFolder(root_ + "/none");
  EXPECT_TRUE(missing.files.empty());
  EXPECT_EQ(missing.errors.size(), 1u);
}

}  // namespace
}  // namespace dravik
