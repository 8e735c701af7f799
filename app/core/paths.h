// Host path handling for the driver: POSIX byte strings split on "/" only.
#pragma once

#include <string>
#include <string_view>

#include "path_name.h"

namespace dravik {

// Last component (name and extension).
std::string_view FileNameOf(std::string_view path);
// Everything up to and including the last "/", or "" without one.
std::string_view FolderOf(std::string_view path);
// The path with ExtensionOf (path_name.h) removed.
std::string DropExtension(std::string_view path);
// The folder of the running program, ending in "/".
std::string ProgramFolder();

}  // namespace dravik
