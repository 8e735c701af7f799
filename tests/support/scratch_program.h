// A program folder made for one test: dravik-cli or Dravik and a chosen set of built
// or test plug-ins, under names that fix their probing order.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "test_support.h"

namespace dravik::test {

class ScratchProgram {
 public:
  ScratchProgram() = default;
  // Copies a test plug-in ("title_reader.dvr") in under as_name.
  void AddTestPlugin(const std::string& file_name, const std::string& as_name = "");
  // Copies a plug-in of the program folder.
  void AddBuiltPlugin(const std::string& file_name);
  void AddCli();
  // The window program, Dravik.
  void AddWindow();
  const std::string& folder() const { return dir_.path(); }
  std::string cli() const { return dir_.path() + "dravik-cli"; }
  std::string window() const { return dir_.path() + "Dravik"; }
  // Runs dravik-cli with the given (already quoted) arguments.
  CommandResult RunCli(const std::string& arguments, const std::string& env = "") const;
  // Runs dravik-cli with env (VAR=value words) and arguments, and sends it
  // signal once ready() holds (see RunAndSignalWhen).
  CommandResult RunCliAndSignalWhen(const std::string& arguments, const std::string& env,
                                    const std::function<bool()>& ready, int signal) const;

 private:
  TempDir dir_;
};

// A host that records everything the core tells it.
class RecordingHost : public Host {
 public:
  void AppendLog(std::string_view text) override { log.append(text); }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void ProcessPendingEvent() override { ++events; }
  void SetBusy(bool busy) override { busy_depth += busy ? 1 : -1; }
  void FocusWindow() override { ++focus; }

  std::string log;
  std::vector<int> progress;
  int events = 0;
  int busy_depth = 0;
  int focus = 0;
};

// A source file that the scripted test plug-ins read their answers from.
std::string Script(const std::vector<std::pair<std::string, std::string>>& lines);

}  // namespace dravik::test
