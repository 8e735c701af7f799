// MAHALITO image pairs: an ID file listing every track's sectors with their
// full IDs, and beside it a ".dat" file holding the data of every sector
// that is not simply one repeated byte, back to back in ID-file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dravik::mahalito {

inline constexpr size_t kSignatureSize = 10;
inline constexpr std::string_view kSignature2hd = "ver 1.10  ";
inline constexpr std::string_view kSignature2dd = "2DD ver1.0";
// Stores the first and the end cylinder instead of a cylinder count.
inline constexpr std::string_view kSignatureRange = "ver 1.20  ";

// Signature, then one byte: the number of cylinders.
inline constexpr size_t kCountHeaderSize = 11;
inline constexpr size_t kCylinderCountOffset = 10;
// Signature, then two bytes: first cylinder, end cylinder.
inline constexpr size_t kRangeHeaderSize = 12;
inline constexpr size_t kFirstCylinderOffset = 10;
inline constexpr size_t kEndCylinderOffset = 11;

// Every track in order: a track header, then one record per sector.
inline constexpr size_t kTrackHeaderSize = 2;
inline constexpr size_t kTrackSectorCount = 0;  // signed; below 0 means none
inline constexpr size_t kTrackDensity = 1;      // copied into each sector's mfm

inline constexpr size_t kSectorRecordSize = 8;
inline constexpr size_t kRecordFillFlag = 0;  // nonzero: no data stored, all fill byte
inline constexpr size_t kRecordFillByte = 1;
inline constexpr size_t kRecordC = 2;
inline constexpr size_t kRecordH = 3;
inline constexpr size_t kRecordR = 4;
inline constexpr size_t kRecordN = 5;
inline constexpr size_t kRecordDeleted = 7;  // byte 6 is unused

// The data file carries the ID file's name with this extension; the ID file
// itself usually one of the other two.
inline constexpr std::string_view kDataExtension = ".dat";
inline constexpr std::string_view kIdExtensions[] = {".2hd", ".2dd"};

}  // namespace dravik::mahalito
