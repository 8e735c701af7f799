// The Press1 cylinder decoder on arbitrary blocks, in a buffer of their own
// size. The first two bytes give the expected length: mostly under 4 KiB,
// which keeps runs fast; in 1 of 16 up to a cylinder's 18,432 bytes and a
// little over, in 1 of 16 past the 32,500th symbol, where the tree is first
// rebuilt. The decoder must write the
// expected length and at most 14 bytes more, fill a smaller output and no
// more, and decode the block as if zeros followed it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adaptive_huffman_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t selector = static_cast<size_t>((data[0] << 8) | data[1]);
  const size_t expected = data[0] >= 0xF0   ? 32500 + (selector & 0xFFF)
                          : data[0] >= 0xE0 ? (selector & 0xFFF) * 18500 / 4096
                                            : selector % 4096;
  const std::vector<uint8_t> block(data + 2, data + size);
  dravik::AdaptiveHuffmanDecoder decoder;

  std::vector<uint8_t> out(expected + dravik::AdaptiveHuffmanDecoder::kMaxOverrun);
  const size_t written = decoder.Decode(block, out, expected);
  if (written < expected || written > out.size()) std::abort();
  if (expected == 0 && written != 0) std::abort();

  std::vector<uint8_t> padded = block;
  padded.resize(block.size() + 64, 0);
  std::vector<uint8_t> again(out.size());
  if (decoder.Decode(padded, again, expected) != written ||
      std::memcmp(out.data(), again.data(), written) != 0) {
    std::abort();
  }

  std::vector<uint8_t> small(expected / 2);
  const size_t cut = decoder.Decode(block, small, expected);
  if (cut != small.size() || (cut != 0 && std::memcmp(small.data(), out.data(), cut) != 0)) {
    std::abort();
  }
  return 0;
}
