// Files owned by one object each, so that "closed on every path" holds by
// construction. A written file is finished with Close(), whose result is the
// real verdict: a full disk often shows only when buffers are flushed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace dravik {

// Each open file gets a buffer of its own this large: image files are read
// and written in pieces of a sector or a track, and every system call counts.
inline constexpr size_t kFileBufferSize = 64 * 1024;
// Readers whose rows lie in the file as in the record read runs of whole
// rows of about this size straight into the record: a disk in a few system
// calls, with progress still told per track.
inline constexpr size_t kDirectReadRun = 1024 * 1024;

// A source file, read through a buffer of its own. The first fill is small,
// since most opens only look at a header to tell whether the file is theirs;
// later fills take kFileBufferSize, and a read at least that large goes
// straight into the caller's memory.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool Open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }
  // Size in bytes, or -1 when it cannot be told (not a regular file).
  int64_t Size() const;
  bool Seek(uint64_t offset);
  int64_t Tell() const;
  // Reads exactly n bytes; false on a short read or an error.
  bool ReadExact(void* buffer, size_t n);
  // Reads up to n bytes; returns how many were read.
  size_t Read(void* buffer, size_t n);

 private:
  void Close();
  // Reads at most n bytes at offset, retrying interrupted and partial
  // reads; fewer only at the end of the file or on an error.
  size_t ReadAt(void* buffer, size_t n, uint64_t offset) const;
  // Refills the buffer from the current position for a read of need more
  // bytes; false when nothing came.
  bool Refill(size_t need);

  int fd_ = -1;
  int64_t size_ = -1;
  uint64_t position_ = 0;      // where the next Read starts
  uint64_t buffer_start_ = 0;  // file offset of buffer_[0]
  size_t buffered_ = 0;        // bytes of buffer_ that hold the file
  size_t fills_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// A file written under a temporary name beside its final one and put in
// place only by a successful Close(): until then whatever had the final name
// (an older output, perhaps the only good copy) stays as it was, and a
// failed or abandoned file never shows under that name. The temporary file
// is created with O_EXCL|O_NOFOLLOW and renamed over the final name, so a
// link planted there is replaced, never written through.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // A file not finished with Close() is removed; the final name is untouched.
  ~OutputFile();

  // Starts the file that path will name. Refused when path names a folder
  // or another kind of file that is not a regular file or a link, or a
  // regular file we may not write (a write-protected output stays).
  bool Create(const std::string& path);
  // The same for name inside an open folder (a single component, not "."
  // or ".."); the folder is entered through its descriptor only. A file we
  // may not write under that name is replaced like any other.
  bool CreateIn(int folder_fd, const std::string& name);
  bool is_open() const { return file_ != nullptr; }
  bool Write(const void* bytes, size_t n);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  bool Seek(uint64_t offset);
  // Flushes, closes and renames the file over its final name; false, with
  // the temporary file gone and the final name untouched, when any of these
  // fails.
  bool Close();
  // Gives up the file: the temporary is removed, the final name untouched.
  void Discard();
  // errno of the step that failed, for messages.
  int error() const { return error_; }

 private:
  // Takes folder_fd (ours to close).
  bool Start(int folder_fd, const std::string& name, bool keep_protected);
  void Release();

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // outlives file_
  int folder_fd_ = -1;              // ours: closed with the file
  std::string temporary_;           // names inside folder_fd_
  std::string name_;
  int error_ = 0;
};

// Reads a whole regular file of at most max_size bytes. Returns false when it
// cannot be opened or read, or is larger (then *too_large is set).
bool ReadWholeFile(const std::string& path, size_t max_size,
                   std::vector<uint8_t>& bytes, bool* too_large = nullptr);

}  // namespace dravik
