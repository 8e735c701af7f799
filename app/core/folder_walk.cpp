#include "folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "path_name.h"

namespace dravik {
namespace {

using FileKey = std::pair<dev_t, ino_t>;

struct Entry {
  std::string name;
  bool folder;
};

// The entries of one folder worth visiting, read whole and the folder closed
// again, so that a deep tree never holds more than one descriptor open.
bool ReadFolder(const std::string& path, bool follow, std::vector<Entry>& entries, FileKey& key,
                int& error) {
  // O_NOFOLLOW: a folder swapped for a link after it was listed is not entered.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = errno;
    close(fd);
    return false;
  }
  key = {st.st_dev, st.st_ino};
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(fd), closedir);
  if (!dir) {
    error = errno;
    close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
    struct stat est {};
    if (fstatat(dirfd(dir.get()), entry->d_name, &est, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(est.st_mode)) {
      entries.push_back({entry->d_name, true});
    } else if (S_ISREG(est.st_mode)) {
      entries.push_back({entry->d_name, false});
    }
    // Links, FIFOs, sockets and devices are no images of the collection.
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return true;
}

class Walker {
 public:
  Walker(FolderWalk& out, const std::string& skip) : out_(out) {
    struct stat st {};
    if (!skip.empty() && stat(skip.c_str(), &st) == 0) skip_ = FileKey{st.st_dev, st.st_ino};
  }

  void Walk(const std::string& path, const std::string& relative, bool follow) {
    std::vector<Entry> entries;
    FileKey key{};
    int error = 0;
    if (!ReadFolder(path.empty() ? "/" : path, follow, entries, key, error)) {
      out_.errors.push_back((path.empty() ? "/" : path) + ": " + std::strerror(error));
      return;
    }
    // Links are not followed, but a bind mount can still lead back up.
    if ((skip_ && key == *skip_) || !seen_.insert(key).second) return;
    for (const Entry& entry : entries) {
      const std::string child = path + "/" + entry.name;
      if (!PathFits(child)) {
        out_.errors.push_back(child + ": " + std::strerror(ENAMETOOLONG));
      } else if (entry.folder) {
        Walk(child, relative + entry.name + "/", false);
      } else {
        out_.files.push_back({child, relative});
      }
    }
  }

 private:
  FolderWalk& out_;
  std::optional<FileKey> skip_;
  std::set<FileKey> seen_;
};

}  // namespace

FolderWalk WalkFolder(const std::string& root, const std::string& skip) {
  FolderWalk walk;
  std::string start = root;
  while (start.size() > 1 && start.back() == '/') start.pop_back();
  Walker(walk, skip).Walk(start == "/" ? "" : start, "", true);
  return walk;
}

std::string JoinFolder(const std::string& base, const std::string& relative) {
  if (base.empty() || base.back() == '/') return base + relative;
  return base + "/" + relative;
}

bool MakeSubFolders(const std::string& base, const std::string& relative,
                    std::vector<std::string>& made, std::string& reason) {
  std::string path = JoinFolder(base, "");
  for (size_t start = 0; start < relative.size();) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    path += relative.substr(start, end - start);
    start = end + 1;
    if (!PathFits(path)) {
      reason = std::strerror(ENAMETOOLONG);
      return false;
    }
    if (mkdir(path.c_str(), 0777) == 0) {
      made.push_back(path);
    } else {
      const int error = errno;
      struct stat st {};
      if (error != EEXIST) {
        reason = std::strerror(error);
        return false;
      }
      if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = std::strerror(ENOTDIR);
        return false;
      }
    }
    path += "/";
  }
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace dravik
