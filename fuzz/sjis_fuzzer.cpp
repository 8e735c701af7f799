// The Shift-JIS converter on arbitrary bytes: output must be valid UTF-8,
// and cut copies must stay inside their buffers.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = dravik::SjisToUtf8(input);
  if (dravik::SanitizeUtf8(utf8) != utf8) std::abort();
  char small[17];
  small[16] = 0x55;
  dravik::CopySjisText(small, 16, input);
  if (small[16] != 0x55) std::abort();
  const std::string cut(small);
  if (dravik::SanitizeUtf8(cut) != cut) std::abort();
  dravik::SjisToFileName(input);
  return 0;
}
