// Timing helpers of the benchmark harness. The machine it runs on is often
// shared, so a figure is never one stopwatch reading: the program under test
// and its baseline run in turn, round after round, and each side's median is
// taken, so that a burst of load hits both alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dravik::bench {

// Runs each candidate once per round, in the order given, for `rounds`
// rounds, and returns each one's median. A candidate times itself (so that
// setting up, such as emptying its output folder, stays outside) and answers
// seconds, or a negative number when its run failed; then the whole
// measurement is empty.
std::vector<double> AlternatingMedians(const std::vector<std::function<double()>>& candidates,
                                       int rounds);

// Seconds since some fixed point, for candidates that time themselves.
double Now();

double Median(std::vector<double> values);

struct ProcessRun {
  bool ok = false;          // started and exited with status 0
  double seconds = 0;       // wall time from spawn to reaped
  // Peak resident size; the kernel counts in what this process held when it
  // spawned the child, so memory figures use the peak_rss helper.
  int64_t max_rss_kb = 0;
};

// Runs argv[0] (a path) with stdout on stdout_path (default /dev/null) and
// stderr on /dev/null.
ProcessRun RunProcess(const std::vector<std::string>& argv,
                      const std::string& stdout_path = "/dev/null");

// A private folder under TMPDIR (or /tmp), removed with all it holds.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes an empty folder at path, removing whatever was there.
bool ResetFolder(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// One line about the machine: CPU model, cores, load average.
std::string MachineLine();
std::string LoadAverage();

}  // namespace dravik::bench
