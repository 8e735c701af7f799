// BKDSK images are plain sector dumps named by their shape: the writer picks
// the extension, so it replaces the one of the path it is given.
#include <cerrno>

#include "bkdsk_layout.h"
#include "file_io.h"
#include "path_name.h"
#include "plugin_export.h"
#include "raw_track.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgCannotConvert =
    "\r\n特殊なフォーマットのイメージです\r\nこのイメージをBKDSK形式に変換することは出来ません";

const bkdsk::Shape* ShapeOf(const DiskImage& image) {
  const int first_mfm = image.ids[0][0].mfm != 0 ? 1 : 0;
  for (const bkdsk::Shape& shape : bkdsk::kShapes) {
    if (shape.sectors_per_track == image.sectors_per_track &&
        (shape.track_count == bkdsk::kAnyTrackCount || shape.track_count == image.track_count) &&
        (shape.first_mfm < 0 || shape.first_mfm == first_mfm)) {
      return &shape;
    }
  }
  return nullptr;
}

// A reader tells the geometry from the extension alone, so every track must
// be what the extension promises: the same sector count, R = 1 .. n, and the
// extension's sector size (track 0 of the 26-sector disks may be the 128-byte
// FM track of a mixed-density 2HD disk).
bool FitsShape(const DiskImage& image, const bkdsk::Shape& shape) {
  if (image.size_code != shape.size_code) return false;
  for (int t = 0; t < image.track_count; ++t) {
    const auto track = RawTrackOf(image, t);
    if (!track || track->sectors != image.sectors_per_track) return false;
    const bool fm_track0 = t == 0 && shape.sectors_per_track == 26 && track->size_code == 0;
    if (track->size_code != shape.size_code && !fm_track0) return false;
  }
  return true;
}

int WriteBkdsk(DiskImage& image, const char* output_path, ProgressCallback progress,
               char* message) {
  char note[kMessageSize] = {};
  if (TrimTrackCount(image, kTrimmedTrackCount)) {
    CopyText(note, sizeof(note), kMsgTrackCountAdjusted);
  }
  const bkdsk::Shape* shape = ShapeOf(image);
  if (shape == nullptr || !FitsShape(image, *shape)) {
    SetMessage(message, kMsgCannotConvert);
    return kResultFailed;
  }
  const auto parts = SplitPath(output_path);
  const std::string path =
      parts ? std::string(parts->folder) + std::string(parts->base) + std::string(shape->extension)
            : std::string();
  if (!parts || !PathFits(path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, output_path, ENAMETOOLONG));
    return kResultFailed;
  }
  // The file written is not the one the caller named, so the caller could
  // not check it: converting A.DD6 to BKDSK writes A.DD6 again. That is safe
  // only because an output replaces the file of its name when complete.
  OutputFile out;
  if (!out.Create(path)) {
    SetMessage(message, FileErrorMessage(kMsgTargetOpenError, path, out.error()));
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
        {kKindOutput, "BKDSK形式出力Plug-in Ver.1.01", {kCapDiskImage}, ".HDM", "BKDSK形式"},
        identity, caps, extension, label);
  });
}

DRAVIK_EXPORT int WriteDisk(DiskImage* image, const char* output_path, int direct,
                            ProgressCallback progress, char* message) {
  return WriterExport(direct, message,
                      [&] { return WriteBkdsk(*image, output_path, progress, message); });
}

}  // extern "C"
