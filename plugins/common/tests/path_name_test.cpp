#include "path_name.h"

#include <gtest/gtest.h>

namespace dravik {
namespace {

std::string Parts(std::string_view path) {
  const auto parts = SplitPath(path);
  if (!parts) return "refused";
  return std::string(parts->folder) + "|" + std::string(parts->base) + "|" +
         std::string(parts->extension);
}

TEST(PathName, DropsOnlyTheExtensionOfTheLastName) {
  EXPECT_EQ(PathWithoutExtension("/disks/GAME.2HD"), "/disks/GAME");
  EXPECT_EQ(PathWithoutExtension("/disks.old/GAME"), "/disks.old/GAME");
  EXPECT_EQ(PathWithoutExtension("/disks.old/GAME.tar.lzh"), "/disks.old/GAME.tar");
  EXPECT_EQ(PathWithoutExtension("/disks/GAME."), "/disks/GAME");
  EXPECT_EQ(PathWithoutExtension("GAME.HDM"), "GAME");
  EXPECT_EQ(PathWithoutExtension("/out.d/"), "/out.d/");
  EXPECT_EQ(PathWithoutExtension(""), "");

  EXPECT_EQ(Parts("/disks/GAME.2HD"), "/disks/|GAME|.2HD");
  EXPECT_EQ(Parts("/disks.old/GAME"), "/disks.old/|GAME|");
  EXPECT_EQ(Parts("/disks/GAME."), "/disks/|GAME|.");
  EXPECT_EQ(Parts("GAME"), "|GAME|");
  // A name that is all extension, as the dot rule has it.
  EXPECT_EQ(Parts("/disks/.HDM"), "/disks/||.HDM");
}

TEST(PathName, SplitsJapaneseNamesOnSlashAndDotOnly) {
  EXPECT_EQ(Parts("/ディスク.旧/ゲーム.ＨＤＭ"), "/ディスク.旧/|ゲーム|.ＨＤＭ");
  EXPECT_EQ(PathWithoutExtension("/ディスク.旧/ゲーム"), "/ディスク.旧/ゲーム");
  // A backslash is an ordinary byte of a name here, also as the second byte
  // of a Shift-JIS character ("表" is 95 5C).
  EXPECT_EQ(Parts("/a\\b.c/\x95\x5C.FDI"), "/a\\b.c/|\x95\x5C|.FDI");
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
