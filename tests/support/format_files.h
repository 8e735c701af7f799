// Files of the formats Dravik only reads, laid out from a disk record by the
// tests' own reading of each layout, independently of the readers' code. Each
// builder stores what the record holds below track_count; what it cannot
// express (IDs, in the formats that number sectors themselves) it drops.
// Comments are the disk's own Shift-JIS bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dravik/disk_image.h"

namespace dravik::test {

using Bytes = std::vector<uint8_t>;

struct Sector {
  SectorId id;
  const uint8_t* data;
  uint32_t length;
};
// The used slots of each row below track_count, in slot order.
std::vector<std::vector<Sector>> Rows(const DiskImage& disk);

// FIX: a 256-byte header, 160 track positions, a record per track that holds
// sectors. mode 0, 6, 10 or 20; sub_mode matters for mode 6 only. When
// count_in_second_byte, the sector count goes to the second byte of its
// field (the first then holds junk). Each sector's data is preceded by the
// two bytes "MM" in every mode but 10.
struct FixOptions {
  int mode = 0;
  int sub_mode = 0;
  std::string label{};
  std::string comment{};
  bool count_in_second_byte = false;
};
Bytes FixFile(const DiskImage& disk, const FixOptions& options);
// Where the record of track t starts in a FIX file (as its table says).
int64_t FixTrackStart(const Bytes& file, int track);

// FIM: a 256-byte header (track length, track count, comment), then a plain
// sector dump.
Bytes FimFile(const DiskImage& disk, const std::string& comment);

// DIP: the 16-byte signature, a 240-byte comment, then a plain sector dump.
Bytes DipFile(const DiskImage& disk, const std::string& comment);

// DCP/DCU: media type, a map byte per track, then the tracks whose map byte
// is 1, or every track when every_track (a DCU file).
Bytes DcpFile(const DiskImage& disk, int type, const Bytes& map, bool every_track);

// STDFILE: the "STDA" header, a record of R, N and data position per sector,
// the data area. A sector whose bytes are all equal is kept as its fill
// byte. Header bytes 4 and 5 get the two given numbers; each track's
// density byte is the mfm of its first sector.
Bytes StdFile(const DiskImage& disk, uint8_t byte4 = 2, uint8_t byte5 = 8);

// DFcnv: the magic, a 42-byte comment, then per track a mark, the N of its
// first sector and the data length, then the data.
Bytes DfcnvFile(const DiskImage& disk, const std::string& comment);

// A text for a fixed field: Shift-JIS "ゲーム" and a number, so that every
// format's comment carries multibyte characters.
std::string SjisGameTitle(int number);
// The same text as UTF-8.
std::string Utf8GameTitle(int number);

}  // namespace dravik::test
