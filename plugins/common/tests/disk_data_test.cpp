#include "disk_data.h"

#include <gtest/gtest.h>

#include <vector>

#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

TEST(DiskDataWriter, FillsTheRecordExactlyAndRefusesMore) {
  auto image = test::NewDiskImage();
  DiskDataWriter writer(*image);
  std::vector<uint8_t> sector(512, 0xE5);
  for (int i = 0; i < kMaxTracks * kMaxSectorsPerTrack; ++i) {
    ASSERT_TRUE(writer.Append(sector.data(), sector.size())) << i;
  }
  EXPECT_EQ(writer.size(), static_cast<size_t>(kDataCapacity));
  EXPECT_FALSE(writer.Append(sector.data(), 1));
  EXPECT_EQ(writer.Reserve(1), nullptr);
  EXPECT_NE(writer.Reserve(0), nullptr);
}

TEST(DiskDataReader, TakesAndViewsOnlyInsideTheRecord) {
  auto image = test::NewDiskImage();
  image->data[kDataCapacity - 1] = 7;
  DiskDataReader reader(*image);
  ASSERT_NE(reader.View(kDataCapacity - 1, 1), nullptr);
  EXPECT_EQ(*reader.View(kDataCapacity - 1, 1), 7);
  EXPECT_NE(reader.View(kDataCapacity, 0), nullptr);
  EXPECT_EQ(reader.View(kDataCapacity - 1, 2), nullptr);
  EXPECT_EQ(reader.View(kDataCapacity + 1, 0), nullptr);
  EXPECT_EQ(reader.View(1, SIZE_MAX), nullptr);  // no wrap-around
  EXPECT_EQ(reader.position(), 0u);

  EXPECT_NE(reader.Take(kDataCapacity - 10), nullptr);
  EXPECT_EQ(reader.Take(11), nullptr);
  EXPECT_NE(reader.Take(10), nullptr);
  EXPECT_EQ(reader.Take(1), nullptr);
}

TEST(SectorIds, EmptySlotsLastRowAndRowLength) {
  auto image = test::NewDiskImage();
  ClearSectorIds(*image);
  EXPECT_EQ(LastRowWithSector(*image), -1);
  SetSectorId(*image, 3, 0, 1, 1, 1, 3, 0, 1);
  SetSectorId(*image, 3, 5, 1, 1, 2, 0, 0, 1);  // after empty slots: still counts
  EXPECT_EQ(LastRowWithSector(*image), 3);
  EXPECT_EQ(LastRowWithSector(*image, 3), -1);
  bool valid = false;
  EXPECT_EQ(RowDataLength(*image, 3, &valid), 1024u + 128u);
  EXPECT_TRUE(valid);
  SetSectorId(*image, 4, 0, 2, 0, 1, 6, 0, 1);  // N above 5
  EXPECT_EQ(RowDataLength(*image, 4, &valid), 0u);
  EXPECT_FALSE(valid);
  EXPECT_EQ(SectorLength(5), 4096u);
  EXPECT_EQ(SectorLength(0xFF), 0u);
}

TEST(CheckSectorTable, RefusesBadCodesOversizedDisksAndLongRowsInThatOrder) {
  auto image = test::NewDiskImage();
  ClearSectorIds(*image);
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 9472), "");
  for (int s = 0; s < 9; ++s) SetSectorId(*image, 0, s, 0, 0, s + 1, 3, 0, 1);
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 9216), "");
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 9215), kMsgBadImageData);
  EXPECT_EQ(CheckSectorTable(*image, 0, 0), "");  // rows at or past the limit are not looked at
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks + 1, 9472), kMsgBadImageData);

  // 160 rows of 26 x 1024 bytes claim twice the record.
  for (int t = 0; t < kMaxTracks; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) SetSectorId(*image, t, s, 0, 0, 1, 3, 0, 1);
  }
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 1 << 20), kMsgImageTooLarge);
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 9472), kMsgImageTooLarge);
  SetSectorId(*image, 159, 25, 0, 0, 1, 6, 0, 1);
  EXPECT_EQ(CheckSectorTable(*image, kMaxTracks, 1 << 20), kMsgBadImageData);
}

}  // namespace
}  // namespace dravik
