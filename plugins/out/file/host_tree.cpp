#include "host_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "dravik/plugin_api.h"
#include "text.h"

namespace dravik::file_extractor {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr size_t kMaxNameBytes = NAME_MAX;
// "DISK~2" and on, when files stand under the output folder's name.
constexpr int kMaxFolderSuffix = 99;

bool IsOneComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// "NAME~2.EXT": the suffix goes before the extension so the file keeps its
// type on the host. A long name gives up the end of its stem to fit.
std::string WithSuffix(const std::string& name, int n) {
  const std::string suffix = "~" + std::to_string(n);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) dot = name.size();
  const std::string_view stem = std::string_view(name).substr(0, dot);
  const std::string_view extension = std::string_view(name).substr(dot);
  const size_t room = kMaxNameBytes > suffix.size() + extension.size()
                          ? kMaxNameBytes - suffix.size() - extension.size()
                          : 0;
  return std::string(stem.substr(0, Utf8PrefixLength(stem, room))) + suffix +
         std::string(extension);
}

}  // namespace

HostFolder& HostFolder::operator=(HostFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

HostFolder::~HostFolder() {
  if (fd_ >= 0) close(fd_);
}

HostFolder HostFolder::Subfolder(const std::string& name, bool* made) const {
  if (made != nullptr) *made = false;
  if (!is_open() || !IsOneComponent(name)) return HostFolder();
  const bool created = mkdirat(fd_, name.c_str(), 0777) == 0;
  if (!created && errno != EEXIST) return HostFolder();
  int sub = openat(fd_, name.c_str(), kFolderFlags);
  bool replaced = false;
  if (sub < 0) {
    // A link under the folder's name is removed (its target stays as it is)
    // and a real folder made in its place; anything else is refused.
    struct stat st {};
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) &&
        unlinkat(fd_, name.c_str(), 0) == 0 && mkdirat(fd_, name.c_str(), 0777) == 0) {
      sub = openat(fd_, name.c_str(), kFolderFlags);
      replaced = true;
    }
  }
  if (made != nullptr) *made = sub >= 0 && (created || replaced);
  return HostFolder(sub);
}

std::string SafeHostName(std::string_view name) {
  std::string out = CleanFileName(name);
  for (char& c : out) {
    if (c == '/') c = '_';
  }
  if (out.empty()) return "_";
  if (out == "." || out == "..") return "_" + out;
  return out;
}

std::string PathMessage(std::string_view path, std::string_view tail) {
  const std::string head = "\r\n[";
  const std::string middle = "]\r\n";
  const std::string shown = SanitizeUtf8(path);
  const size_t room = kMessageSize - 1 - head.size() - middle.size() - tail.size();
  if (shown.size() <= room) return head + shown + middle + std::string(tail);
  // Both ends tell the user most: where the folder is and which name failed.
  const std::string_view mark = "…";
  const size_t half = (room - mark.size()) / 2;
  const size_t front = Utf8PrefixLength(shown, half);
  size_t back = shown.size() - half;
  while (back < shown.size() && (static_cast<unsigned char>(shown[back]) & 0xC0) == 0x80) ++back;
  return head + shown.substr(0, front) + std::string(mark) + shown.substr(back) + middle +
         std::string(tail);
}

bool OutputTree::Open() {
  if (root_.is_open()) return true;
  if (folder_.empty()) return false;
  for (int n = 1; n <= kMaxFolderSuffix; ++n) {
    const std::string candidate = n == 1 ? folder_ : folder_ + "~" + std::to_string(n);
    const bool made = mkdir(candidate.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return false;
    // The folder the user chose may be reached through a link, but this
    // folder is ours, named after the source: a link planted under its name
    // would carry the files wherever it points. The link stays as it is and
    // the files go to "NAME~2", as when a file stands there.
    root_ = HostFolder(open(candidate.c_str(), kFolderFlags));
    if (root_.is_open()) {
      folder_ = candidate;
      made_root_ = made;
      return true;
    }
    if (made || (errno != ENOTDIR && errno != ELOOP)) return false;
  }
  return false;
}

HostFolder OutputTree::Enter(const HostFolder& parent, const std::string& rel,
                             const std::string& name) {
  bool made = false;
  HostFolder sub = parent.Subfolder(name, &made);
  if (made) made_folders_.push_back(rel + "/" + name);
  return sub;
}

void OutputTree::RemoveMadeFolders() {
  if (!root_.is_open()) return;
  for (auto it = made_folders_.rbegin(); it != made_folders_.rend(); ++it) {
    unlinkat(root_.fd(), it->c_str() + 1, AT_REMOVEDIR);
  }
  made_folders_.clear();
  if (made_root_) rmdir(folder_.c_str());
  made_root_ = false;
}

std::string OutputTree::Claim(const std::string& rel, std::string_view name) {
  Folder& folder = folders_[rel];
  const std::string base = SafeHostName(name);
  if (folder.taken.insert(base).second) return base;
  // Numbers go on from the last one given for this name, so that a table
  // of one name many times over is not searched from ~2 each time.
  int& next = folder.next_suffix[base];
  for (int n = std::max(next, 2);; ++n) {
    std::string candidate = WithSuffix(base, n);
    if (folder.taken.insert(candidate).second) {
      next = n + 1;
      return candidate;
    }
  }
}

std::string OutputTree::PathOf(const std::string& rel, const std::string& name) const {
  return folder_ + rel + "/" + name;
}

}  // namespace dravik::file_extractor
