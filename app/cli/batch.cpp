#include "batch.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "archive_expander.h"
#include "folder_walk.h"
#include "json_line.h"
#include "paths.h"
#include "text.h"

namespace dravik {

std::atomic<bool> g_interrupted{false};

std::string ToTerminalText(std::string_view log) {
  // Texts from a disk or a file name may hold escape sequences and other
  // controls; shown raw they would drive the terminal. A lone CR would let
  // one text overwrite another.
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string out;
  out.reserve(log.size());
  for (size_t i = 0; i < log.size(); ++i) {
    const auto c = static_cast<unsigned char>(log[i]);
    if (c == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      out += kReplacement;
    } else if (c == 0xC2 && i + 1 < log.size() &&
               static_cast<unsigned char>(log[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(log[i + 1]) <= 0x9F) {
      out += kReplacement;  // a C1 control (U+0080 to U+009F) in UTF-8
      ++i;
    } else {
      out += log[i];
    }
  }
  return out;
}

namespace {

// One status line on stderr, shared by the workers.
class ProgressLine {
 public:
  ProgressLine(bool enabled, size_t total)
      : enabled_(enabled), total_(total), shown_(enabled ? total : 0, -1) {}

  // The disk at hand of the file at index, and the files done of all.
  void Update(const std::string& name, size_t index, int percent) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    // Plug-ins report after every track, but a file's figure changes at most
    // 101 times; workers taking turns must not redraw unchanged figures.
    if (index >= shown_.size() ||
        (shown_[index] == percent && !blank_ && drawn_done_ == done_)) {
      return;
    }
    shown_[index] = percent;
    blank_ = false;
    drawn_done_ = done_;
    const int filled = percent / 5;
    std::fprintf(stderr, "\r\033[K[%.*s%*s] %3d%%  %zu/%zu done  %s",
                 filled, "####################", 20 - filled, "", percent,
                 done_, total_, name.c_str());
    std::fflush(stderr);
  }
  void FileDone() {
    std::lock_guard lock(mutex_);
    ++done_;
  }
  // Called with the output lock held, before a log block is printed.
  void Clear() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    blank_ = true;
  }

 private:
  bool enabled_;
  size_t total_;
  std::mutex mutex_;
  std::vector<int> shown_;  // per file, the last figure drawn
  bool blank_ = true;
  size_t done_ = 0;
  size_t drawn_done_ = 0;
};

// Outputs of one name are written in the order the files were given, as
// with one worker: before a source's first output its worker waits for
// every earlier file still at work whose outputs may share a name with it,
// or that has not yet said what it will write (an archive not yet opened).
class OutputOrder {
 public:
  explicit OutputOrder(size_t files) : files_(files) {}

  void Expect(size_t index, const std::vector<std::string>& stems) {
    std::lock_guard lock(mutex_);
    for (const std::string& stem : stems) files_[index].stems.push_back(Key(stem));
    files_[index].known = true;
    changed_.notify_all();
  }

  // false when the run is interrupted while waiting.
  bool Await(size_t index, const std::string& stem) {
    std::unique_lock lock(mutex_);
    const std::string key = Key(stem);
    files_[index].stems.push_back(key);
    files_[index].known = true;
    changed_.notify_all();
    while (!g_interrupted) {
      bool clear = true;
      for (size_t j = 0; j < index && clear; ++j) {
        const File& earlier = files_[j];
        if (earlier.finished) continue;
        clear = earlier.known;
        for (const std::string& other : earlier.stems) clear = clear && !MayShareAName(key, other);
      }
      if (clear) return true;
      // Ctrl-C cannot notify; look again now and then.
      changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    return false;
  }

  void Finish(size_t index) {
    std::lock_guard lock(mutex_);
    files_[index].finished = true;
    changed_.notify_all();
  }

 private:
  struct File {
    bool known = false;  // stems holds every name its outputs begin with
    bool finished = false;
    std::vector<std::string> stems;
  };

  // The folder as the file system resolves it (an output folder may be
  // named in several ways), and the name in capitals: a file system that
  // ignores case makes "x" and "X" one name, and waiting costs only time.
  // A folder is resolved once per run (most files of a run share one);
  // one that does not exist yet is tried again the next time. Called with
  // mutex_ held.
  std::string Key(const std::string& stem) {
    const std::string folder(FolderOf(stem));
    auto found = resolved_.find(folder);
    if (found == resolved_.end()) {
      char resolved[PATH_MAX];
      if (realpath(folder.empty() ? "." : folder.c_str(), resolved) == nullptr) {
        return folder + ToUpperAscii(FileNameOf(stem));
      }
      found = resolved_.emplace(folder, std::string(resolved) + "/").first;
    }
    return found->second + ToUpperAscii(FileNameOf(stem));
  }

  // A source's outputs are its stem plus an extension, a disk number
  // ("_01"), or a clash suffix ("~2"); a reader that keeps the source's
  // extension adds "_EXT" to it.
  static bool MayShareAName(const std::string& a, const std::string& b) {
    const std::string& shorter = a.size() <= b.size() ? a : b;
    const std::string& longer = a.size() <= b.size() ? b : a;
    if (!longer.starts_with(shorter)) return false;
    return longer.size() == shorter.size() || longer[shorter.size()] == '_' ||
           longer[shorter.size()] == '~';
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<File> files_;
  std::unordered_map<std::string, std::string> resolved_;  // folder -> resolved, with "/"
};

class CliHost : public Host {
 public:
  CliHost(ProgressLine& progress, OutputOrder& order) : progress_(progress), order_(order) {}

  void Begin(const std::string& path, size_t index) {
    log_.clear();
    name_ = ToTerminalText(SanitizeUtf8(FileNameOf(path)));
    index_ = index;
  }
  std::string TakeLog() { return std::move(log_); }

  void AppendLog(std::string_view text) override { log_.append(text); }
  void SetProgress(int percent) override { progress_.Update(name_, index_, percent); }
  bool AbortRequested() override { return g_interrupted.load(); }
  void ExpectOutputs(const std::vector<std::string>& stems) override {
    order_.Expect(index_, stems);
  }
  bool AwaitOutputTurn(const std::string& stem) override { return order_.Await(index_, stem); }

 private:
  ProgressLine& progress_;
  OutputOrder& order_;
  std::string log_;
  std::string name_;
  size_t index_ = 0;
};

struct FileResult {
  bool done = false;
  bool failed = false;
  std::string log;
  std::vector<SourceReport> reports;
};

// Output folders made for the files of a walk; those that stay empty (a
// folder of no images) are removed at the end.
class MadeFolders {
 public:
  // The folder for the file, made with its parents as needed.
  bool Make(const std::string& base, const std::string& relative, std::string& reason) {
    std::vector<std::string> made;
    const bool ok = MakeSubFolders(base, relative, made, reason);
    std::lock_guard lock(mutex_);
    folders_.insert(folders_.end(), made.begin(), made.end());
    return ok;
  }
  ~MadeFolders() {
    // Deepest first, so that a parent is empty when its turn comes; a folder
    // that holds anything stays (rmdir refuses it).
    std::sort(folders_.begin(), folders_.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders_) rmdir(folder.c_str());
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> folders_;
};

}  // namespace

void MergeReport(SourceReport& into, const SourceReport& from) {
  if (into.reader.empty()) into.reader = from.reader;
  if (into.description.empty()) into.description = from.description;
  into.disks = std::max(into.disks, from.disks);
  for (const std::string& output : from.outputs) {
    // A direct conversion names its output after the source, whatever the
    // output chosen: every pass writes the same file.
    if (std::find(into.outputs.begin(), into.outputs.end(), output) == into.outputs.end()) {
      into.outputs.push_back(output);
    }
  }
  into.messages.insert(into.messages.end(), from.messages.begin(), from.messages.end());
  auto rank = [](SourceResult r) {
    switch (r) {
      case SourceResult::kFailed:
        return 3;
      case SourceResult::kConverted:
        return 2;
      case SourceResult::kSkipped:
        return 1;
      case SourceResult::kUnsupported:
        return 0;
    }
    return 3;
  };
  if (rank(from.result) > rank(into.result)) into.result = from.result;
}

int RunBatch(const PluginRegistry& registry, const std::vector<BatchFile>& files,
             const BatchOptions& options) {
  ProgressLine progress(options.progress_bar, files.size());
  OutputOrder order(files.size());
  MadeFolders made_folders;
  std::vector<FileResult> results(files.size());
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  int running = 0;
  const std::vector<int> outputs =
      options.outputs.empty() ? std::vector<int>{options.settings.selected_output} : options.outputs;
  FILE* const log_stream = options.json ? stderr : stdout;

  auto worker = [&] {
    CliHost host(progress, order);
    // Each worker unpacks into a private folder of its own, so that runs and
    // workers never empty each other's folder; the expander removes it when
    // the worker ends, however the run ends.
    ArchiveExpander expander;
    expander.PrepareArchivers("", host, ArchiverLoading::kOnFirstArchive);
    if (expander.temp_folder().empty()) {
      std::fprintf(stderr, "%s\n", ToTerminalText(host.TakeLog()).c_str() + 1);
    }
    ConversionDriver driver(host, registry, expander);
    for (;;) {
      if (g_interrupted || (stop && !options.keep_going)) break;
      const size_t i = next++;
      if (i >= files.size()) break;
      const BatchFile& file = files[i];
      host.Begin(file.path, i);
      ConversionSettings settings = options.settings;
      std::vector<SourceReport> reports;
      bool failed = false;
      std::string reason;
      if (settings.use_output_folder && !file.relative.empty()) {
        settings.output_folder = JoinFolder(settings.output_folder, file.relative);
        if (!options.describe_only && !settings.dry_run &&
            !made_folders.Make(options.settings.output_folder, file.relative, reason)) {
          // As the driver reports a file it cannot convert.
          SourceReport report;
          report.path = file.path;
          report.messages.push_back("\r\n出力先フォルダを作成できません: " +
                                    SanitizeUtf8(settings.output_folder) + " (" + reason + ")");
          host.AppendLog("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(file.path)) +
                         "   ----------" + report.messages.back());
          reports.push_back(std::move(report));
          host.ExpectOutputs({});
          failed = true;
        }
      }
      // Each output reads the source anew, as a drop does; the reports of
      // its passes are one source's.
      for (size_t pass = 0; !failed && pass < (options.describe_only ? 1 : outputs.size());
           ++pass) {
        settings.selected_output = outputs[pass];
        driver.set_settings(settings);
        driver.ResetTally();
        const Flow flow = options.describe_only ? driver.DescribeDroppedFile(file.path)
                                                : driver.ConvertDroppedFile(file.path);
        failed = flow == Flow::kStop || driver.tally().failed > 0;
        for (size_t r = 0; r < driver.reports().size(); ++r) {
          if (pass == 0) {
            reports.push_back(driver.reports()[r]);
          } else if (r < reports.size()) {
            MergeReport(reports[r], driver.reports()[r]);
          }
        }
        if (g_interrupted) break;
      }
      order.Finish(i);
      progress.FileDone();
      std::lock_guard lock(mutex);
      results[i].done = true;
      results[i].failed = failed;
      results[i].log = host.TakeLog();
      results[i].reports = std::move(reports);
      if (failed) stop = true;
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
  ConversionTally total;
  for (size_t printed = 0; printed < files.size(); ++printed) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return results[printed].done || running == 0; });
    if (!results[printed].done) break;
    FileResult& result = results[printed];
    if (!options.quiet || result.failed) {
      progress.Clear();
      std::fputs(ToTerminalText(result.log).c_str(), log_stream);
      std::fflush(log_stream);
      printed_any = true;
    }
    for (const SourceReport& report : result.reports) {
      if (options.json) std::fputs(JsonLine(report).c_str(), stdout);
      switch (report.result) {
        case SourceResult::kConverted:
          ++total.converted;
          break;
        case SourceResult::kFailed:
          ++total.failed;
          break;
        case SourceResult::kUnsupported:
          ++total.unsupported;
          break;
        case SourceResult::kSkipped:
          ++total.skipped;
          break;
      }
    }
    std::fflush(stdout);
    result.log.clear();
    result.reports.clear();
  }
  for (std::thread& t : threads) t.join();
  progress.Clear();
  if (printed_any) std::fputs("\n", log_stream);
  if (options.summary) {
    std::fprintf(log_stream, "%d converted, %d failed, %d unsupported, %d skipped%s\n",
                 total.converted, total.failed, total.unsupported, total.skipped,
                 options.settings.dry_run ? " (dry run: nothing written)" : "");
  }
  std::fflush(log_stream);
  std::fflush(stdout);

  if (total.failed > 0) return 1;
  if (total.unsupported > 0) return 3;
  return 0;
}

}  // namespace dravik
