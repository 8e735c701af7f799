// Fuzz driver for any input plug-in, linked with the plug-in's objects: the
// input becomes a source file, which goes through IsSupport, GetFileInfo and
// ReadDisk for every disk it claims, exactly as the driver calls them.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dravik/plugin_api.h"
#include "fuzz_support.h"

namespace {

int Progress(int, int total, char* message) {
  if (total < 0) std::abort();  // plug-ins promise a positive total
  if (message != nullptr && message[0] != '\0') message[0] = '\0';
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::Scratch scratch;
  const std::string source = scratch.WriteSource("source.img", data, size);
  static auto* image = new DiskImage;
  char message[kMessageSize] = {};
  char title[kPluginTitleSize] = {};
  if (IsSupport(source.c_str(), message) != kResultOk) return 0;
  int16_t multi = 0;
  if (GetFileInfo(source.c_str(), message, title, &multi) != kResultOk) return 0;
  uint8_t caps[kCapsSize] = {};
  char identity[kIdentitySize] = {};
  char extension[kExtensionSize] = {};
  char label[kLabelSize] = {};
  GetPluginInfo(identity, caps, extension, label);
  const bool direct = caps[kCapDirect] != 0;
  for (int disk = 1; disk <= 16; ++disk) {
    std::memset(image, 0, sizeof(*image));
    char output[kOutputPathSize] = {};
    const std::string out_path = scratch.folder() + "out/out.bin";
    std::memcpy(output, out_path.c_str(), out_path.size());
    void* target = direct ? static_cast<void*>(output) : static_cast<void*>(image);
    const int result = ReadDisk(source.c_str(), target, disk, direct ? 1 : 0, &Progress,
                                message, title);
    dravik::fuzz::CheckTexts(message, title);
    if (result != kResultMoreDisks) break;
  }
  scratch.Clean();
  return 0;
}
