#include <exception>
#include <new>

#include "archiver.h"
#include "text.h"

namespace dravik::archiver {
namespace {

void Report(char* output, uint32_t output_size, std::string_view text) {
  if (output != nullptr && output_size != 0) CopyText(output, output_size, text);
}

}  // namespace

int CheckExport(Format format, const char* path, int /*mode*/) noexcept {
  try {
    return path != nullptr && path[0] != '\0' && IsArchive(format, path) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int CommandExport(Format format, const char* command_line, char* output,
                  uint32_t output_size) noexcept {
  try {
    const auto command =
        command_line != nullptr ? ParseCommandLine(format, command_line) : std::nullopt;
    if (!command) {
      Report(output, output_size, "command line not understood");
      return kArchiverBadCommand;
    }
    const Outcome outcome = ExtractArchive(format, command->archive, command->folder);
    Report(output, output_size, outcome.detail);
    return outcome.result;
  } catch (const std::bad_alloc&) {
    Report(output, output_size, "out of memory");
  } catch (...) {
    Report(output, output_size, "internal error");
  }
  return kArchiverInternal;
}

}  // namespace dravik::archiver
