// dravik-bench: every speed and memory figure of the program, each against a
// baseline measured in the same run, ending in one table. Progress goes to
// stderr, the table to stdout.
//
//   dravik-bench [--rounds N] [--files N] [--figures 1,2,...] [--micro [benchmark options]]
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "figures.h"
#include "measure.h"

namespace dravik::bench {

int RunMicroBenchmarks(int argc, char** argv);

bool Options::Wants(int figure) const {
  if (only.empty()) return true;
  for (int f : only) {
    if (f == figure) return true;
  }
  return false;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

std::string Milliseconds(double seconds) {
  return Format(seconds < 1 ? "%.1f ms" : "%.0f ms", seconds * 1000);
}

std::string Megabytes(double bytes) { return Format("%.1f MB", bytes / 1e6); }

namespace {

std::string FolderOfExecutable() {
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  std::string self(path, n > 0 ? static_cast<size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

// Column widths follow the longest cell, so the table lines up as text.
void PrintTable(const std::vector<Row>& rows) {
  const char* headers[6] = {"figure", "Dravik", "baseline", "ratio", "goal", "met"};
  std::vector<std::vector<std::string>> cells;
  for (const Row& r : rows) {
    std::string ratio = "-";
    if (r.measured) ratio = r.ratio_text.empty() ? Format("%.2fx", r.ratio) : r.ratio_text;
    const std::string met = !r.measured ? "not measured: " + r.note
                            : r.sense == Row::Goal::kNone ? "-"
                            : r.Met()                     ? "yes"
                                                          : "NO";
    cells.push_back({r.figure, r.measured ? r.dravik : "-", r.measured ? r.baseline : "-", ratio,
                     r.goal_text.empty() ? "-" : r.goal_text, met});
  }
  size_t width[6];
  for (int c = 0; c < 6; ++c) {
    width[c] = std::strlen(headers[c]);
    for (const auto& line : cells) width[c] = std::max(width[c], line[c].size());
  }
  auto print = [&](const std::vector<std::string>& line) {
    std::printf("|");
    for (int c = 0; c < 6; ++c) std::printf(" %-*s |", static_cast<int>(width[c]), line[c].c_str());
    std::printf("\n");
  };
  print({headers, headers + 6});
  std::printf("|");
  for (int c = 0; c < 6; ++c) std::printf("%s|", std::string(width[c] + 2, '-').c_str());
  std::printf("\n");
  for (const auto& line : cells) print(line);
}

bool ParseFigures(const char* text, std::vector<int>& figures) {
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    const long f = std::strtol(p, &end, 10);
    if (end == p || f < 1 || f > 7) return false;
    figures.push_back(static_cast<int>(f));
    p = *end == ',' ? end + 1 : end;
    if (*end != ',' && *end != '\0') return false;
  }
  return true;
}

}  // namespace

int Main(int argc, char** argv) {
  Options options;
  options.bench_dir = FolderOfExecutable();
  options.program_dir = DRAVIK_PROGRAM_DIR;
  bool micro = false;
  std::vector<char*> micro_args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (micro) {
      micro_args.push_back(argv[i]);
    } else if (arg == "--micro") {
      micro = true;
    } else if (arg == "--rounds" && i + 1 < argc) {
      options.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--files" && i + 1 < argc) {
      options.batch_files = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--figures" && i + 1 < argc && ParseFigures(argv[++i], options.only)) {
    } else {
      std::fprintf(stderr,
                   "usage: dravik-bench [--rounds N] [--files N] [--figures 1,2,...] "
                   "[--micro [Google Benchmark options]]\n");
      return 2;
    }
  }
  if (micro) {
    int micro_argc = static_cast<int>(micro_args.size());
    const int status = RunMicroBenchmarks(micro_argc, micro_args.data());
    if (status != 0) return status;
  }

  const std::string load_before = LoadAverage();
  std::vector<Row> rows;
  try {
    BatchFigures(options, rows);
    DecoderFigures(options, rows);
    StartupFigure(options, rows);
    MemoryFigures(options, rows);
    PeerFigures(options, rows);
    WindowFigure(options, rows);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dravik-bench: %s\n", e.what());
    return 1;
  }
  std::printf("\n");
  PrintTable(rows);
  std::printf("\nmachine: %s; load average %s before, %s after; %d alternating rounds, medians\n",
              MachineLine().c_str(), load_before.c_str(), LoadAverage().c_str(), options.rounds);
  return 0;
}

}  // namespace dravik::bench

int main(int argc, char** argv) { return dravik::bench::Main(argc, argv); }
