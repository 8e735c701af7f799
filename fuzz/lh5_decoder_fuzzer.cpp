// The LH5 decoder on arbitrary streams. The first three bytes choose the
// expected length (up to 64 KiB) and whether the output area is cut short;
// the area is allocated to its exact size, so the sanitizers see any write
// past it. A second decode through the same object must agree with the
// first: nothing of one stream may steer the next.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "lh5_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t expected = (static_cast<size_t>(data[0]) << 8 | data[1]) + 1;
  const size_t capacity = (data[2] & 1) != 0 ? expected * (data[2] >> 1) / 128
                                             : expected + dravik::Lh5Decoder::kMaxOverrun;
  data += 3;
  size -= 3;
  // The stream itself gets an exact-size copy too.
  const std::vector<uint8_t> stream(data, data + size);
  auto decoder = std::make_unique<dravik::Lh5Decoder>();
  std::vector<uint8_t> first(capacity, 0x5A);
  std::vector<uint8_t> second(capacity, 0x5A);
  const bool sound = decoder->Decode(stream.data(), stream.size(), first.data(), capacity, expected);
  if (decoder->Decode(stream.data(), stream.size(), second.data(), capacity, expected) != sound ||
      first != second) {
    std::abort();
  }
  return 0;
}
