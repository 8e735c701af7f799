#include "disk_title.h"

#include <cstring>

#include "dravik/plugin_api.h"
#include "text.h"

namespace dravik {

size_t SjisPrefixLength(std::string_view sjis, size_t limit) {
  size_t length = 0;
  while (length < sjis.size()) {
    // A lead byte at the very end stands alone; it is kept as it was stored.
    const size_t step =
        IsSjisLeadByte(static_cast<unsigned char>(sjis[length])) && length + 1 < sjis.size() ? 2
                                                                                             : 1;
    if (length + step > limit) break;
    length += step;
  }
  return length;
}

void SetDiskTitle(DiskImage& image, std::string_view sjis, char* title) {
  const size_t nul = sjis.find('\0');
  if (nul != std::string_view::npos) sjis = sjis.substr(0, nul);
  const size_t length = SjisPrefixLength(sjis, sizeof(image.title) - 1);
  std::memcpy(image.title, sjis.data(), length);
  image.title[length] = '\0';
  CopySjisText(title, kPluginTitleSize, sjis);
}

}  // namespace dravik
