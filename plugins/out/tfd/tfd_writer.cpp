// A TFD file is the raw sectors of a 2HD disk, 77 x 2 x 8 x 1024, with no
// header: nothing but that one shape can be told apart when it is read back.
#include "file_io.h"
#include "plugin_export.h"
#include "raw_track.h"
#include "tfd_layout.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgCannotConvert = "\r\nこのイメージをTFD形式に変換する事はできません";

// The file carries no IDs: it is read back as R = 1 .. 8 in file order, so
// every track must hold exactly those eight sectors, which are written in R
// order whatever order the record keeps them in.
bool FitsTfd(const DiskImage& image) {
  if (image.track_count != tfd::kTfdTrackCount ||
      image.sectors_per_track != tfd::kTfdSectorsPerTrack || image.size_code != tfd::kTfdSizeCode) {
    return false;
  }
  for (int t = 0; t < tfd::kTfdTrackCount; ++t) {
    const auto track = RawTrackOf(image, t);
    if (!track || track->sectors != tfd::kTfdSectorsPerTrack ||
        track->size_code != tfd::kTfdSizeCode) {
      return false;
    }
  }
  return true;
}

int WriteTfd(DiskImage& image, const char* output_path, ProgressCallback progress, char* message) {
  char note[kMessageSize] = {};
  if (TrimTrackCount(image, 2)) CopyText(note, sizeof(note), kMsgTrackCountAdjusted);
  if (!FitsTfd(image)) {
    SetMessage(message, kMsgCannotConvert);
    return kResultFailed;
  }
  OutputFile out;
  if (!out.Create(output_path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, output_path, out.error()));
    return kResultFailed;
  }
  return WriteTracksInROrder(image, out, progress, note, message);
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char* extension, char* label) {
  return GuardExport(nullptr, [&] {
    return FillPluginInfo(
        {kKindOutput, "TFD形式出力Plug-in Ver.1.02", {kCapDiskImage}, ".TFD", "TFD形式(T98用)"},
        identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return WriterExport(direct, message,
                      [&] { return WriteTfd(*image, output_path, progress, message); });
}

}  // extern "C"
