#include "disk_title.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "dravik/plugin_api.h"

namespace dravik {
namespace {

struct Titles {
  std::string record;
  std::string host;
};

Titles Set(std::string_view sjis) {
  auto image = std::make_unique<DiskImage>();
  std::memset(image->title, 'x', sizeof(image->title));
  char title[kPluginTitleSize + 1];
  std::memset(title, 'y', sizeof(title));
  SetDiskTitle(*image, sjis, title);
  EXPECT_EQ(title[kPluginTitleSize], 'y');  // nothing past the caller's buffer
  return {std::string(image->title, strnlen(image->title, sizeof(image->title))),
          std::string(title, strnlen(title, kPluginTitleSize))};
}

TEST(SetDiskTitle, KeepsTheDisksBytesAndGivesTheHostUtf8) {
  const std::string kana = "\x83\x51\x81\x5B\x83\x80";  // ゲーム
  EXPECT_EQ(Set(kana).record, kana);
  EXPECT_EQ(Set(kana).host, "ゲーム");
  EXPECT_EQ(Set("").record, "");
  EXPECT_EQ(Set(std::string("AB\0CD", 5)).record, "AB");  // a field ends at its NUL
  EXPECT_EQ(Set(std::string("AB\0CD", 5)).host, "AB");
  // Bytes no code page knows stay on the disk as they are; the host sees
  // U+FFFD.
  EXPECT_EQ(Set("A\x85\x40").record, "A\x85\x40");
  EXPECT_EQ(Set("A\x85\x40").host.substr(0, 4), "A\xEF\xBF\xBD");

  // Too long for either buffer: cut between characters, never inside one.
  std::string straddling = std::string(254, 'A') + "\x83\x51" + "B";
  EXPECT_EQ(Set(straddling).record, std::string(254, 'A'));
  std::string fits = std::string(253, 'A') + "\x83\x51" + "B";
  EXPECT_EQ(Set(fits).record, std::string(253, 'A') + "\x83\x51");
  std::string kanji_only;
  for (int i = 0; i < 200; ++i) kanji_only += "\x8A\xBF";  // 漢, three UTF-8 bytes
  EXPECT_EQ(Set(kanji_only).record.size(), 254u);
  EXPECT_EQ(Set(kanji_only).host.size(), 255u);
  EXPECT_EQ(Set(kanji_only).host.substr(0, 3), "漢");
  // A lone lead byte at the end is a byte of its own.
  EXPECT_EQ(Set("AB\x83").record, "AB\x83");
}

TEST(SetDiskTitle, LeavesAMissingHostBufferAlone) {
  auto image = std::make_unique<DiskImage>();
  SetDiskTitle(*image, "DISK", nullptr);
  EXPECT_STREQ(image->title, "DISK");
}

}  // namespace
}  // namespace dravik
