/* The one disk record every conversion passes through. Its byte layout is an
 * interface between separately built libraries: every field is a byte or an
 * array of bytes, so the compiler adds no padding and the offsets below hold
 * on every platform. */
#ifndef DRAVIK_DISK_IMAGE_H
#define DRAVIK_DISK_IMAGE_H

#include <stddef.h>
#include <stdint.h>

/* Named constants: typed in C++, enumerators in C. */
#ifdef __cplusplus
#define DRAVIK_CONST(name, value) inline constexpr int name = value;
#else
#define DRAVIK_CONST(name, value) enum { name = value };
#endif

#ifdef __cplusplus
extern "C" {
#endif

DRAVIK_CONST(kTitleSize, 256)
DRAVIK_CONST(kMaxTracks, 160)
DRAVIK_CONST(kMaxSectorsPerTrack, 26)
DRAVIK_CONST(kDataCapacity, 2129920) /* 160 tracks x 26 sectors x 512 bytes */
DRAVIK_CONST(kMaxSizeCode, 5)
DRAVIK_CONST(kEmptySlotMark, 0xFF)
DRAVIK_CONST(kDebugDumpSize, 25220) /* everything in front of data */
DRAVIK_CONST(kDiskImageSize, 2155140)

typedef struct SectorId {
  uint8_t c; /* 0xFF marks an empty slot */
  uint8_t h;
  uint8_t r;
  uint8_t n;       /* data length is 128 << n */
  uint8_t deleted; /* nonzero: deleted-data address mark */
  uint8_t mfm;     /* 1 = MFM, 0 = FM */
} SectorId;

typedef struct DiskImage {
  char title[kTitleSize]; /* disk's own bytes (Shift-JIS), NUL-terminated */
  uint8_t track_count;
  uint8_t head_count;
  uint8_t sectors_per_track;
  uint8_t size_code;
  SectorId ids[kMaxTracks][kMaxSectorsPerTrack];
  uint8_t data[kDataCapacity];
} DiskImage;

/* Length in bytes of a sector with size code n; 0 for a code that cannot
 * occur in a valid record, so that no caller indexes past the table. */
static inline uint32_t SectorLength(uint8_t n) {
  return n <= kMaxSizeCode ? (uint32_t)128u << n : 0u;
}

static inline int IsEmptySlot(const SectorId* id) {
  return id->c == kEmptySlotMark;
}

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(SectorId) == 6, "SectorId layout");
static_assert(offsetof(SectorId, c) == 0 && offsetof(SectorId, h) == 1 &&
                  offsetof(SectorId, r) == 2 && offsetof(SectorId, n) == 3 &&
                  offsetof(SectorId, deleted) == 4 &&
                  offsetof(SectorId, mfm) == 5,
              "SectorId field offsets");
static_assert(offsetof(DiskImage, title) == 0, "title offset");
static_assert(offsetof(DiskImage, track_count) == 256, "track_count offset");
static_assert(offsetof(DiskImage, head_count) == 257, "head_count offset");
static_assert(offsetof(DiskImage, sectors_per_track) == 258,
              "sectors_per_track offset");
static_assert(offsetof(DiskImage, size_code) == 259, "size_code offset");
static_assert(offsetof(DiskImage, ids) == 260, "ids offset");
static_assert(offsetof(DiskImage, data) == 25220, "data offset");
static_assert(offsetof(DiskImage, data) == kDebugDumpSize, "debug dump size");
static_assert(sizeof(DiskImage) == kDiskImageSize, "DiskImage size");
#else
_Static_assert(sizeof(DiskImage) == kDiskImageSize, "DiskImage size");
_Static_assert(offsetof(DiskImage, data) == kDebugDumpSize, "data offset");
#endif

#endif /* DRAVIK_DISK_IMAGE_H */
