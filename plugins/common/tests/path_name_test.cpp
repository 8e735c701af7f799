#include "path_name.h"

#include <gtest/gtest.h>

namespace dravik {
namespace {

// folder|base|extension
std::string Parts(std::string_view path) {
  const auto parts = SplitPath(path);
  if (!parts) return "refused";
  return std::string(parts->folder) + "|" + std::string(parts->base) + "|" +
         std::string(parts->extension);
}

TEST(PathName, SplitsOnTheLastSlashAndTheLastDotOfTheName) {
  const struct {
    std::string path;
    std::string parts;
    std::string without_extension;
  } cases[] = {
      {"/disks/GAME.2HD", "/disks/|GAME|.2HD", "/disks/GAME"},
      {"/disks.old/GAME", "/disks.old/|GAME|", "/disks.old/GAME"},
      {"/disks.old/GAME.tar.lzh", "/disks.old/|GAME.tar|.lzh", "/disks.old/GAME.tar"},
      {"/disks/GAME.", "/disks/|GAME|.", "/disks/GAME"},
      {"GAME.HDM", "|GAME|.HDM", "GAME"},
      {"/out.d/", "/out.d/||", "/out.d/"},
      {"", "||", ""},
      {"/disks/.HDM", "/disks/|.HDM|", "/disks/.HDM"},  // a leading dot starts no extension
      {"/disks/.HDM.HDM", "/disks/|.HDM|.HDM", "/disks/.HDM"},
      {"/ディスク.旧/ゲーム.ＨＤＭ", "/ディスク.旧/|ゲーム|.ＨＤＭ", "/ディスク.旧/ゲーム"},
      // A backslash is an ordinary byte of a name, also as the second byte
      // of a Shift-JIS character ("表" is 95 5C).
      {"/a\\b.c/\x95\x5C.FDI", "/a\\b.c/|\x95\x5C|.FDI", "/a\\b.c/\x95\x5C"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parts(c.path), c.parts);
    EXPECT_EQ(PathWithoutExtension(c.path), c.without_extension) << c.path;
  }
}

TEST(PathName, RefusesWhatExceedsThePlatformLimits) {
  const std::string name255(255, 'n');
  EXPECT_EQ(PathWithoutExtension("/d/" + name255), "/d/" + name255);
  EXPECT_FALSE(PathWithoutExtension("/d/" + name255 + "x"));
  EXPECT_FALSE(PathWithoutExtension("/" + std::string(256, 'd') + "/GAME.HDM"));
  // Three bytes a character: 85 fit in a name, 86 do not.
  std::string japanese;
  for (int i = 0; i < 85; ++i) japanese += "ゲ";
  EXPECT_TRUE(PathWithoutExtension("/" + japanese));
  EXPECT_FALSE(PathWithoutExtension("/" + japanese + "ゲ"));

  std::string deep;
  while (deep.size() + 201 <= kMaxPathBytes) deep += "/" + std::string(200, 'b');
  const std::string at_limit = deep + "/" + std::string(kMaxPathBytes - deep.size() - 1, 'c');
  ASSERT_EQ(at_limit.size(), kMaxPathBytes);
  EXPECT_TRUE(PathFits(at_limit));
  EXPECT_TRUE(SplitPath(at_limit));
  EXPECT_FALSE(PathFits(at_limit + "c"));
  EXPECT_FALSE(SplitPath(at_limit + "c"));
}

}  // namespace
}  // namespace dravik
