// The archive step of every drop: the temporary folder is emptied, and an
// LZH or ZIP archive is unpacked into it by the archiver libraries (UNLHA32,
// UNZIP32) so that each of its files can be converted on its own. Without
// the folder or the libraries, archives go to the input plug-ins as they are.
#pragma once

#include <string>

#include "host.h"
#include "shared_library.h"

namespace dravik {

struct ExpandResult {
  bool ok = true;
  bool expanded = false;
  // Unpacked, but nothing came out that could be converted (logged).
  bool empty = false;
};

// The library files, loaded by bare name: the executables carry RUNPATH
// $ORIGIN, so the program folder is searched.
struct ArchiverLibraries {
  std::string lzh = "UNLHA32.so";
  std::string zip = "UNZIP32.so";
};

// When the archiver libraries are loaded. Loading them maps libarchive and
// what it pulls in (compression libraries, libxml2, ICU), which costs more
// than converting a disk: a command-line run that meets no archive should
// not pay for it.
enum class ArchiverLoading {
  kAtStart,         // logged as the window has always shown it
  kOnFirstArchive,  // silently, when the first .LZH or .ZIP is met
};

class ArchiveExpander {
 public:
  explicit ArchiveExpander(ArchiverLibraries libraries = {});
  // Releases the archivers.
  ~ArchiveExpander();
  ArchiveExpander(const ArchiveExpander&) = delete;
  ArchiveExpander& operator=(const ArchiveExpander&) = delete;

  // Start-up: makes this expander's own folder under parent (parent is made
  // when missing, and used only when it is a real folder of this user, not a
  // link), so that two windows of one program folder never empty each
  // other's files; under $TMPDIR when that cannot be done or parent is "".
  // Then loads the libraries, now or at the first archive. Without any
  // folder, archives are not expanded.
  void PrepareArchivers(const std::string& parent, Host& host,
                        ArchiverLoading loading = ArchiverLoading::kAtStart);
  // Empties the temporary folder (except path itself, when it lies there),
  // then unpacks path when it is an archive a library accepts. Not ok when
  // a library failed: the drop stops. An archive that yields no file is
  // said so in a line of its own.
  ExpandResult ExpandIfArchive(const std::string& path, Host& host);
  // Shut-down: unloads the libraries and removes the folder with whatever
  // is left in it.
  void ReleaseArchivers();

  // The folder the archive's files land in, ending in "/"; "" when there is
  // none.
  const std::string& temp_folder() const { return folder_; }
  bool lzh_loaded() const { return lzh_.loaded(); }

 private:
  void LoadLibraries(Host* host);
  bool Attempt(const SharedLibrary& library, const char* check_name, const char* run_name,
               const char* command, std::string_view failure, const std::string& path, Host& host,
               bool& expanded);

  ArchiverLibraries libraries_;
  std::string folder_;
  SharedLibrary lzh_;
  SharedLibrary zip_;
  bool load_pending_ = false;
};

// Where the window's temporary folders are made: draviktemp/ in the program
// folder.
std::string WindowTempFolder(const std::string& program_folder);

// Deletes every file (not folder) in folder, except the one named keep: a
// file the user dropped from inside the temporary folder is theirs to keep.
void EmptyFolder(const std::string& folder, const std::string& keep);

// A private folder under $TMPDIR (default /tmp), ending in "/"; "" when it
// cannot be made (errno tells why).
std::string MakePrivateTempFolder();

// Removes a folder and everything below it, without following links.
void RemoveTree(const std::string& path);

}  // namespace dravik
