#include "plugin_export.h"

#include <cstring>
#include <string>

namespace dravik {

int FillPluginInfo(const PluginIdentity& info, char* identity, uint8_t* caps,
                   char* extension, char* label) {
  if (identity == nullptr || caps == nullptr) return kResultFailed;
  std::memset(identity, 0, kIdentitySize);
  identity[0] = static_cast<char>(info.kind);
  identity[1] = static_cast<char>(kInterfaceVersion);
  CopyText(identity + kDescriptionOffset, kIdentitySize - kDescriptionOffset,
           info.description);
  std::memset(caps, 0, kCapsSize);
  for (int cap : info.caps) {
    if (cap >= 0 && cap < kCapsSize) caps[cap] = 1;
  }
  if (info.extension != nullptr) CopyText(extension, kExtensionSize, info.extension);
  if (info.label != nullptr) CopyText(label, kLabelSize, info.label);
  return kResultOk;
}

std::string FileErrorMessage(std::string_view message, std::string_view path, int error) {
  char buffer[256];
  // The GNU strerror_r: thread-safe, and the text may not be in buffer.
  const std::string reason = error == 0 ? "unknown error" : strerror_r(error, buffer, sizeof(buffer));
  const std::string tail = ": " + reason;
  const size_t fixed = message.size() + 2 + tail.size();
  const size_t room = kMessageSize - 1 > fixed ? kMessageSize - 1 - fixed : 0;
  return std::string(message) + "\r\n" + ShortenInMiddle(SanitizeUtf8(path), room) + tail;
}

}  // namespace dravik
