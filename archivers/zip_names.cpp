// ZIP entry names. libarchive reads a name as UTF-8 only when the entry's
// UTF-8 flag is set; zip on Linux and macOS stores UTF-8 names without that
// flag, and says so only through the host in "version made by", which
// libarchive does not hand over. So the central directory is read here once,
// for the names alone; the data still comes through libarchive.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archiver.h"
#include "text.h"

namespace dravik::archiver {
namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kEnd64Signature = 0x06064B50;
constexpr uint32_t kEnd64LocatorSignature = 0x07064B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr size_t kEndSize = 22;
constexpr size_t kEnd64LocatorSize = 20;
constexpr size_t kEnd64Size = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kMaxComment = 0xFFFF;
// A directory of 65,535 entries with long names and fields stays far below
// this; a larger one is not worth reading for names.
constexpr uint64_t kMaxDirectoryBytes = 64u << 20;

constexpr uint16_t kUtf8Flag = 1 << 11;
constexpr uint16_t kUnicodePathField = 0x7075;
constexpr unsigned kHostUnix = 3;
constexpr unsigned kHostDarwin = 19;

uint16_t Le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t Le32(std::string_view b, size_t at) {
  return Le16(b, at) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}
uint64_t Le64(std::string_view b, size_t at) {
  return Le32(b, at) | static_cast<uint64_t>(Le32(b, at + 4)) << 32;
}

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

bool IsUtf8(std::string_view text) { return SanitizeUtf8(text) == text; }

// n bytes at offset, or "" when the file does not hold them all.
std::string ReadAt(int fd, uint64_t offset, size_t n) {
  std::string bytes(n, '\0');
  size_t done = 0;
  while (done < n) {
    const ssize_t r = pread(fd, bytes.data() + done, n - done, static_cast<off_t>(offset + done));
    if (r <= 0) return {};
    done += static_cast<size_t>(r);
  }
  return bytes;
}

// The name Info-ZIP's Unicode path field gives, when the field belongs to
// this very name (its CRC is that of the stored name) and is UTF-8.
std::optional<std::string> UnicodePath(std::string_view stored, std::string_view extra) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const uint16_t id = Le16(extra, at);
    const size_t size = Le16(extra, at + 2);
    at += 4;
    if (size > extra.size() - at) break;
    // Version 1, the CRC of the stored name, then the name.
    if (id == kUnicodePathField && size > 5) {
      const std::string_view data = extra.substr(at, size);
      const std::string_view name = data.substr(5);
      if (data[0] == 1 && Le32(data, 1) == Crc32(stored) && IsUtf8(name)) {
        return std::string(name);
      }
    }
    at += size;
  }
  return std::nullopt;
}

struct EndRecord {
  uint64_t position = 0;  // of the record that gave the directory's place
  uint64_t entries = 0;
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
};

// The end of central directory record: the last one in the file's tail,
// preferring one whose comment runs exactly to the end of the file.
std::optional<EndRecord> FindEnd(int fd, uint64_t file_size) {
  if (file_size < kEndSize) return std::nullopt;
  const size_t tail_size =
      static_cast<size_t>(std::min<uint64_t>(file_size, kEndSize + kMaxComment));
  const uint64_t tail_at = file_size - tail_size;
  const std::string tail = ReadAt(fd, tail_at, tail_size);
  if (tail.empty()) return std::nullopt;
  std::optional<size_t> found;
  for (size_t at = tail_size - kEndSize + 1; at-- > 0;) {
    if (Le32(tail, at) != kEndSignature) continue;
    if (!found) found = at;
    if (at + kEndSize + Le16(tail, at + 20) == tail_size) {
      found = at;
      break;
    }
  }
  if (!found) return std::nullopt;
  const size_t at = *found;
  EndRecord end{tail_at + at, Le16(tail, at + 10), Le32(tail, at + 12), Le32(tail, at + 16)};
  if (end.entries != 0xFFFF && end.directory_size != 0xFFFFFFFF &&
      end.directory_offset != 0xFFFFFFFF) {
    return end;
  }
  // ZIP64: the locator just before the record points to the larger one.
  if (end.position < kEnd64LocatorSize) return std::nullopt;
  const std::string locator = ReadAt(fd, end.position - kEnd64LocatorSize, kEnd64LocatorSize);
  if (locator.empty() || Le32(locator, 0) != kEnd64LocatorSignature) return std::nullopt;
  const uint64_t end64_at = Le64(locator, 8);
  if (end64_at > end.position) return std::nullopt;
  const std::string end64 = ReadAt(fd, end64_at, kEnd64Size);
  if (end64.empty() || Le32(end64, 0) != kEnd64Signature) return std::nullopt;
  return EndRecord{end64_at, Le64(end64, 32), Le64(end64, 40), Le64(end64, 48)};
}

}  // namespace

std::string ZipEntryName(std::string_view stored, uint16_t made_by, uint16_t flags,
                         std::string_view extra, std::string* unicode) {
  if (auto name = UnicodePath(stored, extra)) {
    if (unicode != nullptr) *unicode = *name;
    return *name;
  }
  if ((flags & kUtf8Flag) != 0) return SanitizeUtf8(stored);
  const unsigned host = made_by >> 8;
  if ((host == kHostUnix || host == kHostDarwin) && IsUtf8(stored)) return std::string(stored);
  return SjisToFileName(stored);
}

ZipDirectory ReadZipDirectory(int fd) {
  ZipDirectory directory;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return directory;
  const auto end = FindEnd(fd, static_cast<uint64_t>(st.st_size));
  if (!end || end->directory_size > kMaxDirectoryBytes || end->directory_size > end->position) {
    return directory;
  }
  directory.found = true;
  directory.stated_entries = end->entries;
  if (end->directory_size == 0) {
    directory.complete = end->entries == 0;
    return directory;
  }
  // Data put in front of the archive (a self-extractor) moves the directory
  // from where the record says: it ends where the record begins.
  const size_t size = static_cast<size_t>(end->directory_size);
  std::string bytes;
  for (const uint64_t at : {end->directory_offset, end->position - end->directory_size}) {
    if (at > end->position || size > end->position - at) continue;
    bytes = ReadAt(fd, at, size);
    if (bytes.size() >= 4 && Le32(bytes, 0) == kCentralSignature) break;
    bytes.clear();
  }
  if (bytes.empty()) return directory;
  size_t at = 0;
  while (directory.entries.size() < end->entries && at + kCentralSize <= bytes.size() &&
         Le32(bytes, at) == kCentralSignature) {
    const size_t name_size = Le16(bytes, at + 28);
    const size_t extra_size = Le16(bytes, at + 30);
    const size_t comment_size = Le16(bytes, at + 32);
    const size_t next = at + kCentralSize + name_size + extra_size + comment_size;
    if (next > bytes.size()) break;
    ZipName entry;
    entry.stored = bytes.substr(at + kCentralSize, name_size);
    entry.name = ZipEntryName(
        entry.stored, Le16(bytes, at + 4), Le16(bytes, at + 8),
        std::string_view(bytes).substr(at + kCentralSize + name_size, extra_size), &entry.unicode);
    directory.entries.push_back(std::move(entry));
    at = next;
  }
  directory.complete = directory.entries.size() == end->entries;
  return directory;
}

}  // namespace dravik::archiver
