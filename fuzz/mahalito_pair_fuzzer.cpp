// Fuzz driver for the MAHALITO reader, linked with its objects. The generic
// input driver writes one file, and a MAHALITO image is two: without its
// ".dat" partner every read ends at the missing file. Here the input is
// split into an ID file and its data file, and the disk that comes back is
// checked against what every writer relies on.
//
// Input: byte 0 picks the signature put in front of the ID file (low 2 bits;
// 0 = none) and the spelling of the data file's name (bit 2); bytes 1 and 2
// give the ID file's length (little-endian), the data file gets the rest.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravik/plugin_api.h"
#include "fuzz_support.h"

namespace {

int Progress(int, int total, char* message) {
  if (total <= 0) std::abort();
  if (message != nullptr) message[0] = '\0';
  return 0;
}

// What writers take for granted: counts within the record, every used slot
// with a length, and all their data inside the data area.
void CheckDisk(const DiskImage& image) {
  if (image.track_count > kMaxTracks || image.sectors_per_track > kMaxSectorsPerTrack ||
      image.size_code > kMaxSizeCode) {
    std::abort();
  }
  size_t total = 0;
  for (int t = 0; t < kMaxTracks; ++t) {
    for (const SectorId& id : image.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      if (t >= image.track_count || id.n > kMaxSizeCode) std::abort();
      total += SectorLength(id.n);
    }
  }
  if (total > static_cast<size_t>(kDataCapacity)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kSignatures[] = {"", "ver 1.10  ", "2DD ver1.0", "ver 1.20  "};
  if (size < 3) return 0;
  static dravik::fuzz::Scratch scratch;
  const std::string signature = kSignatures[data[0] & 3];
  const char* data_name = (data[0] & 4) != 0 ? "SOURCE.DAT" : "source.dat";
  size_t id_size = static_cast<size_t>(data[1] | (data[2] << 8));
  data += 3;
  size -= 3;
  if (id_size > size) id_size = size;

  std::string id(signature);
  id.append(reinterpret_cast<const char*>(data), id_size);
  const std::string id_path = scratch.WriteSource(
      "source.2hd", reinterpret_cast<const uint8_t*>(id.data()), id.size());
  const std::string data_path = scratch.WriteSource(data_name, data + id_size, size - id_size);

  static auto* image = new DiskImage;
  char message[kMessageSize] = {};
  char title[kPluginTitleSize] = {};
  IsSupport(data_path.c_str(), message);
  dravik::fuzz::CheckTexts(message, nullptr);
  message[0] = '\0';
  if (IsSupport(id_path.c_str(), message) == kResultOk) {
    int16_t multi = 0;
    GetFileInfo(id_path.c_str(), message, title, &multi);
    dravik::fuzz::CheckTexts(message, title);
    std::memset(image, 0, sizeof(*image));
    message[0] = title[0] = '\0';
    const int result = ReadDisk(id_path.c_str(), image, 1, 0, &Progress, message, title);
    dravik::fuzz::CheckTexts(message, title);
    if (result == kResultOk) CheckDisk(*image);
  }
  scratch.Clean({"source.2hd", "source.dat", "SOURCE.DAT"});
  return 0;
}
