// What the conversion core needs from its front end (the window or the
// command line). Everything runs on the caller's thread.
#pragma once

#include <string_view>

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
};

}  // namespace dravik
