// The figures `make bench` reports: each is one row of the closing table,
// Dravik's figure beside its baseline's, measured in the same run.
#pragma once

#include <string>
#include <vector>

namespace dravik::bench {

struct Row {
  std::string figure;
  std::string dravik;    // with its unit
  std::string baseline;  // with its unit, or "-"
  // The ratio the goal is stated in, and which way it must lie. A figure
  // whose goal is a bound rather than a ratio (memory) puts the measured
  // quantity here, and ratio_text says what it is.
  double ratio = 0;
  std::string ratio_text;
  enum class Goal { kAtMost, kAtLeast, kNone } sense = Goal::kNone;
  double goal = 0;
  std::string goal_text;  // e.g. "time <= 1.2x"
  bool measured = false;
  std::string note;  // why not measured
  bool Met() const {
    return measured && (sense == Goal::kNone || (sense == Goal::kAtMost ? ratio <= goal : ratio >= goal));
  }
};

struct Options {
  std::string program_dir;  // dravik-cli and the plug-ins
  std::string bench_dir;    // this program's folder (the baseline helpers)
  int rounds = 5;           // alternating rounds of each process figure
  int batch_files = 200;
  std::vector<int> only;    // figures to run; empty: all
  bool Wants(int figure) const;
};

void BatchFigures(const Options& options, std::vector<Row>& rows);     // 1
void DecoderFigures(const Options& options, std::vector<Row>& rows);   // 2, 3
void StartupFigure(const Options& options, std::vector<Row>& rows);    // 4
void MemoryFigures(const Options& options, std::vector<Row>& rows);    // 5
void PeerFigures(const Options& options, std::vector<Row>& rows);      // 6
void WindowFigure(const Options& options, std::vector<Row>& rows);     // 7

// Formatting shared by the figures.
std::string Milliseconds(double seconds);
std::string Megabytes(double bytes);
std::string Format(const char* format, double value);

}  // namespace dravik::bench
