// Reads the two FDI layouts of the Anex86 emulator: plain FDI, whose header
// gives one geometry for the whole disk, and FDI2, whose header lists track
// records. Neither stores sector IDs, so they are built here; the data is
// read sequentially from the end of the header.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "byte_order.h"
#include "disk_data.h"
#include "fdi_layout.h"
#include "file_io.h"
#include "interleave.h"
#include "plugin_export.h"
#include "reader_export.h"

namespace dravik {
namespace {

using Header = std::array<uint8_t, fdi::kHeaderSize>;

bool IsPlain(const Header& header) { return ReadLe32(header.data() + fdi::kPlainZero) == 0; }

bool IsFdi2(const Header& header) {
  return std::memcmp(header.data(), fdi::kFdi2Magic, sizeof(fdi::kFdi2Magic)) == 0;
}

// A plain header's geometry, checked on the full 32-bit fields: taking low
// bytes first would let 128 cylinders x 2 heads wrap to an empty disk.
struct PlainGeometry {
  uint32_t sector_length;
  uint32_t sectors;
  uint32_t heads;
  uint32_t cylinders;
  uint64_t tracks() const { return static_cast<uint64_t>(heads) * cylinders; }
  bool FitsRecord() const { return sectors <= kMaxSectorsPerTrack && tracks() <= kMaxTracks; }
};

PlainGeometry ReadPlainGeometry(const Header& header) {
  return {ReadLe32(header.data() + fdi::kPlainSectorLength),
          ReadLe32(header.data() + fdi::kPlainSectors), ReadLe32(header.data() + fdi::kPlainHeads),
          ReadLe32(header.data() + fdi::kPlainCylinders)};
}

// Lengths other than the table's count as its largest, so a sector is never
// read short.
uint8_t SizeCodeOf(uint32_t sector_length) {
  for (uint8_t n = 0; n < kMaxSizeCode; ++n) {
    if (sector_length == SectorLength(n)) return n;
  }
  return kMaxSizeCode;
}

void FillRow(DiskImage& image, int row, int sectors, uint8_t c, uint8_t h, uint8_t n, uint8_t mfm) {
  for (int s = 0; s < sectors; ++s) {
    SetSectorId(image, row, s, c, h, static_cast<uint8_t>(s + 1), n, 0, mfm);
  }
}

std::string_view BuildPlain(const Header& header, DiskImage& image) {
  const PlainGeometry g = ReadPlainGeometry(header);
  if (!g.FitsRecord()) return kMsgBadImageData;
  image.track_count = static_cast<uint8_t>(g.tracks());
  // This layout names its head count; every other source has two.
  image.head_count = static_cast<uint8_t>(g.heads);
  image.sectors_per_track = static_cast<uint8_t>(g.sectors);
  image.size_code = SizeCodeOf(g.sector_length);
  for (int t = 0; t < image.track_count; ++t) {
    FillRow(image, t, image.sectors_per_track, static_cast<uint8_t>(t >> 1),
            static_cast<uint8_t>(t & 1), image.size_code, 1);
  }
  return {};
}

std::string_view BuildFdi2(const Header& header, DiskImage& image) {
  const uint64_t list = ReadLe32(header.data() + fdi::kFdi2ListOffset);
  const uint64_t count = ReadLe32(header.data() + fdi::kFdi2RecordCount);
  if (count != 0 && list + fdi::kRecordSize * count > fdi::kHeaderSize) return kMsgBadImageData;
  for (uint64_t k = 0; k < count; ++k) {
    const uint8_t* record = header.data() + list + fdi::kRecordSize * k;
    const int sectors = record[fdi::kRecordSectors];
    const uint8_t n = record[fdi::kRecordN];
    const uint8_t mfm = (record[fdi::kRecordFlags] & fdi::kMediaFm) != 0 ? 0 : 1;
    if (record[fdi::kRecordKind] == fdi::kKindOneTrack && sectors != 0) {
      const int row = record[fdi::kRecordTrack];
      if (row >= kMaxTracks || sectors > kMaxSectorsPerTrack) return kMsgBadImageData;
      // C = 0xFF marks an empty slot: the sectors' data would be skipped and
      // every later track shifted.
      if (record[fdi::kRecordCylinder] == kEmptySlotMark) return kMsgBadImageData;
      FillRow(image, row, sectors, record[fdi::kRecordCylinder], record[fdi::kRecordHead], n, mfm);
    } else if (record[fdi::kRecordKind] == fdi::kKindAllTracks) {
      const int tracks = record[fdi::kRecordCylinder] * record[fdi::kRecordHead];
      if (tracks > kMaxTracks || sectors > kMaxSectorsPerTrack) return kMsgBadImageData;
      for (int t = 0; t < tracks; ++t) {
        FillRow(image, t, sectors, static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1), n,
                mfm);
      }
    }
  }
  // The disk reaches its last row with a sector, gaps included: writers use
  // only the rows below track_count, so ending it at the first empty row
  // would drop every track after a gap.
  image.track_count = static_cast<uint8_t>(LastRowWithSector(image) + 1);
  int sectors = 0;
  while (sectors < kMaxSectorsPerTrack && !IsEmptySlot(&image.ids[1][sectors])) ++sectors;
  image.sectors_per_track = static_cast<uint8_t>(sectors);
  image.head_count = 2;
  image.size_code = image.ids[1][0].n;
  return {};
}

// Mixed 2HD disks stored by some tools keep each track in R order while the
// disk itself is 2:1 interleaved; the FM first track and 26 sectors in the
// second record mark them.
bool Interleaved(const Header& header) {
  return (ReadLe32(header.data() + fdi::kFdi2MediaType) & fdi::kMediaFm) != 0 &&
         header[fdi::kInterleaveProbe] == fdi::kInterleavedSectors;
}

// The interleave moves 26 equal slots; any other row would pull empty slots
// and bytes from beyond its data into the disk.
bool InterleavableRows(const DiskImage& image) {
  for (const auto& row : image.ids) {
    int used = 0;
    bool one_length = true;
    for (const SectorId& id : row) {
      if (IsEmptySlot(&id)) continue;
      ++used;
      one_length = one_length && id.n == row[0].n;
    }
    if (used != 0 && (used != kMaxSectorsPerTrack || !one_length)) return false;
  }
  return true;
}

// The row was stored in R order; each sector and its ID move to their
// interleaved slot: R = 1, 14, 2, 15, ..., 13, 26.
void Deinterleave(SectorId* row, uint8_t* bytes) {
  const size_t length = SectorLength(row[0].n);
  std::array<uint8_t, fdi::kMaxTrackBytes> stored;
  std::array<SectorId, kMaxSectorsPerTrack> ids;
  std::memcpy(stored.data(), bytes, length * kMaxSectorsPerTrack);
  std::memcpy(ids.data(), row, sizeof(ids));
  for (int m = 0; m < kMaxSectorsPerTrack; ++m) {
    const int d = InterleavedSlot(m, kMaxSectorsPerTrack);
    std::memcpy(bytes + d * length, stored.data() + m * length, length);
    row[d] = ids[m];
  }
}

int ReadDiskBody(InputFile& file, DiskImage& image, ProgressCallback progress, char* message) {
  Header header;
  if (!file.ReadExact(header.data(), header.size())) return kResultReadError;

  ClearSectorIds(image);
  const bool plain = IsPlain(header);
  const bool interleaved = !plain && Interleaved(header);
  std::string_view refusal = plain ? BuildPlain(header, image) : BuildFdi2(header, image);
  if (refusal.empty()) refusal = CheckSectorTable(image, kMaxTracks, fdi::kMaxTrackBytes);
  if (refusal.empty() && interleaved && !InterleavableRows(image)) refusal = kMsgBadImageData;
  if (!refusal.empty()) {
    SetMessage(message, refusal);
    return kResultFailed;
  }

  // Rows follow one another in the file as in the record: they are read in
  // runs of whole rows (see kDirectReadRun), which go from the file straight
  // into the record.
  DiskDataWriter data(image);
  char text[kPluginTitleSize] = {};
  for (int t = 0; t < kMaxTracks;) {
    int end = t;
    size_t run = 0;
    while (end < kMaxTracks && (end == t || run < kDirectReadRun)) {
      run += RowDataLength(image, end++);
    }
    uint8_t* row = data.Reserve(run);
    if (row == nullptr) {  // the table check rules this out
      SetMessage(message, kMsgImageTooLarge);
      return kResultFailed;
    }
    if (!file.ReadExact(row, run)) return kResultReadError;
    for (; t < end; ++t) {
      const size_t length = RowDataLength(image, t);
      if (length > 0 && interleaved) Deinterleave(image.ids[t], row);
      row += length;
      text[0] = '\0';
      if (progress != nullptr && progress(t, kMaxTracks, text) != 0) return kResultAborted;
    }
  }
  return kResultOk;
}

std::string_view MediaName(const Header& header, bool fdi2) {
  switch (ReadLe32(header.data() + fdi::kPlainMediaType) & fdi::kMediaClassMask) {
    case fdi::kMedia2DD:
      return "640K/720K";
    case fdi::kMedia144:
      return "1.44M";
    case fdi::kMedia2HD:
      return fdi2 ? "1.25M/1.21M/1M" : "1.25M/1.21M";
    default:
      return "";
  }
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("FDI形式入力Plug-in Ver.1.01", {kCapDiskImage}, identity, caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* /*message*/) {
  return SupportExport(path, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header.data(), header.size())) return kResultNotMine;
    if (!IsPlain(header)) return IsFdi2(header) ? kResultOk : kResultNotMine;
    // The size test alone also passes a raw image whose first 32 bytes are
    // zero (an empty disk) and a hard-disk image with the same fields, so
    // the geometry must be a floppy's and the disk must hold data.
    const PlainGeometry g = ReadPlainGeometry(header);
    const uint32_t size = ReadLe32(header.data() + fdi::kPlainDataSize);
    if (size == 0 || !g.FitsRecord() || g.sector_length > SectorLength(kMaxSizeCode)) {
      return kResultNotMine;
    }
    return size == g.sector_length * g.sectors * g.heads * g.cylinders ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    Header header;
    if (!file.ReadExact(header.data(), header.size())) return kResultReadError;
    if (IsPlain(header)) {
      SetMessage(message, "\r\nFDI形式(" + std::string(MediaName(header, false)) + ")");
    } else if (IsFdi2(header)) {
      SetMessage(message, "\r\nFDI2形式(" + std::string(MediaName(header, true)) + ")");
    }
    return kResultOk;
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int /*disk_number*/, int /*direct*/,
                           ProgressCallback progress, char* message, char* title) {
  return ReaderExport(path, message, title, nullptr, [&](InputFile& file) {
    return ReadDiskBody(file, *static_cast<DiskImage*>(target), progress, message);
  });
}

}  // extern "C"
