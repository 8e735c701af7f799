// What UNLHA32 and UNZIP32 share: the command line, the check, and the
// unpacking on top of libarchive. Each library is a thin export layer over
// this, for its own format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver_api.h"

namespace dravik::archiver {

enum class Format { kLzh, kZip };

struct Limits {
  uint64_t entry_bytes = DRAVIK_ARCHIVER_MAX_ENTRY_BYTES;
  uint64_t total_bytes = DRAVIK_ARCHIVER_MAX_TOTAL_BYTES;
  uint64_t entries = DRAVIK_ARCHIVER_MAX_ENTRIES;
};

struct Outcome {
  int result = kArchiverOk;
  std::string detail;  // why it failed, for the output buffer
};

struct Command {
  std::string archive;
  std::string folder;
};

// The command lines the program sends (see archiver_api.h). Anything else
// (a stray quote, a line break, an unknown switch, a file list) is refused
// rather than guessed at.
std::optional<Command> ParseCommandLine(Format format, std::string_view line);

// Whether the file is an archive of the format: one that begins as the
// format's archives begin (a damaged one, too, which then fails to unpack
// and says so), an empty archive, or one that libarchive reads through its
// whole directory (a self-extractor's).
bool IsArchive(Format format, const std::string& path);

// Puts every regular file of the archive into folder under a safe base name,
// then unpacks the archives among them (".LZH" and ".ZIP" files that either
// format takes) in their place, one level deep: archives inside those stay
// files. The limits hold for everything unpacked together.
Outcome ExtractArchive(Format format, const std::string& path, const std::string& folder,
                       const Limits& limits = {});

// The bodies of the exports: no exception escapes.
int CheckExport(Format format, const char* path, int mode) noexcept;
int CommandExport(Format format, const char* command_line, char* output,
                  uint32_t output_size) noexcept;

// Entry names (UTF-8) reduced to a name that can only land inside the target
// folder: the last component after "/" or "\", control characters and
// undecodable characters as "_". "" when nothing is left to name a file
// ("", ".", "..", a name ending in a separator).
std::string SafeBaseName(std::string_view path);

// The name of the number-th file that wants base ("GAME.FDI", "GAME_2.FDI",
// ...), cut at a character boundary in front of its extension so that it
// fits NAME_MAX.
std::string NumberedName(std::string_view base, int number);

// A ZIP entry's name as UTF-8, from its central directory fields: the name
// of Info-ZIP's Unicode path field (0x7075) when that field matches the
// stored name; else the stored name as UTF-8 when the UTF-8 flag is set, or
// when the entry was made on Unix (or macOS) and its bytes are UTF-8; else
// the stored name as CP932, undecodable bytes as "_". *unicode receives the
// field's name when it was used.
std::string ZipEntryName(std::string_view stored, uint16_t made_by, uint16_t flags,
                         std::string_view extra, std::string* unicode = nullptr);

struct ZipName {
  std::string stored;   // the bytes of the name field
  std::string unicode;  // the Unicode path field's name, when it was used
  std::string name;     // as ZipEntryName decides
};

struct ZipDirectory {
  bool found = false;     // an end record, and a directory where it says
  bool complete = false;  // every entry the end record counts was read
  uint64_t stated_entries = 0;
  std::vector<ZipName> entries;  // in directory order
};

// The central directory of the ZIP open as fd, for its names.
ZipDirectory ReadZipDirectory(int fd);

// An LZH entry name as libarchive hands it over when told the header is
// ISO-8859-1 (one character per byte), back to its Shift-JIS bytes and then
// decoded. Names libarchive decoded itself (a code page in the header) are
// taken as they are.
std::string DecodeLzhName(std::string_view latin1_utf8);

}  // namespace dravik::archiver
