// Wraps a raw sector dump into a disk image record and hands it to a built
// output plug-in, the way the program hands a decoded disk over. Used to
// make sample disks and fuzz seeds from plain dumps made by other tools.
//
//   wrap-raw [-t TITLE] TRACKS SECTORS N RAW OUTPUT WRITER.dvw
//   wrap-raw [-t TITLE] --record TRACKS SECTORS N RAW OUTPUT
//
// IDs are C = track / 2, H = track % 2, R = slot + 1, all MFM. A dump shorter
// than the disk is padded with 0xE5, the filler of a freshly formatted
// sector. TITLE is stored as given (the disk's own bytes). --record writes the
// record's header, ID table and title instead: the input of the writers'
// fuzz targets.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "disk_data.h"
#include "dravik/plugin_api.h"
#include "file_io.h"
#include "shared_library.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: wrap-raw [-t TITLE] TRACKS SECTORS N RAW OUTPUT WRITER.dvw\n"
               "       wrap-raw [-t TITLE] --record TRACKS SECTORS N RAW OUTPUT\n");
  return 2;
}

bool ParseCount(const char* text, int low, int high, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

int Quiet(int, int, char* message) {
  if (message != nullptr) message[0] = '\0';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string title;
  bool record = false;
  while (!args.empty() && args[0].starts_with("-")) {
    if (args[0] == "-t" && args.size() > 1) {
      title = args[1];
      args.erase(args.begin(), args.begin() + 2);
    } else if (args[0] == "--record") {
      record = true;
      args.erase(args.begin());
    } else {
      return Usage();
    }
  }
  int tracks = 0;
  int sectors = 0;
  int n = 0;
  if (args.size() != (record ? 5u : 6u) || !ParseCount(args[0].c_str(), 1, kMaxTracks, tracks) ||
      !ParseCount(args[1].c_str(), 1, kMaxSectorsPerTrack, sectors) ||
      !ParseCount(args[2].c_str(), 0, kMaxSizeCode, n) || title.size() >= kTitleSize) {
    return Usage();
  }
  const size_t disk_bytes = static_cast<size_t>(tracks) * sectors * SectorLength(n);
  if (disk_bytes > static_cast<size_t>(kDataCapacity)) {
    std::fprintf(stderr, "wrap-raw: %d x %d x %u bytes do not fit a disk image\n", tracks, sectors,
                 SectorLength(n));
    return 1;
  }
  std::vector<uint8_t> raw;
  bool too_large = false;
  if (!dravik::ReadWholeFile(args[3], disk_bytes, raw, &too_large)) {
    std::fprintf(stderr, "wrap-raw: %s: %s\n", args[3].c_str(),
                 too_large ? "larger than the disk" : "cannot read");
    return 1;
  }

  auto image = std::make_unique<DiskImage>();
  std::memset(image.get(), 0, sizeof(DiskImage));
  std::memcpy(image->title, title.data(), title.size());
  image->track_count = static_cast<uint8_t>(tracks);
  image->head_count = 2;
  image->sectors_per_track = static_cast<uint8_t>(sectors);
  image->size_code = static_cast<uint8_t>(n);
  dravik::ClearSectorIds(*image);
  for (int t = 0; t < tracks; ++t) {
    for (int s = 0; s < sectors; ++s) {
      dravik::SetSectorId(*image, t, s, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                          static_cast<uint8_t>(s + 1), static_cast<uint8_t>(n), 0, 1);
    }
  }
  dravik::DiskDataWriter data(*image);
  uint8_t* bytes = data.Reserve(disk_bytes);
  std::memcpy(bytes, raw.data(), raw.size());
  std::memset(bytes + raw.size(), 0xE5, disk_bytes - raw.size());

  if (record) {
    dravik::OutputFile out;
    const auto* head = reinterpret_cast<const uint8_t*>(image.get()) + kTitleSize;
    if (!out.Create(args[4]) || !out.Write(head, kDebugDumpSize - kTitleSize) ||
        !out.Write(title) || !out.Close()) {
      std::fprintf(stderr, "wrap-raw: cannot write %s\n", args[4].c_str());
      return 1;
    }
    return 0;
  }

  const dravik::SharedLibrary writer = dravik::SharedLibrary::Open(args[5]);
  const auto write_disk =
      writer.loaded() ? reinterpret_cast<WriteDiskFn>(writer.Symbol("WriteDisk")) : nullptr;
  if (write_disk == nullptr) {
    std::fprintf(stderr, "wrap-raw: %s is no output plug-in\n", args[5].c_str());
    return 1;
  }
  char message[kMessageSize] = {};
  const int result = write_disk(image.get(), args[4].c_str(), 0, &Quiet, message);
  if (result != kResultOk) {
    std::fprintf(stderr, "wrap-raw: %s answered %d%s\n", args[5].c_str(), result, message);
    return 1;
  }
  return 0;
}
