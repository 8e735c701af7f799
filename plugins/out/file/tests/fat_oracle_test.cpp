// The FILE extractor against independent tools: mkfs.fat formats each
// shape the extractor knows, mtools fills it from a host folder, and the
// extracted tree must equal that folder, name for name and byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "byte_order.h"
#include "extract_support.h"

namespace dravik {
namespace {

using test::Pattern;

class FatOracleTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    test::WriteFile(work_ / "mtoolsrc", "MTOOLS_SKIP_CHECK=1\nMTOOLS_NO_VFAT=1\n");
    test::WriteFile(work_ / "mtoolsrc932",
                    "MTOOLS_SKIP_CHECK=1\nMTOOLS_NO_VFAT=1\nDEFAULT_CODEPAGE=932\n");
    if (RunTools("command -v mkfs.fat && command -v mcopy && command -v mmd && command -v mdel")
            .status != 0) {
      GTEST_SKIP() << "mkfs.fat or mtools missing";
    }
  }
  // mtools reads Shift-JIS names only when sjis is set; with it, mtools adds
  // long-name entries to plain names in subfolders, which would move entries.
  test::CommandResult RunTools(const std::string& command, bool sjis = false) {
    return test::RunCommand("export PATH=/usr/sbin:/sbin:$PATH LC_ALL=C.UTF-8 MTOOLSRC=" +
                            test::ShellQuote(work_ / (sjis ? "mtoolsrc932" : "mtoolsrc")) +
                            "; cd " + test::ShellQuote(work_.path()) + " && " + command);
  }
  // A command on the image; the test stops when it fails.
  void Tools(const std::string& command, bool sjis = false) {
    const auto r = RunTools(command, sjis);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
  }
  void Put(const std::string& path, const std::string& content) {
    test::WriteFile(work_ / ("put/" + path), content);
  }

  test::TempDir work_;
};

// Renames the directory entry named placeholder (11 bytes, as on the disk)
// to the bytes given: mtools writes at most one byte per character of a
// double-byte name, so such names are set in place.
void RenameEntry(std::string& image, const std::string& placeholder, const std::string& name) {
  for (size_t at = 0; at + 32 <= image.size(); at += 32) {
    if (image.compare(at, 11, placeholder) == 0) {
      image.replace(at, name.size(), name);
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
  const uint32_t total_sectors = geometry.sectors * geometry.tracks;
  Tools("mkfs.fat -C -a --invariant -F 12 -f 2 -R 1 -n DRAVIKVOL -M " +
        std::to_string(layout.media) + " -S " + std::to_string(layout.sector_length) + " -s " +
        std::to_string(layout.sectors_per_cluster) + " -r " + std::to_string(root_entries) +
        " -g 2/" + std::to_string(geometry.sectors) + " disk.img " +
        std::to_string(total_sectors * layout.sector_length / 1024));

  // The boot sector must say what the extractor assumes without reading it.
  const std::string formatted = test::ReadFile(work_ / "disk.img");
  ASSERT_EQ(formatted.size(), size_t{layout.sector_length} * total_sectors);
  const auto* boot = reinterpret_cast<const uint8_t*>(formatted.data());
  EXPECT_EQ(ReadLe16(boot + 11), layout.sector_length);
  EXPECT_EQ(boot[13], layout.sectors_per_cluster);
  EXPECT_EQ(ReadLe16(boot + 14), 1);  // reserved sectors: the FAT starts at sector 1
  EXPECT_EQ(boot[16], 2);
  EXPECT_EQ(ReadLe16(boot + 17), root_entries);
  EXPECT_EQ(ReadLe16(boot + 19), total_sectors);
  EXPECT_EQ(boot[21], layout.media);
  EXPECT_EQ(ReadLe16(boot + 22), layout.fat_sectors);
  EXPECT_EQ(ReadLe16(boot + 24), geometry.sectors);
  EXPECT_EQ(ReadLe16(boot + 26), 2);
  EXPECT_EQ(1 + 2 * layout.fat_sectors, layout.root_start);
  EXPECT_EQ(boot[layout.sector_length], layout.media);

  // Files of every awkward size, folders three deep, two folders that differ
  // only in their extension, a folder whose first cluster ends with a
  // subfolder, a volume label (from mkfs.fat) and a deleted file.
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
  std::string big_files;
  for (uint32_t i = 2; i + 1 < cluster / 32; ++i) {
    const std::string name = "F" + std::to_string(i) + ".TXT";
    Put("BIG/" + name, name);
    big_files += " put/BIG/" + name;
  }
  Put("BIG/LAST/IN.TXT", "in");
  Put("BIG/AFTER.TXT", Pattern(cluster * 2, 6));
  test::WriteFile(work_ / "gone/GONE.TXT", Pattern(700, 7));

  const std::string i = "-i disk.img ";
  Tools("mcopy -s " + i + "put/SUB put/DATA.1 put/DATA.2 put/*.DAT put/MANY put/KANJI.TXT " +
        "put/E5NAME ::/ && mmd " + i + "::/BIG");
  Tools("mcopy " + i + "put/ｱｲｳ.TXT ::/", true);
  // In this order, so that LAST closes BIG's first cluster.
  Tools("mcopy " + i + big_files + " ::/BIG/ && mmd " + i + "::/BIG/LAST && mcopy " + i +
        "put/BIG/LAST/IN.TXT ::/BIG/LAST/ && mcopy " + i + "put/BIG/AFTER.TXT ::/BIG/");
  Tools("mcopy " + i + "gone/GONE.TXT ::/ && mdel " + i + "::/GONE.TXT");

  std::string raw = test::ReadFile(work_ / "disk.img");
  RenameEntry(raw, "KANJI   TXT", "\x8A\xBF\x8E\x9A ");     // 漢字
  RenameEntry(raw, "E5NAME     ", "\x05\x8A\xE5\x8B    ");  // 蜉蜍, first byte escaped
  // LAST must be the last entry of BIG's first cluster, for the walk to go
  // on in BIG's next cluster after it.
  const size_t big_entry =
      raw.find("BIG        \x10", size_t{layout.root_start} * layout.sector_length);
  ASSERT_NE(big_entry, std::string::npos);
  const uint32_t big = ReadLe16(reinterpret_cast<const uint8_t*>(raw.data()) + big_entry + 26);
  const size_t big_at =
      (layout.data_start + size_t{big - 2} * layout.sectors_per_cluster) * layout.sector_length;
  EXPECT_EQ(raw.substr(big_at + cluster - 32, 11), "LAST       ");

  auto image = test::NewDiskImage();
  test::BuildDiskFromRaw(*image, geometry, std::vector<uint8_t>(raw.begin(), raw.end()));
  const auto r = test::LoadBuiltPlugin("file_extractor.dvw").WriteDisk(*image, work_ / "DISK.", 0);
  EXPECT_EQ(r.result, kResultOk) << r.message;

  test::Tree expected = test::ReadTree(work_ / "put");
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
