// A compressor for the adaptive Huffman scheme of Press1 cylinders, for
// tests only: a greedy LZSS parse over the 4 KiB window and the coder that
// mirrors AdaptiveHuffmanDecoder, so that tests can make streams of any
// content, and streams with chosen matches.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dravik::test {

// One step of a parse: a literal byte (length 1), or a match copying length
// bytes (3 to 15) from distance bytes back (1 to 4096). Before the data the
// window holds spaces, so a match may reach back before its start.
struct LzssStep {
  int length = 1;
  uint8_t literal = 0;
  int distance = 0;
};

inline LzssStep Literal(uint8_t byte) { return {1, byte, 0}; }
inline LzssStep Match(int length, int distance) { return {length, 0, distance}; }

// A greedy longest-match parse of data.
std::vector<LzssStep> ParseLzss(std::span<const uint8_t> data);

// The stream for a parse. The last byte is padded with zero bits.
std::vector<uint8_t> EncodeSteps(const std::vector<LzssStep>& steps);

inline std::vector<uint8_t> Compress(std::span<const uint8_t> data) {
  return EncodeSteps(ParseLzss(data));
}

}  // namespace dravik::test
