// TFD and BKDSK images carry no header: the file's exact length names one of
// a few known disks, and the geometry follows from it.
#include "disk_data.h"
#include "file_io.h"
#include "interleave.h"
#include "plugin_export.h"
#include "reader_export.h"
#include "tfd_layout.h"

namespace dravik {
namespace {

const tfd::Capacity* CapacityOf(int64_t length) {
  for (const tfd::Capacity& capacity : tfd::kCapacities) {
    if (capacity.length == length) return &capacity;
  }
  return nullptr;
}

// The capacity the source's length names; result 6 when the length cannot
// be told, 8 (without a message) when no capacity has it.
int FindCapacity(InputFile& file, const tfd::Capacity*& capacity) {
  const int64_t length = file.Size();
  if (length < 0) return kResultReadError;
  capacity = CapacityOf(length);
  return capacity != nullptr ? kResultOk : kResultFailed;
}

int ReadRawDisk(InputFile& file, DiskImage& image, ProgressCallback progress, char* message) {
  const tfd::Capacity* capacity = nullptr;
  if (const int result = FindCapacity(file, capacity); result != kResultOk) return result;

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

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("TFD/BKDSK形式入力Plug-in Ver.1.01", {kCapDiskImage}, identity, caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, [&](InputFile& file) {
    SetMessage(message, "");
    const tfd::Capacity* capacity = nullptr;
    const int result = FindCapacity(file, capacity);
    return result == kResultFailed ? kResultNotMine : result;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    const tfd::Capacity* capacity = nullptr;
    const int result = FindCapacity(file, capacity);
    if (result == kResultOk) SetMessage(message, capacity->description);
    return result;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadRawDisk(file, *static_cast<DiskImage*>(target), progress, message);
  });
}

}  // extern "C"
