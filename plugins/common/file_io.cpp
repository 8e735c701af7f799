#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace dravik {
namespace {

void GiveBuffer(std::FILE* file, std::unique_ptr<char[]>& buffer) {
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kFileBufferSize);
  std::setvbuf(file, buffer.get(), _IOFBF, kFileBufferSize);
}

}  // namespace

InputFile::~InputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool InputFile::Open(const std::string& path) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  struct stat st {};
  // A folder opens fine on Linux but reads fail; treat it as unopenable.
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  GiveBuffer(f, buffer_);
  file_ = f;
  return true;
}

int64_t InputFile::Size() const {
  struct stat st {};
  if (file_ == nullptr || fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
    return -1;
  }
  return st.st_size;
}

bool InputFile::Seek(uint64_t offset) {
  return file_ != nullptr && offset <= INT64_MAX &&
         fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t InputFile::Tell() const {
  return file_ == nullptr ? -1 : ftello(file_);
}

bool InputFile::ReadExact(void* buffer, size_t n) {
  return Read(buffer, n) == n;
}

size_t InputFile::Read(void* buffer, size_t n) {
  if (file_ == nullptr || n == 0) return 0;
  return std::fread(buffer, 1, n, file_);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool OutputFile::Create(const std::string& path) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  GiveBuffer(file_, buffer_);
  return true;
}

bool OutputFile::CreateTemporary(const std::string& folder, std::string* path) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::string name = folder + ".dravik-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    unlink(name.c_str());
    return false;
  }
  *path = name;
  return true;
}

bool OutputFile::CreateIn(int folder_fd, const std::string& name) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return false;
  }
  unlinkat(folder_fd, name.c_str(), 0);  // a folder stays, and O_EXCL refuses it
  const int fd = openat(folder_fd, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) close(fd);
  return file_ != nullptr;
}

bool OutputFile::Write(const void* bytes, size_t n) {
  return file_ != nullptr && (n == 0 || std::fwrite(bytes, 1, n, file_) == n);
}

bool OutputFile::Seek(uint64_t offset) {
  return file_ != nullptr && offset <= INT64_MAX &&
         fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool OutputFile::Close() {
  if (file_ == nullptr) return false;
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return flushed && closed;
}

bool ReadWholeFile(const std::string& path, size_t max_size,
                   std::vector<uint8_t>& bytes, bool* too_large) {
  if (too_large != nullptr) *too_large = false;
  InputFile file;
  if (!file.Open(path)) return false;
  const int64_t size = file.Size();
  if (size < 0) return false;
  if (static_cast<uint64_t>(size) > max_size) {
    if (too_large != nullptr) *too_large = true;
    return false;
  }
  bytes.resize(static_cast<size_t>(size));
  return file.ReadExact(bytes.data(), bytes.size());
}

}  // namespace dravik
