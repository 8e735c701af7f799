// The path routine on arbitrary bytes: the parts it returns must put the
// path back together, split where the rules say, and a refusal must mean
// that the path does not fit the platform's limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "path_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Paths reach the plug-ins as C strings.
  std::string path(reinterpret_cast<const char*>(data), size);
  path = path.substr(0, path.find('\0'));
  const auto parts = dravik::SplitPath(path);
  const auto without = dravik::PathWithoutExtension(path);
  if (parts.has_value() != dravik::PathFits(path) || parts.has_value() != without.has_value()) {
    std::abort();
  }
  if (!parts) return 0;
  const std::string folder(parts->folder);
  const std::string base(parts->base);
  const std::string extension(parts->extension);
  if (folder + base + extension != path || *without != folder + base) std::abort();
  if (!folder.empty() && folder.back() != '/') std::abort();
  if ((base + extension).find('/') != std::string::npos) std::abort();
  if (!extension.empty() && (extension[0] != '.' || extension.find('.', 1) != std::string::npos)) {
    std::abort();
  }
  // No extension: the name has no dot but perhaps its first (".disk").
  if (extension.empty() && base.find('.', 1) != std::string::npos) std::abort();
  return 0;
}
