// Paths are POSIX byte strings split on "/" only: UTF-8 never puts "/" or
// "." inside a multibyte character, so no lead-byte awareness is needed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dravik {

inline constexpr size_t kMaxPathBytes = 4095;  // PATH_MAX without its NUL
inline constexpr size_t kMaxNameBytes = 255;   // NAME_MAX

// Whether the path fits the platform's limits: the whole path and each
// component.
bool PathFits(std::string_view path);

// The extension of the last component with its dot, or "": from the name's
// last dot on. A dot in a folder name never counts, and neither does a dot
// that starts the name: ".disk" is a name, not an extension. Every part of
// the program that names files by their extension goes by this one rule.
std::string_view ExtensionOf(std::string_view path);

// folder + base + extension is the whole path. folder runs up to and
// including the last "/"; extension is ExtensionOf(path).
struct PathParts {
  std::string_view folder;
  std::string_view base;
  std::string_view extension;
};

// Refuses (nullopt) a path that does not fit the platform's limits rather
// than cutting it.
std::optional<PathParts> SplitPath(std::string_view path);

// ASCII letters in capitals; every other byte stays.
std::string ToUpperAscii(std::string_view text);

// True when both paths name the same file: the same bytes, or the same
// existing file reached through different names (a link, or a case-blind
// mount).
bool SameFile(const std::string& a, const std::string& b);

// The path without its extension: "dir.d/GAME.2HD" gives "dir.d/GAME",
// "GAME." gives "GAME", "dir.d/GAME" and "dir.d/.disk" stay whole.
std::optional<std::string> PathWithoutExtension(std::string_view path);

}  // namespace dravik
