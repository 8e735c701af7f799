// Texts at the plug-in boundary are UTF-8; texts on disks are Shift-JIS
// (CP932). Everything placed into a caller's fixed buffer goes through here,
// so that a text is cut only at a character boundary and always ends in NUL.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravik {

// Decodes CP932 to UTF-8. Undecodable bytes become U+FFFD.
std::string SjisToUtf8(std::string_view sjis);

// Decodes CP932 for use as a host file name: undecodable bytes become "_".
std::string SjisToFileName(std::string_view sjis);

// Decodes UTF-16 (a VFAT long name) to UTF-8. A surrogate without its pair
// becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// A UTF-8 name with "_" for what has no place in a host file name: bytes
// that are no UTF-8, control characters (C0, DEL, C1: line breaks and
// escapes would garble every listing that shows the name) and U+FFFD.
std::string CleanFileName(std::string_view name);

// Replaces every byte that is not part of valid UTF-8 with U+FFFD; for host
// names shown in the log.
std::string SanitizeUtf8(std::string_view text);

// Length of the longest prefix of text, at most limit bytes, that ends on a
// UTF-8 character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t limit);

// A UTF-8 text of at most limit bytes: the text itself when it fits, else
// its two ends joined by "…", cut at character boundaries. Paths are
// shortened so, since both ends tell most: where the folder is, which name.
std::string ShortenInMiddle(std::string_view utf8, size_t limit);

// Copies a UTF-8 text into buffer[size], cut at a character boundary so that
// it fits with its NUL. A size of 0 writes nothing.
void CopyText(char* buffer, size_t size, std::string_view utf8);

// Converts Shift-JIS into buffer[size] as UTF-8, cut the same way.
void CopySjisText(char* buffer, size_t size, std::string_view sjis);

// Length of a NUL-terminated text in a buffer of size bytes that may lack
// its NUL.
size_t BoundedLength(const char* buffer, size_t size);

inline bool IsSjisLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

}  // namespace dravik
