// Micro-benchmarks (dravik-bench --micro): conversions between FDD and FDI
// through the built plug-ins, as the program runs them (zero-fill, ReadDisk,
// WriteDisk), on files in memory (memfd), set against copying the same
// source bytes with one read and one write, and the decoders of
// decoder_bench.cpp. The ratios, measured in the same run, are printed at
// the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk_builder.h"
#include "slf_image.h"
#include "dravik/plugin_api.h"
#include "shared_library.h"

namespace {

using dravik::SharedLibrary;

int Quiet(int, int, char* message) {
  if (message != nullptr) message[0] = '\0';
  return 0;
}

// A file that lives in memory only, reachable by path like any file.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(memfd_create(name, 0)) {
    if (fd_ < 0) std::perror("memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  size_t size() const { return static_cast<size_t>(lseek(fd_, 0, SEEK_END)); }

 private:
  int fd_;
  std::string path_;
};

struct Plugins {
  SharedLibrary libraries[5];
  ReadDiskFn read_fdd = nullptr;
  ReadDiskFn read_slf = nullptr;
  ReadDiskFn read_fdi = nullptr;
  WriteDiskFn write_fdd = nullptr;
  WriteDiskFn write_fdi = nullptr;

  bool Load() {
    const std::string dir = DRAVIK_PROGRAM_DIR "/";
    const char* names[5] = {"fdd_reader.dvr", "fdi_reader.dvr", "fdd_writer.dvw", "fdi_writer.dvw",
                            "slf_reader.dvr"};
    for (int i = 0; i < 5; ++i) {
      libraries[i] = SharedLibrary::Open(dir + names[i]);
      if (!libraries[i].loaded()) {
        std::fprintf(stderr, "cannot load %s%s\n", dir.c_str(), names[i]);
        return false;
      }
    }
    read_fdd = reinterpret_cast<ReadDiskFn>(libraries[0].Symbol("ReadDisk"));
    read_fdi = reinterpret_cast<ReadDiskFn>(libraries[1].Symbol("ReadDisk"));
    write_fdd = reinterpret_cast<WriteDiskFn>(libraries[2].Symbol("WriteDisk"));
    write_fdi = reinterpret_cast<WriteDiskFn>(libraries[3].Symbol("WriteDisk"));
    read_slf = reinterpret_cast<ReadDiskFn>(libraries[4].Symbol("ReadDisk"));
    return read_fdd && read_fdi && write_fdd && write_fdi && read_slf;
  }
};

// One source file and where its conversion goes.
struct Case {
  std::string name;
  ReadDiskFn read = nullptr;
  WriteDiskFn write = nullptr;
  std::unique_ptr<MemoryFile> source;
  std::unique_ptr<MemoryFile> target;
};

void Convert(benchmark::State& state, const Case& c, DiskImage* image) {
  char message[kMessageSize];
  char title[kPluginTitleSize];
  for (auto _ : state) {
    std::memset(image, 0, sizeof(DiskImage));
    if (c.read(c.source->path().c_str(), image, 1, 0, &Quiet, message, title) != kResultOk ||
        c.write(image, c.target->path().c_str(), 0, &Quiet, message) != kResultOk) {
      state.SkipWithError("conversion failed");
      break;
    }
  }
}

void Copy(benchmark::State& state, const Case& c) {
  std::vector<uint8_t> buffer(c.source->size());
  for (auto _ : state) {
    const int in = open(c.source->path().c_str(), O_RDONLY);
    const ssize_t got = read(in, buffer.data(), buffer.size());
    close(in);
    const int out = open(c.target->path().c_str(), O_WRONLY | O_TRUNC);
    const ssize_t put = write(out, buffer.data(), buffer.size());
    close(out);
    if (got != static_cast<ssize_t>(buffer.size()) || put != got) {
      state.SkipWithError("copy failed");
      break;
    }
  }
}

// Prints the usual table, then each conversion's time over its copy's, and
// each decoder's throughput.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a saved run reads cleanly.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      // With --benchmark_report_aggregates_only only the means arrive.
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type != Run::RT_Iteration && !mean) continue;
      Total& t = (mean ? means_ : totals_)[run.run_name.str()];
      t.seconds += run.real_accumulated_time;
      t.iterations += static_cast<double>(run.iterations);
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) {
        Rate& r = (mean ? mean_rates_ : rates_)[run.run_name.str()];
        r.bytes_per_second += bytes->second.value;
        r.runs += 1;
      }
    }
  }
  // Decoded megabytes (10^6 bytes) per second of every "decode/" benchmark;
  // where a "baseline/" of the same name ran (another library decoding the
  // same data), its figure and the ratio of the two.
  void PrintThroughputs() const {
    const auto& rates = mean_rates_.empty() ? rates_ : mean_rates_;
    if (rates.empty()) return;
    std::printf("\n%-36s %10s %14s %8s\n", "decoder", "MB/s", "baseline MB/s", "ratio");
    for (const auto& [name, r] : rates) {
      if (name.rfind("decode/", 0) != 0) continue;
      const double mb = r.bytes_per_second / r.runs / 1e6;
      const auto base = rates.find("baseline/" + name.substr(7));
      if (base == rates.end()) {
        std::printf("%-36s %10.1f\n", name.substr(7).c_str(), mb);
        continue;
      }
      const double base_mb = base->second.bytes_per_second / base->second.runs / 1e6;
      std::printf("%-36s %10.1f %14.1f %7.2fx\n", name.substr(7).c_str(), mb, base_mb,
                  mb / base_mb);
    }
  }
  void PrintRatios(const std::vector<std::string>& cases) const {
    std::printf("\n%-20s %14s %14s %8s\n", "conversion", "convert (us)", "copy (us)", "ratio");
    for (const std::string& name : cases) {
      const double a = Seconds("convert/" + name) * 1e6;
      const double b = Seconds("copy/" + name) * 1e6;
      if (a <= 0 || b <= 0) continue;
      std::printf("%-20s %14.1f %14.1f %7.1fx\n", name.c_str(), a, b, a / b);
    }
  }

 private:
  struct Total {
    double seconds = 0;
    double iterations = 0;
  };
  // Mean seconds per iteration over all repetitions, or 0.
  double Seconds(const std::string& name) const {
    for (const auto* table : {&totals_, &means_}) {
      const auto it = table->find(name);
      if (it != table->end()) return it->second.seconds / it->second.iterations;
    }
    return 0;
  }
  std::map<std::string, Total> totals_;
  std::map<std::string, Total> means_;
  // Summed over repetitions, averaged when printed.
  struct Rate {
    double bytes_per_second = 0;
    double runs = 0;
  };
  std::map<std::string, Rate> rates_;
  std::map<std::string, Rate> mean_rates_;
};

// Half of each disk holds data, the rest is freshly formatted (0xE5), as on
// a disk in use; FDD keeps only a fill byte for those sectors.
void BuildSample(DiskImage& image, const char* shape) {
  dravik::test::BuildDisk(image, dravik::test::ShapeNamed(shape), 98);
  const size_t bytes = dravik::test::RawBytes(image).size();
  std::memset(image.data + bytes / 2, 0xE5, bytes - bytes / 2);
}

}  // namespace

namespace dravik::bench {

int RunMicroBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Plugins plugins;
  if (!plugins.Load()) return 1;
  auto image = std::make_unique<DiskImage>();
  std::vector<std::unique_ptr<Case>> cases;
  std::vector<std::string> names;
  for (const char* shape : {"1.44M", "1.25M"}) {
    BuildSample(*image, shape);
    auto fdd = std::make_unique<MemoryFile>("source.fdd");
    auto fdi = std::make_unique<MemoryFile>("source.fdi");
    char message[kMessageSize] = {};
    if (plugins.write_fdd(image.get(), fdd->path().c_str(), 0, &Quiet, message) != kResultOk ||
        plugins.write_fdi(image.get(), fdi->path().c_str(), 0, &Quiet, message) != kResultOk) {
      std::fprintf(stderr, "cannot write the %s sources\n", shape);
      return 1;
    }
    auto fdi_to_fdd = std::make_unique<Case>();
    fdi_to_fdd->name = std::string("FDI->FDD/") + shape;
    fdi_to_fdd->read = plugins.read_fdi;
    fdi_to_fdd->write = plugins.write_fdd;
    fdi_to_fdd->source = std::move(fdi);
    fdi_to_fdd->target = std::make_unique<MemoryFile>("target.fdd");
    auto fdd_to_fdi = std::make_unique<Case>();
    fdd_to_fdi->name = std::string("FDD->FDI/") + shape;
    fdd_to_fdi->read = plugins.read_fdd;
    fdd_to_fdi->write = plugins.write_fdi;
    fdd_to_fdi->source = std::move(fdd);
    fdd_to_fdi->target = std::make_unique<MemoryFile>("target.fdi");
    cases.push_back(std::move(fdi_to_fdd));
    cases.push_back(std::move(fdd_to_fdi));
  }
  // SLF to FDD: a 1.25M disk in use, its tracks packed by lha as the
  // format's own tool would (blank tracks as one byte, noise raw).
  {
    dravik::test::BuildDisk(*image, dravik::test::ShapeNamed("1.25M"), 98);
    dravik::test::FillWithMixedContent(*image, 98);
    const std::vector<uint8_t> slf = dravik::test::SlfFile(
        {dravik::test::SlfRecordOf(*image, dravik::test::SlfStorage::kPacked)});
    auto source = std::make_unique<MemoryFile>("source.slf");
    if (pwrite(source->fd(), slf.data(), slf.size(), 0) != static_cast<ssize_t>(slf.size())) {
      std::fprintf(stderr, "cannot write the SLF source\n");
      return 1;
    }
    auto slf_to_fdd = std::make_unique<Case>();
    slf_to_fdd->name = "SLF->FDD/1.25M";
    slf_to_fdd->read = plugins.read_slf;
    slf_to_fdd->write = plugins.write_fdd;
    slf_to_fdd->source = std::move(source);
    slf_to_fdd->target = std::make_unique<MemoryFile>("target.fdd");
    cases.push_back(std::move(slf_to_fdd));
  }
  for (const auto& c : cases) {
    const Case* p = c.get();
    DiskImage* record = image.get();
    names.push_back(c->name);
    benchmark::RegisterBenchmark(("convert/" + c->name).c_str(), [p, record](benchmark::State& s) {
      Convert(s, *p, record);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("copy/" + c->name).c_str(), [p](benchmark::State& s) {
      Copy(s, *p);
    })->Unit(benchmark::kMicrosecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(names);
  reporter.PrintThroughputs();
  benchmark::Shutdown();
  return 0;
}

}  // namespace dravik::bench
