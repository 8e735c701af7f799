#include "path_name.h"

#include <sys/stat.h>

namespace dravik {

bool PathFits(std::string_view path) {
  if (path.size() > kMaxPathBytes) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash - start > kMaxNameBytes) return false;
    start = slash + 1;
  }
  return true;
}

std::string_view ExtensionOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot);
}

std::optional<PathParts> SplitPath(std::string_view path) {
  if (!PathFits(path)) return std::nullopt;
  const size_t slash = path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = path.substr(name_start);
  const size_t base_size = name.size() - ExtensionOf(path).size();
  return PathParts{path.substr(0, name_start), name.substr(0, base_size), name.substr(base_size)};
}

std::optional<std::string> PathWithoutExtension(std::string_view path) {
  const auto parts = SplitPath(path);
  if (!parts) return std::nullopt;
  return std::string(path.substr(0, parts->folder.size() + parts->base.size()));
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace dravik
