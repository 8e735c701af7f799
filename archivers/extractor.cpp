#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
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
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
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

// Where an archive is read from: the path the program was given, or a file
// unpacked into the target folder, which is never opened through a link.
struct Source {
  int dirfd = AT_FDCWD;
  std::string path;
};

// The file opened without blocking, when it is a regular file: a FIFO or
// device named GAME.LZH would otherwise hang the check.
FileDescriptor OpenSource(const Source& source) {
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  if (source.dirfd != AT_FDCWD) flags |= O_NOFOLLOW;
  FileDescriptor file(openat(source.dirfd, source.path.c_str(), flags));
  struct stat st {};
  if (file.get() >= 0 && (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))) file.Reset();
  return file;
}

// A reader over one archive file.
class Reader {
 public:
  // hdrcharset: how names without a stated character set are read; nullptr
  // keeps their bytes.
  bool Open(Format format, const Source& source, const char* hdrcharset) {
    file_ = std::make_unique<FileDescriptor>(OpenSource(source));
    if (file_->get() < 0) return false;
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
// name bytes are fetched one character per byte and decoded here; ZIP names
// are fetched as their bytes and decided from the central directory.
const char* NameCharset(Format format) { return format == Format::kLzh ? "ISO-8859-1" : nullptr; }

// How the format's archives begin: an LZH header's method ("-lh5-") at byte
// 2; a ZIP's first local header (after a spanning mark, maybe), or the end
// record of a ZIP without entries.
bool HasMagic(Format format, int fd) {
  unsigned char head[8] = {};
  const ssize_t n = pread(fd, head, sizeof(head), 0);
  if (format == Format::kLzh) {
    return n >= 7 && head[2] == '-' && head[3] == 'l' && (head[4] == 'h' || head[4] == 'z') &&
           head[6] == '-';
  }
  const auto pk = [&](size_t at, unsigned char a, unsigned char b) {
    return n >= static_cast<ssize_t>(at + 4) && head[at] == 'P' && head[at + 1] == 'K' &&
           head[at + 2] == a && head[at + 3] == b;
  };
  return pk(0, 3, 4) || pk(0, 5, 6) || (pk(0, 7, 8) && pk(4, 3, 4));
}

// An archive without entries, which libarchive does not read: the single
// end mark that lha leaves when the last file is deleted, or a ZIP that is
// only its end record.
bool IsEmptyArchive(Format format, int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  if (format == Format::kLzh) {
    unsigned char byte = 1;
    return st.st_size == 1 && pread(fd, &byte, 1, 0) == 1 && byte == 0;
  }
  const ZipDirectory directory = ReadZipDirectory(fd);
  return directory.complete && directory.stated_entries == 0;
}

bool ReadsThrough(Format format, const Source& source) {
  Reader reader;
  if (!reader.Open(format, source, NameCharset(format))) return false;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) return true;
    if (r == ARCHIVE_FATAL) return false;
    if (archive_read_data_skip(reader.get()) == ARCHIVE_FATAL) return false;
  }
}

bool IsArchiveSource(Format format, const Source& source) {
  const FileDescriptor file = OpenSource(source);
  if (file.get() < 0) return false;
  return HasMagic(format, file.get()) || IsEmptyArchive(format, file.get()) ||
         ReadsThrough(format, source);
}

// Unpacked files that are archives by name, as dropped files are.
bool HasArchiveName(const std::string& name) {
  if (name.size() < 4) return false;
  std::string extension = name.substr(name.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension == ".LZH" || extension == ".ZIP";
}

bool IsRegularFile(archive_entry* entry) {
  return archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr;
}

// Finds each entry's name in the central directory by the name libarchive
// reports: the stored bytes, or the Unicode path when libarchive applied
// that field itself. Entries of one name are taken in directory order.
class ZipNameLookup {
 public:
  explicit ZipNameLookup(ZipDirectory directory)
      : directory_(std::move(directory)), used_(directory_.entries.size()) {
    for (size_t i = 0; i < directory_.entries.size(); ++i) {
      const ZipName& entry = directory_.entries[i];
      by_name_[entry.stored].push_back(i);
      if (!entry.unicode.empty() && entry.unicode != entry.stored) {
        by_name_[entry.unicode].push_back(i);
      }
    }
  }
  std::string NameOf(const std::string& reported) {
    if (auto it = by_name_.find(reported); it != by_name_.end()) {
      std::deque<size_t>& candidates = it->second;
      while (!candidates.empty() && used_[candidates.front()]) candidates.pop_front();
      if (!candidates.empty()) {
        used_[candidates.front()] = true;
        return directory_.entries[candidates.front()].name;
      }
    }
    // A directory that could not be read: names as a PC-98 zipper left them.
    return SjisToFileName(reported);
  }

 private:
  ZipDirectory directory_;
  std::vector<bool> used_;
  std::unordered_map<std::string, std::deque<size_t>> by_name_;
};

struct PlannedEntry {
  bool regular = false;
  std::optional<std::string> name;  // UTF-8, when the header's name could be decoded
};

// What everything unpacked by one command has taken of the limits.
struct Budget {
  uint64_t entries = 0;
  uint64_t bytes = 0;
};

Outcome Fail(int result, std::string detail) { return {result, std::move(detail)}; }

// Reads every header without unpacking: the names, and the sizes the headers
// promise, so that an archive over the limits is refused before a byte is
// written.
Outcome PlanEntries(Format format, const Source& source, const Limits& limits, const Budget& budget,
                    std::vector<PlannedEntry>& plan) {
  std::optional<ZipNameLookup> zip_names;
  if (format == Format::kZip) {
    const FileDescriptor file = OpenSource(source);
    zip_names.emplace(ReadZipDirectory(file.get()));
  }
  Reader reader;
  if (!reader.Open(format, source, NameCharset(format))) {
    // Begun as an archive, yet libarchive finds none: cut short or damaged.
    const FileDescriptor file = OpenSource(source);
    return Fail(
        file.get() >= 0 && HasMagic(format, file.get()) ? kArchiverDamaged : kArchiverNotArchive,
        reader.Error());
  }
  uint64_t total = budget.bytes;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) return {};
    if (r == ARCHIVE_FATAL || entry == nullptr) return Fail(kArchiverDamaged, reader.Error());
    if (budget.entries + plan.size() >= limits.entries) {
      return Fail(kArchiverTooLarge, "too many entries");
    }
    PlannedEntry planned;
    planned.regular = IsRegularFile(entry);
    if (r >= ARCHIVE_WARN && archive_entry_pathname(entry) != nullptr) {
      const std::string reported = archive_entry_pathname(entry);
      planned.name = zip_names ? zip_names->NameOf(reported) : DecodeLzhName(reported);
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

// Unpacks one archive into target. The names of unpacked files that may be
// archives themselves go to nested, when it is given.
Outcome UnpackInto(Format format, const Source& source, TargetFolder& target, const Limits& limits,
                   Budget& budget, std::vector<std::string>* nested) {
  {
    const FileDescriptor file = OpenSource(source);
    if (file.get() < 0) return Fail(kArchiverNotArchive, std::strerror(errno));
    if (IsEmptyArchive(format, file.get())) return {};
  }
  std::vector<PlannedEntry> plan;
  if (Outcome planned = PlanEntries(format, source, limits, budget, plan);
      planned.result != kArchiverOk) {
    return planned;
  }
  budget.entries += plan.size();

  Reader reader;
  if (!reader.Open(format, source, NameCharset(format))) {
    return Fail(kArchiverNotArchive, reader.Error());
  }
  for (size_t index = 0;; ++index) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN || entry == nullptr) return Fail(kArchiverDamaged, reader.Error());
    if (index >= plan.size() || IsRegularFile(entry) != plan[index].regular) {
      return Fail(kArchiverDamaged, "directory changed");
    }
    if (!plan[index].regular || !plan[index].name) continue;
    const std::string base = SafeBaseName(*plan[index].name);
    if (base.empty()) continue;

    std::string chosen;
    FileDescriptor file(target.Create(base, chosen));
    if (file.get() < 0) return Fail(kArchiverWriteError, base + ": " + std::strerror(errno));
    Outcome written = WriteEntry(reader, entry, file.get(), limits, budget.bytes);
    if (written.result == kArchiverOk && !file.Close()) {
      written = Fail(kArchiverWriteError, std::strerror(errno));
    }
    if (written.result != kArchiverOk) {
      file.Reset();
      unlinkat(target.fd(), chosen.c_str(), 0);
      written.detail = base + ": " + written.detail;
      return written;
    }
    if (nested != nullptr && HasArchiveName(chosen)) nested->push_back(chosen);
  }
  return {};
}

}  // namespace

bool IsArchive(Format format, const std::string& path) {
  Utf8LocaleScope locale;
  return IsArchiveSource(format, {AT_FDCWD, path});
}

Outcome ExtractArchive(Format format, const std::string& path, const std::string& folder,
                       const Limits& limits) {
  Utf8LocaleScope locale;
  TargetFolder target;
  if (!target.Open(folder)) return Fail(kArchiverWriteError, "no target folder");
  Budget budget;
  std::vector<std::string> nested;
  if (Outcome outer = UnpackInto(format, {AT_FDCWD, path}, target, limits, budget, &nested);
      outer.result != kArchiverOk) {
    return outer;
  }
  // A collection's ZIP often holds an LZH per disk: those are unpacked in
  // their place, and what they hold is not looked into again.
  for (const std::string& name : nested) {
    const Source inner{target.fd(), name};
    std::optional<Format> inner_format;
    for (const Format f : {Format::kLzh, Format::kZip}) {
      if (!inner_format && IsArchiveSource(f, inner)) inner_format = f;
    }
    if (!inner_format) continue;
    Outcome unpacked = UnpackInto(*inner_format, inner, target, limits, budget, nullptr);
    if (unpacked.result != kArchiverOk) {
      unpacked.detail = name + ": " + unpacked.detail;
      return unpacked;
    }
    unlinkat(target.fd(), name.c_str(), 0);
  }
  return {};
}

}  // namespace dravik::archiver
