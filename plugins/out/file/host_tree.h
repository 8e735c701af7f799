// The host side of an extraction: the output folder and what goes into it.
// Names come from a disk and may hold anything, so each is made safe here;
// folders are entered through descriptors and files created beside them
// without following links, so nothing planted in the output folder can lead
// a write outside it.
#pragma once

#include <map>
#include <string>
#include <string_view>

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
  HostFolder Subfolder(const std::string& name) const;

 private:
  int fd_ = -1;
};

// A UTF-8 name that is one harmless component: "/" and NUL become "_", and
// "", "." and ".." cannot remain.
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
  // it; false when that fails.
  bool Open();
  bool is_open() const { return root_.is_open(); }
  const HostFolder& root() const { return root_; }

  // The host name for a Shift-JIS name from the disk in the folder at
  // relative path rel ("" or "/A/B"). The same disk name always gets the
  // same host name; two disk names that clean up to one host name are kept
  // apart by a numbered suffix.
  std::string Claim(const std::string& rel, std::string_view sjis_name, bool is_folder);

  // The full path of name in the folder at rel, for messages and limits.
  std::string PathOf(const std::string& rel, const std::string& name) const;

 private:
  std::string folder_;
  HostFolder root_;
  // relative folder -> host name -> the disk name (with its kind) that owns it
  std::map<std::string, std::map<std::string, std::string>> owners_;
};

}  // namespace dravik::file_extractor
