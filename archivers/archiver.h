// What UNLHA32 and UNZIP32 share: the command line, the check, and the
// unpacking on top of libarchive. Each library is a thin export layer over
// this, for its own format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// Whether the file is an archive of the format that libarchive reads through
// its whole directory.
bool IsReadableArchive(Format format, const std::string& path);

// Puts every regular file of the archive into folder under a safe base name.
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

// An LZH entry name as libarchive hands it over when told the header is
// ISO-8859-1 (one character per byte), back to its Shift-JIS bytes and then
// decoded. Names libarchive decoded itself (a code page in the header) are
// taken as they are.
std::string DecodeLzhName(std::string_view latin1_utf8);

}  // namespace dravik::archiver
