// The FDD and FDI plug-ins together: every standard shape through both
// writers and back through both readers, directly and through dravik-cli,
// and what each reader or each writer of the pair must answer alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk_builder.h"
#include "plugin_export.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::CallResult;
using test::LoadBuiltPlugin;

std::unique_ptr<DiskImage> Disk(const test::DiskShape& shape, const std::string& title = "") {
  auto image = test::NewDiskImage();
  test::BuildDisk(*image, shape, 21, title);
  return image;
}

TEST(FddFdiPlugins, EveryStandardShapeSurvivesEveryPath) {
  test::ScratchProgram program;
  program.AddCli();
  for (const char* plugin :
       {"fdd_reader.dvr", "fdi_reader.dvr", "fdd_writer.dvw", "fdi_writer.dvw"}) {
    program.AddBuiltPlugin(plugin);
  }
  // Converts one file into the folder out; returns the log.
  const auto convert = [&](const std::string& to, const std::string& source,
                           const test::TempDir& out) {
    const test::CommandResult r = program.RunCli(
        "-t " + to + " -o " + test::ShellQuote(out.path()) + " " + test::ShellQuote(source));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
  };
  const test::LoadedPlugin fdd_writer = LoadBuiltPlugin("fdd_writer.dvw");
  const test::LoadedPlugin fdi_writer = LoadBuiltPlugin("fdi_writer.dvw");
  const test::LoadedPlugin fdd_reader = LoadBuiltPlugin("fdd_reader.dvr");
  const test::LoadedPlugin fdi_reader = LoadBuiltPlugin("fdi_reader.dvr");
  auto back = test::NewDiskImage();
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    test::TempDir dir, cli_fdi, cli_fdd, cli_fdi_again;
    auto original = Disk(shape, "\x83\x51\x81\x5B\x83\x80 1");  // "ゲーム 1"
    std::memset(original->data, 0xE5, 1024);  // sectors FDD keeps as their fill byte
    ASSERT_EQ(fdd_writer.WriteDisk(*original, dir / "D.FDD").result, kResultOk);
    ASSERT_EQ(fdi_writer.WriteDisk(*original, dir / "D.FDI").result, kResultOk);
    const std::string fdi = test::ReadFile(dir / "D.FDI");

    ASSERT_EQ(fdd_reader.ReadDisk(dir / "D.FDD", *back).result, kResultOk);
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    EXPECT_EQ(back->sectors_per_track, shape.sectors);
    EXPECT_EQ(back->size_code, shape.size_code);
    EXPECT_EQ(std::string(back->title), std::string(original->title));

    // FDI keeps no IDs: mixed 2HD comes back 2:1 interleaved, as every
    // reader delivers it.
    if (shape.fm_track0) test::InterleaveRows(*original);
    ASSERT_EQ(fdi_reader.ReadDisk(dir / "D.FDI", *back).result, kResultOk);
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    EXPECT_EQ(back->sectors_per_track, shape.sectors);
    EXPECT_EQ(back->size_code, shape.size_code);
    EXPECT_EQ(back->head_count, 2);

    // FDD -> FDI gives the writer's own file, FDI -> FDD the same disk, and
    // that FDD -> FDI the same file again.
    const std::string log = convert("fdi", dir / "D.FDD", cli_fdi);
    EXPECT_NE(log.find("Virtual(QSP)形式ゲーム 1"), std::string::npos) << log;
    EXPECT_NE(log.find("...変換完了"), std::string::npos) << log;
    EXPECT_TRUE(test::ReadFile(cli_fdi / "D.FDI") == fdi);
    EXPECT_NE(convert("fdd", dir / "D.FDI", cli_fdd).find("FDI"), std::string::npos);
    ASSERT_EQ(fdd_reader.ReadDisk(cli_fdd / "D.FDD", *back).result, kResultOk);
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    convert("fdi", cli_fdd / "D.FDD", cli_fdi_again);
    EXPECT_TRUE(test::ReadFile(cli_fdi_again / "D.FDI") == fdi);
  }
}

// Files made by the writers, cut at every length: a reader takes none
// without its whole header and reads none but the whole file.
TEST(FddFdiPlugins, ReadersAnswerEveryTruncationAndAMissingFile) {
  const struct {
    const char* writer;
    test::DiskShape shape;
    const char* reader;
    size_t header;
    std::string_view magic;
  } cases[] = {
      {"fdd_writer.dvw", {"FDD", 4, 8, 1}, "fdd_reader.dvr", 50172, "VFD1"},
      {"fdi_writer.dvw", {"plain FDI", 154, 1, 0}, "fdi_reader.dvr", 4096, {"\0\0\0\0", 4}},
      {"fdi_writer.dvw", {"interleaved FDI2", 3, 26, 1, true}, "fdi_reader.dvr", 4096, "FDI2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape.name);
    test::TempDir dir;
    auto image = Disk(c.shape);
    ASSERT_EQ(LoadBuiltPlugin(c.writer).WriteDisk(*image, dir / "D").result, kResultOk);
    const std::string file = test::ReadFile(dir / "D");
    ASSERT_EQ(file.substr(0, 4), c.magic);
    test::ForEveryTruncation(
        c.reader, std::vector<uint8_t>(file.begin(), file.end()),
        [&](size_t length, const test::TruncationAnswers& a) {
          const bool header = length >= c.header;
          ASSERT_EQ(a.is_support, header ? kResultOk : kResultNotMine) << length;
          ASSERT_EQ(a.file_info, header ? kResultOk : kResultReadError) << length;
          ASSERT_EQ(a.read_disk, length == file.size() ? kResultOk : kResultReadError) << length;
        });

    const test::LoadedPlugin reader = LoadBuiltPlugin(c.reader);
    EXPECT_EQ(reader.IsSupport(dir / "MISSING").result, kResultReadError);
    for (const CallResult& r :
         {reader.GetFileInfo(dir / "MISSING"), reader.ReadDisk(dir / "MISSING", *image)}) {
      EXPECT_EQ(r.result, kResultFailed);
      EXPECT_EQ(r.message, std::string(kMsgSourceOpenError) + "\r\n" + dir / "MISSING" +
                               ": No such file or directory");
    }
  }
}

TEST(FddFdiPlugins, WritersRefuseRecordsNoFileCouldCarryBeforeMakingOne) {
  std::vector<std::pair<const char*, test::RecordSpoiler>> cases;
  for (const test::RecordSpoiler& spoiler : test::RecordSpoilers()) {
    cases.push_back({"fdd_writer.dvw", spoiler});
    cases.push_back({"fdi_writer.dvw", spoiler});
  }
  // FDI numbers a track's sectors 1 to n with one length: dropping a sector
  // after a gap would also shift every later track's data.
  cases.push_back({"fdi_writer.dvw",
                   {"a sector after a gap", [](DiskImage& d) { d.ids[9][6].c = 0xFF; },
                    "\r\nトラック9はFDI形式で表せません"}});
  cases.push_back({"fdi_writer.dvw",
                   {"two sector lengths in a track", [](DiskImage& d) { d.ids[40][7].n = 2; },
                    "\r\nトラック40はFDI形式で表せません"}});
  test::TempDir dir;
  for (const auto& [writer, c] : cases) {
    SCOPED_TRACE(std::string(writer) + ": " + c.name);
    auto image = Disk(test::ShapeNamed("1.25M"));
    c.spoil(*image);
    const CallResult r = LoadBuiltPlugin(writer).WriteDisk(*image, dir / "BAD");
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, c.message);
    EXPECT_FALSE(test::FileExists(dir / "BAD"));
  }
}

// Open errors, aborts and full disks: the matrix test, for every writer.
TEST(FddFdiPlugins, WritersRefuseDirectMode) {
  for (const char* name : {"fdd_writer.dvw", "fdi_writer.dvw"}) {
    SCOPED_TRACE(name);
    const test::LoadedPlugin writer = LoadBuiltPlugin(name);
    test::TempDir dir;
    auto image = Disk(test::ShapeNamed("640K"));
    image->track_count = 2;
    CallResult r = writer.WriteDisk(*image, dir / "D", 1);
    EXPECT_EQ(r.result, kResultFailed);
    EXPECT_EQ(r.message, kMsgUnsupportedConversion);
    EXPECT_FALSE(test::FileExists(dir / "D"));
    EXPECT_EQ(writer.WriteDisk(*image, dir / "D", 0x10000).result, kResultOk);  // low 16 bits count
  }
}

}  // namespace
}  // namespace dravik
