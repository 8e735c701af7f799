// A disk's title travels two ways: the record keeps the disk's own
// Shift-JIS bytes, because writers store them into other formats, while the
// host's title buffer gets UTF-8 for the log and the comment file.
#pragma once

#include <cstddef>
#include <string_view>

#include "dravik/disk_image.h"

namespace dravik {

// Length of the longest prefix of sjis, at most limit bytes, that does not
// end inside a two-byte character.
size_t SjisPrefixLength(std::string_view sjis, size_t limit);

// sjis (up to its first NUL) into image.title unchanged, cut at a character
// boundary so that it fits with its NUL; as UTF-8 into title[256] when
// title is not nullptr.
void SetDiskTitle(DiskImage& image, std::string_view sjis, char* title);

}  // namespace dravik
