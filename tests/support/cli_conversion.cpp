#include "cli_conversion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "disk_builder.h"
#include "path_name.h"
#include "scratch_program.h"
#include "test_support.h"

namespace dravik::test {

void ExpectCliConvertsToImages(const std::string& source,
                               const std::vector<const DiskImage*>& disks) {
  ScratchProgram program;
  program.AddCli();
  for (const std::string& name : ListFolder(ProgramDir())) {
    if (name.ends_with(".dvr") || name.ends_with(".dvw")) program.AddBuiltPlugin(name);
  }
  const auto parts = SplitPath(source);
  ASSERT_TRUE(parts) << source;
  const std::string base(parts->base);
  struct Target {
    const char* option;
    const char* extension;  // nullptr: chosen by the writer
    const char* reader;
    bool whole;  // the format keeps IDs and marks
  };
  const Target targets[] = {{"FDD", ".FDD", "fdd_reader.dvr", true},
                            {"FDI", ".FDI", "fdi_reader.dvr", true},
                            {"BKDSK", nullptr, "tfd_reader.dvr", false}};
  TempDir tmp;
  auto back = NewDiskImage();
  for (const Target& target : targets) {
    SCOPED_TRACE(target.option);
    TempDir out;
    const CommandResult run =
        program.RunCli("-t " + std::string(target.option) + " -o " + ShellQuote(out.path()) +
                           " " + ShellQuote(source),
                       "TMPDIR=" + ShellQuote(tmp.path()));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<std::string> names = ListFolder(out.path());
    ASSERT_EQ(names.size(), disks.size()) << run.out;
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
      if (target.whole) {
        EXPECT_EQ(CompareDisks(*disks[i], *back), "") << name;
      } else {
        EXPECT_TRUE(RawBytes(*disks[i]) == RawBytes(*back)) << name;
      }
    }
  }
}

}  // namespace dravik::test
