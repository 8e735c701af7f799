// The settings reader on arbitrary files: the stored selection stays within
// the outputs there are, and what it read survives being written and read
// again (a path that cannot be stored, one with a line break, comes back
// empty).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::Scratch scratch;
  if (size == 0) return 0;
  // The first byte: how many outputs the program has (0 to 15).
  const int output_count = data[0] & 15;
  const std::string path = scratch.WriteSource("Dravik.cfg", data + 1, size - 1);
  dravik::ConversionSettings read;
  dravik::ReadSettingsFile(path, output_count, read);
  if (read.selected_output < 0 || read.selected_output > std::max(output_count - 1, 0)) {
    std::abort();
  }
  dravik::WriteSettingsFile(path, read);
  dravik::ConversionSettings again;
  dravik::ReadSettingsFile(path, output_count, again);
  const bool storable = read.output_folder.find_first_of("\r\n") == std::string::npos;
  if (again.use_output_folder != read.use_output_folder ||
      again.output_folder != (storable ? read.output_folder : std::string()) ||
      again.write_comment != read.write_comment || again.debug != read.debug ||
      again.selected_output != read.selected_output) {
    std::abort();
  }
  scratch.Clean({"Dravik.cfg"});
  return 0;
}
