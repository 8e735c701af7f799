#include "archive_expander.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "paths.h"

namespace dravik {

void EmptyFolder(const std::string& folder, const std::string& keep) {
  if (folder.empty()) return;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return;
  std::vector<std::string> doomed;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string path = folder + entry->d_name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (!keep.empty() && SameFile(path, keep)) continue;
    doomed.push_back(path);
  }
  for (const std::string& path : doomed) unlink(path.c_str());
}

std::string MakePrivateTempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "dravik-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return {};
  return std::string(buffer.data()) + "/";
}

namespace {

void RemoveAt(int parent_fd, const char* name) {
  const int fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    unlinkat(parent_fd, name, 0);
    return;
  }
  if (DIR* dir = fdopendir(fd)) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      const std::string_view n(entry->d_name);
      if (n != "." && n != "..") names.emplace_back(n);
    }
    for (const std::string& n : names) RemoveAt(dirfd(dir), n.c_str());
    closedir(dir);  // closes fd
  } else {
    close(fd);
  }
  unlinkat(parent_fd, name, AT_REMOVEDIR);
}

}  // namespace

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  RemoveAt(AT_FDCWD, trimmed.c_str());
}

TempFolderExpander::TempFolderExpander(std::string folder)
    : folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

ExpandResult TempFolderExpander::ExpandIfArchive(const std::string& path, Host&) {
  EmptyFolder(folder_, path);
  return {};
}

}  // namespace dravik
