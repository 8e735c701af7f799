// TFD and BKDSK images carry no header: the file's exact length names one of
// a few known disks, and the geometry follows from it.
#include "disk_data.h"
#include "file_io.h"
#include "plugin_export.h"
#include "tfd_layout.h"

namespace dravik {
namespace {

const tfd::Capacity* CapacityOf(int64_t length) {
  for (const tfd::Capacity& capacity : tfd::kCapacities) {
    if (capacity.length == length) return &capacity;
  }
  return nullptr;
}

// The slot that sector j (in file order) takes in a 2:1 interleaved row:
// R = 1, 14, 2, 15, ... for 26 sectors.
int InterleavedSlot(int j, int sectors) {
  const int half = sectors / 2;
  return j < half ? 2 * j : 2 * (j - half) + 1;
}

// Opens the source and finds its capacity; any result but 0 ends the call.
int OpenSource(const char* path, InputFile& file, const tfd::Capacity*& capacity, char* message) {
  if (!file.Open(path)) {
    SetMessage(message, kMsgSourceOpenError);
    return kResultFailed;
  }
  const int64_t length = file.Size();
  if (length < 0) return kResultReadError;
  capacity = CapacityOf(length);
  return capacity != nullptr ? kResultOk : kResultFailed;
}

int ReadRawDisk(const char* path, DiskImage& image, ProgressCallback progress, char* message) {
  InputFile file;
  const tfd::Capacity* capacity = nullptr;
  if (const int result = OpenSource(path, file, capacity, message); result != kResultOk) {
    return result;
  }

  image.track_count = capacity->track_count;
  image.head_count = 2;
  image.sectors_per_track = capacity->sectors_per_track;
  image.size_code = capacity->size_code;
  ClearSectorIds(image);
  DiskDataWriter data(image);
  const int sectors = capacity->sectors_per_track;
  char note[kMessageSize] = {};
  for (int t = 0; t < kMaxTracks; ++t) {
    if (t < capacity->track_count) {
      const bool fm = capacity->diskbasic && t == 0;
      const uint8_t n = fm ? 0 : capacity->size_code;
      const size_t sector_length = SectorLength(n);
      uint8_t* row = data.Reserve(sectors * sector_length);
      if (row == nullptr) {
        SetMessage(message, kMsgImageTooLarge);
        return kResultFailed;
      }
      for (int j = 0; j < sectors; ++j) {
        const int slot = capacity->diskbasic ? InterleavedSlot(j, sectors) : j;
        SetSectorId(image, t, slot, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                    static_cast<uint8_t>(j + 1), n, 0, fm ? 0 : 1);
        if (!file.ReadExact(row + slot * sector_length, sector_length)) return kResultReadError;
      }
    }
    // Every row reports, against the disk's own track count.
    if (progress != nullptr && progress(t, capacity->track_count, note) != 0) {
      return kResultAborted;
    }
  }
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo({kKindInput, "TFD/BKDSK形式入力Plug-in Ver.1.01", {kCapDiskImage}},
                          identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return GuardExport(message, [&] {
    message[0] = '\0';
    InputFile file;
    if (!file.Open(path)) return kResultReadError;
    const int64_t length = file.Size();
    if (length < 0) return kResultReadError;
    return CapacityOf(length) != nullptr ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char*, int16_t* multi_disk) {
  return GuardExport(message, [&] {
    *multi_disk = 0;
    InputFile file;
    const tfd::Capacity* capacity = nullptr;
    const int result = OpenSource(path, file, capacity, message);
    if (result == kResultOk) SetMessage(message, capacity->description);
    return result;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return GuardExport(message, [&] {
    message[0] = '\0';
    title[0] = '\0';
    if (DirectFlagSet(direct)) {
      SetMessage(message, kMsgUnsupportedConversion);
      return kResultFailed;
    }
    return ReadRawDisk(path, *static_cast<DiskImage*>(target), progress, message);
  });
}

}  // extern "C"
