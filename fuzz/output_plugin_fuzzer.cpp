// Fuzz driver for any output plug-in, linked with the plug-in's objects: the
// input supplies the header and the ID table of a DiskImage over
// pseudo-random data, which is written into a scratch folder; nothing may
// appear outside it.
#include <cstdint>
#include <cstring>
#include <string>

#include "dravik/plugin_api.h"
#include "fuzz_support.h"

namespace {

int Progress(int, int, char* message) {
  if (message != nullptr && message[0] != '\0') message[0] = '\0';
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::Scratch scratch;
  static auto* image = new DiskImage;
  std::memset(image, 0, sizeof(*image));
  // Header and IDs from the input; unset IDs stay empty, so short inputs
  // still describe sensible disks.
  std::memset(image->ids, 0xFF, sizeof(image->ids));
  const size_t header = std::min<size_t>(size, kDebugDumpSize - kTitleSize);
  std::memcpy(reinterpret_cast<uint8_t*>(image) + kTitleSize, data, header);
  if (size > header) {
    std::memcpy(image->title, data + header, std::min<size_t>(size - header, kTitleSize - 1));
  }
  uint32_t seed = static_cast<uint32_t>(size) * 2654435761u;
  for (size_t i = 0; i < kDataCapacity; i += 4) {
    seed = seed * 1103515245u + 12345u;
    std::memcpy(image->data + i, &seed, 4);
  }
  char message[kMessageSize] = {};
  const std::string out = scratch.folder() + "out/DISK.IMG";
  WriteDisk(image, out.c_str(), 0, &Progress, message);
  dravik::fuzz::CheckTexts(message, nullptr);
  scratch.Clean();
  return 0;
}
