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

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool Open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  // Size in bytes, or -1 when it cannot be told (not a regular file).
  int64_t Size() const;
  bool Seek(uint64_t offset);
  int64_t Tell() const;
  // Reads exactly n bytes; false on a short read or an error.
  bool ReadExact(void* buffer, size_t n);
  // Reads up to n bytes; returns how many were read.
  size_t Read(void* buffer, size_t n);

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // outlives file_
};

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Closes a file that was not finished with Close(); its content stays.
  ~OutputFile();

  // Creates or truncates the file.
  bool Create(const std::string& path);
  // Creates a new file with a name of its own in folder (which ends in "/");
  // its path is stored in *path.
  bool CreateTemporary(const std::string& folder, std::string* path);
  // Creates the file name afresh inside an open folder. Whatever stood
  // under that name (a file, a link) is unlinked first rather than opened,
  // so a symbolic or hard link planted there never leads the write outside
  // the folder. name must be a single component.
  bool CreateIn(int folder_fd, const std::string& name);
  bool is_open() const { return file_ != nullptr; }
  bool Write(const void* bytes, size_t n);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  bool Seek(uint64_t offset);
  // Flushes and closes; false when any buffered data could not be stored.
  bool Close();

 private:
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // outlives file_
};

// Reads a whole regular file of at most max_size bytes. Returns false when it
// cannot be opened or read, or is larger (then *too_large is set).
bool ReadWholeFile(const std::string& path, size_t max_size,
                   std::vector<uint8_t>& bytes, bool* too_large = nullptr);

}  // namespace dravik
