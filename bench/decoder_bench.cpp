// The decoders of compressed source formats on one cylinder's worth of
// data, timed in decoded bytes; the reporter of conversion_bench.cpp lists
// every "decode/" benchmark's throughput in MB/s at the end of the run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <memory>

#include "adaptive_huffman_decoder.h"
#include "adaptive_huffman_encoder.h"
#include "disk_builder.h"
#include "lh5_decoder.h"
#include "lha_stream.h"

namespace {

// A 1.44M cylinder (18,432 bytes) of a disk in use: half text, as in
// directories and documents, half freshly formatted sectors (0xE5).
std::vector<uint8_t> SampleCylinder() {
  static const char* const kWords[] = {"DISK ", "BASIC ", "GAME ",  "SYSTEM ", "DATA ",
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
BENCHMARK(DecodeAdaptiveHuffman)
    ->Name("decode/adaptive-huffman (Press1)")
    ->Unit(benchmark::kMicrosecond);

// LH5 against libarchive's LHA reader on the same bytes: the raw data of
// a 1.25M disk in use (text, blank sectors, some noise), packed by lha as
// one file. Both decode all of it; libarchive also parses the member header
// and checks its CRC, as any archive reader must.
struct Lh5Sample {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> archive;  // level-2 .lzh of raw
  std::vector<uint8_t> stream;   // its lh5 payload
};

const Lh5Sample& SampleDisk() {
  static const Lh5Sample sample = [] {
    Lh5Sample s;
    auto disk = std::make_unique<DiskImage>();
    dravik::test::BuildDisk(*disk, dravik::test::ShapeNamed("1.25M"), 98);
    dravik::test::FillWithMixedContent(*disk, 98);
    s.raw = dravik::test::RawBytes(*disk);
    s.archive = dravik::test::LhaArchive({s.raw});
    s.stream = dravik::test::ParseLzh(s.archive).at(0).payload;
    return s;
  }();
  return sample;
}

void DecodeLh5(benchmark::State& state) {
  const Lh5Sample& sample = SampleDisk();
  std::vector<uint8_t> out(sample.raw.size() + dravik::Lh5Decoder::kMaxOverrun);
  auto decoder = std::make_unique<dravik::Lh5Decoder>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder->Decode(sample.stream.data(), sample.stream.size(),
                                             out.data(), out.size(), sample.raw.size()));
    benchmark::ClobberMemory();
  }
  if (!std::equal(sample.raw.begin(), sample.raw.end(), out.begin())) {
    state.SkipWithError("decoded bytes differ");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sample.raw.size()));
}
BENCHMARK(DecodeLh5)->Name("decode/lh5 (SLF, VFL)")->Unit(benchmark::kMicrosecond);

void DecodeLh5WithLibarchive(benchmark::State& state) {
  const Lh5Sample& sample = SampleDisk();
  std::vector<uint8_t> out(sample.raw.size());
  for (auto _ : state) {
    archive* a = archive_read_new();
    archive_read_support_format_lha(a);
    archive_entry* entry = nullptr;
    size_t got = 0;
    if (archive_read_open_memory(a, sample.archive.data(), sample.archive.size()) == ARCHIVE_OK &&
        archive_read_next_header(a, &entry) == ARCHIVE_OK) {
      for (la_ssize_t n; (n = archive_read_data(a, out.data() + got, out.size() - got)) > 0;) {
        got += static_cast<size_t>(n);
      }
    }
    archive_read_free(a);
    if (got != sample.raw.size()) {
      state.SkipWithError("libarchive could not read the archive");
      break;
    }
    benchmark::ClobberMemory();
  }
  if (out != sample.raw) state.SkipWithError("decoded bytes differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sample.raw.size()));
}
BENCHMARK(DecodeLh5WithLibarchive)->Name("baseline/lh5 (SLF, VFL)")->Unit(benchmark::kMicrosecond);

}  // namespace
