// Bounded access to DiskImage.data. Readers append sectors through a
// DiskDataWriter and writers consume them through a DiskDataReader; neither
// ever steps outside the record, whatever a source file claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dravik/disk_image.h"

namespace dravik {

class DiskDataWriter {
 public:
  explicit DiskDataWriter(DiskImage& image) : image_(image) {}

  // Appends n bytes; false (and nothing written) when they would not fit.
  bool Append(const void* bytes, size_t n);
  // Room for n more bytes at the cursor, which advances past them; nullptr
  // when they would not fit.
  uint8_t* Reserve(size_t n);
  size_t size() const { return used_; }

 private:
  DiskImage& image_;
  size_t used_ = 0;
};

class DiskDataReader {
 public:
  explicit DiskDataReader(const DiskImage& image) : image_(image) {}

  // The next n bytes, the cursor advancing past them; nullptr when the
  // record holds fewer.
  const uint8_t* Take(size_t n);
  // The n bytes at offset, for readers of file systems that jump about the
  // record; nullptr when they are not all inside it. The cursor stays.
  const uint8_t* View(size_t offset, size_t n) const;
  size_t position() const { return used_; }

 private:
  const DiskImage& image_;
  size_t used_ = 0;
};

// Marks every slot of the ID table empty (six 0xFF bytes each).
void ClearSectorIds(DiskImage& image);

// Sets one used slot.
void SetSectorId(DiskImage& image, int track, int slot, uint8_t c, uint8_t h,
                 uint8_t r, uint8_t n, uint8_t deleted, uint8_t mfm);

// Index of the last row (below limit) that holds a used slot, or -1.
int LastRowWithSector(const DiskImage& image, int limit = kMaxTracks);

// Geometry of a disk whose ID table was copied as stored: track_count reaches
// the last row that holds a sector (at least 1), head_count is 2, and
// sectors_per_track and size_code are the leading used slots and first N that
// most rows share, so that a different track 0 or a few odd tracks do not
// decide them.
void SetStoredTableGeometry(DiskImage& image);

// Data bytes of all used slots of one row. A slot whose N is above 5 adds
// nothing and clears *valid, so callers can refuse such a row.
size_t RowDataLength(const DiskImage& image, int track, bool* valid = nullptr);

// Checks the rows below `rows` before any byte is moved, so that a table no
// buffer can hold is refused rather than cut: every used slot's N names a
// length, all their data fits the record, and no row is longer than
// max_row_bytes. Returns the message to refuse with, or an empty text.
std::string_view CheckSectorTable(const DiskImage& image, int rows, size_t max_row_bytes);

}  // namespace dravik
