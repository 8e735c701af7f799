#include "cli_conversion.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "disk_builder.h"
#include "format_files.h"
#include "path_name.h"
#include "scratch_program.h"
#include "test_support.h"

namespace dravik::test {
namespace {

void AddEveryPlugin(ScratchProgram& program) {
  program.AddCli();
  for (const std::string& name : ListFolder(ProgramDir())) {
    if (name.ends_with(".dvr") || name.ends_with(".dvw")) program.AddBuiltPlugin(name);
  }
}

// Each track's sectors as a map from ID to data.
std::vector<std::map<std::string, std::string>> SectorSets(const DiskImage& disk) {
  std::vector<std::map<std::string, std::string>> sets;
  for (const auto& row : Rows(disk)) {
    auto& set = sets.emplace_back();
    for (const Sector& s : row) {
      set[IdText(s.id)] = std::string(reinterpret_cast<const char*>(s.data), s.length);
    }
  }
  return sets;
}

std::string LogText(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
  return text;
}

}  // namespace

void ExpectCliDescribes(const std::string& source, const std::string& plugin,
                        const std::string& description) {
  ScratchProgram program;
  AddEveryPlugin(program);
  const CommandResult info = program.RunCli("--info " + ShellQuote(source));
  EXPECT_NE(info.out.find("[" + plugin + "]" + LogText(description) + "\n"), std::string::npos)
      << info.out;
}

void ExpectCliConvertsToImages(const std::string& source, const std::vector<const DiskImage*>& disks,
                               const CliExtras& extras) {
  ScratchProgram program;
  AddEveryPlugin(program);
  const auto parts = SplitPath(source);
  ASSERT_TRUE(parts) << source;
  std::string base(parts->base);
  if (extras.keeps_extension) {
    std::string extension(parts->extension.substr(1));
    for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    base += "_" + extension;
  }
  enum class Check { kWhole, kAnyOrder, kRawBytes };
  struct Target {
    const char* option;
    const char* extension;  // nullptr: chosen by the writer
    // The comment file names the output as the driver named it, before a
    // writer that picks its own extension renamed it.
    const char* listed_extension;
    const char* reader;
    Check check;
  };
  const Target targets[] = {{"FDD", ".FDD", ".FDD", "fdd_reader.dvr", Check::kWhole},
                            {"FDI", ".FDI", ".FDI", "fdi_reader.dvr", Check::kAnyOrder},
                            {"BKDSK", nullptr, ".HDM", "tfd_reader.dvr", Check::kRawBytes}};
  TempDir tmp;
  auto back = NewDiskImage();
  for (const Target& target : targets) {
    SCOPED_TRACE(target.option);
    TempDir out;
    const CommandResult run =
        program.RunCli(std::string(extras.title ? "--comment " : "") + "-t " + target.option +
                           " -o " + ShellQuote(out.path()) + " " + ShellQuote(source),
                       "TMPDIR=" + ShellQuote(tmp.path()));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::vector<std::string> names;
    std::string comment_file;
    for (const std::string& name : ListFolder(out.path())) {
      (name.ends_with(".txt") ? comment_file : names.emplace_back()) = name;
    }
    ASSERT_EQ(names.size(), disks.size()) << run.out;
    std::string comment;
    const LoadedPlugin reader = LoadBuiltPlugin(target.reader);
    for (size_t i = 0; i < disks.size(); ++i) {
      char suffix[32] = "";
      if (disks.size() > 1) std::snprintf(suffix, sizeof(suffix), "_%02zu", i + 1);
      const std::string& name = names[i];
      const std::string stem = base + suffix;
      EXPECT_EQ(name.substr(0, name.rfind('.')), stem);
      if (target.extension != nullptr) {
        EXPECT_EQ(name.substr(name.rfind('.')), target.extension);
      }
      std::memset(back.get(), 0, sizeof(DiskImage));
      ASSERT_EQ(reader.ReadDisk(out / name, *back).result, 0) << name;
      if (extras.title && !extras.title->empty()) {
        comment += "  " + stem + target.listed_extension + " : " + *extras.title + "\n";
      }
      if (target.check == Check::kWhole) {
        EXPECT_EQ(CompareDisks(*disks[i], *back), "") << name;
      } else if (target.check == Check::kAnyOrder) {
        EXPECT_EQ(back->track_count, disks[i]->track_count) << name;
        EXPECT_TRUE(SectorSets(*disks[i]) == SectorSets(*back)) << name;
      } else {
        EXPECT_TRUE(RawBytes(*disks[i]) == RawBytes(*back)) << name;
      }
    }
    if (!comment.empty()) {
      ASSERT_EQ(comment_file, base + ".txt");
      EXPECT_EQ(ReadFile(out / comment_file), comment);
    } else if (!comment_file.empty()) {
      EXPECT_EQ(ReadFile(out / comment_file), "");
    }
  }
}

}  // namespace dravik::test
