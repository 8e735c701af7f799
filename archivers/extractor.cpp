#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "archiver.h"
#include "text.h"

namespace dravik::archiver {
namespace {

// libarchive converts entry names into the locale's character set, and fails
// on names that do not fit it; UTF-8 takes every name. uselocale is per
// thread, so callers on other threads are not disturbed. The locale object is
// made once (that costs a millisecond), never changed, and freed when the
// library is unloaded.
class Utf8LocaleObject {
 public:
  Utf8LocaleObject() {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_ = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
      if (locale_ != static_cast<locale_t>(0)) break;
    }
  }
  ~Utf8LocaleObject() {
    if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
  }
  Utf8LocaleObject(const Utf8LocaleObject&) = delete;
  Utf8LocaleObject& operator=(const Utf8LocaleObject&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_ = static_cast<locale_t>(0);
};

locale_t Utf8Locale() {
  static const Utf8LocaleObject locale;
  return locale.get();
}

class Utf8LocaleScope {
 public:
  Utf8LocaleScope() {
    if (Utf8Locale() != static_cast<locale_t>(0)) previous_ = uselocale(Utf8Locale());
  }
  ~Utf8LocaleScope() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  Utf8LocaleScope(const Utf8LocaleScope&) = delete;
  Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes and reports whether everything written reached the file.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};

// A reader over one archive file. The file is opened without blocking and
// must be a regular file: a FIFO or device named GAME.LZH would otherwise
// hang the check.
class Reader {
 public:
  // hdrcharset: how names without a stated character set are read; nullptr
  // keeps their bytes.
  bool Open(Format format, const std::string& path, const char* hdrcharset) {
    file_ = std::make_unique<FileDescriptor>(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file_->get() < 0 || fstat(file_->get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    archive_.reset(archive_read_new());
    if (!archive_) return false;
    archive* a = archive_.get();
    const int support = format == Format::kLzh ? archive_read_support_format_lha(a)
                                               : archive_read_support_format_zip_seekable(a);
    if (support != ARCHIVE_OK) return false;
    if (hdrcharset != nullptr &&
        archive_read_set_format_option(a, format == Format::kLzh ? "lha" : "zip", "hdrcharset",
                                       hdrcharset) != ARCHIVE_OK) {
      return false;
    }
    return archive_read_open_fd(a, file_->get(), 64 * 1024) == ARCHIVE_OK;
  }
  archive* get() const { return archive_.get(); }
  std::string Error() const {
    const char* text = archive_ ? archive_error_string(archive_.get()) : nullptr;
    return text != nullptr ? text : "unreadable archive";
  }

 private:
  // Declared first so that it is closed after libarchive lets go of it.
  std::unique_ptr<FileDescriptor> file_;
  std::unique_ptr<archive, ArchiveCloser> archive_;
};

// Names: an LZH header has no trustworthy character set of its own, so its
// name bytes are fetched one character per byte and decoded here; a ZIP
// entry is UTF-8 when its flag (or Unicode path field) says so, else CP932,
// which libarchive decides per entry when told the fallback.
const char* NameCharset(Format format) { return format == Format::kLzh ? "ISO-8859-1" : "CP932"; }

bool IsRegularFile(archive_entry* entry) {
  return archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr;
}

struct PlannedEntry {
  bool regular = false;
  std::optional<std::string> name;  // UTF-8, when the header's name could be decoded
};

Outcome Fail(int result, std::string detail) { return {result, std::move(detail)}; }

// Reads every header without unpacking: the names, and the sizes the headers
// promise, so that an archive over the limits is refused before a byte is
// written.
Outcome PlanEntries(Format format, const std::string& path, const Limits& limits,
                    std::vector<PlannedEntry>& plan) {
  Reader reader;
  if (!reader.Open(format, path, NameCharset(format))) {
    return Fail(kArchiverNotArchive, reader.Error());
  }
  uint64_t total = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) return {};
    if (r == ARCHIVE_FATAL || entry == nullptr) return Fail(kArchiverDamaged, reader.Error());
    if (plan.size() >= limits.entries) return Fail(kArchiverTooLarge, "too many entries");
    PlannedEntry planned;
    planned.regular = IsRegularFile(entry);
    if (r >= ARCHIVE_WARN && archive_entry_pathname(entry) != nullptr) {
      planned.name = archive_entry_pathname(entry);
    }
    if (planned.regular) {
      if (archive_entry_is_encrypted(entry)) return Fail(kArchiverEncrypted, "encrypted entry");
      if (archive_entry_size_is_set(entry)) {
        const int64_t size = archive_entry_size(entry);
        if (size < 0 || static_cast<uint64_t>(size) > limits.entry_bytes) {
          return Fail(kArchiverTooLarge, "entry too large");
        }
        total += static_cast<uint64_t>(size);
        if (total > limits.total_bytes) return Fail(kArchiverTooLarge, "archive too large");
      }
    }
    plan.push_back(std::move(planned));
    if (archive_read_data_skip(reader.get()) == ARCHIVE_FATAL) {
      return Fail(kArchiverDamaged, reader.Error());
    }
  }
}

// Creates each unpacked file, never over an existing name: a second
// GAME.FDI becomes GAME_2.FDI, and nothing is written through a link.
class TargetFolder {
 public:
  bool Open(const std::string& folder) {
    fd_ =
        std::make_unique<FileDescriptor>(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd_->get() >= 0;
  }
  int fd() const { return fd_->get(); }

  // Returns the open file and its name, or -1 with errno set.
  int Create(const std::string& base, std::string& chosen) {
    int& number = next_number_[base];
    if (number == 0) number = 1;
    for (;; ++number) {
      chosen = NumberedName(base, number);
      const int fd = openat(fd_->get(), chosen.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd >= 0) {
        ++number;
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
  }

 private:
  std::unique_ptr<FileDescriptor> fd_;
  std::unordered_map<std::string, int> next_number_;
};

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Streams one entry into its file; the caller removes the file on failure.
Outcome WriteEntry(Reader& reader, archive_entry* entry, int fd, const Limits& limits,
                   uint64_t& total) {
  uint64_t written = 0;
  for (;;) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(reader.get(), &block, &size, &offset);
    if (r == ARCHIVE_EOF) break;
    // A warning here is a CRC mismatch or an unknown method: the data is wrong.
    if (r != ARCHIVE_OK) return Fail(kArchiverDamaged, reader.Error());
    if (offset < 0 || static_cast<uint64_t>(offset) != written) {
      return Fail(kArchiverDamaged, "data out of order");
    }
    if (size > limits.entry_bytes - written) return Fail(kArchiverTooLarge, "entry too large");
    if (size > limits.total_bytes - total) return Fail(kArchiverTooLarge, "archive too large");
    if (!WriteAll(fd, block, size)) return Fail(kArchiverWriteError, std::strerror(errno));
    written += size;
    total += size;
  }
  // A header that promised another size lied, or its data is damaged.
  if (archive_entry_size_is_set(entry) &&
      static_cast<uint64_t>(archive_entry_size(entry)) != written) {
    return Fail(kArchiverDamaged, "size mismatch");
  }
  return {};
}

}  // namespace

bool IsReadableArchive(Format format, const std::string& path) {
  Utf8LocaleScope locale;
  Reader reader;
  if (!reader.Open(format, path, NameCharset(format))) return false;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) return true;
    if (r == ARCHIVE_FATAL) return false;
    if (archive_read_data_skip(reader.get()) == ARCHIVE_FATAL) return false;
  }
}

Outcome ExtractArchive(Format format, const std::string& path, const std::string& folder,
                       const Limits& limits) {
  Utf8LocaleScope locale;
  std::vector<PlannedEntry> plan;
  if (Outcome planned = PlanEntries(format, path, limits, plan); planned.result != kArchiverOk) {
    return planned;
  }
  TargetFolder target;
  if (!target.Open(folder)) return Fail(kArchiverWriteError, "no target folder");

  // ZIP names are read again with their bytes kept: an entry whose CP932
  // name did not decode is decoded here, undecodable bytes as "_".
  Reader reader;
  if (!reader.Open(format, path, format == Format::kLzh ? NameCharset(format) : nullptr)) {
    return Fail(kArchiverNotArchive, reader.Error());
  }
  uint64_t total = 0;
  for (size_t index = 0;; ++index) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN || entry == nullptr) return Fail(kArchiverDamaged, reader.Error());
    if (index >= plan.size() || IsRegularFile(entry) != plan[index].regular) {
      return Fail(kArchiverDamaged, "directory changed");
    }
    if (!plan[index].regular) continue;
    std::string name;
    if (format == Format::kLzh) {
      if (plan[index].name) name = DecodeLzhName(*plan[index].name);
    } else if (plan[index].name) {
      name = *plan[index].name;
    } else if (const char* raw = archive_entry_pathname(entry)) {
      name = SjisToFileName(raw);
    }
    const std::string base = SafeBaseName(name);
    if (base.empty()) continue;

    std::string chosen;
    FileDescriptor file(target.Create(base, chosen));
    if (file.get() < 0) return Fail(kArchiverWriteError, base + ": " + std::strerror(errno));
    Outcome written = WriteEntry(reader, entry, file.get(), limits, total);
    if (written.result == kArchiverOk && !file.Close()) {
      written = Fail(kArchiverWriteError, std::strerror(errno));
    }
    if (written.result != kArchiverOk) {
      file.Reset();
      unlinkat(target.fd(), chosen.c_str(), 0);
      written.detail = base + ": " + written.detail;
      return written;
    }
  }
  return {};
}

}  // namespace dravik::archiver
