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
using test::ShellQuote;

struct OracleShape {
  const char* shape;
  int kilobytes;
  int sectors_per_track;
  uint32_t root_entries;
};

const OracleShape kShapes[] = {
    {"1.44M", 1440, 18, 224}, {"1.25M", 1232, 8, 192}, {"1.21M", 1200, 15, 224},
    {"720K", 720, 9, 112},    {"640K", 640, 8, 112},
};

void PrintTo(const OracleShape& shape, std::ostream* out) { *out << shape.shape; }

class FatOracleTest : public ::testing::TestWithParam<OracleShape> {
 protected:
  void SetUp() override {
    test::WriteFile(work_ / "mtoolsrc", "MTOOLS_SKIP_CHECK=1\nMTOOLS_NO_VFAT=1\n");
    // Shift-JIS only where needed: with it, mtools adds long-name entries
    // to plain names in subfolders, which would move the entries about.
    test::WriteFile(work_ / "mtoolsrc932",
                    test::ReadFile(work_ / "mtoolsrc") + "DEFAULT_CODEPAGE=932\n");
    env_ = "export PATH=/usr/sbin:/sbin:$PATH MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 MTOOLSRC=" +
           ShellQuote(work_ / "mtoolsrc") + "; ";
    if (Run("command -v mkfs.fat && command -v mcopy && command -v mmd && command -v mdel")
            .status != 0) {
      GTEST_SKIP() << "mkfs.fat or mtools missing";
    }
  }
  test::CommandResult Run(const std::string& command) { return test::RunCommand(env_ + command); }
  // An mtools command on the image; the test stops when it fails.
  void Mtools(const std::string& command) {
    const auto r = Run("cd " + ShellQuote(work_.path()) + " && " + command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
  }
  void Put(const std::string& path, const std::string& content) {
    test::WriteFile(work_ / ("put/" + path), content);
  }

  test::TempDir work_;
  std::string env_;
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
  const OracleShape& shape = GetParam();
  const test::FatLayout& layout = test::FatLayoutOf(shape.shape);
  const uint32_t cluster = layout.sector_length * layout.sectors_per_cluster;

  char format[256];
  std::snprintf(format, sizeof(format),
                "mkfs.fat -C -a --invariant -F 12 -f 2 -R 1 -n DRAVIKVOL -M 0x%02X -S %u -s %u "
                "-r %u -g 2/%d disk.img %d",
                layout.media, layout.sector_length, layout.sectors_per_cluster, shape.root_entries,
                shape.sectors_per_track, shape.kilobytes);
  Mtools(format);

  // The boot sector must say what the extractor assumes without reading it.
  std::vector<uint8_t> raw;
  {
    const std::string bytes = test::ReadFile(work_ / "disk.img");
    raw.assign(bytes.begin(), bytes.end());
  }
  ASSERT_EQ(raw.size(), size_t{1024} * shape.kilobytes);
  const uint8_t* boot = raw.data();
  EXPECT_EQ(ReadLe16(boot + 11), layout.sector_length);
  EXPECT_EQ(boot[13], layout.sectors_per_cluster);
  EXPECT_EQ(ReadLe16(boot + 14), 1);  // reserved sectors: the FAT starts at sector 1
  EXPECT_EQ(boot[16], 2);
  EXPECT_EQ(ReadLe16(boot + 17), shape.root_entries);
  EXPECT_EQ(ReadLe16(boot + 19), raw.size() / layout.sector_length);
  EXPECT_EQ(boot[21], layout.media);
  EXPECT_EQ(ReadLe16(boot + 22), layout.fat_sectors);
  EXPECT_EQ(ReadLe16(boot + 24), shape.sectors_per_track);
  EXPECT_EQ(ReadLe16(boot + 26), 2);
  EXPECT_EQ(1 + 2 * layout.fat_sectors, layout.root_start);
  EXPECT_EQ(layout.root_start + shape.root_entries * 32 / layout.sector_length, layout.data_start);
  EXPECT_EQ(raw[layout.sector_length], layout.media);

  // Files of every awkward size, folders three deep, two folders that differ
  // only in their extension, and a folder whose first cluster ends with a
  // subfolder.
  Mtools("mkdir -p put/SUB/DEEP/DEEPER put/DATA.1 put/DATA.2 put/BIG/LAST gone");
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
  Mtools("mmd " + i + "::/SUB ::/SUB/DEEP ::/SUB/DEEP/DEEPER ::/DATA.1 ::/DATA.2 ::/BIG");
  Mtools("mcopy " + i +
         "put/EMPTY.DAT put/ONE.DAT put/CMINUS.DAT put/CEXACT.DAT put/CPLUS.DAT put/MANY "
         "put/KANJI.TXT put/E5NAME ::/");
  Mtools("MTOOLSRC=mtoolsrc932 mcopy " + i + "put/ｱｲｳ.TXT ::/");
  Mtools("mcopy " + i + "put/SUB/S.TXT ::/SUB/");
  Mtools("mcopy " + i + "put/SUB/DEEP/DEEPER/NEST.TXT ::/SUB/DEEP/DEEPER/");
  Mtools("mcopy " + i + "put/DATA.1/SAME.TXT ::/DATA.1/");
  Mtools("mcopy " + i + "put/DATA.2/SAME.TXT ::/DATA.2/");
  Mtools("mcopy " + i + big_files + " ::/BIG/");
  Mtools("mmd " + i + "::/BIG/LAST");
  Mtools("mcopy " + i + "put/BIG/LAST/IN.TXT ::/BIG/LAST/");
  Mtools("mcopy " + i + "put/BIG/AFTER.TXT ::/BIG/");
  Mtools("mcopy " + i + "gone/GONE.TXT ::/ && mdel " + i + "::/GONE.TXT");

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
  for (uint32_t e = 0; e < shape.root_entries; ++e) {
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
  test::BuildDiskFromRaw(*image, test::ShapeNamed(shape.shape), raw);
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

INSTANTIATE_TEST_SUITE_P(Shapes, FatOracleTest, ::testing::ValuesIn(kShapes), [](const auto& info) {
  std::string name = info.param.shape;
  for (char& c : name) c = c == '.' ? '_' : c;
  return "Fat" + name;
});

}  // namespace
}  // namespace dravik
