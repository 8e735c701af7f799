// The host side of an extraction: the output folder and what goes into it.
// Names come from a disk and may hold anything, so each is made safe here;
// folders are entered through descriptors and files created beside them
// without following links, so nothing planted in the output folder can lead
// a write outside it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dravik::file_extractor {

// An open folder, closed with its owner.
class HostFolder {
 public:
  HostFolder() = default;
  explicit HostFolder(int fd) : fd_(fd) {}
  HostFolder(HostFolder&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  HostFolder& operator=(HostFolder&& other) noexcept;
  HostFolder(const HostFolder&) = delete;
  HostFolder& operator=(const HostFolder&) = delete;
  ~HostFolder();

  int fd() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }

  // Creates the folder name inside this one (an existing folder is fine) and
  // opens it. A link standing under that name is replaced, never entered.
  // *made tells whether this call made the folder.
  HostFolder Subfolder(const std::string& name, bool* made = nullptr) const;

 private:
  int fd_ = -1;
};

// A UTF-8 name that is one harmless component: "/", control characters
// (line breaks, escapes) and U+FFFD become "_", and "", "." and ".." cannot
// remain.
std::string SafeHostName(std::string_view name);

// The message for a path: "\r\n[path]\r\n" and the tail, the path shortened
// in its middle so that the whole fits the message buffer.
std::string PathMessage(std::string_view path, std::string_view tail);

class OutputTree {
 public:
  // folder: the output folder's path.
  explicit OutputTree(std::string folder) : folder_(std::move(folder)) {}

  const std::string& folder() const { return folder_; }
  // Creates the output folder once (an existing one is accepted) and opens
  // it; false when that fails. When a file stands under the folder's name
  // (the source itself, when it has no extension) or a link, the folder is
  // "NAME~2".
  bool Open();
  bool is_open() const { return root_.is_open(); }
  const HostFolder& root() const { return root_; }

  // Creates the subfolder name of parent, which lies at rel.
  HostFolder Enter(const HostFolder& parent, const std::string& rel, const std::string& name);
  // Removes the folders this extraction made, the output folder among them,
  // as far as they are empty: for when nothing was extracted.
  void RemoveMadeFolders();

  // A host name of its own for a name from the disk (UTF-8) in the folder
  // at relative path rel ("" or "/A/B"): made safe, and kept apart from the
  // names given before by a numbered suffix ("NAME~2.EXT").
  std::string Claim(const std::string& rel, std::string_view name);

  // The full path of name in the folder at rel, for messages and limits.
  std::string PathOf(const std::string& rel, const std::string& name) const;

 private:
  std::string folder_;
  HostFolder root_;
  bool made_root_ = false;
  std::vector<std::string> made_folders_;  // relative paths, in the order made
  struct Folder {
    std::set<std::string> taken;                       // host names given
    std::unordered_map<std::string, int> next_suffix;  // base name -> next number
  };
  std::map<std::string, Folder> folders_;  // by relative path
};

}  // namespace dravik::file_extractor
