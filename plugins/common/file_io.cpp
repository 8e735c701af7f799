#include "file_io.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <optional>

#include "path_name.h"

namespace dravik {
namespace {

void GiveBuffer(std::FILE* file, std::unique_ptr<char[]>& buffer) {
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kFileBufferSize);
  std::setvbuf(file, buffer.get(), _IOFBF, kFileBufferSize);
}

}  // namespace

InputFile::~InputFile() { Close(); }

void InputFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  size_ = -1;
  position_ = 0;
  buffer_start_ = 0;
  buffered_ = 0;
  fills_ = 0;
}

bool InputFile::Open(const std::string& path) {
  Close();
  // Opened without blocking and refused unless it is a regular file: a FIFO
  // would hang the open until a writer came, a device or a folder is no image.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  // O_NONBLOCK stays: it has no effect on a regular file's reads.
  if (error != 0) {
    close(fd);
    errno = error;  // for the caller's message
    return false;
  }
  fd_ = fd;
  size_ = st.st_size;
  return true;
}

int64_t InputFile::Size() const { return size_; }

bool InputFile::Seek(uint64_t offset) {
  if (fd_ < 0 || offset > INT64_MAX) return false;
  position_ = offset;
  return true;
}

int64_t InputFile::Tell() const { return fd_ < 0 ? -1 : static_cast<int64_t>(position_); }

bool InputFile::ReadExact(void* buffer, size_t n) {
  return Read(buffer, n) == n;
}

size_t InputFile::ReadAt(void* buffer, size_t n, uint64_t offset) const {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n && offset + done <= INT64_MAX) {
    const ssize_t got = pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool InputFile::Refill(size_t need) {
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kFileBufferSize);
  // Most opens read a header and go: the first fill takes what is asked,
  // at least a page.
  const size_t want = fills_++ == 0 ? std::clamp<size_t>(need, 4096, kFileBufferSize)
                                    : kFileBufferSize;
  buffer_start_ = position_;
  buffered_ = ReadAt(buffer_.get(), want, position_);
  return buffered_ > 0;
}

size_t InputFile::Read(void* buffer, size_t n) {
  if (fd_ < 0 || n == 0) return 0;
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    if (position_ >= buffer_start_ && position_ - buffer_start_ < buffered_) {
      const size_t offset = static_cast<size_t>(position_ - buffer_start_);
      const size_t take = std::min(n - done, buffered_ - offset);
      std::memcpy(out + done, buffer_.get() + offset, take);
      done += take;
      position_ += take;
      continue;
    }
    if (n - done >= kFileBufferSize) {
      const size_t got = ReadAt(out + done, n - done, position_);
      done += got;
      position_ += got;
      break;  // all of it, or the file ended
    }
    if (!Refill(n - done)) break;
  }
  return done;
}

namespace {

// Room left in a temporary name for the start of the final one, so that a
// file left behind by a killed run still tells which output it was.
constexpr size_t kTemporaryNameRoom = kMaxNameBytes - 16;

std::string TemporaryName(const std::string& name) {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint8_t random[6] = {};
  if (getrandom(random, sizeof(random), 0) != sizeof(random)) {
    // Only uniqueness matters, and O_EXCL checks it.
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (size_t i = 0; i < sizeof(random); ++i) random[i] = static_cast<uint8_t>(now >> (i * 8));
  }
  std::string temporary = "." + name.substr(0, kTemporaryNameRoom) + ".dravik-";
  for (uint8_t r : random) temporary += kDigits[r % 36];
  return temporary;
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Release() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (folder_fd_ >= 0) close(folder_fd_);
  folder_fd_ = -1;
  temporary_.clear();
  name_.clear();
}

void OutputFile::Discard() {
  if (file_ != nullptr) {
    const int saved = errno;
    std::fclose(file_);
    file_ = nullptr;
    unlinkat(folder_fd_, temporary_.c_str(), 0);
    errno = saved;
  }
  Release();
}

bool OutputFile::Create(const std::string& path) {
  Discard();
  error_ = 0;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    error_ = EISDIR;
    return false;
  }
  const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  return Start(fd, name, true);
}

bool OutputFile::CreateIn(int folder_fd, const std::string& name) {
  Discard();
  error_ = 0;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    error_ = EINVAL;
    return false;
  }
  const int fd = fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  return Start(fd, name, false);
}

bool OutputFile::Start(int folder_fd, const std::string& name,
                       bool keep_protected) {
  folder_fd_ = folder_fd;
  name_ = name;
  auto fail = [&](int error) {
    error_ = error;
    Release();
    return false;
  };
  if (name.size() > kMaxNameBytes) return fail(ENAMETOOLONG);
  // A new output gets 0666 less the umask, as any new file; one that
  // replaces a file keeps that file's permissions.
  std::optional<mode_t> kept_mode;
  struct stat st {};
  if (fstatat(folder_fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    // Renaming over a device, FIFO or socket would destroy it; a link is
    // replaced, since what it points to is not ours.
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return fail(EEXIST);
    if (S_ISREG(st.st_mode)) {
      // A write-protected output was refused when outputs were written in
      // place; renaming must not get past that protection.
      if (keep_protected &&
          faccessat(folder_fd_, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(errno);
      }
      kept_mode = st.st_mode & 07777;
    }
  } else if (errno != ENOENT) {
    return fail(errno);
  }
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary_ = TemporaryName(name);
    fd = openat(folder_fd_, temporary_.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(errno);
  if (kept_mode) fchmod(fd, *kept_mode);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int error = errno;
    close(fd);
    unlinkat(folder_fd_, temporary_.c_str(), 0);
    return fail(error);
  }
  GiveBuffer(file_, buffer_);
  return true;
}

bool OutputFile::Write(const void* bytes, size_t n) {
  if (file_ == nullptr) return false;
  if (n == 0 || std::fwrite(bytes, 1, n, file_) == n) return true;
  if (error_ == 0) error_ = errno;
  return false;
}

bool OutputFile::Seek(uint64_t offset) {
  if (file_ == nullptr) return false;
  if (offset <= INT64_MAX && fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0) return true;
  if (error_ == 0) error_ = offset > INT64_MAX ? EINVAL : errno;
  return false;
}

bool OutputFile::Close() {
  if (file_ == nullptr) return false;
  errno = 0;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  if (!ok && error_ == 0) error_ = errno != 0 ? errno : EIO;
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error_ = errno;
  }
  if (ok && renameat(folder_fd_, temporary_.c_str(), folder_fd_, name_.c_str()) != 0) {
    ok = false;
    error_ = errno;
  }
  if (!ok) unlinkat(folder_fd_, temporary_.c_str(), 0);
  Release();
  return ok;
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
