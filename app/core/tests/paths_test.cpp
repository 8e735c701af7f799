#include "paths.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace dravik {
namespace {

TEST(Paths, SplitsOnSlashOnly) {
  EXPECT_EQ(FileNameOf("/img/GAME.FDI"), "GAME.FDI");
  EXPECT_EQ(FolderOf("/img/GAME.FDI"), "/img/");
  EXPECT_EQ(FolderOf("GAME.FDI"), "");
  EXPECT_EQ(ToUpperAscii("dcp.ｆ"), "DCP.ｆ");
}

// The driver names outputs with DropExtension; plug-ins (the BKDSK writer,
// partner files) cut names with PathWithoutExtension. Both must read every
// name alike, or an output lands under a name the driver never checked.
TEST(Paths, DriverAndPlugInsAgreeOnEveryExtension) {
  const struct {
    std::string path;
    std::string extension;
  } cases[] = {
      {"/img/GAME.FDI", ".FDI"},
      {"/img.old/GAME", ""},  // the dot of a folder
      {"/img/GAME.tar.lzh", ".lzh"},
      {"/img/GAME.", "."},
      {"/img/.disk", ""},  // a leading dot starts no extension
      {".disk", ""},
      {"/img/.dcp_.$$$", ".$$$"},
      {"/img/.disk.FDD", ".FDD"},
      {"/img/..", "."},
      {"/img/", ""},
      {"", ""},
      {"GAME.HDM", ".HDM"},
      {"/img/GAME.   ", ".   "},
      {"/img/ゲーム.ｆｄｉ", ".ｆｄｉ"},
      {"/img/\x95\x5C.FDI", ".FDI"},  // Shift-JIS bytes are bytes
  };
  for (const auto& c : cases) {
    const std::string without = c.path.substr(0, c.path.size() - c.extension.size());
    EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
    EXPECT_EQ(DropExtension(c.path), without) << c.path;
    EXPECT_EQ(PathWithoutExtension(c.path), without) << c.path;
    const auto parts = SplitPath(c.path);
    ASSERT_TRUE(parts) << c.path;
    EXPECT_EQ(parts->extension, c.extension) << c.path;
    EXPECT_EQ(std::string(parts->folder) + std::string(parts->base), without) << c.path;
  }
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
