#include "text.h"

#include <cstdint>
#include <cstring>

namespace dravik {
namespace {

constexpr uint16_t kCp932Double[60][189] = {
#include "cp932_table.inc"
};

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kUndecodable = 0xFFFFFFFF;

int LeadRow(unsigned char lead) {
  if (lead >= 0x81 && lead <= 0x9F) return lead - 0x81;
  if (lead >= 0xE0 && lead <= 0xFC) return lead - 0xE0 + 31;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one CP932 character at text[i]; returns its code point (or
// kUndecodable) and advances i past it.
char32_t DecodeSjis(std::string_view text, size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  if (c >= 0xA1 && c <= 0xDF) {  // half-width katakana
    ++i;
    return 0xFF61 + (c - 0xA1);
  }
  const int row = LeadRow(c);
  if (row >= 0 && i + 1 < text.size()) {
    const auto t = static_cast<unsigned char>(text[i + 1]);
    const char32_t cp = t >= 0x40 && t <= 0xFC ? kCp932Double[row][t - 0x40] : 0;
    if (cp != 0) {
      i += 2;
      return cp;
    }
  }
  // An unmapped pair loses only its lead byte: the next byte may be text.
  ++i;
  return kUndecodable;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  size_t len;
  char32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto t = static_cast<unsigned char>(text[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (overlong || surrogate || cp > 0x10FFFF) return 0;
  return len;
}

std::string DecodeWith(std::string_view sjis, bool file_name) {
  std::string out;
  out.reserve(sjis.size() * 3 / 2);
  for (size_t i = 0; i < sjis.size();) {
    const char32_t cp = DecodeSjis(sjis, i);
    if (cp == kUndecodable) {
      if (file_name) {
        out += '_';
      } else {
        AppendUtf8(out, kReplacement);
      }
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

}  // namespace

std::string SjisToUtf8(std::string_view sjis) { return DecodeWith(sjis, false); }

std::string SjisToFileName(std::string_view sjis) { return DecodeWith(sjis, true); }

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char32_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
    }
  }
  return out;
}

std::string CleanFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t len = Utf8SequenceLength(name, i);
    const auto c = static_cast<unsigned char>(name[i]);
    const auto c1 = len == 2 ? static_cast<unsigned char>(name[i + 1]) : 0;
    const bool control = (len == 1 && (c < 0x20 || c == 0x7F)) || (c == 0xC2 && c1 < 0xA0);
    const bool replacement = name.substr(i, len) == "\uFFFD";
    if (len == 0 || control || replacement) {
      out += '_';
      i += len == 0 ? 1 : len;
    } else {
      out.append(name, i, len);
      i += len;
    }
  }
  return out;
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8SequenceLength(text, i);
    if (len == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  return out;
}

size_t Utf8PrefixLength(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t end = limit;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return end;
}

std::string ShortenInMiddle(std::string_view utf8, size_t limit) {
  if (utf8.size() <= limit) return std::string(utf8);
  constexpr std::string_view kMark = "…";
  if (limit < kMark.size()) return std::string(utf8.substr(0, Utf8PrefixLength(utf8, limit)));
  const size_t room = limit - kMark.size();
  const size_t front = Utf8PrefixLength(utf8, room - room / 2);
  size_t back = utf8.size() - room / 2;
  while (back < utf8.size() && (static_cast<unsigned char>(utf8[back]) & 0xC0) == 0x80) ++back;
  return std::string(utf8.substr(0, front)) + std::string(kMark) + std::string(utf8.substr(back));
}

void CopyText(char* buffer, size_t size, std::string_view utf8) {
  if (buffer == nullptr || size == 0) return;
  const size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  const size_t len = Utf8PrefixLength(utf8, size - 1);
  std::memcpy(buffer, utf8.data(), len);
  buffer[len] = '\0';
}

void CopySjisText(char* buffer, size_t size, std::string_view sjis) {
  CopyText(buffer, size, SjisToUtf8(sjis));
}

size_t BoundedLength(const char* buffer, size_t size) {
  if (buffer == nullptr) return 0;
  const void* nul = std::memchr(buffer, '\0', size);
  return nul == nullptr ? size : static_cast<size_t>(static_cast<const char*>(nul) - buffer);
}

}  // namespace dravik
