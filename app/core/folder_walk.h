// Walking a folder of a collection for the images in it: the command line's
// -r and a folder dropped on the window.
#pragma once

#include <string>
#include <vector>

namespace dravik {

struct WalkedFile {
  std::string path;      // the root as given, then "/" and the names below it
  std::string relative;  // the folders between the root and the file, each
                         // followed by "/" ("" for a file in the root)
};

struct FolderWalk {
  std::vector<WalkedFile> files;
  // Folders that could not be read, each as "path: reason".
  std::vector<std::string> errors;
};

// Every regular file under root, depth first, each folder's entries sorted
// by their names' bytes. Symbolic links are neither followed nor listed, and
// names that begin with "." are left out (root itself is walked whatever its
// name, and may be a link). A folder that is the same folder as skip (the
// output folder, when it lies inside the collection) is not entered.
FolderWalk WalkFolder(const std::string& root, const std::string& skip = "");

// True when path names a folder (following a link, as a name given by the
// user is followed).
bool IsFolder(const std::string& path);

// base and relative ("a/b/") as one folder path.
std::string JoinFolder(const std::string& base, const std::string& relative);

// Makes the folders of relative under base, which exists, one by one; made
// gets each folder this call made. A name in the way that is no folder (a
// link among them: outputs go below base and nowhere else) fails with the
// reason.
bool MakeSubFolders(const std::string& base, const std::string& relative,
                    std::vector<std::string>& made, std::string& reason);

}  // namespace dravik
