#include "host_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "dravik/plugin_api.h"
#include "text.h"

namespace dravik::file_extractor {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsOneComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// "NAME~2.EXT": the suffix goes before the extension so the file keeps its
// type on the host.
std::string WithSuffix(const std::string& name, int n) {
  const std::string suffix = "~" + std::to_string(n);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
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

HostFolder HostFolder::Subfolder(const std::string& name) const {
  if (!is_open() || !IsOneComponent(name)) return HostFolder();
  if (mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return HostFolder();
  int sub = openat(fd_, name.c_str(), kFolderFlags);
  if (sub < 0) {
    // A link under the folder's name is removed (its target stays as it is)
    // and a real folder made in its place; anything else is refused.
    struct stat st {};
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) &&
        unlinkat(fd_, name.c_str(), 0) == 0 && mkdirat(fd_, name.c_str(), 0777) == 0) {
      sub = openat(fd_, name.c_str(), kFolderFlags);
    }
  }
  return HostFolder(sub);
}

std::string SafeHostName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
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
  if (mkdir(folder_.c_str(), 0777) != 0 && errno != EEXIST) return false;
  // The folder the user chose may itself be reached through a link; only
  // what lies inside it is guarded.
  root_ = HostFolder(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return root_.is_open();
}

std::string OutputTree::Claim(const std::string& rel, std::string_view sjis_name, bool is_folder) {
  std::string owner(1, is_folder ? 'D' : 'F');
  owner.append(sjis_name);
  auto& owners = owners_[rel];
  const std::string base = SafeHostName(SjisToFileName(sjis_name));
  std::string candidate = base;
  for (int n = 2;; ++n) {
    const auto [it, inserted] = owners.try_emplace(candidate, owner);
    if (inserted || it->second == owner) return candidate;
    candidate = WithSuffix(base, n);
  }
}

std::string OutputTree::PathOf(const std::string& rel, const std::string& name) const {
  return folder_ + rel + "/" + name;
}

}  // namespace dravik::file_extractor
