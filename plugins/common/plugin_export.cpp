#include "plugin_export.h"

#include <cstring>

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

}  // namespace dravik
