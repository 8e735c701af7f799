// Raw images through dravik-cli with every plug-in of the program folder: FAT
// disks made by mkfs.fat and mtools, written out in every format and
// extracted by FILE, and FDD or FDI sources written out as raw images.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "disk_builder.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::ShellQuote;
constexpr auto npos = std::string::npos;

bool Built(const std::string& plugin) { return test::FileExists(test::ProgramDir() + plugin); }

class RawCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    for (const std::string& name : test::ListFolder(test::ProgramDir())) {
      if (name.ends_with(".dvr") || name.ends_with(".dvw")) program_.AddBuiltPlugin(name);
      // What -t calls each output plug-in: its label up to "形式".
      if (name.ends_with(".dvw")) {
        const std::string label = test::LoadBuiltPlugin(name).label();
        outputs_.push_back(label.substr(0, label.find("形式")));
      }
    }
  }
  // Without out_dir, the result lands beside the source.
  test::CommandResult Convert(const std::string& to, const std::string& source,
                              const std::string& out_dir = "") {
    const std::string out = out_dir.empty() ? "" : " -o " + ShellQuote(out_dir);
    return program_.RunCli("-t " + ShellQuote(to) + out + " " + ShellQuote(source),
                           "TMPDIR=" + ShellQuote(tmp_.path()));
  }
  // The one file a conversion left in a fresh folder.
  static std::string OnlyFile(const std::string& folder) {
    const auto names = test::ListFolder(folder);
    EXPECT_EQ(names.size(), 1u) << folder;
    return names.empty() ? "" : names[0];
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
  std::vector<std::string> outputs_;
};

const std::string kReadme = "read me\n";
const std::string kData = std::string(1000, 'a') + std::string(1000, 'b') + std::string(1000, 'c');

// mkfs.fat and mtools, not this program, make the disk in folder: README.TXT
// and SUB/DATA.BIN. sbin may be off PATH.
std::string MakeFatImage(const std::string& folder, const std::string& name,
                         const std::string& options, int kib) {
  test::WriteFile(folder + "/README.TXT", kReadme);
  test::WriteFile(folder + "/DATA.BIN", kData);
  const std::string image = "-i " + ShellQuote(name) + " ";
  const auto made = test::RunCommand(
      "cd " + ShellQuote(folder) +
      " && export PATH=\"$PATH:/usr/sbin:/sbin\" MTOOLS_SKIP_CHECK=1 && mkfs.fat -C " + options +
      " " + ShellQuote(name) + " " + std::to_string(kib) + " && mmd " + image + "::/SUB && mcopy " +
      image + "README.TXT ::/ && mcopy " + image + "DATA.BIN ::/SUB/ && rm README.TXT DATA.BIN");
  EXPECT_EQ(made.status, 0) << made.err;
  return test::ReadFile(folder + "/" + name);
}

void ExpectFatFiles(const std::string& folder) {
  EXPECT_EQ(test::ListFolder(folder), (std::vector<std::string>{"README.TXT", "SUB"})) << folder;
  EXPECT_EQ(test::ReadFile(folder + "/README.TXT"), kReadme);
  EXPECT_TRUE(test::ReadFile(folder + "/SUB/DATA.BIN") == kData);
}

// Japanese names and dots in folder names, on the source side and on the
// output side, change nothing.
TEST_F(RawCliTest, FatDisksFromMkfsFatAreRecognisedByLengthAndConvertToEveryOutput) {
  ASSERT_FALSE(outputs_.empty());
  struct Case {
    std::string name;
    const char* options;
    int kib;
    const char* description;
    const char* bkdsk_extension;
    bool tfd_holds_it;
  };
  const Case cases[] = {
      {"ゲーム１", "", 1440, "TFD形式(1.44M)", ".HD4", false},
      {"ゲーム２", "-S 1024 -s 1 -g 2/8 -f 2 -r 192 -M 0xFE", 1232, "TFD形式(1.25M)", ".HDM", true},
  };
  const std::string folder = work_ / "ディスク.旧";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string source = folder + "/" + c.name + ".img";
    const std::string bytes = MakeFatImage(folder, c.name + ".img", c.options, c.kib);
    const auto info = program_.RunCli("--info " + ShellQuote(source));
    EXPECT_NE(info.out.find("[TFD/BKDSK形式入力Plug-in Ver.1.01]"), npos) << info.out;
    EXPECT_NE(info.out.find(c.description), npos) << info.out;

    for (const std::string& to : outputs_) {
      SCOPED_TRACE(to);
      if (to == "FILE") {
        EXPECT_EQ(Convert(to, source).status, 0);
        ExpectFatFiles(folder + "/" + c.name);  // beside the source, named after it
        continue;
      }
      const std::string out = work_ / (c.name + "出力." + to);
      ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
      const auto run = Convert(to, source, out);
      if (to == "TFD" && !c.tfd_holds_it) {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("このイメージをTFD形式に変換する事はできません"), npos);
        continue;
      }
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_NE(run.out.find(c.name + ".img"), npos) << run.out;
      const std::string written = out + "/" + OnlyFile(out);
      if (to == "TFD" || to == "BKDSK") {
        EXPECT_EQ(written, out + "/" + c.name + (to == "TFD" ? ".TFD" : c.bkdsk_extension));
        EXPECT_TRUE(test::ReadFile(written) == bytes);
        continue;
      }
      // Another image format: where a reader of it is there too, it must
      // give back the same raw sectors and the same files.
      test::TempDir back;
      const auto again = Convert("BKDSK", written, back.path());
      if (again.status == 3) continue;  // no reader for it in this build
      ASSERT_EQ(again.status, 0) << again.out;
      EXPECT_TRUE(test::ReadFile(back / OnlyFile(back.path())) == bytes);
      EXPECT_EQ(Convert("FILE", written).status, 0);
      ExpectFatFiles(out + "/" + c.name);
    }
  }
}

// An FDD or FDI file of each raw capacity, converted to BKDSK (and to TFD,
// for the one shape TFD holds), reads back through the raw reader as the
// same disk.
TEST_F(RawCliTest, FddAndFdiSourcesConvertToBkdskAndTfd) {
  struct Format {
    const char* writer;
    const char* reader;
    std::string extension;
  };
  const Format formats[] = {{"fdd_writer.dvw", "fdd_reader.dvr", ".FDD"},
                            {"fdi_writer.dvw", "fdi_reader.dvr", ".FDI"}};
  const std::pair<test::DiskShape, std::string> shapes[] = {
      {test::ShapeNamed("640K"), ".DD6"},  {test::ShapeNamed("720K"), ".DD9"},
      {test::ShapeNamed("1.21M"), ".HD5"}, {test::ShapeNamed("1.25M"), ".HDM"},
      {test::ShapeNamed("1.44M"), ".HD4"}, {test::ShapeNamed("mixed2HD"), ".HDB"},
      {{"1M26", 154, 26, 1}, ".H01"},
  };
  const auto raw_reader = test::LoadBuiltPlugin("tfd_reader.dvr");
  auto disk = test::NewDiskImage();
  auto back = test::NewDiskImage();
  int ran = 0;
  for (const Format& format : formats) {
    if (!Built(format.writer) || !Built(format.reader)) continue;
    ++ran;
    const auto writer = test::LoadBuiltPlugin(format.writer);
    for (const auto& [shape, bkdsk_extension] : shapes) {
      SCOPED_TRACE(std::string(shape.name) + format.extension);
      test::BuildDisk(*disk, shape, 21);
      const std::vector<uint8_t> raw = test::RawBytes(*disk);
      const std::string source = work_ / ("GAME" + format.extension);
      ASSERT_EQ(writer.WriteDisk(*disk, source).result, 0);
      std::vector<std::pair<std::string, std::string>> targets = {{"BKDSK", bkdsk_extension}};
      if (shape.name == std::string("1.25M")) targets.push_back({"TFD", ".TFD"});
      for (const auto& [to, extension] : targets) {
        test::TempDir out;
        const auto run = Convert(to, source, out.path());
        ASSERT_EQ(run.status, 0) << to << run.out;
        ASSERT_EQ(OnlyFile(out.path()), "GAME" + extension);
        ASSERT_EQ(raw_reader.ReadDisk(out / ("GAME" + extension), *back).result, 0);
        EXPECT_TRUE(test::RawBytes(*back) == raw) << to;
      }
    }
  }
  if (ran == 0) GTEST_SKIP() << "no FDD or FDI reader and writer built yet";
}

}  // namespace
}  // namespace dravik
