#include "adaptive_huffman_encoder.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "adaptive_huffman_decoder.h"

namespace dravik::test {
namespace {

constexpr int kWindow = AdaptiveHuffmanDecoder::kWindowSize;
constexpr int kShortest = AdaptiveHuffmanDecoder::kShortestMatch;
constexpr int kLongest = 15;
using Tree = AdaptiveHuffmanDecoder::Tree;

class BitOutput {
 public:
  void Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (used_ % 8));
      ++used_;
    }
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
};

// A symbol's code is the path from the root to its leaf; each node's bit is
// the lowest bit of its index.
void PutSymbol(Tree& tree, BitOutput& out, int symbol) {
  std::array<unsigned, Tree::kNodes> path;  // leaf to root
  int depth = 0;
  for (int k = tree.parent(Tree::kNodes + symbol); k != Tree::kRoot; k = tree.parent(k)) {
    path[depth++] = static_cast<unsigned>(k) & 1u;
  }
  while (depth > 0) out.Put(path[--depth], 1);
  tree.Update(symbol);
}

// The prefix codes for the upper six bits of a position: codes of each
// length take consecutive values, the first right after the last code of
// the length before, moved up one bit.
struct PrefixGroup {
  unsigned first_upper;
  unsigned count;
  int length;
};
constexpr PrefixGroup kPrefixGroups[] = {{0, 1, 3},   {1, 3, 4},   {4, 8, 5},
                                         {12, 12, 6}, {24, 24, 7}, {48, 16, 8}};

void PutPosition(BitOutput& out, unsigned position) {
  const unsigned upper = position >> 6;
  unsigned code = 0;
  int length = 3;
  for (const PrefixGroup& g : kPrefixGroups) {
    code <<= g.length - length;
    length = g.length;
    if (upper < g.first_upper + g.count) {
      code += upper - g.first_upper;
      break;
    }
    code += g.count;
  }
  out.Put(code, length);
  out.Put(position & 0x3F, 6);
}

}  // namespace

std::vector<LzssStep> ParseLzss(std::span<const uint8_t> data) {
  // The data behind a window's worth of spaces, searched through chains of
  // earlier positions with the same first three bytes.
  std::vector<uint8_t> text(kWindow + data.size(), ' ');
  std::copy(data.begin(), data.end(), text.begin() + kWindow);
  constexpr size_t kHashSize = 1 << 16;
  constexpr int kChainLimit = 256;
  std::vector<int> head(kHashSize, -1);
  std::vector<int> previous(text.size(), -1);
  auto hash = [&](size_t at) {
    return ((text[at] << 10) ^ (text[at + 1] << 5) ^ text[at + 2]) & (kHashSize - 1);
  };
  auto insert = [&](size_t at) {
    if (at + 2 >= text.size()) return;
    const size_t h = hash(at);
    previous[at] = head[h];
    head[h] = static_cast<int>(at);
  };
  for (size_t at = 0; at < kWindow; ++at) insert(at);

  std::vector<LzssStep> steps;
  size_t at = kWindow;
  while (at < text.size()) {
    const size_t room = std::min<size_t>(kLongest, text.size() - at);
    int best_length = 0;
    int best_distance = 0;
    if (room >= kShortest) {
      int chain = 0;
      for (int from = head[hash(at)]; from >= 0 && chain < kChainLimit;
           from = previous[from], ++chain) {
        const size_t distance = at - static_cast<size_t>(from);
        if (distance > static_cast<size_t>(kWindow)) break;
        size_t length = 0;
        while (length < room && text[from + length] == text[at + length]) ++length;
        if (static_cast<int>(length) > best_length) {
          best_length = static_cast<int>(length);
          best_distance = static_cast<int>(distance);
          if (length == room) break;
        }
      }
    }
    const size_t step = best_length >= kShortest ? static_cast<size_t>(best_length) : 1;
    steps.push_back(step == 1 ? Literal(text[at]) : Match(best_length, best_distance));
    for (size_t k = 0; k < step; ++k) insert(at + k);
    at += step;
  }
  return steps;
}

std::vector<uint8_t> EncodeSteps(const std::vector<LzssStep>& steps) {
  Tree tree;
  tree.Start();
  BitOutput out;
  for (const LzssStep& s : steps) {
    if (s.length == 1) {
      PutSymbol(tree, out, s.literal);
      continue;
    }
    if (s.length < kShortest || s.length > kLongest || s.distance < 1 || s.distance > kWindow) {
      throw std::invalid_argument("no such match");
    }
    PutSymbol(tree, out, 256 + s.length - kShortest);
    PutPosition(out, static_cast<unsigned>(s.distance - 1));
  }
  return out.Take();
}

}  // namespace dravik::test
