// Reads Press1 images: one or more disks, each stored cylinder by cylinder,
// raw, as a fill byte or compressed with adaptive Huffman coding. The
// geometry is not stored; the record names one of a few disk types.
//
// Every offset and length a record gives is checked against the file and
// the work areas before a byte is read, so a damaged or crafted record is
// refused rather than read past its end or decoded from stale bytes.
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "adaptive_huffman_decoder.h"
#include "byte_order.h"
#include "disk_data.h"
#include "disk_title.h"
#include "file_io.h"
#include "interleave.h"
#include "plugin_export.h"
#include "press1_layout.h"
#include "reader_export.h"
#include "text.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgUnknownDiskType = "\r\n未対応の形式です";
constexpr std::string_view kMsgUnknownStorage = "\r\nトラックデータ格納方式エラー";
constexpr int kMaxCylinders = kMaxTracks / 2;

using FileHeader = std::array<uint8_t, press1::kFileHeaderSize>;
using RecordHeader = std::array<uint8_t, press1::kRecordHeaderSize>;

// A NUL-padded text field up to its first NUL.
std::string_view TextField(const uint8_t* field) {
  const char* text = reinterpret_cast<const char*>(field);
  const void* nul = std::memchr(text, '\0', press1::kTextSize);
  return {text, nul == nullptr ? press1::kTextSize
                               : static_cast<size_t>(static_cast<const char*>(nul) - text)};
}

uint32_t RecordLength(const RecordHeader& header) {
  return ReadLe32(header.data() + press1::kRecordLengthOffset);
}

// Whether a record of `length` bytes starting at `start` holds at least its
// own header and `minimum` bytes, and ends inside the file.
bool RecordFits(uint64_t start, uint32_t length, uint64_t minimum, int64_t file_size) {
  return length >= minimum && file_size >= 0 && start + length <= static_cast<uint64_t>(file_size);
}

const press1::DiskType* FindDiskType(const RecordHeader& header) {
  const uint8_t type = header[press1::kDiskTypeOffset];
  const uint8_t sub_type = header[press1::kSubTypeOffset];
  for (const press1::DiskType& t : press1::kDiskTypes) {
    if (t.type == type && (t.sub_type == press1::kAnySubType || t.sub_type == sub_type)) {
      return &t;
    }
  }
  return nullptr;
}

// Row 0 of N88-BASIC's layout is FM, 128 bytes a sector. Those disks keep
// their tracks in R order and are read 2:1 interleaved, so stored sector j
// goes to slot InterleavedSlot(j).
void BuildIds(DiskImage& image, const press1::DiskType& type) {
  ClearSectorIds(image);
  const int sectors = type.sectors_per_track;
  for (int t = 0; t < type.track_count; ++t) {
    const bool fm = type.diskbasic && t == 0;
    for (int j = 0; j < sectors; ++j) {
      const int slot = type.diskbasic ? InterleavedSlot(j, sectors) : j;
      SetSectorId(image, t, slot, static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                  static_cast<uint8_t>(j + 1), fm ? 0 : type.size_code, 0, fm ? 0 : 1);
    }
  }
}

// Where each cylinder's block lies in the record, checked: each starts
// behind the record header, holds at least its own header, and ends where
// the next begins. The last ends where the offset table begins; the
// design ran it to the record's end, offset table and all, which let a
// valid 1.44M image with a raw last cylinder overflow the work area.
struct Block {
  uint64_t offset;  // from the record's start
  size_t data_length;
};

bool ReadBlockTable(InputFile& file, uint64_t start, uint32_t length, int cylinders,
                    std::vector<Block>& blocks) {
  const uint64_t table_offset = length - press1::kOffsetEntrySize * cylinders;
  std::array<uint8_t, press1::kOffsetEntrySize * kMaxCylinders> table;
  if (!file.Seek(start + table_offset) ||
      !file.ReadExact(table.data(), press1::kOffsetEntrySize * cylinders)) {
    return false;
  }
  blocks.assign(cylinders, {});
  for (int c = 0; c < cylinders; ++c) {
    blocks[c].offset = ReadLe32(table.data() + press1::kOffsetEntrySize * c);
  }
  return true;
}

bool BlocksValid(std::vector<Block>& blocks, uint64_t table_offset) {
  for (size_t c = 0; c < blocks.size(); ++c) {
    const uint64_t begin = blocks[c].offset;
    const uint64_t end = c + 1 < blocks.size() ? blocks[c + 1].offset : table_offset;
    if (begin < press1::kRecordHeaderSize || end > table_offset ||
        end < begin + press1::kBlockHeaderSize) {
      return false;
    }
    blocks[c].data_length = static_cast<size_t>(end - begin - press1::kBlockHeaderSize);
    if (blocks[c].data_length > press1::kMaxBlockData) return false;
  }
  return true;
}

// Work areas of one ReadDisk call, on the heap: block data and the decoded
// cylinder, with room for the decoder's overrun.
struct WorkAreas {
  std::vector<uint8_t> block = std::vector<uint8_t>(press1::kMaxBlockData);
  std::vector<uint8_t> cylinder =
      std::vector<uint8_t>(press1::kMaxBlockData + AdaptiveHuffmanDecoder::kMaxOverrun);
  AdaptiveHuffmanDecoder decoder;
};

// Decodes one block into work.cylinder: U bytes. Answers 0, or 8 with the
// message set.
int DecodeBlock(uint8_t storage, std::span<const uint8_t> data, size_t decoded_length,
                WorkAreas& work, char* message) {
  switch (storage) {
    case press1::kStoredRaw:
      // A short block would leave the previous cylinder's bytes behind.
      if (data.size() < decoded_length) break;
      std::memcpy(work.cylinder.data(), data.data(), decoded_length);
      return kResultOk;
    case press1::kStoredFill:
      if (data.empty()) break;
      std::memset(work.cylinder.data(), data[0], decoded_length);
      return kResultOk;
    case press1::kStoredCompressed:
      work.decoder.Decode(data, work.cylinder, decoded_length);
      return kResultOk;
    default:
      SetMessage(message, kMsgUnknownStorage);
      return kResultFailed;
  }
  SetMessage(message, kMsgBadImageData);
  return kResultFailed;
}

// Finds record `wanted` (1 = the first) and reads its header. Answers 0, 6
// when the file ends before it, or 8 when a record before it claims a
// length the file cannot hold.
int FindRecord(InputFile& file, int64_t file_size, int wanted, uint64_t& start,
               RecordHeader& header, char* message) {
  start = press1::kFileHeaderSize;
  if (!file.Seek(start) || !file.ReadExact(header.data(), header.size())) {
    return kResultReadError;
  }
  for (int k = 1; k < wanted; ++k) {
    const uint32_t length = RecordLength(header);
    if (!RecordFits(start, length, press1::kRecordHeaderSize, file_size)) {
      SetMessage(message, kMsgBadImageData);
      return kResultFailed;
    }
    start += length;
    if (!file.Seek(start) || !file.ReadExact(header.data(), header.size())) {
      return kResultReadError;
    }
  }
  return kResultOk;
}

int ReadPress1Disk(InputFile& file, DiskImage& image, int disk_number, ProgressCallback progress,
                   char* message, char* title) {
  const int64_t file_size = file.Size();
  FileHeader file_header;
  if (file_size < 0 || !file.ReadExact(file_header.data(), file_header.size())) {
    return kResultReadError;
  }
  // The disk number counts in 16 bits; anything below 2 is the first disk.
  const int16_t number = static_cast<int16_t>(disk_number);
  uint64_t start = 0;
  RecordHeader header;
  if (const int result =
          FindRecord(file, file_size, number < 2 ? 1 : number, start, header, message);
      result != kResultOk) {
    return result;
  }

  const press1::DiskType* type = FindDiskType(header);
  if (type == nullptr) {
    SetMessage(message, kMsgUnknownDiskType);
    return kResultFailed;
  }
  image.track_count = type->track_count;
  image.head_count = 2;
  image.sectors_per_track = type->sectors_per_track;
  image.size_code = type->size_code;
  const std::string_view comment = TextField(header.data() + press1::kCommentOffset);
  SetDiskTitle(image, comment, title);
  char text[kMessageSize];
  CopyText(text, sizeof(text), std::string(type->label) + SjisToUtf8(comment));
  BuildIds(image, *type);

  const int cylinders = type->track_count / 2;
  const uint32_t length = RecordLength(header);
  const uint64_t table_bytes = press1::kOffsetEntrySize * static_cast<uint64_t>(cylinders);
  if (!RecordFits(start, length, press1::kRecordHeaderSize + table_bytes, file_size)) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  std::vector<Block> blocks;
  if (!ReadBlockTable(file, start, length, cylinders, blocks)) return kResultReadError;
  if (!BlocksValid(blocks, length - table_bytes)) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }

  WorkAreas work;
  DiskDataWriter data(image);
  const int sectors = type->sectors_per_track;
  for (int c = 0; c < cylinders; ++c) {
    const size_t head0 = RowDataLength(image, 2 * c);
    const size_t head1 = RowDataLength(image, 2 * c + 1);
    const size_t decoded_length = head0 + head1;

    uint8_t block_header[press1::kBlockHeaderSize];
    const std::span<uint8_t> block_data(work.block.data(), blocks[c].data_length);
    if (!file.Seek(start + blocks[c].offset) ||
        !file.ReadExact(block_header, sizeof(block_header)) ||
        !file.ReadExact(block_data.data(), block_data.size())) {
      return kResultReadError;
    }
    if (const int result = DecodeBlock(block_header[press1::kStorageOffset], block_data,
                                       decoded_length, work, message);
        result != kResultOk) {
      return result;
    }

    uint8_t* rows = data.Reserve(decoded_length);
    if (rows == nullptr) {  // no disk type comes near the record's capacity
      SetMessage(message, kMsgImageTooLarge);
      return kResultFailed;
    }
    if (type->diskbasic) {
      // Each head's sectors from R order into their interleaved slots.
      const uint8_t* from = work.cylinder.data();
      for (const size_t row_length : {head0, head1}) {
        const size_t sector_length = row_length / sectors;
        for (int j = 0; j < sectors; ++j) {
          std::memcpy(rows + InterleavedSlot(j, sectors) * sector_length, from + j * sector_length,
                      sector_length);
        }
        from += row_length;
        rows += row_length;
      }
    } else {
      std::memcpy(rows, work.cylinder.data(), decoded_length);
    }
    // The main program logs the text on the first call and empties it.
    if (progress != nullptr && progress(c, cylinders, text) != 0) return kResultAborted;
  }
  // Another disk follows when a whole record header does.
  const uint64_t next = start + length;
  return static_cast<uint64_t>(file_size) - next >= press1::kRecordHeaderSize ? kResultMoreDisks
                                                                              : kResultOk;
}

bool ReadFileHeader(InputFile& file, FileHeader& header) {
  return file.ReadExact(header.data(), header.size());
}

bool IsPress1(const FileHeader& header) {
  return std::memcmp(header.data(), press1::kMagic.data(), press1::kMagic.size()) == 0 &&
         header[press1::kKindOffset] == press1::kKind;
}

int DescribeFile(InputFile& file, char* message, char* title, int16_t* multi_disk) {
  const int64_t file_size = file.Size();
  FileHeader file_header;
  RecordHeader header;
  if (file_size < 0 || !ReadFileHeader(file, file_header) ||
      !file.ReadExact(header.data(), header.size())) {
    return kResultReadError;
  }
  const uint32_t length = RecordLength(header);
  if (!RecordFits(press1::kFileHeaderSize, length, press1::kRecordHeaderSize, file_size)) {
    SetMessage(message, kMsgBadImageData);
    return kResultFailed;
  }
  const bool several = static_cast<uint64_t>(file_size) - (press1::kFileHeaderSize + length) >=
                       press1::kRecordHeaderSize;
  if (multi_disk != nullptr) *multi_disk = several ? 1 : 0;
  const std::string_view file_title = TextField(file_header.data() + press1::kFileTitleOffset);
  CopySjisText(title, kPluginTitleSize, file_title);
  SetMessage(message, std::string(several ? "\r\nPress1形式(複数DISK)" : "\r\nPress1形式(1 DISK)") +
                          "\r\n" + SjisToUtf8(file_title));
  return kResultOk;
}

}  // namespace
}  // namespace dravik

using namespace dravik;

extern "C" {

DRAVIK_EXPORT int GetPluginInfo(char* identity, uint8_t* caps, char*, char*) {
  return InputPluginInfo("Press1形式入力Plug-in Ver.1.01", {kCapDiskImage, kCapTitle}, identity,
                         caps);
}

DRAVIK_EXPORT int IsSupport(const char* path, char* message) {
  return SupportExport(path, [&](InputFile& file) {
    SetMessage(message, "");
    FileHeader header;
    return ReadFileHeader(file, header) && IsPress1(header) ? kResultOk : kResultNotMine;
  });
}

DRAVIK_EXPORT int GetFileInfo(const char* path, char* message, char* title, int16_t* multi_disk) {
  return ReaderExport(path, message, title, multi_disk, [&](InputFile& file) {
    return DescribeFile(file, message, title, multi_disk);
  });
}

DRAVIK_EXPORT int ReadDisk(const char* path, void* target, int disk_number, int direct,
                           ProgressCallback progress, char* message, char* title) {
  return ReadDiskExport(path, direct, message, title, [&](InputFile& file) {
    return ReadPress1Disk(file, *static_cast<DiskImage*>(target), disk_number, progress, message,
                          title);
  });
}

}  // extern "C"
