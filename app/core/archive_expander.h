// The archive step of every drop: the temporary folder is emptied, and an
// LZH or ZIP archive is unpacked into it so that each of its files can be
// converted on its own.
#pragma once

#include <string>

#include "host.h"

namespace dravik {

struct ExpandResult {
  bool ok = true;
  bool expanded = false;
};

class ArchiveExpander {
 public:
  virtual ~ArchiveExpander() = default;
  virtual ExpandResult ExpandIfArchive(const std::string& path, Host& host) = 0;
  // The folder the archive's files land in, ending in "/"; "" when there is
  // none.
  virtual const std::string& temp_folder() const = 0;
};

// Deletes every file (not folder) in folder, except the one named keep: a
// file the user dropped from inside the temporary folder is theirs to keep.
void EmptyFolder(const std::string& folder, const std::string& keep);

// A private folder under $TMPDIR (default /tmp), ending in "/"; "" when it
// cannot be made.
std::string MakePrivateTempFolder();

// Removes a folder and everything below it, without following links.
void RemoveTree(const std::string& path);

// Manages the temporary folder and expands nothing.
class TempFolderExpander : public ArchiveExpander {
 public:
  explicit TempFolderExpander(std::string folder);
  ExpandResult ExpandIfArchive(const std::string& path, Host& host) override;
  const std::string& temp_folder() const override { return folder_; }

 private:
  std::string folder_;
};

}  // namespace dravik
