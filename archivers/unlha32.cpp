// UNLHA32: LZH archives.
#include "archiver.h"

using dravik::archiver::Format;

extern "C" {

DRAVIK_EXPORT int UnlhaCheckArchive(const char* archive_path, int mode) {
  return dravik::archiver::CheckExport(Format::kLzh, archive_path, mode);
}

DRAVIK_EXPORT int Unlha(void* /*window*/, const char* command_line, char* output,
                        uint32_t output_size) {
  return dravik::archiver::CommandExport(Format::kLzh, command_line, output, output_size);
}

}  // extern "C"
