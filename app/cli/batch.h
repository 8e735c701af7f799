// Runs the files of one command line through conversion drivers, one per
// worker, and prints each file's log whole and in the order given.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "conversion_driver.h"
#include "plugin_registry.h"

namespace dravik {

struct BatchOptions {
  // Its selected_output is ignored: outputs holds every output chosen.
  ConversionSettings settings;
  std::vector<int> outputs;
  int jobs = 1;
  bool keep_going = false;
  bool describe_only = false;
  bool quiet = false;
  bool progress_bar = false;
  bool json = false;     // reports on stdout, the log on stderr
  bool summary = false;  // the counts line after the batch
};

// A file to convert; a file found by walking a folder keeps the folders
// between that folder and itself below the output folder.
struct BatchFile {
  std::string path;
  std::string relative;  // "" or "a/b/"
};

// Set from the SIGINT handler: plug-ins are asked to stop, no file starts.
extern std::atomic<bool> g_interrupted;

// Returns the exit status: 0 all converted or skipped, 1 a failure, 3 no
// failure but some unsupported file.
int RunBatch(const PluginRegistry& registry, const std::vector<BatchFile>& files,
             const BatchOptions& options);

// The reports of one source converted to several outputs, as one: every
// file written, every message, and the worst result (a failure, else a
// conversion, else a skip).
void MergeReport(SourceReport& into, const SourceReport& from);

// The window's log texts as a terminal shows them: CR LF becomes LF, and
// every other control but LF and tab (C0, DEL, C1) becomes U+FFFD. The
// text is valid UTF-8.
std::string ToTerminalText(std::string_view log);

}  // namespace dravik
