#include "partner_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace dravik {
namespace {

TEST(FindPartnerFile, TakesTheExactNameFirstThenOneThatDiffersOnlyInCase) {
  test::TempDir dir;
  test::WriteFile(dir / "GAME.DAT", "1");
  test::WriteFile(dir / "game.dat", "2");
  test::WriteFile(dir / "Disk.2hd", "3");
  test::WriteFile(dir / "Disk.2HD", "4");
  ASSERT_EQ(mkdir((dir / "FOLDER.DAT").c_str(), 0755), 0);
  test::WriteFile(dir / "link-target", "5");
  ASSERT_EQ(symlink((dir / "link-target").c_str(), (dir / "LINK.DAT").c_str()), 0);
  ASSERT_EQ(symlink((dir / "missing").c_str(), (dir / "DANGLING.DAT").c_str()), 0);
  test::WriteFile(dir / "\x83\x41.dat", "6");  // ア in Shift-JIS
  test::WriteFile(dir / "ゲーム.DAT", "7");

  const struct {
    std::string asked;
    std::optional<std::string> found;
  } cases[] = {
      {dir / "GAME.DAT", dir / "GAME.DAT"},
      {dir / "game.dat", dir / "game.dat"},
      {dir / "Game.Dat", dir / "GAME.DAT"},  // first in byte order of the two
      {dir / "disk.2hd", dir / "Disk.2HD"},
      {dir / "link.dat", dir / "LINK.DAT"},  // a link to a regular file counts
      {dir / "folder.dat", std::nullopt},    // regular files only
      {dir / "FOLDER.DAT", std::nullopt},
      {dir / "dangling.dat", std::nullopt},
      {dir / "none.dat", std::nullopt},
      {dir / "\x83\x41.DAT", dir / "\x83\x41.dat"},
      {dir / "\x83\x61.dat", std::nullopt},  // another kana, not another case
      {dir / "ゲーム.dat", dir / "ゲーム.DAT"},
      {dir / "missing-folder/GAME.DAT", std::nullopt},
      {dir.path(), std::nullopt},
      {dir / std::string(256, 'a'), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(FindPartnerFile(c.asked), c.found) << c.asked;
}

TEST(FindPartnerFile, LooksInTheWorkingFolderForABareName) {
  test::TempDir dir;
  test::WriteFile(dir / "IMAGE.DAT", "1");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof(old)), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const auto found = FindPartnerFile("image.dat");
  ASSERT_EQ(chdir(old), 0);
  EXPECT_EQ(found, "IMAGE.DAT");
}

}  // namespace
}  // namespace dravik
