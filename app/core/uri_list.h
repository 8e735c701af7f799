// The file names of a drop, from the bytes of its text/uri-list. Names that
// are not UTF-8 (Shift-JIS names from old media) arrive percent-encoded byte
// by byte; decoding them here keeps those bytes, where a toolkit's string
// type would turn them into U+FFFD and the file could not be opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dravik {

// The local paths of the file: URIs in the list, in its order, each with its
// bytes percent-decoded. Comment lines, other schemes, files on another host
// and names that cannot be paths (no leading "/", a NUL) are left out.
std::vector<std::string> LocalPathsFromUriList(std::string_view uri_list);

}  // namespace dravik
