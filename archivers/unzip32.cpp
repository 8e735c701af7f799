// UNZIP32: ZIP archives.
#include "archiver.h"

using dravik::archiver::Format;

extern "C" {

DRAVIK_EXPORT int UnZipCheckArchive(const char* archive_path, int mode) {
  return dravik::archiver::CheckExport(Format::kZip, archive_path, mode);
}

DRAVIK_EXPORT int UnZip(void* /*window*/, const char* command_line, char* output,
                        uint32_t output_size) {
  return dravik::archiver::CommandExport(Format::kZip, command_line, output, output_size);
}

}  // extern "C"
