#include "lh5_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lha_stream.h"

namespace dravik {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(size_t size, uint32_t seed) {
  static const char* const words[] = {"disk ", "track ", "sector ", "フロッピー ", "\r\n",
                                      "1.25M ", "cylinder ", "FAT12 ", "MS-DOS ", "0123456789 "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += words[random() % 10];
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

// Every byte value, most of them rare: long codes that the 12-bit table
// leaves to the tree.
Bytes Skewed(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::geometric_distribution<int> value(0.08);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(std::min(value(random), 255));
  return bytes;
}

Bytes FewLetters(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>("ACGT"[random() % 4]);
  return bytes;
}

// Long runs and far repeats around the 8 KiB window's edge: a run that
// crosses offset 8192, then the first 4 KiB again from 8,000 bytes back.
Bytes WindowEdges() {
  Bytes bytes = Text(8000, 7);
  bytes.insert(bytes.end(), 600, 'Z');
  bytes.insert(bytes.end(), bytes.begin() + 600, bytes.begin() + 4600);
  const Bytes tail = Skewed(3000, 8);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  bytes.insert(bytes.end(), bytes.end() - 8192, bytes.end() - 8192 + 3000);
  return bytes;
}

struct StreamCase {
  std::string name;
  Bytes content;
  size_t expected;  // decode this many bytes of the content
};

std::vector<StreamCase> StreamCases() {
  Bytes one_then_text = Text(400, 3);
  one_then_text[0] = 'Q';
  return {
      {"text", Text(5000, 1), 5000},
      {"few letters", FewLetters(12000, 2), 12000},
      {"skewed bytes", Skewed(20000, 3), 20000},
      {"all zero", Bytes(30000, 0), 30000},
      {"window edges", WindowEdges(), 0},
      {"empty", Text(300, 4), 0},
      // lha stores a one-byte file as it is; one byte of a longer stream.
      {"one byte", one_then_text, 1},
      {"8191", Text(8191, 5), 8191},
      {"8192", Skewed(8192, 6), 8192},
      {"8193", FewLetters(8193, 7), 8193},
      {"18688 (720K cylinder)", Text(18688, 8), 18688},
      // Several blocks, each header read where the last block ended.
      {"many blocks", Skewed(300000, 9), 300000},
  };
}

class Lh5StreamTable : public testing::TestWithParam<int> {};

TEST_P(Lh5StreamTable, StreamsOfLhaDecodeToTheirFiles) {
  ASSERT_TRUE(test::HaveLha()) << "jlha-utils needed";
  std::vector<StreamCase> cases = StreamCases();
  cases[4].expected = cases[4].content.size();
  std::vector<Bytes> contents;
  for (const auto& c : cases) contents.push_back(c.content);
  const auto streams = test::Lh5Streams(contents, GetParam());
  Lh5Decoder decoder;  // one object for all: nothing may carry over
  for (size_t i = 0; i < cases.size(); ++i) {
    const StreamCase& c = cases[i];
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(streams[i].has_value()) << "lha stored it";
    Bytes out(c.expected + Lh5Decoder::kMaxOverrun, 0xAA);
    EXPECT_TRUE(decoder.Decode(streams[i]->data(), streams[i]->size(), out.data(), out.size(),
                               c.expected));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(c.expected),
                           c.content.begin()));
    // No match was under way at the end: nothing more written.
    if (c.expected == c.content.size()) {
      EXPECT_EQ(std::count(out.begin() + static_cast<ptrdiff_t>(c.expected), out.end(), 0xAA),
                static_cast<ptrdiff_t>(Lh5Decoder::kMaxOverrun));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HeaderLevels, Lh5StreamTable, testing::Values(0, 1, 2));

TEST(Lh5Decoder, LhaStoresWhatItCannotShrink) {
  ASSERT_TRUE(test::HaveLha());
  const auto streams = test::Lh5Streams({Bytes{}, Bytes{'x'}, Text(3000, 1)}, 1);
  EXPECT_FALSE(streams[0].has_value());
  EXPECT_FALSE(streams[1].has_value());
  EXPECT_TRUE(streams[2].has_value());
}

// Never a byte at or past the capacity, whatever the expected length; what
// fits is the stream's own bytes.
TEST(Lh5Decoder, KeepsWithinTheOutputCapacity) {
  ASSERT_TRUE(test::HaveLha());
  const Bytes text = Text(20000, 11);
  const auto streams = test::Lh5Streams({text});
  ASSERT_TRUE(streams[0]);
  Lh5Decoder decoder;
  for (size_t capacity : {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, size_t{19999}}) {
    Bytes out(capacity);  // exact size: the sanitizers see any overrun
    decoder.Decode(streams[0]->data(), streams[0]->size(), out.data(), capacity, text.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), text.begin())) << capacity;
  }
}

TEST(Lh5Decoder, StreamCutShortStillFillsTheExpectedLength) {
  ASSERT_TRUE(test::HaveLha());
  const Bytes text = Text(10000, 12);
  const auto streams = test::Lh5Streams({text});
  ASSERT_TRUE(streams[0]);
  Lh5Decoder decoder;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{3}, streams[0]->size() / 2}) {
    Bytes out(text.size() + Lh5Decoder::kMaxOverrun);
    decoder.Decode(streams[0]->data(), cut, out.data(), out.size(), text.size());
  }
  Bytes out(text.size() + Lh5Decoder::kMaxOverrun);
  decoder.Decode(streams[0]->data(), streams[0]->size() / 2, out.data(), out.size(), text.size());
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1000, text.begin()));
}

// Crafted streams, written bit by bit.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  // One code length in the 3-bit form, 7 and up as a run of ones.
  BitWriter& Length(int c) {
    if (c < 7) return Put(static_cast<uint32_t>(c), 3);
    Put(7, 3);
    for (int i = 7; i < c; ++i) Put(1, 1);
    return Put(0, 1);
  }
  // The code-length code: lengths as given, no zero run after the third.
  BitWriter& LenCode(const std::vector<int>& lengths) {
    Put(static_cast<uint32_t>(lengths.size()), 5);
    for (size_t i = 0; i < lengths.size(); ++i) {
      Length(lengths[i]);
      if (i == 2) Put(0, 2);
    }
    return *this;
  }
  // A code of one symbol: a count of 0, then the symbol.
  BitWriter& Only(uint32_t symbol, int count_bits) { return Put(0, count_bits).Put(symbol, count_bits); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t used_ = 0;
};

std::string Decoded(const Bytes& stream, size_t expected, size_t capacity, bool* sound = nullptr) {
  Bytes out(capacity, '.');
  Lh5Decoder decoder;
  const bool ok = decoder.Decode(stream.data(), stream.size(), out.data(), capacity, expected);
  if (sound != nullptr) *sound = ok;
  return std::string(out.begin(), out.end());
}

// A block of `count` symbols that all are `symbol` and a position code of
// the one distance class `position`: no bit is read per symbol.
BitWriter& ConstantBlock(BitWriter& w, uint32_t count, uint32_t symbol, uint32_t position = 0) {
  return w.Put(count, 16).Only(0, 5).Only(symbol, 9).Only(position, 4);
}

TEST(Lh5Decoder, SingleSymbolCodesReadNoBitsPerSymbol) {
  BitWriter w;
  ConstantBlock(w, 5, 'A');
  ConstantBlock(w, 3, 'B');  // follows the first block's header directly
  EXPECT_EQ(Decoded(w.bytes(), 8, 10), "AAAAABBB..");
  EXPECT_EQ(Decoded(w.bytes(), 0, 4), "....");
}

TEST(Lh5Decoder, MatchesBeforeTheFirstByteCopySpaces) {
  BitWriter w;
  ConstantBlock(w, 2, 256);  // two matches of 3 at distance 1
  EXPECT_EQ(Decoded(w.bytes(), 6, 8), "      ..");
  // A block count of 0 stands for 65,536 symbols.
  BitWriter big;
  ConstantBlock(big, 0, 'x');
  ConstantBlock(big, 1, 'y');
  const std::string out = Decoded(big.bytes(), 65537, 65537);
  EXPECT_EQ(out.find_first_not_of('x'), 65536u);
  EXPECT_EQ(out.back(), 'y');
}

TEST(Lh5Decoder, FinalMatchRunsPastTheExpectedLengthWithinTheCapacity) {
  BitWriter w;
  ConstantBlock(w, 1, 'a');
  ConstantBlock(w, 1, 509);  // a match of 256 at distance 1
  EXPECT_EQ(Decoded(w.bytes(), 2, 300), std::string(257, 'a') + std::string(43, '.'));
  EXPECT_EQ(Decoded(w.bytes(), 2, 100), std::string(100, 'a'));
  EXPECT_EQ(Decoded(w.bytes(), 2, 2), "aa");
  EXPECT_EQ(Decoded(w.bytes(), 2, 1), "a");
}

// A damaged block: decoding stops, the rest of the expected output is the
// fill byte, nothing beyond it or the capacity is touched, and the next
// stream through the same decoder is unharmed.
TEST(Lh5Decoder, DamagedBlocksStopAndFill) {
  // A code-length code of the one symbol 3 makes every character length 1.
  struct Case {
    const char* name;
    BitWriter stream;
  } cases[] = {
      {"code-length count above 19", BitWriter().Put(1, 16).Put(20, 5)},
      {"code length 17", BitWriter().Put(1, 16).Put(1, 5).Length(17)},
      {"code length 20", BitWriter().Put(1, 16).Put(1, 5).Put(7, 3).Put(0x1FFF, 13)},
      {"over-full code-length code", BitWriter().Put(1, 16).LenCode({1, 1, 1})},
      {"code-length constant 19", BitWriter().Put(1, 16).Only(19, 5)},
      {"character count 511", BitWriter().Put(1, 16).Only(3, 5).Put(511, 9)},
      {"character constant 510", BitWriter().Put(1, 16).Only(0, 5).Only(510, 9)},
      // Code-length symbol 2 is a run of 20 + (9 bits) zero lengths: 520.
      {"zero run past 510", BitWriter().Put(1, 16).Only(2, 5).Put(1, 9).Put(500, 9)},
      {"over-full character code", BitWriter().Put(1, 16).Only(3, 5).Put(3, 9)},
      {"position count above 14", BitWriter().Put(1, 16).Only(3, 5).Put(2, 9).Put(15, 4)},
      {"position constant 14", BitWriter().Put(1, 16).Only(0, 5).Only(256, 9).Only(14, 4)},
  };
  Lh5Decoder decoder;
  BitWriter good;
  ConstantBlock(good, 4, 'g');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes& stream = c.stream.bytes();
    Bytes out(12, '.');
    EXPECT_FALSE(decoder.Decode(stream.data(), stream.size(), out.data(), 10, 8));
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string(8, '\0') + "....");
    EXPECT_TRUE(decoder.Decode(good.bytes().data(), good.bytes().size(), out.data(), 10, 4));
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "gggg");
  }
}

// Literal 'A' coded 0 and 'B' coded 1000000000000 (13 bits): an incomplete
// code. 1000000000001 leads through B's tree node to an empty slot, which
// reads as symbol 0 with a length of 0, shorter than the 12 bits already
// taken.
TEST(Lh5Decoder, ShortCodeReachedThroughATreeIsDamage) {
  BitWriter w;
  w.Put(3, 16);
  // Code-length code: symbols 2 (a zero run), 3 (length 1) and 15 (length
  // 13), 2 bits each: 00, 01, 10 in symbol order.
  std::vector<int> len_code(16, 0);
  len_code[2] = len_code[3] = len_code[15] = 2;
  w.LenCode(len_code);
  // 67 character lengths: 65 zeros (20 + 45), 'A' 1, 'B' 13.
  w.Put(67, 9).Put(0b00, 2).Put(45, 9).Put(0b01, 2).Put(0b10, 2);
  w.Only(0, 4);
  w.Put(0, 1).Put(0x1000, 13).Put(0x1001, 13);
  bool sound = true;
  EXPECT_EQ(Decoded(w.bytes(), 5, 6, &sound), std::string("AB") + std::string(3, '\0') + ".");
  EXPECT_FALSE(sound);
}

}  // namespace
}  // namespace dravik
