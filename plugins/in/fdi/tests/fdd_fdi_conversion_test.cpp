// FDD and FDI converted into each other by dravik-cli, with the four
// plug-ins in a program folder of their own.
#include <gtest/gtest.h>

#include <string>

#include "disk_builder.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::ShellQuote;

class FddFdiConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    for (const char* plugin :
         {"fdd_reader.dvr", "fdi_reader.dvr", "fdd_writer.dvw", "fdi_writer.dvw"}) {
      program_.AddBuiltPlugin(plugin);
    }
  }
  // Converts one file into the folder `out`; returns the log.
  std::string Convert(const std::string& to, const std::string& source, const std::string& out) {
    const test::CommandResult r =
        program_.RunCli("-t " + to + " -o " + ShellQuote(out) + " " + ShellQuote(source));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
  }
  std::unique_ptr<DiskImage> Read(const char* reader, const std::string& path) {
    auto image = test::NewDiskImage();
    const test::CallResult r = test::LoadBuiltPlugin(reader).ReadDisk(path, *image);
    EXPECT_EQ(r.result, kResultOk) << path << r.message;
    return image;
  }

  test::ScratchProgram program_;
  test::TempDir work_;
};

TEST_F(FddFdiConversionTest, EveryStandardShapeSurvivesBothWays) {
  const test::LoadedPlugin fdd_writer = test::LoadBuiltPlugin("fdd_writer.dvw");
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    const std::string name = std::string("D") + std::to_string(&shape - &test::StandardShapes()[0]);
    auto original = test::NewDiskImage();
    test::BuildDisk(*original, shape, 21, "SAMPLE");
    ASSERT_EQ(fdd_writer.WriteDisk(*original, work_ / (name + ".FDD")).result, kResultOk);

    test::TempDir fdi_dir;
    test::TempDir fdd_dir;
    test::TempDir fdi_again;
    const std::string to_fdi = Convert("fdi", work_ / (name + ".FDD"), fdi_dir.path());
    EXPECT_NE(to_fdi.find("Virtual(QSP)形式SAMPLE"), std::string::npos) << to_fdi;
    EXPECT_NE(to_fdi.find("...変換完了"), std::string::npos) << to_fdi;
    const std::string to_fdd = Convert("fdd", fdi_dir / (name + ".FDI"), fdd_dir.path());
    EXPECT_NE(to_fdd.find("FDI"), std::string::npos) << to_fdd;
    Convert("fdi", fdd_dir / (name + ".FDD"), fdi_again.path());

    // FDD -> FDI -> FDD gives the same disk (mixed 2HD in its interleaved
    // order, which is how every reader delivers it) ...
    auto back = Read("fdd_reader.dvr", fdd_dir / (name + ".FDD"));
    if (shape.fm_track0) test::InterleaveRows(*original);
    EXPECT_EQ(test::CompareDisks(*original, *back), "");
    // ... and FDI -> FDD -> FDI the same file.
    EXPECT_TRUE(test::ReadFile(fdi_dir / (name + ".FDI")) ==
                test::ReadFile(fdi_again / (name + ".FDI")));
  }
}

}  // namespace
}  // namespace dravik
