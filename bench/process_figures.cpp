// The figures taken from outside, as a user meets the program: dravik-cli
// started as a process, against cp, against loading as many trivial shared
// objects, and against MAME's floptool on the same files.
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "disk_builder.h"
#include "dravik/plugin_api.h"
#include "figures.h"
#include "measure.h"
#include "shared_library.h"
#include "slf_image.h"

namespace dravik::bench {
namespace {

namespace fs = std::filesystem;

int Quiet(int, int, char* message) {
  if (message != nullptr) message[0] = '\0';
  return 0;
}

// The built writers, to make source files of the formats under test.
class Writers {
 public:
  explicit Writers(const std::string& program_dir) {
    for (const char* name : {"fdi_writer.dvw", "fdd_writer.dvw"}) {
      libraries_.push_back(SharedLibrary::Open(program_dir + "/" + name));
      if (!libraries_.back().loaded()) throw std::runtime_error(std::string("cannot load ") + name);
    }
  }
  void Write(const char* format, DiskImage& image, const std::string& path) const {
    const SharedLibrary& library = libraries_[std::strcmp(format, "FDI") == 0 ? 0 : 1];
    const auto write = reinterpret_cast<WriteDiskFn>(library.Symbol("WriteDisk"));
    char message[kMessageSize] = {};
    if (write == nullptr || write(&image, path.c_str(), 0, &Quiet, message) != kResultOk) {
      throw std::runtime_error("cannot write " + path);
    }
  }

 private:
  std::vector<SharedLibrary> libraries_;
};

// A disk of the shape whose every sector holds random bytes, so that no
// writer can keep a sector as a fill byte.
std::unique_ptr<DiskImage> RandomDisk(const char* shape, uint32_t seed) {
  auto image = std::make_unique<DiskImage>();
  test::BuildDisk(*image, test::ShapeNamed(shape), seed);
  const size_t bytes = test::RawBytes(*image).size();
  std::mt19937 random(seed);
  for (size_t i = 0; i + 4 <= bytes; i += 4) {
    const uint32_t word = random();
    std::memcpy(image->data + i, &word, 4);
  }
  return image;
}

std::string Cli(const Options& o) { return o.program_dir + "/dravik-cli"; }

// Times one process run; -1 when it failed.
double Timed(const std::vector<std::string>& argv) {
  const ProcessRun run = RunProcess(argv);
  return run.ok ? run.seconds : -1;
}

// The one file a conversion left in folder, or "".
std::string OnlyFileIn(const std::string& folder) {
  std::string found;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    found = entry.path().string();
    ++count;
  }
  return count == 1 ? found : "";
}

Row TimeRow(const std::string& figure, double dravik, double baseline, const std::string& base_name,
            double goal, Row::Goal sense, const std::string& goal_text) {
  Row row;
  row.figure = figure;
  row.dravik = Milliseconds(dravik);
  row.baseline = base_name + " " + Milliseconds(baseline);
  row.ratio = sense == Row::Goal::kAtLeast ? baseline / dravik : dravik / baseline;
  row.sense = sense;
  row.goal = goal;
  row.goal_text = goal_text;
  row.measured = true;
  return row;
}

Row Missing(const std::string& figure, const std::string& goal_text, const std::string& why) {
  Row row;
  row.figure = figure;
  row.goal_text = goal_text;
  row.note = why;
  return row;
}

}  // namespace

void BatchFigures(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(1)) return;
  const std::string name = std::to_string(o.batch_files) + " x 1.25M FDI->FDD";
  std::fprintf(stderr, "figure 1: making %d FDI files\n", o.batch_files);
  TempFolder dir("batch");
  const Writers writers(o.program_dir);
  const std::string in = dir / "in";
  fs::create_directory(in);
  std::vector<std::string> sources;
  for (int i = 0; i < o.batch_files; ++i) {
    char file[32];
    std::snprintf(file, sizeof(file), "/disk%03d.fdi", i);
    auto image = RandomDisk("1.25M", static_cast<uint32_t>(1000 + i));
    writers.Write("FDI", *image, in + file);
    sources.push_back(in + file);
  }
  const std::string out = dir / "out";
  auto cli = [&](int jobs) {
    std::vector<std::string> argv = {Cli(o), "-q", "-t", "FDD", "-o", out, "-j", std::to_string(jobs)};
    argv.insert(argv.end(), sources.begin(), sources.end());
    return argv;
  };
  std::vector<std::string> cp = {"/bin/cp"};
  cp.insert(cp.end(), sources.begin(), sources.end());
  cp.push_back(out);
  // The floor: the same files read and written whole by 1 and 2 threads,
  // with no format and no care for the outputs; no conversion costs less.
  auto floor = [&](int threads) {
    std::vector<std::string> argv = {o.bench_dir + "/copy_floor", std::to_string(threads), out};
    argv.insert(argv.end(), sources.begin(), sources.end());
    return argv;
  };
  const auto cli1 = cli(1), cli2 = cli(2), floor1 = floor(1), floor2 = floor(2);
  // Each run writes into an empty folder, made outside the timing.
  auto fresh = [&](const std::vector<std::string>& argv) {
    return [&, argv] { return ResetFolder(out) ? Timed(argv) : -1.0; };
  };
  std::fprintf(stderr, "figure 1: %d alternating rounds\n", o.rounds);
  const auto t = AlternatingMedians(
      {fresh(cli1), fresh(cp), fresh(cli2), fresh(floor1), fresh(floor2)}, o.rounds);
  size_t converted = 0;
  for (const auto& entry : fs::directory_iterator(out)) converted += entry.is_regular_file();
  if (t.empty() || converted != sources.size()) {
    rows.push_back(Missing("1 batch " + name + " -j 1", "time <= 1.2x cp", "a run failed"));
    rows.push_back(Missing("1 batch " + name + " -j 2", "time <= 0.8x cp", "a run failed"));
    return;
  }
  rows.push_back(TimeRow("1 batch " + name + " -j 1", t[0], t[1], "cp", 1.2, Row::Goal::kAtMost,
                         "time <= 1.2x cp"));
  rows.push_back(TimeRow("1 batch " + name + " -j 2", t[2], t[1], "cp", 0.8, Row::Goal::kAtMost,
                         "time <= 0.8x cp"));
  rows.push_back(TimeRow("1 floor: read + write whole, 1 thread", t[3], t[1], "cp", 0,
                         Row::Goal::kNone, "-"));
  rows.push_back(TimeRow("1 floor: read + write whole, 2 threads", t[4], t[1], "cp", 0,
                         Row::Goal::kNone, "-"));
}

void StartupFigure(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(4)) return;
  const char* figure = "4 start-up: --list";
  std::vector<std::string> plugins;
  for (const auto& entry : fs::directory_iterator(o.program_dir)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".dvr" || ext == ".dvw") plugins.push_back(entry.path().string());
  }
  // As many distinct trivial objects as there are plug-ins: the loader
  // hands out one handle per file.
  TempFolder dir("startup");
  std::vector<std::string> loop = {o.bench_dir + "/dlopen_loop"};
  for (size_t i = 0; i < plugins.size(); ++i) {
    const std::string copy = dir / ("trivial" + std::to_string(i) + ".so");
    std::error_code error;
    fs::copy_file(o.bench_dir + "/trivial.so", copy, error);
    if (error) {
      rows.push_back(Missing(figure, "time <= 2x", "no trivial.so next to the benchmark"));
      return;
    }
    loop.push_back(copy);
  }
  const std::vector<std::string> list = {Cli(o), "--list"};
  std::fprintf(stderr, "figure 4: %zu plug-ins\n", plugins.size());
  const auto t = AlternatingMedians({[&] { return Timed(list); }, [&] { return Timed(loop); }},
                                    o.rounds * 4);
  if (t.empty()) {
    rows.push_back(Missing(figure, "time <= 2x", "a run failed"));
    return;
  }
  rows.push_back(TimeRow(std::string(figure) + " (" + std::to_string(plugins.size()) + " plug-ins)",
                         t[0], t[1], "dlopen x" + std::to_string(plugins.size()), 2.0,
                         Row::Goal::kAtMost, "time <= 2x"));
}

namespace {

// Peak resident size of one conversion into a fresh folder, in bytes, taken
// by the peak_rss helper (see there why not here); the median of a few runs
// (the figure hardly varies, but a first run may fault in more of the page
// cache).
std::string g_peak_rss;

double PeakResident(const std::vector<std::string>& command, const std::string& out, int runs) {
  std::vector<std::string> argv = {g_peak_rss};
  argv.insert(argv.end(), command.begin(), command.end());
  const std::string report = out + ".peak";
  std::vector<double> peaks;
  for (int i = 0; i < runs; ++i) {
    if (!ResetFolder(out)) return -1;
    const ProcessRun run = RunProcess(argv, report);
    const std::vector<uint8_t> text = ReadFile(report);
    const double kib = std::atof(std::string(text.begin(), text.end()).c_str());
    if (!run.ok || kib <= 0) return -1;
    peaks.push_back(kib * 1024);
  }
  return Median(peaks);
}

Row MemoryRow(const std::string& figure, double peak) {
  Row row;
  row.figure = figure;
  row.dravik = Megabytes(peak);
  row.baseline = "-";
  row.ratio = peak / 1e6;
  row.ratio_text = Megabytes(peak);
  row.sense = Row::Goal::kAtMost;
  row.goal = 16;
  row.goal_text = "peak < 16 MB";
  row.measured = true;
  return row;
}

// An HDI of the given cylinder count: the header, then the cylinders as a
// hole, so that even a 2 GB disk costs no space.
bool SparseHdi(const std::string& path, uint32_t cylinders) {
  constexpr uint32_t kCylinderBytes = 256 * 33 * 8;
  std::vector<uint8_t> header(4096, 0);
  auto put = [&](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(8, 4096);
  put(12, cylinders * kCylinderBytes);
  put(16, 256);
  put(20, 33);
  put(24, 8);
  put(28, cylinders);
  if (!WriteFile(path, header)) return false;
  return truncate(path.c_str(), 4096 + static_cast<off_t>(cylinders) * kCylinderBytes) == 0;
}

}  // namespace

void MemoryFigures(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(5)) return;
  std::fprintf(stderr, "figure 5: peak resident sizes\n");
  g_peak_rss = o.bench_dir + "/peak_rss";
  TempFolder dir("memory");
  const Writers writers(o.program_dir);
  const std::string out = dir / "out";
  const int runs = 3;
  {
    auto image = RandomDisk("1.44M", 7);
    writers.Write("FDI", *image, dir / "disk.fdi");
    const double peak = PeakResident({Cli(o), "-q", "-t", "FDD", "-o", out, dir / "disk.fdi"}, out, runs);
    rows.push_back(peak < 0 ? Missing("5 memory: 1.44M FDI->FDD", "peak < 16 MB", "run failed")
                            : MemoryRow("5 memory: 1.44M FDI->FDD", peak));
  }
  try {
    auto image = std::make_unique<DiskImage>();
    test::BuildDisk(*image, test::ShapeNamed("1.25M"), 5);
    test::FillWithMixedContent(*image, 5);
    const auto record = test::SlfRecordOf(*image, test::SlfStorage::kPacked);
    if (!WriteFile(dir / "two.slf", test::SlfFile({record, record}))) throw std::runtime_error("");
    const double peak = PeakResident({Cli(o), "-q", "-t", "FDD", "-o", out, dir / "two.slf"}, out, runs);
    rows.push_back(peak < 0 ? Missing("5 memory: 2-disk SLF->FDD", "peak < 16 MB", "run failed")
                            : MemoryRow("5 memory: 2-disk SLF->FDD", peak));
  } catch (const std::exception& e) {
    rows.push_back(Missing("5 memory: 2-disk SLF->FDD", "peak < 16 MB",
                           std::string("no SLF source: ") + e.what()));
  }
  const char* hdi_figure = "5 memory: HDI->THD 2 GB vs 20 MB";
  if (!fs::exists(o.program_dir + "/hdi_thd_converter.dvr")) {
    rows.push_back(Missing(hdi_figure, "same within 1 MB", "no HDI/THD converter built"));
    return;
  }
  // 310 cylinders are 20.9 MB; 31,775 are just under 2 GiB, as much as an
  // HDI's 32-bit data size field allows with room to spare.
  if (!SparseHdi(dir / "small.hdi", 310) || !SparseHdi(dir / "large.hdi", 31775)) {
    rows.push_back(Missing(hdi_figure, "same within 1 MB", "cannot make the HDI files"));
    return;
  }
  const double small = PeakResident({Cli(o), "-q", "-t", "FDD", "-o", out, dir / "small.hdi"}, out, runs);
  const double large = PeakResident({Cli(o), "-q", "-t", "FDD", "-o", out, dir / "large.hdi"}, out, 1);
  ResetFolder(out);
  if (small < 0 || large < 0) {
    rows.push_back(Missing(hdi_figure, "same within 1 MB", "run failed"));
    return;
  }
  Row row;
  row.figure = hdi_figure;
  row.dravik = Megabytes(large);
  row.baseline = "20 MB: " + Megabytes(small);
  row.ratio = (large - small) / 1e6;
  row.ratio_text = Format("%+.2f MB", row.ratio);
  row.sense = Row::Goal::kAtMost;
  row.goal = 1;
  row.goal_text = "difference <= 1 MB";
  row.measured = true;
  rows.push_back(row);
  rows.push_back(MemoryRow("5 memory: HDI->THD 2 GB", large));
}

void PeerFigures(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(6)) return;
  const std::string floptool = "/usr/bin/floptool";
  struct Peer {
    const char* figure;
    const char* format;    // ours, as written
    const char* floptool;  // floptool's name of it
  };
  const Peer peers[] = {{"6 peer: 1.25M FDI->raw", "FDI", "pc98_fdi"},
                        {"6 peer: 1.25M FDD->raw", "FDD", "fdd"}};
  if (access(floptool.c_str(), X_OK) != 0) {
    for (const Peer& p : peers) rows.push_back(Missing(p.figure, "speed >= 20x", "no floptool"));
    return;
  }
  std::fprintf(stderr, "figure 6: floptool\n");
  TempFolder dir("peer");
  const Writers writers(o.program_dir);
  auto image = RandomDisk("1.25M", 6);
  for (const Peer& p : peers) {
    const std::string source = dir / (std::string("disk.") + p.format);
    writers.Write(p.format, *image, source);
    const std::string ours = dir / "ours", theirs = dir / "theirs.raw";
    const std::vector<std::string> cli = {Cli(o), "-q", "-t", "HDM", "-o", ours, source};
    const std::vector<std::string> peer = {floptool, "flopconvert", p.floptool, "pc98", source,
                                           theirs};
    const auto t = AlternatingMedians(
        {[&] { return ResetFolder(ours) ? Timed(cli) : -1.0; },
         [&] {
           fs::remove(theirs);
           return Timed(peer);
         }},
        o.rounds);
    const std::string ours_file = t.empty() ? "" : OnlyFileIn(ours);
    if (t.empty() || ours_file.empty()) {
      rows.push_back(Missing(p.figure, "speed >= 20x", "a run failed"));
      continue;
    }
    if (ReadFile(ours_file) != ReadFile(theirs)) {
      rows.push_back(Missing(p.figure, "speed >= 20x", "outputs differ"));
      continue;
    }
    rows.push_back(TimeRow(p.figure, t[0], t[1], "floptool", 20, Row::Goal::kAtLeast,
                           "speed >= 20x floptool"));
  }
}

}  // namespace dravik::bench

namespace dravik::bench {

void WindowFigure(const Options& o, std::vector<Row>& rows) {
  if (!o.Wants(7)) return;
  const int disks = 50;
  const std::string figure = "7 window: longest gap between repaints, " + std::to_string(disks) +
                             " x 1.25M FDI->FDD";
  const std::string program = o.bench_dir + "/window-bench";
  if (access(program.c_str(), X_OK) != 0) {
    rows.push_back(Missing(figure, "longest <= 100 ms", "built without the window"));
    return;
  }
  std::fprintf(stderr, "figure 7: the window\n");
  TempFolder dir("window");
  const Writers writers(o.program_dir);
  std::vector<std::string> argv = {program, o.program_dir, dir / "out"};
  for (int i = 0; i < disks; ++i) {
    const std::string source = dir / ("disk" + std::to_string(i) + ".fdi");
    writers.Write("FDI", *RandomDisk("1.25M", static_cast<uint32_t>(700 + i)), source);
    argv.push_back(source);
  }
  // The median over runs of each run's longest gap and repaint count.
  std::vector<double> longest, repaints;
  for (int run = 0; run < o.rounds; ++run) {
    if (!ResetFolder(dir / "out")) break;
    const ProcessRun result = RunProcess(argv, dir / "gaps.txt");
    const std::vector<uint8_t> text = ReadFile(dir / "gaps.txt");
    double most = 0, middle = 0;
    size_t count = 0;
    if (!result.ok || std::sscanf(std::string(text.begin(), text.end()).c_str(), "%lf %lf %zu",
                                  &most, &middle, &count) != 3) {
      rows.push_back(Missing(figure, "longest <= 100 ms", "the window run failed"));
      return;
    }
    longest.push_back(most);
    repaints.push_back(static_cast<double>(count));
  }
  Row row;
  row.figure = figure;
  row.dravik = Format("%.1f ms", Median(longest));
  row.baseline = Format("(%.0f repaints)", Median(repaints));
  row.ratio = Median(longest);
  row.ratio_text = row.dravik;
  row.sense = Row::Goal::kAtMost;
  row.goal = 100;
  row.goal_text = "longest <= 100 ms";
  row.measured = true;
  rows.push_back(row);
}

}  // namespace dravik::bench
