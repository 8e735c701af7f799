// Raw images through dravik-cli with every plug-in of the program folder:
// FAT disks made by mkfs.fat, and FDD or FDI sources written out as raw
// images, when those plug-ins are there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "disk_builder.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::ShellQuote;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Built(const std::string& plugin) { return test::FileExists(test::ProgramDir() + plugin); }

class RawCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    for (const std::string& name : test::ListFolder(test::ProgramDir())) {
      if (EndsWith(name, ".dvr") || EndsWith(name, ".dvw")) program_.AddBuiltPlugin(name);
      // What -t calls each output plug-in: its label up to "形式".
      if (EndsWith(name, ".dvw")) {
        const std::string label = test::LoadBuiltPlugin(name).label();
        outputs_.push_back(label.substr(0, label.find("形式")));
      }
    }
  }
  test::CommandResult Convert(const std::string& to, const std::string& out_dir,
                              const std::string& source) {
    return program_.RunCli(
        "-t " + ShellQuote(to) + " -o " + ShellQuote(out_dir) + " " + ShellQuote(source),
        "TMPDIR=" + ShellQuote(tmp_.path()));
  }
  // The one file a conversion left in a fresh folder.
  std::string OnlyFile(const std::string& folder) {
    const auto names = test::ListFolder(folder);
    EXPECT_EQ(names.size(), 1u) << folder;
    return names.empty() ? "" : names[0];
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
  std::vector<std::string> outputs_;
};

// mkfs.fat and mcopy, not this program, make the disk; sbin may be off PATH.
std::string MakeFatImage(const std::string& path, const std::string& options, int kib) {
  const std::string env = "PATH=\"$PATH:/usr/sbin:/sbin\" ";
  const auto made = test::RunCommand(env + "mkfs.fat -C " + options + " " + ShellQuote(path) + " " +
                                     std::to_string(kib));
  EXPECT_EQ(made.status, 0) << made.err;
  test::WriteFile(path + ".txt", "hello from mtools\n");
  const auto copied = test::RunCommand("mcopy -i " + ShellQuote(path) + " " +
                                       ShellQuote(path + ".txt") + " ::/HELLO.TXT");
  EXPECT_EQ(copied.status, 0) << copied.err;
  std::remove((path + ".txt").c_str());
  return test::ReadFile(path);
}

TEST_F(RawCliTest, FatImagesFromMkfsFatAreRecognisedByLengthAndConvertToEveryOutput) {
  ASSERT_FALSE(outputs_.empty());
  struct Case {
    const char* name;
    const char* options;
    int kib;
    const char* description;
    const char* bkdsk_extension;
    bool tfd_holds_it;
  };
  const Case cases[] = {
      {"FAT144", "", 1440, "TFD形式(1.44M)", ".HD4", false},
      {"FAT125", "-S 1024 -s 1 -g 2/8 -f 2 -r 192 -M 0xFE", 1232, "TFD形式(1.25M)", ".HDM", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = work_ / (std::string(c.name) + ".IMG");
    const std::string bytes = MakeFatImage(source, c.options, c.kib);
    const auto info = program_.RunCli("--info " + ShellQuote(source));
    EXPECT_NE(info.out.find("[TFD/BKDSK形式入力Plug-in Ver.1.01]"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find(c.description), std::string::npos) << info.out;

    for (const std::string& to : outputs_) {
      SCOPED_TRACE(to);
      test::TempDir out;
      const auto run = Convert(to, out.path(), source);
      if (to == "TFD" && !c.tfd_holds_it) {
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("このイメージをTFD形式に変換する事はできません"), std::string::npos);
        continue;
      }
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      if (to == "TFD" || to == "BKDSK") {
        const std::string expected = c.name + std::string(to == "TFD" ? ".TFD" : c.bkdsk_extension);
        EXPECT_EQ(OnlyFile(out.path()), expected);
        EXPECT_TRUE(test::ReadFile(out / expected) == bytes);
        continue;
      }
      if (to == "FILE") {
        const auto found =
            test::RunCommand("grep -rl 'hello from mtools' " + ShellQuote(out.path()));
        EXPECT_EQ(found.status, 0) << "HELLO.TXT was not extracted";
        continue;
      }
      // Another image format: where a reader of it is there too, it must
      // give back the same raw sectors.
      const std::string written = OnlyFile(out.path());
      test::TempDir back;
      const auto again = Convert("BKDSK", back.path(), out / written);
      if (again.status == 3) continue;  // no reader for it in this build
      ASSERT_EQ(again.status, 0) << again.out;
      EXPECT_TRUE(test::ReadFile(back / OnlyFile(back.path())) == bytes);
    }
  }
}

TEST_F(RawCliTest, JapaneseNamesAndAnOutputFolderWithADot) {
  const std::string folder = work_ / "ディスク.旧";
  const std::string out = work_ / "出力.フォルダ";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("640K"));
  const auto raw = test::RawBytes(*disk);
  test::WriteFile(folder + "/ゲーム１.ｉｍｇ", raw);

  const auto run = Convert("BKDSK", out, folder + "/ゲーム１.ｉｍｇ");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("ゲーム１.ｉｍｇ"), std::string::npos) << run.out;
  EXPECT_EQ(test::ListFolder(out), std::vector<std::string>{"ゲーム１.DD6"});
  EXPECT_TRUE(test::ReadFile(out + "/ゲーム１.DD6") == std::string(raw.begin(), raw.end()));
}

// An FDD or FDI file of each raw capacity, converted by the command line to
// BKDSK and TFD, reads back through the raw reader as the same disk.
class ImageToRawTest : public RawCliTest {
 protected:
  void CheckFormat(const std::string& writer_name, const std::string& reader_name,
                   const std::string& extension) {
    if (!Built(writer_name) || !Built(reader_name)) {
      GTEST_SKIP() << writer_name << " or " << reader_name << " is not in the program folder";
    }
    const auto writer = test::LoadBuiltPlugin(writer_name);
    const auto raw_reader = test::LoadBuiltPlugin("tfd_reader.dvr");
    struct Case {
      test::DiskShape shape;
      const char* bkdsk_extension;
    };
    const Case cases[] = {
        {test::ShapeNamed("640K"), ".DD6"},  {test::ShapeNamed("720K"), ".DD9"},
        {test::ShapeNamed("1.21M"), ".HD5"}, {test::ShapeNamed("1.25M"), ".HDM"},
        {test::ShapeNamed("1.44M"), ".HD4"}, {test::ShapeNamed("mixed2HD"), ".HDB"},
        {{"1M26", 154, 26, 1}, ".H01"},
    };
    auto disk = test::NewDiskImage();
    auto back = test::NewDiskImage();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.shape.name);
      test::BuildDisk(*disk, c.shape, 21);
      const std::string raw = [&] {
        const auto bytes = test::RawBytes(*disk);
        return std::string(bytes.begin(), bytes.end());
      }();
      const std::string source = work_ / ("GAME" + extension);
      ASSERT_EQ(writer.WriteDisk(*disk, source).result, 0);

      std::vector<std::pair<std::string, std::string>> targets = {{"BKDSK", c.bkdsk_extension}};
      if (std::string(c.shape.name) == "1.25M") targets.push_back({"TFD", ".TFD"});
      for (const auto& [to, out_extension] : targets) {
        SCOPED_TRACE(to);
        test::TempDir out;
        const auto run = Convert(to, out.path(), source);
        ASSERT_EQ(run.status, 0) << run.out;
        ASSERT_EQ(OnlyFile(out.path()), "GAME" + out_extension);
        const std::string written = out / ("GAME" + out_extension);
        EXPECT_TRUE(test::ReadFile(written) == raw);
        ASSERT_EQ(raw_reader.ReadDisk(written, *back).result, 0);
        EXPECT_EQ(back->track_count, c.shape.tracks);
        EXPECT_EQ(back->sectors_per_track, c.shape.sectors);
        EXPECT_EQ(back->size_code, c.shape.size_code);
        const auto back_bytes = test::RawBytes(*back);
        EXPECT_TRUE(std::string(back_bytes.begin(), back_bytes.end()) == raw);
      }
    }
  }
};

TEST_F(ImageToRawTest, FddConvertsToBkdskAndTfd) {
  CheckFormat("fdd_writer.dvw", "fdd_reader.dvr", ".FDD");
}

TEST_F(ImageToRawTest, FdiConvertsToBkdskAndTfd) {
  CheckFormat("fdi_writer.dvw", "fdi_reader.dvr", ".FDI");
}

}  // namespace
}  // namespace dravik
