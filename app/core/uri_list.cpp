#include "uri_list.h"

#include <unistd.h>

#include <climits>

namespace dravik {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// "", "localhost" and this machine's name are here.
bool IsLocalHost(std::string_view host) {
  if (host.empty() || (host.size() == 9 && StartsWithNoCase(host, "localhost"))) return true;
  char name[HOST_NAME_MAX + 1] = {};
  return gethostname(name, sizeof(name) - 1) == 0 && host == name;
}

// The path of one file: URI, or "" when it names none here.
std::string LocalPath(std::string_view uri) {
  if (!StartsWithNoCase(uri, "file:")) return {};
  uri.remove_prefix(5);
  if (uri.starts_with("//")) {
    uri.remove_prefix(2);
    const size_t slash = uri.find('/');
    if (slash == std::string_view::npos || !IsLocalHost(uri.substr(0, slash))) return {};
    uri.remove_prefix(slash);
  }
  // A query or fragment is no part of a file's name (file managers encode
  // "?" and "#" in names).
  uri = uri.substr(0, uri.find_first_of("?#"));
  if (!uri.starts_with('/')) return {};
  std::string path;
  for (size_t i = 0; i < uri.size(); ++i) {
    const int high = uri[i] == '%' && i + 2 < uri.size() ? HexValue(uri[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(uri[i + 2]) : -1;
    if (low < 0) {
      path += uri[i];
      continue;
    }
    const char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0') return {};
    path += byte;
    i += 2;
  }
  return path;
}

}  // namespace

std::vector<std::string> LocalPathsFromUriList(std::string_view uri_list) {
  std::vector<std::string> paths;
  while (!uri_list.empty()) {
    const size_t end = uri_list.find('\n');
    std::string_view line = uri_list.substr(0, end);
    uri_list.remove_prefix(end == std::string_view::npos ? uri_list.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.starts_with('#')) continue;
    std::string path = LocalPath(line);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace dravik
