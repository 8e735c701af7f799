// dravik-cli: the converter for scripts and batches. It loads the same
// plug-ins as the window and prints the same log.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "cli_options.h"
#include "folder_walk.h"
#include "paths.h"
#include "plugin_registry.h"
#include "text.h"

namespace dravik {
namespace {

constexpr char kVersionText[] = "dravik-cli (Dravik Version 2.10)\n";

// Collects the start-up log, so that only what is worth a user's attention
// (errors, skipped plug-ins) is shown.
class StartupHost : public Host {
 public:
  void AppendLog(std::string_view text) override { lines_.emplace_back(text); }
  void SetProgress(int) override {}
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToUpperAscii(a) == ToUpperAscii(b);
}

// The names an output plug-in answers to: its extension without the dot,
// and its label's text before "形式".
std::vector<std::string> OutputNames(const OutputPlugin& plugin) {
  std::vector<std::string> names;
  std::string_view ext = plugin.extension;
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  if (!ext.empty() && ext.find(' ') == std::string_view::npos) names.emplace_back(ext);
  const size_t pos = plugin.label.find("形式");
  if (pos != std::string::npos && pos > 0) {
    std::string prefix = plugin.label.substr(0, pos);
    bool known = false;
    for (const std::string& n : names) known = known || EqualsIgnoringAsciiCase(n, prefix);
    if (!known) names.push_back(prefix);
  }
  return names;
}

int FindOutput(const PluginRegistry& registry, const std::string& name) {
  for (int i = 0; i < registry.output_count(); ++i) {
    for (const std::string& n : OutputNames(registry.output(i))) {
      if (EqualsIgnoringAsciiCase(n, name)) return i;
    }
  }
  return -1;
}

std::string KnownOutputNames(const PluginRegistry& registry) {
  std::string list;
  for (int i = 0; i < registry.output_count(); ++i) {
    for (const std::string& n : OutputNames(registry.output(i))) {
      list += list.empty() ? "" : ", ";
      list += n;
    }
  }
  return list.empty() ? "(none: no output plug-in loaded)" : list;
}

std::string Shown(const std::string& text) { return ToTerminalText(SanitizeUtf8(text)); }

void PrintList(const PluginRegistry& registry) {
  std::printf("入力プラグイン (%d):\n", registry.input_count());
  for (int i = 0; i < registry.input_count(); ++i) {
    const InputPlugin& p = registry.input(i);
    std::printf("  %-24s %s%s%s\n", Shown(p.file_name).c_str(), Shown(p.description).c_str(),
                p.extension.empty() ? "" : "  ", Shown(p.extension).c_str());
  }
  std::printf("出力プラグイン (%d):\n", registry.output_count());
  for (int i = 0; i < registry.output_count(); ++i) {
    const OutputPlugin& p = registry.output(i);
    std::printf("  %-24s %s  %s  %s\n", Shown(p.file_name).c_str(), Shown(p.description).c_str(),
                Shown(p.extension).c_str(), Shown(p.label).c_str());
  }
}

// Makes the output folder and its parents, as "mkdir -p" does; false with
// the system's reason when that fails or the name is taken by a file.
bool MakeOutputFolder(const std::string& folder, std::string& reason) {
  for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      reason = std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat st {};
  const int error = stat(folder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error != 0) reason = std::strerror(error);
  return error == 0;
}

void OnInterrupt(int) { g_interrupted = true; }

int Main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(argc, argv, options, error)) {
    // argv may hold any bytes, controls included.
    std::fprintf(stderr, "dravik-cli: %s\n%s", Shown(error).c_str(),
                 kCliUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kCliUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(kVersionText, stdout);
    return 0;
  }

  if (!options.recursive) {
    for (const std::string& file : options.files) {
      if (IsFolder(file)) {
        std::fprintf(stderr, "dravik-cli: %s is a folder; give -r to convert the files in it\n",
                     Shown(file).c_str());
        return 2;
      }
    }
  }

  PluginRegistry registry(ProgramFolder());
  // The process ends with the registry: unloading the plug-ins would only
  // cost time.
  registry.KeepLoadedUntilExit();
  StartupHost startup;
  const bool loaded = registry.LoadInputPlugins(startup) &&
                      registry.LoadOutputPlugins(startup, nullptr);
  // Accepted plug-ins log their descriptions; anything else is news.
  for (const std::string& line : startup.lines()) {
    bool description = false;
    for (int i = 0; i < registry.input_count(); ++i) {
      description = description || line == "\r\n" + registry.input(i).description;
    }
    for (int i = 0; i < registry.output_count(); ++i) {
      description = description || line == "\r\n" + registry.output(i).description;
    }
    if (!description) std::fprintf(stderr, "%s\n", ToTerminalText(line).c_str() + 1);
  }
  if (!loaded && (registry.input_count() > 0 || !options.list)) {
    std::fputs("Plugin読込エラー\n", stderr);
  }

  if (options.list) {
    PrintList(registry);
    return 0;
  }

  BatchOptions batch;
  batch.jobs = options.jobs;
  batch.keep_going = options.keep_going;
  batch.quiet = options.quiet;
  batch.describe_only = options.info;
  batch.progress_bar = !options.quiet && isatty(STDERR_FILENO);
  batch.settings.use_output_folder = options.output_dir_given;
  batch.settings.output_folder = options.output_dir;
  batch.settings.write_comment = options.comment;
  batch.settings.debug = options.debug;
  batch.settings.dry_run = options.dry_run;
  batch.settings.no_clobber = options.no_clobber;
  batch.json = options.json;
  if (!options.info) {
    if (options.output_names.empty()) {
      std::fprintf(stderr, "dravik-cli: choose an output with -t NAME (known: %s)\n",
                   KnownOutputNames(registry).c_str());
      return 2;
    }
    for (const std::string& name : options.output_names) {
      const int index = FindOutput(registry, name);
      if (index < 0) {
        std::fprintf(stderr, "dravik-cli: unknown output '%s' (known: %s)\n", Shown(name).c_str(),
                     KnownOutputNames(registry).c_str());
        return 2;
      }
      // One output would replace the other's files, name for name.
      for (size_t e = 0; e < batch.outputs.size(); ++e) {
        if (EqualsIgnoringAsciiCase(registry.output(batch.outputs[e]).extension,
                                    registry.output(index).extension)) {
          std::fprintf(stderr, "dravik-cli: outputs %s and %s both write %s files\n",
                       Shown(options.output_names[e]).c_str(), Shown(name).c_str(),
                       Shown(registry.output(index).extension).c_str());
          return 2;
        }
      }
      batch.outputs.push_back(index);
    }
    batch.settings.selected_output = batch.outputs.front();
    // Before the batch: else every file would be read in full only to fail
    // at its output.
    std::string reason;
    if (options.output_dir_given && !options.dry_run &&
        !MakeOutputFolder(options.output_dir, reason)) {
      std::fprintf(stderr, "dravik-cli: cannot use the output folder %s: %s\n",
                   Shown(options.output_dir).c_str(), reason.c_str());
      return 2;
    }
  }

  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A terminal closed under a running batch ends it the same way: no
  // temporary folder or half-written output is left behind.
  sigaction(SIGHUP, &action, nullptr);

  // Folders become the files in them, each in its place in the order given.
  std::vector<BatchFile> files;
  bool walk_failed = false;
  for (const std::string& file : options.files) {
    if (!IsFolder(file)) {
      files.push_back({file, ""});
      continue;
    }
    // The output folder, when inside the collection, holds no sources.
    FolderWalk walk = WalkFolder(file, options.output_dir_given ? options.output_dir : "");
    for (const std::string& failure : walk.errors) {
      std::fprintf(stderr, "dravik-cli: cannot read the folder %s\n", Shown(failure).c_str());
      walk_failed = true;
    }
    for (WalkedFile& found : walk.files) {
      files.push_back({std::move(found.path), std::move(found.relative)});
    }
  }
  batch.summary = options.summary || (!options.quiet && !options.json && files.size() > 1 &&
                                      isatty(STDOUT_FILENO));

  const int status = RunBatch(registry, files, batch);
  if (g_interrupted) {
    std::fputs("dravik-cli: interrupted\n", stderr);
    return 130;
  }
  // Files of the collection were missed.
  if (walk_failed && status != 1) return 1;
  return status;
}

}  // namespace
}  // namespace dravik

int main(int argc, char** argv) { return dravik::Main(argc, argv); }
