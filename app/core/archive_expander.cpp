#include "archive_expander.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "archiver_api.h"
#include "paths.h"
#include "text.h"

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

namespace {

// A new folder of this user only, named dravik-XXXXXX, in parent (which ends
// in "/"); "" with errno set when it cannot be made.
std::string MakeFolderIn(const std::string& parent) {
  std::string pattern = parent + "dravik-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern + "/";
}

// Makes parent when missing; 0 when it is a folder that belongs to this user
// (not a link to one, which could lead the emptying elsewhere), else why not.
int CheckParent(const std::string& parent) {
  const std::string bare = parent.substr(0, parent.size() - 1);
  if (mkdir(bare.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  struct stat st {};
  if (lstat(bare.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return st.st_uid == geteuid() ? 0 : EPERM;
}

}  // namespace

std::string MakePrivateTempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string parent = (base != nullptr && *base != '\0') ? base : "/tmp";
  if (parent.back() != '/') parent += '/';
  return MakeFolderIn(parent);
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

std::string WindowTempFolder(const std::string& program_folder) {
  return program_folder + "draviktemp/";
}

namespace {

constexpr std::string_view kMsgLzhLoaded = "\r\nUNLHA32.DLLをロードしました";
constexpr std::string_view kMsgZipLoaded = "\r\nUNZIP32.DLLをロードしました";
constexpr std::string_view kMsgArchiversDisabled = "\r\nUNLHA/UNZIPの利用を禁止します";
constexpr std::string_view kMsgLzhFailed = "\r\nUnlha展開失敗";
constexpr std::string_view kMsgZipFailed = "\r\nUnZip展開失敗";
constexpr std::string_view kMsgEmptyArchive = "\r\nアーカイブにファイルがありません";

// Whether folder holds a file other than keep (the dropped archive, when
// it lies there).
bool HoldsFiles(const std::string& folder, const std::string& keep) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return false;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string path = folder + entry->d_name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !SameFile(path, keep)) {
      return true;
    }
  }
  return false;
}

}  // namespace

ArchiveExpander::ArchiveExpander(ArchiverLibraries libraries) : libraries_(std::move(libraries)) {}

ArchiveExpander::~ArchiveExpander() { ReleaseArchivers(); }

void ArchiveExpander::PrepareArchivers(const std::string& parent, Host& host,
                                       ArchiverLoading loading) {
  ReleaseArchivers();
  std::string chosen;
  int error = 0;
  if (!parent.empty()) {
    const std::string folder = parent.back() == '/' ? parent : parent + "/";
    error = CheckParent(folder);
    if (error == 0) chosen = MakeFolderIn(folder);
    if (chosen.empty() && error == 0) error = errno;
  }
  if (chosen.empty()) chosen = MakePrivateTempFolder();
  if (chosen.empty()) {
    if (error == 0) error = errno;
    host.AppendLog("\r\n一時フォルダ作成失敗 err:" + std::to_string(error));
    host.AppendLog(kMsgArchiversDisabled);
    return;
  }
  folder_ = chosen;
  if (loading == ArchiverLoading::kAtStart) {
    LoadLibraries(&host);
  } else {
    load_pending_ = true;
  }
}

void ArchiveExpander::LoadLibraries(Host* host) {
  load_pending_ = false;
  lzh_ = SharedLibrary::Open(libraries_.lzh);
  if (lzh_.loaded() && host != nullptr) host->AppendLog(kMsgLzhLoaded);
  zip_ = SharedLibrary::Open(libraries_.zip);
  if (zip_.loaded() && host != nullptr) host->AppendLog(kMsgZipLoaded);
}

void ArchiveExpander::ReleaseArchivers() {
  load_pending_ = false;
  lzh_.Close();
  zip_.Close();
  RemoveTree(folder_);
  folder_.clear();
}

ExpandResult ArchiveExpander::ExpandIfArchive(const std::string& path, Host& host) {
  if (folder_.empty()) return {};
  EmptyFolder(folder_, path);
  const std::string extension = ToUpperAscii(ExtensionOf(path));
  if (extension != ".LZH" && extension != ".ZIP") return {};
  if (load_pending_) LoadLibraries(nullptr);
  bool expanded = false;
  if (!Attempt(lzh_, "UnlhaCheckArchive", "Unlha", "e -n1 ", kMsgLzhFailed, path, host, expanded) ||
      !Attempt(zip_, "UnZipCheckArchive", "UnZip", "-x -j --i ", kMsgZipFailed, path, host,
               expanded)) {
    return {false, false};
  }
  if (expanded && !HoldsFiles(folder_, path)) {
    host.AppendLog(kMsgEmptyArchive);
    return {true, true, true};
  }
  return {true, expanded};
}

// One library's turn: false when it accepted the archive and failed on it.
bool ArchiveExpander::Attempt(const SharedLibrary& library, const char* check_name,
                              const char* run_name, const char* command, std::string_view failure,
                              const std::string& path, Host& host, bool& expanded) {
  const auto check = reinterpret_cast<ArchiverCheckFn>(library.Symbol(check_name));
  if (check == nullptr || check(path.c_str(), 0) == 0) return true;
  host.AppendLog("\r\n" + SanitizeUtf8(FileNameOf(path)) + "...展開中");
  const auto run = reinterpret_cast<ArchiverCommandFn>(library.Symbol(run_name));
  if (run == nullptr) return true;
  // A path holding a quote or a line break cannot be quoted; the library
  // refuses such a line, and the drop stops.
  const std::string line = command + ("\"" + path + "\" \"" + folder_ + "\"");
  char output[1] = {};
  if (run(nullptr, line.c_str(), output, 0) != 0) {
    host.AppendLog(failure);
    return false;
  }
  expanded = true;
  host.AppendLog("...完了");
  return true;
}

}  // namespace dravik
