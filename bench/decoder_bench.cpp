// The decoders of compressed source formats on one cylinder's worth of
// data, timed in decoded bytes; the reporter of conversion_bench.cpp lists
// every "decode/" benchmark's throughput in MB/s at the end of the run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "adaptive_huffman_decoder.h"
#include "adaptive_huffman_encoder.h"

namespace {

// A 1.44M cylinder (18,432 bytes) of a disk in use: half text, as in
// directories and documents, half freshly formatted sectors (0xE5).
std::vector<uint8_t> SampleCylinder() {
  static const char* const kWords[] = {"DISK ", "BASIC ", "GAME ", "SYSTEM ", "DATA ",
                                       "\r\n",  "10 ",    "PRINT ", "A$ ",     "GOTO "};
  uint32_t state = 98;
  std::string text;
  while (text.size() < 9216) {
    state = state * 1103515245u + 12345u;
    text += kWords[(state >> 16) % std::size(kWords)];
  }
  std::vector<uint8_t> cylinder(text.begin(), text.begin() + 9216);
  cylinder.resize(18432, 0xE5);
  return cylinder;
}

void DecodeAdaptiveHuffman(benchmark::State& state) {
  const std::vector<uint8_t> cylinder = SampleCylinder();
  const std::vector<uint8_t> block = dravik::test::Compress(cylinder);
  std::vector<uint8_t> out(cylinder.size() + dravik::AdaptiveHuffmanDecoder::kMaxOverrun);
  dravik::AdaptiveHuffmanDecoder decoder;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.Decode(block, out, cylinder.size()));
    benchmark::ClobberMemory();
  }
  out.resize(cylinder.size());
  if (out != cylinder) state.SkipWithError("decoded bytes differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * cylinder.size()));
}
BENCHMARK(DecodeAdaptiveHuffman)->Name("decode/adaptive-huffman (Press1)")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
