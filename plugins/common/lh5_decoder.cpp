#include "lh5_decoder.h"

#include <algorithm>
#include <cstring>

namespace dravik {
namespace {

constexpr int kMaxCodeLength = 16;
constexpr uint8_t kFreshWindowByte = 0x20;  // a match may reach before the first byte
constexpr int kMinMatch = 3;
constexpr int kLiteralSymbols = 256;

}  // namespace

// The stream's bits, most significant first. Whatever lies past the input
// reads as zero bits. At least 32 bits stay buffered after every step, so a
// peek at 16 never needs a refill.
class Lh5Decoder::BitReader {
 public:
  BitReader(const uint8_t* input, size_t size) : next_(input), end_(input + size) { Refill(); }

  uint32_t Peek16() const { return static_cast<uint32_t>(bits_ >> 48); }

  void Consume(int n) {  // n from 0 to 16
    bits_ <<= n;
    count_ -= n;
    if (count_ < 32) Refill();
  }

  uint32_t Get(int n) {  // n from 0 to 16
    if (n == 0) return 0;
    const uint32_t value = static_cast<uint32_t>(bits_ >> (64 - n));
    Consume(n);
    return value;
  }

 private:
  void Refill() {
    if (end_ - next_ >= 8) {
      // Whole bytes are counted; the part of a byte that also lands is its
      // true value, which the next refill puts there again.
      uint64_t word;
      std::memcpy(&word, next_, sizeof(word));
      bits_ |= __builtin_bswap64(word) >> count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      const uint64_t byte = next_ < end_ ? *next_++ : 0;
      bits_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

// Builds a canonical-code lookup table: codes up to `width` bits fill their
// range of entries, longer ones continue as trees from their entry. A set of
// lengths that no prefix code has (over-full) is refused rather than let
// its ranges run past the table; an incomplete set is used, its missing
// codes decoding as symbol 0.
bool Lh5Decoder::BuildTable(int symbols, const uint8_t* lengths, int width, uint16_t* table) {
  uint32_t count[kMaxCodeLength + 1] = {};
  for (int s = 0; s < symbols; ++s) ++count[lengths[s]];  // the readers keep lengths <= 16
  uint32_t start[kMaxCodeLength + 2];
  start[1] = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    start[len + 1] = start[len] + (count[len] << (kMaxCodeLength - len));
  }
  if (start[kMaxCodeLength + 1] > (1u << kMaxCodeLength)) return false;

  std::fill_n(table, 1 << width, 0);
  const int shift = kMaxCodeLength - width;
  int next_node = symbols;
  for (int s = 0; s < symbols; ++s) {
    const int len = lengths[s];
    if (len == 0) continue;
    const uint32_t code = start[len];
    const uint32_t end = code + (1u << (kMaxCodeLength - len));
    start[len] = end;
    if (len <= width) {
      std::fill(table + (code >> shift), table + (end >> shift), static_cast<uint16_t>(s));
      continue;
    }
    uint16_t* slot = &table[code >> shift];
    uint32_t rest = (code << width) & 0xFFFF;  // the bits below the entry, from bit 15
    for (int step = len - width; step > 0; --step) {
      if (*slot == 0) {
        if (next_node >= kNodeCount) return false;
        zero_[next_node] = one_[next_node] = 0;
        *slot = static_cast<uint16_t>(next_node++);
      } else if (*slot < symbols) {
        return false;  // a path through a leaf; a prefix code has none
      }
      const uint16_t node = *slot;
      slot = (rest & 0x8000) ? &one_[node] : &zero_[node];
      rest = (rest << 1) & 0xFFFF;
    }
    *slot = static_cast<uint16_t>(s);
  }
  return true;
}

// Code lengths of the code-length code (special index 3: a 2-bit run of
// zero lengths follows the third) or of the position code.
bool Lh5Decoder::ReadSmallLengths(BitReader& bits, int symbols, int count_bits, int special) {
  const int n = static_cast<int>(bits.Get(count_bits));
  if (n == 0) {
    const uint32_t only = bits.Get(count_bits);
    if (only >= static_cast<uint32_t>(symbols)) return false;
    std::fill_n(small_lengths_, symbols, 0);
    std::fill_n(small_table_, 1 << kSmallTableBits, static_cast<uint16_t>(only));
    return true;
  }
  if (n > symbols) return false;
  int i = 0;
  while (i < n) {
    const uint32_t w = bits.Peek16();
    int c = static_cast<int>(w >> 13);
    if (c == 7) {
      for (uint32_t mask = 1u << 12; (w & mask) != 0; mask >>= 1) ++c;
      if (c > kMaxCodeLength) return false;
    }
    bits.Consume(c < 7 ? 3 : c - 3);
    small_lengths_[i++] = static_cast<uint8_t>(c);
    if (i == special) {
      const int zeros = static_cast<int>(bits.Get(2));
      if (i + zeros > symbols) return false;
      std::fill_n(small_lengths_ + i, zeros, 0);
      i += zeros;
    }
  }
  std::fill(small_lengths_ + i, small_lengths_ + symbols, 0);
  return BuildTable(symbols, small_lengths_, kSmallTableBits, small_table_);
}

bool Lh5Decoder::ReadCharLengths(BitReader& bits) {
  const int n = static_cast<int>(bits.Get(9));
  if (n == 0) {
    const uint32_t only = bits.Get(9);
    if (only >= static_cast<uint32_t>(kCharSymbols)) return false;
    std::fill_n(char_lengths_, kCharSymbols, 0);
    std::fill_n(char_table_, 1 << kCharTableBits, static_cast<uint16_t>(only));
    return true;
  }
  if (n > kCharSymbols) return false;
  int i = 0;
  while (i < n) {
    const uint32_t w = bits.Peek16();
    int c = small_table_[w >> 8];
    for (uint32_t mask = 0x80; c >= kLenSymbols; mask >>= 1) {
      if (mask == 0 || c >= kNodeCount) return false;
      c = (w & mask) ? one_[c] : zero_[c];
    }
    bits.Consume(small_lengths_[c]);
    if (c <= 2) {
      const int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(bits.Get(4)) + 3
                                            : static_cast<int>(bits.Get(9)) + 20;
      if (i + zeros > kCharSymbols) return false;
      std::fill_n(char_lengths_ + i, zeros, 0);
      i += zeros;
    } else {
      char_lengths_[i++] = static_cast<uint8_t>(c - 2);
    }
  }
  std::fill(char_lengths_ + i, char_lengths_ + kCharSymbols, 0);
  return BuildTable(kCharSymbols, char_lengths_, kCharTableBits, char_table_);
}

bool Lh5Decoder::ReadBlockHeader(BitReader& bits) {
  return ReadSmallLengths(bits, kLenSymbols, 5, 3) && ReadCharLengths(bits) &&
         ReadSmallLengths(bits, kPosSymbols, 4, -1);
}

inline int Lh5Decoder::DecodeChar(BitReader& bits) {
  int j = char_table_[bits.Peek16() >> (16 - kCharTableBits)];
  if (j < kCharSymbols) {
    bits.Consume(char_lengths_[j]);
    return j;
  }
  bits.Consume(kCharTableBits);
  const uint32_t w = bits.Peek16();
  // A well-formed tree ends within 16 - 12 steps.
  for (uint32_t mask = 0x8000; j >= kCharSymbols; mask >>= 1) {
    if (mask < (0x8000u >> (kMaxCodeLength - kCharTableBits - 1)) || j >= kNodeCount) return -1;
    j = (w & mask) ? one_[j] : zero_[j];
  }
  const int rest = char_lengths_[j] - kCharTableBits;
  if (rest < 0) return -1;  // a short code reached through a tree
  bits.Consume(rest);
  return j;
}

inline int Lh5Decoder::DecodePosition(BitReader& bits) {
  int j = small_table_[bits.Peek16() >> (16 - kSmallTableBits)];
  if (j < kPosSymbols) {
    bits.Consume(small_lengths_[j]);
  } else {
    bits.Consume(kSmallTableBits);
    const uint32_t w = bits.Peek16();
    for (uint32_t mask = 0x8000; j >= kPosSymbols; mask >>= 1) {
      if (mask < (0x8000u >> (kMaxCodeLength - kSmallTableBits - 1)) || j >= kNodeCount) {
        return -1;
      }
      j = (w & mask) ? one_[j] : zero_[j];
    }
    const int rest = small_lengths_[j] - kSmallTableBits;
    if (rest < 0) return -1;
    bits.Consume(rest);
  }
  if (j <= 1) return j;
  return static_cast<int>((1u << (j - 1)) + bits.Get(j - 1));
}

bool Lh5Decoder::Decode(const uint8_t* input, size_t input_size, uint8_t* output,
                        size_t output_capacity, size_t expected_size) {
  // Nothing of an earlier stream may steer this one.
  std::memset(zero_, 0, sizeof(zero_));
  std::memset(one_, 0, sizeof(one_));
  const size_t limit = std::min(expected_size, output_capacity);
  BitReader bits(input, input_size);
  uint16_t block_left = 0;
  size_t pos = 0;
  bool sound = true;
  // The output is the window: a match reads the bytes behind pos, and the
  // fresh window's spaces where it reaches before the first byte.
  while (pos < limit) {
    if (block_left == 0) {
      block_left = static_cast<uint16_t>(bits.Get(16));
      if (!ReadBlockHeader(bits)) {
        sound = false;
        break;
      }
    }
    --block_left;  // a count of 0 thus stands for 65,536 symbols
    const int c = DecodeChar(bits);
    if (c < 0) {
      sound = false;
      break;
    }
    if (c < kLiteralSymbols) {
      output[pos++] = static_cast<uint8_t>(c);
      continue;
    }
    const int distance = DecodePosition(bits);
    if (distance < 0) {
      sound = false;
      break;
    }
    const size_t back = static_cast<size_t>(distance) + 1;  // at most the 8 KiB window
    const size_t end = std::min(pos + static_cast<size_t>(c - kLiteralSymbols + kMinMatch),
                                output_capacity);
    while (pos < end && pos < back) output[pos++] = kFreshWindowByte;
    if (pos < end && end - pos <= back) {
      std::memcpy(output + pos, output + pos - back, end - pos);
      pos = end;
    } else {
      // The match overlaps the bytes it produces: byte by byte.
      for (; pos < end; ++pos) output[pos] = output[pos - back];
    }
  }
  if (!sound && pos < limit) std::memset(output + pos, kDamageFill, limit - pos);
  return sound;
}

}  // namespace dravik
