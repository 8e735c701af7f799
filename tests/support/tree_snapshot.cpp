#include "tree_snapshot.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace dravik::test {
namespace {

void Walk(const std::string& root, const std::string& relative, TreeSnapshot& snapshot) {
  DIR* dir = opendir((root + relative).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = relative + name;
    struct stat st {};
    if (lstat((root + path).c_str(), &st) != 0) continue;
    std::string what = "mode " + std::to_string(st.st_mode) + " size " + std::to_string(st.st_size);
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = readlink((root + path).c_str(), target, sizeof(target));
      what += " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(root + path, std::ios::binary);
      what += " " + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    snapshot[path] = what;
    if (S_ISDIR(st.st_mode)) Walk(root, path + "/", snapshot);
  }
  closedir(dir);
}

bool Under(const std::string& path, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (path.compare(0, folder.size(), folder) == 0 || path + "/" == folder) return true;
  }
  return false;
}

}  // namespace

TreeSnapshot SnapshotTree(const std::string& root) {
  TreeSnapshot snapshot;
  Walk(root.back() == '/' ? root : root + "/", "", snapshot);
  return snapshot;
}

std::vector<std::string> ChangedPaths(const TreeSnapshot& before, const TreeSnapshot& after,
                                      const std::vector<std::string>& except) {
  std::vector<std::string> changed;
  for (const auto& [path, what] : before) {
    const auto it = after.find(path);
    if ((it == after.end() || it->second != what) && !Under(path, except)) changed.push_back(path);
  }
  for (const auto& [path, what] : after) {
    if (!before.count(path) && !Under(path, except)) changed.push_back(path);
  }
  return changed;
}

}  // namespace dravik::test
