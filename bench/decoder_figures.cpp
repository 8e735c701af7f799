// The decoders of compressed sources against other libraries decoding the
// same streams in this process: LH5 against libarchive's LHA reader, and the
// adaptive Huffman decoder against lhasa's -lh1- decoder (the same family:
// adaptive Huffman codes over a 4 KiB window, with longer matches), beside
// LH5 on the same data.
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "adaptive_huffman_decoder.h"
#include "adaptive_huffman_encoder.h"
#include "disk_builder.h"
#include "figures.h"
#include "lh5_decoder.h"
#include "lha_stream.h"
#include "measure.h"

#ifdef DRAVIK_HAVE_LHASA
#include <lhasa.h>
#endif

namespace dravik::bench {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kPart = 6 * 1000 * 1000;  // text, binary, random: 18 MB in all

Bytes Text(uint32_t seed) {
  static const char* const kWords[] = {"DISK ", "BASIC ", "GAME ", "SYSTEM ", "DATA ", "\r\n",
                                       "10 ", "PRINT ", "A$ ", "GOTO ", "CALL ", "FILES ",
                                       "セーブ ", "ロード ", "ゲーム "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < kPart) text += kWords[random() % std::size(kWords)];
  return Bytes(text.begin(), text.begin() + kPart);
}

// Machine code and data as on program disks: the program folder's own
// executables and plug-ins, then disks in use (text, blank sectors, noise).
Bytes Binary(const std::string& program_dir) {
  Bytes bytes;
  for (const auto& entry : fs::directory_iterator(program_dir)) {
    if (!entry.is_regular_file() || bytes.size() >= kPart / 2) continue;
    const Bytes file = ReadFile(entry.path().string());
    bytes.insert(bytes.end(), file.begin(), file.end());
  }
  bytes.resize(std::min(bytes.size(), kPart / 2));
  auto disk = std::make_unique<DiskImage>();
  for (uint32_t seed = 1; bytes.size() < kPart; ++seed) {
    test::BuildDisk(*disk, test::ShapeNamed("1.25M"), seed);
    test::FillWithMixedContent(*disk, seed);
    const Bytes raw = test::RawBytes(*disk);
    bytes.insert(bytes.end(), raw.begin(), raw.end());
  }
  bytes.resize(kPart);
  return bytes;
}

// Random bytes of every value, skewed so that lha still packs them (it
// stores pure noise as it is, and no lh5 stream of it exists).
Bytes Random(uint32_t seed) {
  std::mt19937 random(seed);
  std::geometric_distribution<int> skew(0.02);
  Bytes bytes(kPart);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(skew(random));
  return bytes;
}

struct Sample {
  std::vector<Bytes> parts;
  Bytes archive;               // lha's level-2 .lzh of the parts
  std::vector<Bytes> streams;  // their lh5 payloads
  size_t Total() const {
    size_t n = 0;
    for (const Bytes& p : parts) n += p.size();
    return n;
  }
};

// Seconds of one pass, or -1 when the bytes differ.
double DecodeLh5(const Sample& s, Lh5Decoder& decoder, Bytes& out) {
  const double start = Now();
  for (size_t i = 0; i < s.parts.size(); ++i) {
    decoder.Decode(s.streams[i].data(), s.streams[i].size(), out.data(), out.size(),
                   s.parts[i].size());
  }
  const double seconds = Now() - start;
  return std::equal(s.parts.back().begin(), s.parts.back().end(), out.begin()) ? seconds : -1;
}

double ReadWithLibarchive(const Sample& s, Bytes& out) {
  const double start = Now();
  archive* a = archive_read_new();
  archive_read_support_format_lha(a);
  size_t members = 0;
  size_t got = 0;
  if (archive_read_open_memory(a, s.archive.data(), s.archive.size()) == ARCHIVE_OK) {
    archive_entry* entry = nullptr;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
      ++members;
      got = 0;
      for (la_ssize_t n; (n = archive_read_data(a, out.data() + got, out.size() - got)) > 0;) {
        got += static_cast<size_t>(n);
      }
    }
  }
  archive_read_free(a);
  const double seconds = Now() - start;
  const bool same = members == s.parts.size() && got == s.parts.back().size() &&
                    std::equal(s.parts.back().begin(), s.parts.back().end(), out.begin());
  return same ? seconds : -1;
}

std::string Rate(double bytes, double seconds) { return Format("%.1f MB/s", bytes / seconds / 1e6); }

Row ThroughputRow(const std::string& figure, double bytes, double ours, double theirs,
                  const std::string& base_name, double goal, const std::string& goal_text) {
  Row row;
  row.figure = figure;
  row.dravik = Rate(bytes, ours);
  row.baseline = base_name + " " + Rate(bytes, theirs);
  row.ratio = theirs / ours;
  row.sense = goal > 0 ? Row::Goal::kAtLeast : Row::Goal::kNone;
  row.goal = goal;
  row.goal_text = goal_text;
  row.measured = true;
  return row;
}

// -lh1- streams of the parts, made by jlha (the same encoder as the
// decoder's tests use), or none when java or jlha is missing.
std::vector<Bytes> Lh1Streams(const Sample& s) {
  TempFolder dir("lh1");
  std::string arguments;
  for (size_t i = 0; i < s.parts.size(); ++i) {
    const std::string name = dir / std::to_string(i);
    if (!WriteFile(name, s.parts[i])) return {};
    arguments += " '" + name + "' '" + name + ".lh1'";
  }
  const std::string command = "java -cp /usr/share/java/jlha.jar '" DRAVIK_SOURCE_DIR
                              "/plugins/in/press1/tests/lh1_stream.java'" + arguments +
                              " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  std::vector<Bytes> streams;
  for (size_t i = 0; i < s.parts.size(); ++i) {
    streams.push_back(ReadFile(dir / (std::to_string(i) + ".lh1")));
  }
  return streams;
}

#ifdef DRAVIK_HAVE_LHASA
struct MemoryStream {
  const Bytes* bytes;
  size_t at = 0;
};

size_t ReadMemory(void* buffer, size_t length, void* data) {
  auto* in = static_cast<MemoryStream*>(data);
  const size_t n = std::min(length, in->bytes->size() - in->at);
  std::memcpy(buffer, in->bytes->data() + in->at, n);
  in->at += n;
  return n;
}

double DecodeWithLhasa(const Sample& s, const std::vector<Bytes>& streams, Bytes& out) {
  static char kName[] = "-lh1-";
  const double start = Now();
  size_t got = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    MemoryStream in{&streams[i]};
    LHADecoder* decoder =
        lha_decoder_new(lha_decoder_for_name(kName), &ReadMemory, &in, s.parts[i].size());
    if (decoder == nullptr) return -1;
    got = 0;
    for (size_t n; got < s.parts[i].size() &&
                   (n = lha_decoder_read(decoder, out.data() + got, out.size() - got)) > 0;) {
      got += n;
    }
    lha_decoder_free(decoder);
  }
  const double seconds = Now() - start;
  const bool same = got == s.parts.back().size() &&
                    std::equal(s.parts.back().begin(), s.parts.back().end(), out.begin());
  return same ? seconds : -1;
}
#endif

}  // namespace

void DecoderFigures(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(2) && !o.Wants(3)) return;
  const std::string lh5_figure = "2 LH5 decode, 18 MB text/binary/random";
  const int rounds = o.rounds * 3;
  std::fprintf(stderr, "figures 2, 3: making the streams\n");
  Sample s;
  s.parts = {Text(2), Binary(o.program_dir), Random(3)};
  try {
    s.archive = test::LhaArchive(s.parts);
    for (const test::LzhMember& m : test::ParseLzh(s.archive)) {
      if (m.method != "-lh5-") throw std::runtime_error("lha stored " + m.name + " as " + m.method);
      s.streams.push_back(m.payload);
    }
  } catch (const std::exception& e) {
    Row row;
    row.figure = lh5_figure;
    row.goal_text = "speed >= 1.5x";
    row.note = std::string("no lh5 streams: ") + e.what();
    rows.push_back(row);
    return;
  }
  const double total = static_cast<double>(s.Total());
  Bytes out(kPart + 4096);
  auto lh5 = std::make_unique<Lh5Decoder>();
  {
    std::fprintf(stderr, "figure 2: %d alternating rounds\n", rounds);
    const auto t = AlternatingMedians({[&] { return DecodeLh5(s, *lh5, out); },
                                       [&] { return ReadWithLibarchive(s, out); }},
                                      rounds);
    if (t.empty()) {
      Row row;
      row.figure = lh5_figure;
      row.goal_text = "speed >= 1.5x";
      row.note = "decoded bytes differ";
      rows.push_back(row);
      return;
    }
    if (o.Wants(2)) {
      rows.push_back(ThroughputRow(lh5_figure, total, t[0], t[1], "libarchive", 1.5,
                                   "speed >= 1.5x"));
    }
  }
  if (!o.Wants(3)) return;

  // Press1 compresses each cylinder on its own: blocks of 18,432 bytes.
  constexpr size_t kCylinder = 18432;
  std::vector<Bytes> blocks;
  std::vector<std::span<const uint8_t>> plain;
  for (const Bytes& part : s.parts) {
    for (size_t at = 0; at < part.size(); at += kCylinder) {
      plain.emplace_back(part.data() + at, std::min(kCylinder, part.size() - at));
      blocks.push_back(test::Compress(plain.back()));
    }
  }
  AdaptiveHuffmanDecoder press1;
  Bytes cylinder(kCylinder + AdaptiveHuffmanDecoder::kMaxOverrun);
  auto decode_press1 = [&] {
    const double start = Now();
    bool same = true;
    for (size_t i = 0; i < blocks.size(); ++i) {
      press1.Decode(blocks[i], cylinder, plain[i].size());
      same = same && std::equal(plain[i].begin(), plain[i].end(), cylinder.begin());
    }
    const double seconds = Now() - start;
    return same ? seconds : -1;
  };
  {
    const auto t = AlternatingMedians({decode_press1, [&] { return DecodeLh5(s, *lh5, out); }},
                                      rounds);
    if (t.empty()) {
      Row row;
      row.figure = "3 adaptive Huffman (Press1) beside LH5";
      row.note = "decoded bytes differ";
      rows.push_back(row);
    } else {
      rows.push_back(ThroughputRow("3 adaptive Huffman (Press1 blocks) beside LH5", total, t[0],
                                   t[1], "LH5", 0, "-"));
    }
  }
  const std::string lh1_figure = "3 adaptive Huffman -lh1-, same data";
#ifdef DRAVIK_HAVE_LHASA
  std::fprintf(stderr, "figure 3: making -lh1- streams with jlha\n");
  const std::vector<Bytes> lh1 = Lh1Streams(s);
  if (lh1.empty()) {
    Row row;
    row.figure = lh1_figure;
    row.goal_text = "speed >= 1.0x";
    row.note = "no -lh1- streams (java, jlha-utils)";
    rows.push_back(row);
    return;
  }
  BasicAdaptiveHuffmanDecoder<60> ours;
  auto decode_lh1 = [&] {
    const double start = Now();
    for (size_t i = 0; i < lh1.size(); ++i) ours.Decode(lh1[i], out, s.parts[i].size());
    const double seconds = Now() - start;
    return std::equal(s.parts.back().begin(), s.parts.back().end(), out.begin()) ? seconds : -1;
  };
  const auto t = AlternatingMedians({decode_lh1, [&] { return DecodeWithLhasa(s, lh1, out); }},
                                    rounds);
  if (t.empty()) {
    Row row;
    row.figure = lh1_figure;
    row.goal_text = "speed >= 1.0x";
    row.note = "decoded bytes differ";
    rows.push_back(row);
    return;
  }
  rows.push_back(ThroughputRow(lh1_figure, total, t[0], t[1], "lhasa", 1.0, "speed >= 1.0x"));
#else
  Row row;
  row.figure = lh1_figure;
  row.goal_text = "speed >= 1.0x";
  row.note = "built without lhasa (liblhasa-dev)";
  rows.push_back(row);
#endif
}

}  // namespace dravik::bench
