// Helpers for tests: scratch folders, files, commands, and a harness that
// loads a built plug-in the way the program does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dravik/plugin_api.h"
#include "shared_library.h"

namespace dravik::test {

// Folders of the build: the program folder and the test plug-ins.
std::string ProgramDir();
std::string TestPluginDir();

// A scratch folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // ends in "/"
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);
// Sorted names in a folder (not "." or "..").
std::vector<std::string> ListFolder(const std::string& folder);

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // stdout
  std::string err;  // stderr
};
// Runs a shell command line.
CommandResult RunCommand(const std::string& command_line);
// Runs a shell command line (whose program should be started with "exec", so
// that the signal reaches it), waits until ready() holds, sends it signal and
// waits for its end. SIGINT and SIGQUIT start at their defaults in the child,
// as in a terminal. Bounded: when ready() does not hold within two minutes, or
// the program does not end two minutes after the signal, it is killed and
// status is -1. A program that ends before ready() holds is not signalled.
CommandResult RunAndSignalWhen(const std::string& command_line,
                               const std::function<bool()>& ready, int signal);
// Quotes a word for the shell.
std::string ShellQuote(const std::string& word);
// Whether a program is on PATH (for oracle tools).
bool HaveTool(const std::string& name);

// Runs body in a child process whose files cannot grow past limit bytes: a
// write beyond fails with EFBIG, as on a full disk. Returns what body
// returned (0 to 255), or -1 when the child did not exit by itself.
int RunWithFileSizeLimit(uint64_t limit, const std::function<int()>& body);

struct ProgressCall {
  int done;
  int total;
  std::string text;
};

struct CallResult {
  int result = -1;
  std::string message;
  std::string title;
  int16_t multi_disk = 0;
  std::vector<ProgressCall> progress;
};

// A plug-in library loaded through dlopen and called through its exports.
class LoadedPlugin {
 public:
  // Loads by path; fails the current test when the library or an export of
  // its kind is missing.
  explicit LoadedPlugin(const std::string& path);

  int kind() const { return static_cast<uint8_t>(identity_[0]); }
  int interface_version() const { return static_cast<uint8_t>(identity_[1]); }
  std::string description() const { return identity_ + 2; }
  const uint8_t* caps() const { return caps_; }
  std::string extension() const { return extension_; }
  std::string label() const { return label_; }

  CallResult IsSupport(const std::string& path) const;
  CallResult GetFileInfo(const std::string& path) const;
  // abort_at: the callback answers nonzero on this call number (from 1).
  CallResult ReadDisk(const std::string& path, DiskImage& image, int disk = 1,
                      int abort_at = 0) const;
  CallResult ReadDirect(const std::string& path, const std::string& output, int disk = 1,
                        int abort_at = 0) const;
  CallResult WriteDisk(DiskImage& image, const std::string& output, int direct = 0,
                       int abort_at = 0) const;

 private:
  SharedLibrary library_;
  char identity_[kIdentitySize + 1] = {};
  uint8_t caps_[kCapsSize] = {};
  char extension_[kExtensionSize + 1] = {};
  char label_[kLabelSize + 1] = {};
  IsSupportFn is_support_ = nullptr;
  GetFileInfoFn get_file_info_ = nullptr;
  ReadDiskFn read_disk_ = nullptr;
  WriteDiskFn write_disk_ = nullptr;
};

// A built plug-in of the program folder, e.g. "fdd_reader.dvr".
LoadedPlugin LoadBuiltPlugin(const std::string& file_name);

// What an input plug-in answers for one truncated copy of a file.
struct TruncationAnswers {
  int is_support = -1;
  int file_info = -1;
  int read_disk = -1;
};

// A zero-filled DiskImage on the heap (2 MB is too much for a stack).
std::unique_ptr<DiskImage> NewDiskImage();

// The bare exports of a built input plug-in, called one after the other on
// one file as the program calls them: a few ten thousand calls would spend
// most of their time zeroing 2 MB per read through LoadedPlugin. Call fails
// the test (fatally) when a text is left unterminated or a call writes past
// its buffer.
class BareReader {
 public:
  explicit BareReader(const std::string& plugin_file);
  bool loaded() const { return is_support_ && file_info_ && read_disk_; }
  TruncationAnswers Call(const std::string& path) const;
  // The record of the last ReadDisk.
  const DiskImage& image() const { return *image_; }

 private:
  SharedLibrary library_;
  std::unique_ptr<DiskImage> image_;
  IsSupportFn is_support_ = nullptr;
  GetFileInfoFn file_info_ = nullptr;
  ReadDiskFn read_disk_ = nullptr;
};

// Feeds every prefix of bytes, from the whole file down to the empty one, to
// IsSupport, GetFileInfo and ReadDisk of a built input plug-in, and hands
// each length's answers to check, stopping at the first fatal failure. Fails
// the test when a text is left unterminated or a call writes past its
// buffer.
void ForEveryTruncation(const std::string& plugin_file, const std::vector<uint8_t>& bytes,
                        const std::function<void(size_t, const TruncationAnswers&)>& check);
// The same for the given lengths only, longest first: for files of a
// megabyte, where every prefix would take hours.
void ForTruncations(const std::string& plugin_file, const std::vector<uint8_t>& bytes,
                    std::vector<size_t> lengths,
                    const std::function<void(size_t, const TruncationAnswers&)>& check);
// Every length up to dense, and from there each multiple of step past
// first, one byte either side of it, and the whole size.
std::vector<size_t> TruncationLengths(size_t size, size_t dense, size_t first, size_t step);


}  // namespace dravik::test
