// What the conversion core needs from its front end (the window or the
// command line). Everything runs on the caller's thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dravik {

class Host {
 public:
  virtual ~Host() = default;

  // Appends UTF-8 text to the log as it stands; texts carry their own "\r\n".
  virtual void AppendLog(std::string_view text) = 0;
  // Progress bar position, 0 to 100.
  virtual void SetProgress(int percent) = 0;
  // Lets the front end handle one pending event between disks.
  virtual void ProcessPendingEvent() {}
  // Busy cursor while a source file is converted.
  virtual void SetBusy(bool /*busy*/) {}
  // Gives the window the input focus at the start of a drop.
  virtual void FocusWindow() {}
  // The command line asks plug-ins to stop (through the progress callback)
  // when the user interrupts it; the window never does.
  virtual bool AbortRequested() { return false; }
  // The command line converts several files at once, yet outputs of one name
  // must be written in the order the files were given. Once the driver knows
  // which sources a dropped file holds, it names the stems their outputs
  // begin with (output folder and name without extension); before a
  // source's first output it waits here for its turn. false: give up (the
  // user interrupted). The window converts one file at a time.
  virtual void ExpectOutputs(const std::vector<std::string>& /*stems*/) {}
  virtual bool AwaitOutputTurn(const std::string& /*stem*/) { return true; }
};

}  // namespace dravik
