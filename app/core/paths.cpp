#include "paths.h"

#include <unistd.h>

#include <climits>

namespace dravik {

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view{}
                                         : path.substr(0, slash + 1);
}

std::string DropExtension(std::string_view path) {
  return std::string(path.substr(0, path.size() - ExtensionOf(path).size()));
}

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "./";
  return std::string(FolderOf(std::string_view(buffer, static_cast<size_t>(n))));
}

}  // namespace dravik
