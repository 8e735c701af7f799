// Hostile sources converted by dravik-cli with an output folder and a
// temporary folder on a scratch tree: archives whose members climb out with
// "../", name absolute paths or are links, FAT disks whose entries are named
// to climb out, links among the sources and at the outputs' names. Whatever
// the input and the output chosen, nothing outside the output and temporary
// folders is created or changed, and the temporary folder is empty when the
// program ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "fat_disk.h"
#include "format_samples.h"
#include "test_support.h"
#include "tree_snapshot.h"

namespace dravik {
namespace {

using test::ShellQuote;

class ConfinementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"src", "out", "tmp", "victim"}) {
      ASSERT_EQ(mkdir((root_ / folder).c_str(), 0755), 0);
    }
    test::WriteFile(root_ / "victim/KEEP.TXT", std::string("precious"));
    auto disk = test::NewDiskImage();
    test::BuildSampleDisk(*disk, test::SampleShapes()[0]);
    const test::SampleFiles fdd = test::WrittenBy(test::ProgramDir() + "fdd_writer.dvw", *disk, "S");
    ASSERT_EQ(fdd.size(), 1u);
    fdd_.assign(fdd[0].bytes.begin(), fdd[0].bytes.end());
  }

  std::string Src(const std::string& name) const { return root_ / ("src/" + name); }
  std::string Victim(const std::string& name) const { return root_ / ("victim/" + name); }

  // Converts sources into every output, and checks that only the output
  // folder changed.
  void ExpectConfined(const std::vector<std::string>& sources, const std::string& options = "") {
    std::string names;
    for (const std::string& s : sources) names += " " + ShellQuote(s);
    for (const char* label : {"FDD", "FDI", "TFD", "BKDSK", "D88", "FILE"}) {
      SCOPED_TRACE(label);
      const test::TreeSnapshot before = test::SnapshotTree(root_.path());
      const auto r = test::RunCommand("TMPDIR=" + ShellQuote(root_ / "tmp") + " " +
                                      ShellQuote(test::ProgramDir() + "dravik-cli") +
                                      " -q -k " + options + "-t " + label + " -o " +
                                      ShellQuote(root_ / "out") + names);
      EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 3) << r.status << r.err;
      EXPECT_EQ(test::ChangedPaths(before, test::SnapshotTree(root_.path()), {"out/"}),
                std::vector<std::string>{})
          << r.out << r.err;
      EXPECT_EQ(test::ListFolder(root_ / "tmp"), std::vector<std::string>{});
    }
  }

  test::TempDir root_;
  std::string fdd_;
};

// Each hostile member in an archive of its own, beside a good one, so that
// an archiver refusing one of them does not hide what it does with another.
TEST_F(ConfinementTest, ArchiveMembersThatClimbOutOrLinkOut) {
  const std::string absolute = Victim("ABS.FDD");
  const std::vector<test::LzhEntry> lzh = {
      {.name = "..\\..\\victim\\UP0.FDD", .data = fdd_, .level = 0},
      {.name = "../../victim/UP1.FDD", .data = fdd_, .level = 0},
      {.name = "UP2.FDD", .data = fdd_, .directory = "../../victim/"},
      {.name = absolute.substr(absolute.rfind('/') + 1), .data = fdd_,
       .directory = absolute.substr(0, absolute.rfind('/') + 1)},
      // A link stores its target after "|" in the name.
      {.name = "LINK.FDD|" + Victim("KEEP.TXT"), .unix_mode = 0120777},
      {.name = "DEV.FDD", .data = "", .unix_mode = 020666},
      {.name = "..", .data = fdd_, .level = 0},
  };
  const std::vector<test::ZipEntry> zip = {
      {.name = "../../victim/UP.FDD", .data = fdd_},
      {.name = absolute, .data = fdd_},
      {.name = "..\\..\\victim\\BACK.FDD", .data = fdd_},
      {.name = "LINK2.FDD", .data = "../../victim/KEEP.TXT", .unix_mode = 0120777},
      {.name = "LINK3.FDD", .data = absolute, .unix_mode = 0120777},
      {.name = "FIFO.FDD", .data = "", .unix_mode = 010644},
      {.name = "INNER.LZH", .data = test::BuildLzh({{.name = "GOOD3.FDD", .data = fdd_}, lzh[0]})},
  };
  std::vector<std::string> sources;
  for (size_t i = 0; i < lzh.size(); ++i) {
    sources.push_back(Src("H" + std::to_string(i) + ".LZH"));
    test::WriteFile(sources.back(), test::BuildLzh({{.name = "GOOD.FDD", .data = fdd_}, lzh[i]}));
  }
  for (size_t i = 0; i < zip.size(); ++i) {
    sources.push_back(Src("H" + std::to_string(i) + ".ZIP"));
    test::WriteFile(sources.back(), test::BuildZip({{.name = "GOOD2.FDD", .data = fdd_}, zip[i]}));
  }
  ExpectConfined(sources);
  EXPECT_FALSE(test::FileExists(absolute));
}

// FAT disks patched after mtools made them: files named with "/" and "\",
// "..", and a Shift-JIS character whose second byte is "\", a folder named
// ".."; and, on a disk of its own, a folder whose entry points at its own
// parent, so that a walk that trusts it never ends.
class FatDump {
 public:
  explicit FatDump(const std::vector<test::FatFile>& files)
      : dump_(test::MakeFatDump("640K", files)) {}
  std::vector<uint8_t>::iterator Find(const std::string& name) {
    const auto at = std::search(dump_.begin(), dump_.end(), name.begin(), name.end());
    EXPECT_NE(at, dump_.end()) << name;
    return at;
  }
  void Rename(const std::string& from, const std::string& to) {
    const auto at = Find(from);
    if (at != dump_.end()) std::copy(to.begin(), to.end(), at);
  }
  const std::vector<uint8_t>& bytes() const { return dump_; }

 private:
  std::vector<uint8_t> dump_;
};

TEST_F(ConfinementTest, FatEntriesNamedToClimbOut) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no mtools";
  FatDump names({{"AAAAAAAA.TXT", "one"},
                 {"BBBBBBBB.TXT", "two"},
                 {"CCCCCCCC.TXT", "three"},
                 {"DDDDDDDD.TXT", "four"},
                 {"EEEEEEEE.TXT", "five"},
                 {"UPUP/HHHHHHHH.TXT", "six"}});
  names.Rename("AAAAAAAATXT", "AB/..   TXT");
  names.Rename("BBBBBBBBTXT", "A\\..\\.. TXT");
  names.Rename("CCCCCCCCTXT", "..      TXT");
  names.Rename("DDDDDDDDTXT", "\x83\x5C..    TXT");
  names.Rename("EEEEEEEETXT", "/       TXT");
  names.Rename("UPUP       ", "..         ");
  test::WriteFile(Src("NAMES.TFD"), names.bytes());

  FatDump loop(std::vector<test::FatFile>{{"SUB/LOOP/GGGGGGGG.TXT", "seven"}});
  const auto sub = loop.Find("SUB        ");
  const auto inner = loop.Find("LOOP       ");
  if (sub != loop.bytes().end() && inner != loop.bytes().end()) {
    std::copy(sub + 26, sub + 28, inner + 26);  // first cluster
  }
  test::WriteFile(Src("LOOP.TFD"), loop.bytes());
  ExpectConfined({Src("NAMES.TFD"), Src("LOOP.TFD")});
}

// Sources reached through links, and links planted at the outputs' names: to
// a file, to nowhere, to a folder where the FILE output makes its own (the
// FILE output wrote the disk's files into the folder the link named), and to
// a folder where a walked tree's sub-folder goes.
TEST_F(ConfinementTest, LinksAmongTheSourcesAndAtTheOutputs) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no mtools";
  test::WriteFile(Victim("REAL.TFD"),
                  test::MakeFatDump("640K", {{"A.TXT", "a"}, {"SUB/B.TXT", "b"}}));
  ASSERT_EQ(symlink("../victim/REAL.TFD", Src("LINKED.TFD").c_str()), 0);
  ASSERT_EQ(symlink("../victim/KEEP.TXT", (root_ / "out/LINKED.FDI").c_str()), 0);
  ASSERT_EQ(symlink("../victim/NEW.FDD", (root_ / "out/LINKED.FDD").c_str()), 0);
  ASSERT_EQ(symlink("../victim", (root_ / "out/LINKED").c_str()), 0);
  ExpectConfined({Src("LINKED.TFD")});
  EXPECT_FALSE(test::FileExists(Victim("NEW.FDD")));

  ASSERT_EQ(mkdir(Src("TREE").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Src("TREE/SUB").c_str(), 0755), 0);
  test::WriteFile(Src("TREE/SUB/GAME.FDD"), fdd_);
  ASSERT_EQ(symlink("../victim", (root_ / "out/SUB").c_str()), 0);
  ExpectConfined({Src("TREE")}, "-r ");
}

}  // namespace
}  // namespace dravik
