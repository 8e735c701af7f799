#include "text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dravik {
namespace {

TEST(SjisToUtf8, DecodesAsciiKanaKanjiAndNecSpecials) {
  EXPECT_EQ(SjisToUtf8("GAME 1"), "GAME 1");
  EXPECT_EQ(SjisToUtf8("\xB1\xB2\xDF"), "ｱｲﾟ");                 // half-width katakana
  EXPECT_EQ(SjisToUtf8("\x82\xA0\x88\x9F"), "あ亜");            // hiragana, kanji
  EXPECT_EQ(SjisToUtf8("\x87\x40\x87\x54"), "①Ⅰ");              // NEC row 13
  EXPECT_EQ(SjisToUtf8("\xED\x40\xFA\x40"), "纊ⅰ");             // NEC/IBM extensions
  EXPECT_EQ(SjisToUtf8("\x83\x5C\x83\x74\x83\x67"), "ソフト");  // 0x5C trail byte
}

TEST(SjisToUtf8, ReplacesWhatCannotBeDecoded) {
  EXPECT_EQ(SjisToUtf8("A\x82"), "A\uFFFD");  // odd trailing lead byte
  EXPECT_EQ(SjisToUtf8("\202A"), "\uFFFDA");  // lead byte before ASCII
  EXPECT_EQ(SjisToUtf8("\x80\xA0\xFD\xFF"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(SjisToUtf8("\x85\x40"), "\uFFFD@");  // unassigned code
  EXPECT_EQ(SjisToFileName("A\x82"), "A_");
  EXPECT_EQ(SjisToFileName("\x82\xA0.TXT"), "あ.TXT");
}

TEST(CopyText, CutsAtCharacterBoundaryAndAlwaysTerminates) {
  char buffer[8];
  std::memset(buffer, 'z', sizeof(buffer));
  CopyText(buffer, sizeof(buffer), "あいう");  // 9 bytes: only two fit with the NUL
  EXPECT_STREQ(buffer, "あい");
  CopyText(buffer, 4, "ab①");
  EXPECT_STREQ(buffer, "ab");
  CopyText(buffer, 1, "abc");
  EXPECT_STREQ(buffer, "");
  CopySjisText(buffer, sizeof(buffer), "\x87\x40\x87\x41\x87\x42");
  EXPECT_STREQ(buffer, "①②");
}

TEST(SanitizeUtf8, KeepsValidTextAndReplacesBadBytes) {
  EXPECT_EQ(SanitizeUtf8("ディスク.fdd"), "ディスク.fdd");
  EXPECT_EQ(SanitizeUtf8("a\377b"), "a\uFFFDb");
  EXPECT_EQ(SanitizeUtf8("\xE3\x81"), "\uFFFD\uFFFD");            // cut sequence
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\uFFFD\uFFFD");            // overlong "/"
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");  // surrogate
}

TEST(Utf16ToUtf8, DecodesPairsAndReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"日本語 name.txt"), "日本語 name.txt");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F4BE"), "\U0001F4BE");  // a pair: floppy disk
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD83D, u'b', 0xDCBE}), "a\uFFFDb\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDCBE, 0xD83D}), "\uFFFD\uFFFD");  // swapped
}

TEST(CleanFileName, ReplacesControlsBadBytesAndReplacementCharacters) {
  EXPECT_EQ(CleanFileName("ゲーム 1.FDI"), "ゲーム 1.FDI");
  EXPECT_EQ(CleanFileName("a\nb\r\x1B[31m\x7F.txt"), "a_b__[31m_.txt");
  EXPECT_EQ(CleanFileName("c1\u0085\u009F|\u00A0"), "c1__|\u00A0");  // C1, then NBSP
  EXPECT_EQ(CleanFileName("x\xE3\x81y\uFFFD"), "x__y_");
  EXPECT_EQ(CleanFileName("a/b"), "a/b");  // separators are the caller's business
}

TEST(BoundedLength, StopsAtTheBufferEnd) {
  const char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(BoundedLength(full, sizeof(full)), 4u);
  EXPECT_EQ(BoundedLength("ab\0cd", 5), 2u);
}

}  // namespace
}  // namespace dravik
