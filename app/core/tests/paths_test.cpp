#include "paths.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace dravik {
namespace {

TEST(Paths, SplitsOnSlashOnly) {
  EXPECT_EQ(FileNameOf("/img/GAME.FDI"), "GAME.FDI");
  EXPECT_EQ(FolderOf("/img/GAME.FDI"), "/img/");
  EXPECT_EQ(FolderOf("GAME.FDI"), "");
  EXPECT_EQ(DropExtension("/img.old/GAME"), "/img.old/GAME");  // dot of a folder
  EXPECT_EQ(DropExtension("/img/GAME.tar.lzh"), "/img/GAME.tar");
  EXPECT_EQ(DropExtension("/img/GAME."), "/img/GAME");
  EXPECT_EQ(DropExtension("/img/.disk"), "/img/.disk");  // only a leading dot
  EXPECT_EQ(ExtensionOf("/img/ゲーム.ｆｄｉ"), ".ｆｄｉ");
  EXPECT_EQ(ToUpperAscii("dcp.ｆ"), "DCP.ｆ");
}

TEST(Paths, SameFileByBytesOrByInode) {
  test::TempDir dir;
  test::WriteFile(dir / "a", "x");
  EXPECT_TRUE(SameFile(dir / "a", dir / "a"));
  EXPECT_TRUE(SameFile(dir / "a", dir.path() + "./a"));
  ASSERT_EQ(link((dir / "a").c_str(), (dir / "b").c_str()), 0);
  EXPECT_TRUE(SameFile(dir / "a", dir / "b"));
  test::WriteFile(dir / "c", "x");
  EXPECT_FALSE(SameFile(dir / "a", dir / "c"));
  EXPECT_FALSE(SameFile(dir / "a", dir / "missing"));
}

}  // namespace
}  // namespace dravik
