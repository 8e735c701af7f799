#include <string>

#include "archiver.h"
#include "text.h"

namespace dravik::archiver {
namespace {

constexpr size_t kMaxNameBytes = 255;  // NAME_MAX

// Decodes one UTF-8 sequence of valid text at text[i]; advances i.
char32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  char32_t cp = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
  for (int k = 1; k < length && i + k < text.size(); ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  }
  i += length;
  return cp;
}

}  // namespace

std::string SafeBaseName(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  const std::string_view last =
      separator == std::string_view::npos ? path : path.substr(separator + 1);
  if (last.empty() || last == "." || last == "..") return {};
  return CleanFileName(last);
}

std::string DecodeLzhName(std::string_view latin1_utf8) {
  const std::string text = SanitizeUtf8(latin1_utf8);
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp > 0xFF) return text;  // decoded by libarchive from a code page in the header
    bytes += static_cast<char>(cp);
  }
  // libarchive turns every "\" of a level-0 header into "/", including the
  // second byte of characters such as 0x83 0x5C; no Shift-JIS character ends
  // in "/", so such a pair is put back.
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(bytes[i]))) {
      if (bytes[i + 1] == '/') bytes[i + 1] = '\\';
      ++i;
    }
  }
  return SjisToFileName(bytes);
}

std::string NumberedName(std::string_view base, int number) {
  std::string_view stem = base;
  std::string_view extension;
  const size_t dot = base.rfind('.');
  // A leading dot starts a name, not an extension; an overlong "extension"
  // would leave no room for the name itself.
  if (dot != std::string_view::npos && dot != 0 && base.size() - dot <= 32) {
    stem = base.substr(0, dot);
    extension = base.substr(dot);
  }
  const std::string suffix = number <= 1 ? "" : "_" + std::to_string(number);
  const size_t room = kMaxNameBytes - suffix.size() - extension.size();
  stem = stem.substr(0, Utf8PrefixLength(stem, room));
  return std::string(stem) + suffix + std::string(extension);
}

}  // namespace dravik::archiver
