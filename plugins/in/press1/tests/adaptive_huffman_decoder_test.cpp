// The adaptive Huffman decoder: round trips through the test encoder,
// matches into the window's initial spaces, bounds on what it reads and
// writes, and streams made by an archiver of this project's choosing only
// (jlha's -lh1-, the same scheme with longer matches).
#include "adaptive_huffman_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "adaptive_huffman_encoder.h"
#include "test_support.h"

namespace dravik {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kOverrun = AdaptiveHuffmanDecoder::kMaxOverrun;

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Words of a small vocabulary in random order: text that compresses as
// text does, with matches of every length and distance.
Bytes Text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {
      "disk ",     "sector ",     "track ", "the ",   "of ",      "cylinder ", "FORMAT ", "\r\n",
      "ディスク ", "0123456789 ", "a ",     "image ", "PC-9801 ", "\t",        "read ",   "write "};
  std::mt19937 gen(seed);
  std::string text;
  while (text.size() < n) text += kWords[gen() % std::size(kWords)];
  return Bytes(text.begin(), text.begin() + static_cast<long>(n));
}

// Decodes into room for the overrun, and checks that no more is written.
Bytes Decode(std::span<const uint8_t> block, size_t expected) {
  Bytes out(expected + kOverrun + 16, 0xAA);
  AdaptiveHuffmanDecoder decoder;
  const size_t written = decoder.Decode(block, std::span(out).first(expected + kOverrun), expected);
  EXPECT_GE(written, expected);
  EXPECT_LE(written, expected + kOverrun);
  for (size_t i = expected + kOverrun; i < out.size(); ++i) EXPECT_EQ(out[i], 0xAA) << i;
  out.resize(written);
  return out;
}

Bytes Prefix(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

TEST(AdaptiveHuffmanDecoder, GivesBackWhatTheEncoderCompressed) {
  struct Case {
    const char* name;
    Bytes data;
  };
  Bytes spaces_first = Text(3000, 5);
  std::fill(spaces_first.begin(), spaces_first.begin() + 40, ' ');
  const Case cases[] = {
      {"text", Text(18432, 1)},
      {"random", Random(18432, 2)},
      {"all 0xE5", Bytes(18432, 0xE5)},
      {"all zero", Bytes(16384, 0)},
      {"one byte", Bytes{0x41}},
      {"spaces first", spaces_first},
      // Every symbol of these counts towards the root's limit of 0x8000,
      // reached at symbol 32,500: the tree is rebuilt mid-block, several
      // times for the random one.
      {"long random", Random(150000, 3)},
      {"long text", Text(400000, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<test::LzssStep> steps = test::ParseLzss(c.data);
    if (c.data.size() > 100000) {
      EXPECT_GT(steps.size(), 32500u);
    }
    const Bytes block = test::EncodeSteps(steps);
    const Bytes out = Decode(block, c.data.size());
    EXPECT_TRUE(Prefix(out, c.data.size()) == c.data);
  }
  // The parse did reach back into the initial spaces.
  EXPECT_GT(test::ParseLzss(spaces_first)[0].length, 1);
}

// The window starts as spaces and writing begins 15 bytes before its end.
// A first match may reach anywhere in it, the 15 bytes not yet written
// included, and copies spaces from all of it.
TEST(AdaptiveHuffmanDecoder, MatchesAtTheStartCopyTheInitialSpaces) {
  using test::Literal;
  using test::Match;
  const struct {
    std::vector<test::LzssStep> steps;
    std::string expected;
  } cases[] = {
      {{Match(15, 1)}, std::string(15, ' ')},
      {{Match(3, 4096), Literal('x')}, "   x"},
      {{Match(15, 4090), Literal('y'), Match(4, 1)}, std::string(15, ' ') + "yyyyy"},
      {{Match(15, 4082)}, std::string(15, ' ')},
      {{Literal('a'), Literal('b'), Match(6, 2), Match(5, 4096)}, "abababab     "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const Bytes out = Decode(test::EncodeSteps(c.steps), c.expected.size());
    EXPECT_EQ(std::string(out.begin(), out.end()), c.expected);
  }
}

TEST(AdaptiveHuffmanDecoder, StaysWithinTheBlockAndTheOutputGiven) {
  const Bytes data = Text(12000, 6);
  const Bytes block = test::Compress(data);
  AdaptiveHuffmanDecoder decoder;

  // Nothing expected: nothing read or written.
  Bytes untouched(64, 0xAA);
  EXPECT_EQ(decoder.Decode(block, untouched, 0), 0u);
  EXPECT_EQ(decoder.Decode({}, untouched, 0), 0u);
  EXPECT_EQ(untouched, Bytes(64, 0xAA));

  // A block cut short goes on as if zero bytes followed, whatever lies
  // behind it in memory; the symbols before the cut come out unchanged.
  for (size_t cut : {size_t{0}, size_t{1}, block.size() / 2, block.size() - 1}) {
    SCOPED_TRACE(cut);
    Bytes junk_behind = block;
    std::fill(junk_behind.begin() + static_cast<long>(cut), junk_behind.end(), 0xFF);
    Bytes zeros_behind = Prefix(block, cut);
    zeros_behind.resize(cut + 4096, 0);
    const Bytes from_cut = Decode(std::span(junk_behind).first(cut), data.size());
    EXPECT_TRUE(from_cut == Decode(zeros_behind, data.size()));
    if (cut == block.size() / 2) {
      EXPECT_TRUE(Prefix(from_cut, data.size() / 3) == Prefix(data, data.size() / 3));
    }
  }

  // An output smaller than expected is filled and no more; a final match
  // is cut at its end, and a final literal needs no extra room.
  const Bytes match_at_end = test::EncodeSteps({test::Literal('q'), test::Match(15, 1)});
  for (size_t room : {size_t{0}, size_t{1}, size_t{5}, size_t{16}}) {
    Bytes out(room + 8, 0xAA);
    EXPECT_EQ(decoder.Decode(match_at_end, std::span(out).first(room), 16), room);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(room)),
              std::string("qqqqqqqqqqqqqqqq").substr(0, room));
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(room), out.end()), Bytes(8, 0xAA));
  }
  // Expecting 2 of a literal and a 15-byte match writes all 16.
  EXPECT_EQ(Decode(match_at_end, 2).size(), 16u);
  Bytes exact(data.size());
  EXPECT_EQ(decoder.Decode(block, exact, data.size()), data.size());
  EXPECT_TRUE(exact == data);
}

// jlha's -lh1- is this scheme with matches up to 60 bytes (symbols up to
// 313); the same decoder with that length decodes its streams. A stream
// made by code that knows nothing of this project checks the tree, its
// rebuild and the position codes against an outside reading.
TEST(AdaptiveHuffmanDecoder, DecodesStreamsOfAnOutsideEncoder) {
  ASSERT_TRUE(test::HaveTool("java")) << "jlha-utils and default-jdk-headless needed";
  test::TempDir dir;
  const std::vector<Bytes> inputs = {Text(100000, 7), Random(100000, 8), Bytes(70000, ' '),
                                     Text(5000, 9)};
  std::string arguments;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string name = dir / std::to_string(i);
    test::WriteFile(name, inputs[i]);
    arguments += " " + test::ShellQuote(name) + " " + test::ShellQuote(name + ".lh1");
  }
  const auto made =
      test::RunCommand("java -cp /usr/share/java/jlha.jar " +
                       test::ShellQuote(PRESS1_TEST_DIR "/lh1_stream.java") + arguments + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string stream = test::ReadFile(dir / (std::to_string(i) + ".lh1"));
    const Bytes block(stream.begin(), stream.end());
    BasicAdaptiveHuffmanDecoder<60> lh1;
    Bytes out(inputs[i].size() + 59);
    EXPECT_GE(lh1.Decode(block, out, inputs[i].size()), inputs[i].size());
    EXPECT_TRUE(Prefix(out, inputs[i].size()) == inputs[i]);
  }
}

}  // namespace
}  // namespace dravik
