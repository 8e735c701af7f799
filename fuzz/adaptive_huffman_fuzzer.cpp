// The Press1 cylinder decoder on arbitrary blocks. The first two bytes give
// the expected length (up to 65,535, so that the tree's rebuild is reached),
// the rest is the block, in a buffer of its own size. The decoder must write
// the expected length and at most 14 bytes more, fill a smaller output and
// no more, and decode the block as if zeros followed it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adaptive_huffman_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t expected = static_cast<size_t>(data[0] | (data[1] << 8));
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
