// The FILE extractor against independent tools: mkfs.fat formats each
// shape the extractor knows, mtools fills it from a host folder, and the
// extracted tree must equal that folder, name for name and byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "byte_order.h"
#include "extract_support.h"
#include "test_support.h"

namespace dravik {
namespace {

using Tree = std::map<std::string, std::string>;
using test::Pattern;

class FatOracleTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!tools_.available()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  }
  // A command on the image; the test stops when it fails.
  void Tools(const std::string& command, bool sjis = false) {
    const auto r = tools_.Run(command, sjis);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
  }
  void Put(const std::string& path, const std::string& content) {
    test::WriteFile(work_ / ("put/" + path), content);
  }

  test::TempDir work_;
  test::FatTools tools_{work_.path()};
};

// Renames the directory entry named placeholder (11 bytes, as on the disk)
// to the bytes given: mtools writes at most one byte per character of a
// double-byte name, so such names are set in place.
void RenameEntry(std::vector<uint8_t>& image, const std::string& placeholder,
                 const std::string& name) {
  for (size_t at = 0; at + 32 <= image.size(); at += 32) {
    if (std::memcmp(image.data() + at, placeholder.data(), 11) == 0) {
      std::memcpy(image.data() + at, name.data(), name.size());
      return;
    }
  }
  ADD_FAILURE() << "no entry " << placeholder;
}

TEST_P(FatOracleTest, ExtractsWhatMtoolsPutOnTheDisk) {
  const std::string shape = GetParam();
  const test::FatLayout& layout = test::FatLayoutOf(shape);
  const test::DiskShape& geometry = test::ShapeNamed(shape);
  const uint32_t cluster = layout.sector_length * layout.sectors_per_cluster;
  const uint32_t root_entries = (layout.data_start - layout.root_start) * layout.sector_length / 32;
  Tools(test::FatTools::Format(shape, "disk.img"));

  // The boot sector must say what the extractor assumes without reading it.
  std::vector<uint8_t> raw;
  {
    const std::string bytes = test::ReadFile(work_ / "disk.img");
    raw.assign(bytes.begin(), bytes.end());
  }
  ASSERT_EQ(raw.size(), size_t{layout.sector_length} * geometry.sectors * geometry.tracks);
  const uint8_t* boot = raw.data();
  EXPECT_EQ(ReadLe16(boot + 11), layout.sector_length);
  EXPECT_EQ(boot[13], layout.sectors_per_cluster);
  EXPECT_EQ(ReadLe16(boot + 14), 1);  // reserved sectors: the FAT starts at sector 1
  EXPECT_EQ(boot[16], 2);
  EXPECT_EQ(ReadLe16(boot + 17), root_entries);
  EXPECT_EQ(ReadLe16(boot + 19), raw.size() / layout.sector_length);
  EXPECT_EQ(boot[21], layout.media);
  EXPECT_EQ(ReadLe16(boot + 22), layout.fat_sectors);
  EXPECT_EQ(ReadLe16(boot + 24), geometry.sectors);
  EXPECT_EQ(ReadLe16(boot + 26), 2);
  EXPECT_EQ(1 + 2 * layout.fat_sectors, layout.root_start);
  EXPECT_EQ(raw[layout.sector_length], layout.media);

  // Files of every awkward size, folders three deep, two folders that differ
  // only in their extension, and a folder whose first cluster ends with a
  // subfolder.
  Tools("mkdir -p put/SUB/DEEP/DEEPER put/DATA.1 put/DATA.2 put/BIG/LAST gone");
  Put("EMPTY.DAT", "");
  Put("ONE.DAT", "1");
  Put("CMINUS.DAT", Pattern(cluster - 1, 1));
  Put("CEXACT.DAT", Pattern(cluster, 2));
  Put("CPLUS.DAT", Pattern(cluster + 1, 3));
  Put("MANY", Pattern(5 * cluster + 17, 4));
  Put("ｱｲｳ.TXT", "half-width katakana");
  Put("KANJI.TXT", "kanji");
  Put("E5NAME", "lead byte E5");
  Put("SUB/S.TXT", Pattern(3000, 5));
  Put("SUB/DEEP/DEEPER/NEST.TXT", "nested");
  Put("DATA.1/SAME.TXT", "first");
  Put("DATA.2/SAME.TXT", "second");
  const uint32_t per_cluster = cluster / 32;
  std::string big_files;
  for (uint32_t i = 2; i + 1 < per_cluster; ++i) {
    const std::string name = "F" + std::to_string(i) + ".TXT";
    Put("BIG/" + name, name);
    big_files += " put/BIG/" + name;
  }
  Put("BIG/LAST/IN.TXT", "in");
  Put("BIG/AFTER.TXT", Pattern(cluster * 2, 6));
  test::WriteFile(work_ / "gone/GONE.TXT", Pattern(700, 7));

  const std::string i = "-i disk.img ";
  Tools("mmd " + i + "::/SUB ::/SUB/DEEP ::/SUB/DEEP/DEEPER ::/DATA.1 ::/DATA.2 ::/BIG");
  Tools("mcopy " + i +
        "put/EMPTY.DAT put/ONE.DAT put/CMINUS.DAT put/CEXACT.DAT put/CPLUS.DAT put/MANY "
        "put/KANJI.TXT put/E5NAME ::/");
  Tools("mcopy " + i + "put/ｱｲｳ.TXT ::/", true);
  Tools("mcopy " + i + "put/SUB/S.TXT ::/SUB/");
  Tools("mcopy " + i + "put/SUB/DEEP/DEEPER/NEST.TXT ::/SUB/DEEP/DEEPER/");
  Tools("mcopy " + i + "put/DATA.1/SAME.TXT ::/DATA.1/");
  Tools("mcopy " + i + "put/DATA.2/SAME.TXT ::/DATA.2/");
  Tools("mcopy " + i + big_files + " ::/BIG/");
  Tools("mmd " + i + "::/BIG/LAST");
  Tools("mcopy " + i + "put/BIG/LAST/IN.TXT ::/BIG/LAST/");
  Tools("mcopy " + i + "put/BIG/AFTER.TXT ::/BIG/");
  Tools("mcopy " + i + "gone/GONE.TXT ::/ && mdel " + i + "::/GONE.TXT");

  {
    const std::string bytes = test::ReadFile(work_ / "disk.img");
    raw.assign(bytes.begin(), bytes.end());
  }
  RenameEntry(raw, "KANJI   TXT", "\x8A\xBF\x8E\x9A ");     // 漢字
  RenameEntry(raw, "E5NAME     ", "\x05\x8A\xE5\x8B    ");  // 蜉蜍, first byte escaped
  // The disk holds what the test means it to: a label, a deleted entry, and
  // LAST as the last entry of BIG's first cluster.
  const uint8_t* root = raw.data() + layout.root_start * layout.sector_length;
  bool label = false;
  bool deleted = false;
  uint16_t big = 0;
  for (uint32_t e = 0; e < root_entries; ++e) {
    const uint8_t* entry = root + 32 * e;
    label = label || (entry[11] == 0x08 && std::memcmp(entry, "DRAVIKVOL", 9) == 0);
    deleted = deleted || (entry[0] == 0xE5 && std::memcmp(entry + 1, "ONE    TXT", 10) == 0);
    if (std::memcmp(entry, "BIG        ", 11) == 0) big = ReadLe16(entry + 26);
  }
  EXPECT_TRUE(label);
  EXPECT_TRUE(deleted);
  ASSERT_GE(big, 2);
  const size_t big_at =
      (layout.data_start + size_t{big - 2u} * layout.sectors_per_cluster) * layout.sector_length;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw.data() + big_at + cluster - 32), 11),
            "LAST       ");

  auto image = test::NewDiskImage();
  test::BuildDiskFromRaw(*image, geometry, raw);
  const auto plugin = test::LoadBuiltPlugin("file_extractor.dvw");
  const auto r = plugin.WriteDisk(*image, work_ / "DISK.", 0);
  EXPECT_EQ(r.result, kResultOk) << r.message;

  Tree expected = test::ReadTree(work_ / "put");
  expected["漢字.TXT"] = expected["KANJI.TXT"];
  expected["蜉蜍"] = expected["E5NAME"];
  expected.erase("KANJI.TXT");
  expected.erase("E5NAME");
  size_t files = 0;
  for (const auto& [path, content] : expected) files += path.back() == '/' ? 0 : 1;
  EXPECT_EQ(r.message, "\r\n" + std::to_string(files) + "個のファイルを出力しました");
  EXPECT_EQ(test::DiffTrees(expected, test::ReadTree(work_ / "DISK")), "");
}

INSTANTIATE_TEST_SUITE_P(Shapes, FatOracleTest,
                         ::testing::Values("1.44M", "1.25M", "1.21M", "720K", "640K"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = c == '.' ? '_' : c;
                           return "Fat" + name;
                         });

}  // namespace
}  // namespace dravik
