// LH5 streams: LZ77 with an 8 KiB window and static Huffman codes, in
// blocks that follow each other without alignment. The stream carries no
// length or checksum of its own; the container tells how many bytes it holds
// and how many it expands to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik {

class Lh5Decoder {
 public:
  // A final match may run this far past the expected length; it is written
  // in full when the output area has room for it.
  static constexpr size_t kMaxOverrun = 255;
  // What the rest of the expected output holds after a damaged block.
  static constexpr uint8_t kDamageFill = 0x00;

  // Decodes input[0, input_size) into output until expected_size bytes are
  // produced, writing nothing at or past output_capacity. Input that ends
  // early reads as zero bits. Returns false when a block was damaged (a code
  // no encoder makes): decoding then stops, and the rest of the expected
  // output, as far as the capacity reaches, holds kDamageFill.
  //
  // Each call starts afresh; an object may be reused, but not shared
  // between threads.
  bool Decode(const uint8_t* input, size_t input_size, uint8_t* output, size_t output_capacity,
              size_t expected_size);

  // Alphabets and lookup widths of the method.
  static constexpr int kCharSymbols = 510;  // 256 literals, match lengths 3 to 256
  static constexpr int kLenSymbols = 19;    // code lengths of the character code
  static constexpr int kPosSymbols = 14;    // match distances by their bit length
  static constexpr int kCharTableBits = 12;
  static constexpr int kSmallTableBits = 8;
  static constexpr int kNodeCount = 2 * kCharSymbols - 1;

 private:
  class BitReader;

  bool ReadSmallLengths(BitReader& bits, int symbols, int count_bits, int special);
  bool ReadCharLengths(BitReader& bits);
  bool BuildTable(int symbols, const uint8_t* lengths, int width, uint16_t* table);
  bool ReadBlockHeader(BitReader& bits);
  // Return -1 for a damaged code.
  int DecodeChar(BitReader& bits);
  int DecodePosition(BitReader& bits);

  uint8_t char_lengths_[kCharSymbols];
  uint16_t char_table_[1 << kCharTableBits];
  // The code-length code and then the position code of a block.
  uint8_t small_lengths_[kLenSymbols];
  uint16_t small_table_[1 << kSmallTableBits];
  // Codes longer than a table's width continue as trees; node numbers are
  // handed out from each alphabet's size upwards, so the character tree and
  // the small trees of a block never share a node.
  uint16_t zero_[kNodeCount];
  uint16_t one_[kNodeCount];
};

}  // namespace dravik
