#include "batch.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "archive_expander.h"
#include "paths.h"
#include "text.h"

namespace dravik {

std::atomic<bool> g_interrupted{false};

std::string ToTerminalText(std::string_view log) {
  std::string out;
  out.reserve(log.size());
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
    out += log[i];
  }
  return out;
}

namespace {

// One status line on stderr, shared by the workers.
class ProgressLine {
 public:
  ProgressLine(bool enabled, size_t total) : enabled_(enabled), total_(total) {}

  void Update(const std::string& name, size_t index, int percent) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    const int filled = percent / 5;
    std::fprintf(stderr, "\r\033[K[%.*s%*s] %3d%%  (%zu/%zu) %s",
                 filled, "####################", 20 - filled, "", percent,
                 index + 1, total_, name.c_str());
    std::fflush(stderr);
  }
  // Called with the output lock held, before a log block is printed.
  void Clear() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  size_t total_;
  std::mutex mutex_;
};

class CliHost : public Host {
 public:
  explicit CliHost(ProgressLine& progress) : progress_(progress) {}

  void Begin(const std::string& path, size_t index) {
    log_.clear();
    name_ = SanitizeUtf8(FileNameOf(path));
    index_ = index;
  }
  std::string TakeLog() { return std::move(log_); }

  void AppendLog(std::string_view text) override { log_.append(text); }
  void SetProgress(int percent) override { progress_.Update(name_, index_, percent); }
  bool AbortRequested() override { return g_interrupted.load(); }

 private:
  ProgressLine& progress_;
  std::string log_;
  std::string name_;
  size_t index_ = 0;
};

struct FileResult {
  bool done = false;
  bool failed = false;
  std::string log;
};

}  // namespace

int RunBatch(const PluginRegistry& registry, const std::vector<std::string>& files,
             const BatchOptions& options) {
  ProgressLine progress(options.progress_bar, files.size());
  std::vector<FileResult> results(files.size());
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  ConversionTally total;
  int running = 0;

  auto worker = [&] {
    CliHost host(progress);
    // Each worker unpacks into a private folder of its own, so that runs and
    // workers never empty each other's folder; the expander removes it when
    // the worker ends, however the run ends.
    ArchiveExpander expander;
    expander.PrepareArchivers("", host);
    if (expander.temp_folder().empty()) {
      std::fprintf(stderr, "%s\n", ToTerminalText(host.TakeLog()).c_str() + 1);
    }
    ConversionDriver driver(host, registry, expander);
    driver.set_settings(options.settings);
    for (;;) {
      if (g_interrupted || (stop && !options.keep_going)) break;
      const size_t i = next++;
      if (i >= files.size()) break;
      host.Begin(files[i], i);
      driver.ResetTally();
      const Flow flow = options.describe_only ? driver.DescribeDroppedFile(files[i])
                                              : driver.ConvertDroppedFile(files[i]);
      const ConversionTally& tally = driver.tally();
      std::lock_guard lock(mutex);
      results[i].done = true;
      results[i].failed = flow == Flow::kStop || tally.failed > 0;
      results[i].log = host.TakeLog();
      total.converted += tally.converted;
      total.skipped += tally.skipped;
      total.unsupported += tally.unsupported;
      total.failed += tally.failed;
      if (results[i].failed) stop = true;
      changed.notify_all();
    }
    std::lock_guard lock(mutex);
    --running;
    changed.notify_all();
  };

  const int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(files.size())));
  std::vector<std::thread> threads;
  running = jobs;
  for (int j = 0; j < jobs; ++j) threads.emplace_back(worker);

  // Files start in the order given, so the first file not done once every
  // worker has finished was never started, and neither was any after it.
  bool printed_any = false;
  for (size_t printed = 0; printed < files.size(); ++printed) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return results[printed].done || running == 0; });
    if (!results[printed].done) break;
    FileResult& result = results[printed];
    if (!options.quiet || result.failed) {
      progress.Clear();
      std::fputs(ToTerminalText(result.log).c_str(), stdout);
      std::fflush(stdout);
      printed_any = true;
    }
    result.log.clear();
  }
  for (std::thread& t : threads) t.join();
  progress.Clear();
  if (printed_any) std::fputs("\n", stdout);
  std::fflush(stdout);

  if (total.failed > 0) return 1;
  if (total.unsupported > 0) return 3;
  return 0;
}

}  // namespace dravik
