// LZSS with adaptive Huffman coding of its symbols, in the style of the
// classic LZHUF: a 4 KiB window, literals and match lengths coded by one tree
// whose shape follows the symbol counts as they go, match positions by a
// fixed prefix table. Press1 images store their compressed cylinders so,
// with matches of 3 to 15 bytes. LHarc's -lh1- method is the same scheme
// with matches up to 60 bytes, which the tests use to check this decoder
// against an archiver that knows nothing of this project.
//
// A stream has no header, length or check: the caller says how many bytes to
// expect. Damaged input gives damaged output of the expected length, never a
// read or write outside the arrays given.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace dravik {

// The code tree shared by both ends of a stream: after every symbol its
// count goes up and the tree is reordered so that nodes stay sorted by
// count, which keeps it a Huffman tree for the counts so far.
template <int kSymbols>
class AdaptiveHuffmanTree {
 public:
  static constexpr int kNodes = 2 * kSymbols - 1;
  static constexpr int kRoot = kNodes - 1;
  // The tree is rebuilt with halved counts when the root's count gets here.
  static constexpr uint16_t kFrequencyLimit = 0x8000;

  // Every symbol at a count of 1.
  void Start();
  // Counts one more of symbol and reorders.
  void Update(int symbol);
  // An inner node's first child (its second is the next node); kNodes + s
  // stands for the leaf of symbol s.
  int child(int node) const { return child_[node]; }
  // The parent of a node (0 for the root), or with kNodes + s the node that
  // holds symbol s. A node's bit under its parent is its index's lowest bit.
  int parent(int node) const { return parent_[node]; }

 private:
  static_assert(kSymbols > 256 && kNodes < 0xFFFF - kSymbols);
  void Rebuild();

  // Counts, non-decreasing by index; freq_[kNodes] is a sentinel above all.
  std::array<uint16_t, kNodes + 1> freq_;
  std::array<uint16_t, kNodes> child_;
  std::array<uint16_t, kNodes + kSymbols> parent_;
};

template <int kLongestMatch>
class BasicAdaptiveHuffmanDecoder {
 public:
  static constexpr int kWindowSize = 4096;
  static constexpr int kShortestMatch = 3;
  // Symbols 0-255 are literal bytes, the rest match lengths from 3 up.
  static constexpr int kSymbols = 256 + kLongestMatch - kShortestMatch + 1;
  using Tree = AdaptiveHuffmanTree<kSymbols>;
  // A final match is written in full, so up to this many bytes beyond the
  // expected length, when the output has room for them.
  static constexpr size_t kMaxOverrun = kLongestMatch - 1;

  // Decodes `block` into `out` until `expected` bytes are produced or `out`
  // is full. Bits past the end of the block read as zero. Returns the number
  // of bytes written: at least min(expected, out.size()).
  size_t Decode(std::span<const uint8_t> block, std::span<uint8_t> out, size_t expected);

  // The upper six bits of a position come as a prefix code of 3 to 8 bits,
  // the lower six as they are. From the first eight bits read this gives the
  // upper bits and the prefix's length.
  struct PositionPrefix {
    unsigned upper;
    int length;
  };
  static constexpr PositionPrefix PrefixOf(unsigned first_byte);

 private:
  static_assert(kLongestMatch >= kShortestMatch && kLongestMatch < 256);

  // MSB-first bits of the block, then zeros for ever.
  class BitInput {
   public:
    explicit BitInput(std::span<const uint8_t> block)
        : next_(block.data()), end_(next_ + block.size()) {}
    unsigned Bit() {
      if (count_ == 0) Refill();
      --count_;
      return (bits_ >> count_) & 1u;
    }
    unsigned Byte() {
      if (count_ < 8) Refill();
      count_ -= 8;
      return (bits_ >> count_) & 0xFFu;
    }

   private:
    // Tops the buffer up to more than 56 bits; called with fewer than 8.
    void Refill() {
      while (count_ <= 56) {
        bits_ = (bits_ << 8) | (next_ < end_ ? *next_++ : 0u);
        count_ += 8;
      }
    }
    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    int count_ = 0;
  };

  int DecodeSymbol(BitInput& in);
  static int DecodePosition(BitInput& in);

  Tree tree_;
  std::array<uint8_t, kWindowSize> window_;
};

using AdaptiveHuffmanDecoder = BasicAdaptiveHuffmanDecoder<15>;

template <int kSymbols>
void AdaptiveHuffmanTree<kSymbols>::Start() {
  for (int s = 0; s < kSymbols; ++s) {
    freq_[s] = 1;
    child_[s] = static_cast<uint16_t>(s + kNodes);
    parent_[s + kNodes] = static_cast<uint16_t>(s);
  }
  for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
    freq_[j] = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    child_[j] = static_cast<uint16_t>(i);
    parent_[i] = parent_[i + 1] = static_cast<uint16_t>(j);
  }
  freq_[kNodes] = 0xFFFF;
  parent_[kRoot] = 0;
}

template <int kSymbols>
void AdaptiveHuffmanTree<kSymbols>::Rebuild() {
  // The leaves, in their current order, to the front with halved counts.
  int j = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (child_[i] >= kNodes) {
      freq_[j] = static_cast<uint16_t>((freq_[i] + 1) / 2);
      child_[j] = child_[i];
      ++j;
    }
  }
  // Pair them up again, each new node placed where its count keeps the
  // order. A leaf's count is at most f, so the search stops at or above i.
  for (int i = 0, k, next = kSymbols; next < kNodes; i += 2, ++next) {
    const uint16_t f = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    for (k = next - 1; f < freq_[k]; --k) {
    }
    ++k;
    std::copy_backward(freq_.begin() + k, freq_.begin() + next, freq_.begin() + next + 1);
    std::copy_backward(child_.begin() + k, child_.begin() + next, child_.begin() + next + 1);
    freq_[k] = f;
    child_[k] = static_cast<uint16_t>(i);
  }
  for (int i = 0; i < kNodes; ++i) {
    const int k = child_[i];
    if (k >= kNodes) {
      parent_[k] = static_cast<uint16_t>(i);
    } else {
      parent_[k] = parent_[k + 1] = static_cast<uint16_t>(i);
    }
  }
}

template <int kSymbols>
void AdaptiveHuffmanTree<kSymbols>::Update(int symbol) {
  if (freq_[kRoot] == kFrequencyLimit) Rebuild();
  // The root's count grows by one per symbol and starts far below the
  // limit, so it meets the limit exactly; every other count stays below it
  // and the sentinel stops each search.
  int c = parent_[symbol + kNodes];
  do {
    const uint16_t k = ++freq_[c];
    if (k > freq_[c + 1]) {
      // Swap c with the last node of a lower count, subtrees and all. The
      // counts from c + 1 on are sorted, so a binary search finds it.
      const int l = static_cast<int>(std::lower_bound(freq_.begin() + c + 2, freq_.end(), k) -
                                     freq_.begin() - 1);
      freq_[c] = freq_[l];
      freq_[l] = k;
      const int i = child_[c];
      parent_[i] = static_cast<uint16_t>(l);
      if (i < kNodes) parent_[i + 1] = static_cast<uint16_t>(l);
      const int j = child_[l];
      child_[l] = static_cast<uint16_t>(i);
      parent_[j] = static_cast<uint16_t>(c);
      if (j < kNodes) parent_[j + 1] = static_cast<uint16_t>(c);
      child_[c] = static_cast<uint16_t>(j);
      c = l;
    }
    c = parent_[c];
  } while (c != 0);
}

template <int kLongestMatch>
int BasicAdaptiveHuffmanDecoder<kLongestMatch>::DecodeSymbol(BitInput& in) {
  int c = tree_.child(Tree::kRoot);
  while (c < Tree::kNodes) c = tree_.child(c + static_cast<int>(in.Bit()));
  c -= Tree::kNodes;
  tree_.Update(c);
  return c;
}

template <int kLongestMatch>
constexpr auto BasicAdaptiveHuffmanDecoder<kLongestMatch>::PrefixOf(unsigned b) -> PositionPrefix {
  if (b < 0x20) return {0, 3};
  if (b < 0x50) return {1 + (b - 0x20) / 16, 4};
  if (b < 0x90) return {4 + (b - 0x50) / 8, 5};
  if (b < 0xC0) return {12 + (b - 0x90) / 4, 6};
  if (b < 0xF0) return {24 + (b - 0xC0) / 2, 7};
  return {48 + (b - 0xF0), 8};
}

template <int kLongestMatch>
int BasicAdaptiveHuffmanDecoder<kLongestMatch>::DecodePosition(BitInput& in) {
  unsigned b = in.Byte();
  const PositionPrefix prefix = PrefixOf(b);
  for (int k = 0; k < prefix.length - 2; ++k) b = (b << 1) | in.Bit();
  return static_cast<int>((prefix.upper << 6) | (b & 0x3F));
}

template <int kLongestMatch>
size_t BasicAdaptiveHuffmanDecoder<kLongestMatch>::Decode(std::span<const uint8_t> block,
                                                          std::span<uint8_t> out, size_t expected) {
  if (expected == 0 || out.empty()) return 0;
  BitInput in(block);
  tree_.Start();
  // Writing starts 15 bytes before the window's end, behind spaces. The
  // whole window starts as spaces, those 15 bytes included, so that a match
  // reaching into them before they are written copies spaces too.
  window_.fill(' ');
  constexpr unsigned kMask = kWindowSize - 1;
  unsigned r = kWindowSize - kLongestMatch;
  size_t written = 0;
  while (written < expected) {
    const int c = DecodeSymbol(in);
    if (c < 256) {
      out[written++] = static_cast<uint8_t>(c);
      window_[r] = static_cast<uint8_t>(c);
      r = (r + 1) & kMask;
    } else {
      const unsigned from = r - static_cast<unsigned>(DecodePosition(in)) - 1;
      const size_t length = static_cast<size_t>(c - 256 + kShortestMatch);
      const size_t room = out.size() - written;
      const size_t n = length < room ? length : room;
      for (size_t k = 0; k < n; ++k) {
        const uint8_t b = window_[(from + k) & kMask];
        out[written++] = b;
        window_[r] = b;
        r = (r + 1) & kMask;
      }
    }
    if (written == out.size()) break;
  }
  return written;
}

}  // namespace dravik
