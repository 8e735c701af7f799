#include "partner_file.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "path_name.h"
#include "text.h"

namespace dravik {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// In a name that is not UTF-8 (Shift-JIS from old media) the byte after a
// lead byte is half of a character, not a letter: "\x83\x41" and
// "\x83\x61" are two different kana.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b, bool sjis) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (sjis && IsSjisLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::optional<std::string> FindPartnerFile(const std::string& path) {
  const auto parts = SplitPath(path);
  if (!parts) return std::nullopt;
  if (IsRegularFile(path)) return path;
  const std::string folder(parts->folder);
  const std::string_view name = std::string_view(path).substr(folder.size());
  if (name.empty()) return std::nullopt;
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return std::nullopt;
  const bool sjis = SanitizeUtf8(name) != name;
  std::optional<std::string> found;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view entry_name = entry->d_name;
    if (!EqualIgnoringAsciiCase(entry_name, name, sjis)) continue;
    if (found && entry_name >= std::string_view(*found).substr(folder.size())) continue;
    std::string candidate = folder + std::string(entry_name);
    if (IsRegularFile(candidate)) found = std::move(candidate);
  }
  return found;
}

}  // namespace dravik
