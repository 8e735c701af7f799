// dravik-cli on a collection: a generated tree of images of several
// formats, archives, a non-image, a hidden file and a link back up the
// tree, converted with the real plug-ins.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "disk_builder.h"
#include "format_files.h"
#include "scratch_program.h"

namespace dravik {
namespace {

using test::ShellQuote;

// Every entry below folder and its type ("a/bf" a file, "ad" a folder, "cl"
// a link), sorted; with sizes and times when stamped.
std::string Tree(const std::string& folder, bool stamped = false) {
  const auto r = test::RunCommand("cd " + ShellQuote(folder) + " && find . -mindepth 1 -printf '" +
                                  (stamped ? "%P%y %s %T@\\n" : "%P%y\\n") + "' | sort");
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Lists what each JSON line says, checking with Python's own parser that
// every line is one object with the keys promised and that the outputs
// named are exactly the files below out (when out is given).
constexpr char kJsonCheck[] = R"PY(
import json, os, sys
keys = ["path", "member", "reader", "description", "disks", "outputs", "result", "messages"]
named = set()
for line in open(sys.argv[1], encoding="utf-8"):
    o = json.loads(line)
    assert list(o) == keys, list(o)
    assert o["result"] in ("converted", "failed", "unsupported", "skipped")
    assert all(isinstance(m, str) for m in o["messages"])
    for p in o["outputs"]:
        named.add(os.path.normpath(p))
    rel = [os.path.relpath(p, sys.argv[2]) for p in o["outputs"]]
    print(o["result"], os.path.relpath(o["path"], sys.argv[3]), o["member"], o["reader"],
          o["disks"], " ".join(rel))
if len(sys.argv) > 4:
    written = set()
    for root, dirs, files in os.walk(sys.argv[4]):
        written.update(os.path.normpath(os.path.join(root, f)) for f in files)
    assert named == written, (sorted(named - written), sorted(written - named))
)PY";

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.AddCli();
    for (const char* plugin : {"dip_reader.dvr", "fdi_reader.dvr", "tfd_reader.dvr",
                               "fdd_writer.dvw", "bkdsk_writer.dvw", "UNLHA32.so", "UNZIP32.so"}) {
      program_.AddBuiltPlugin(plugin);
    }
    test::WriteFile(work_ / "check.py", kJsonCheck);
    MakeCollection();
  }

  // coll/A.HDM                 raw 1.25M dump (TFD reader)
  // coll/.B.HDM                hidden: left out
  // coll/readme.txt            no image
  // coll/games/B.DIP           DIP
  // coll/games/PACK.LZH        C.HDM
  // coll/games/deep/D.FDI      FDI
  // coll/games/deep/SET.ZIP    E.HDM, F.DIP
  // coll/games/deep/up         a link to coll: a loop if followed
  void MakeCollection() {
    const std::string c = work_ / "coll";
    for (const std::string& folder : {c, c + "/games", c + "/games/deep", work_ / "pack"}) {
      ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    auto disk = test::NewDiskImage();
    auto image = [&](uint32_t seed) {
      *disk = {};
      test::BuildDisk(*disk, test::ShapeNamed("1.25M"), seed);
    };
    image(1);
    test::WriteFile(c + "/A.HDM", test::RawBytes(*disk));
    test::WriteFile(c + "/.B.HDM", test::RawBytes(*disk));
    test::WriteFile(c + "/readme.txt", "not an image\n");
    image(2);
    test::WriteFile(c + "/games/B.DIP", test::DipFile(*disk, "B"));
    image(3);
    test::WriteFile(work_ / "pack/C.HDM", test::RawBytes(*disk));
    image(4);
    ASSERT_EQ(test::LoadBuiltPlugin("fdi_writer.dvw").WriteDisk(*disk, c + "/games/deep/D.FDI").result,
              0);
    image(5);
    test::WriteFile(work_ / "pack/E.HDM", test::RawBytes(*disk));
    image(6);
    test::WriteFile(work_ / "pack/F.DIP", test::DipFile(*disk, "F"));
    const auto packed = test::RunCommand(
        "cd " + ShellQuote(work_ / "pack") + " && jlha c " + ShellQuote(c + "/games/PACK.LZH") +
        " C.HDM >/dev/null && zip -q " + ShellQuote(c + "/games/deep/SET.ZIP") + " E.HDM F.DIP");
    ASSERT_EQ(packed.status, 0) << packed.err;
    ASSERT_EQ(symlink("../..", (c + "/games/deep/up").c_str()), 0);
  }

  test::CommandResult Run(const std::string& args) {
    return program_.RunCli(args, "cd " + ShellQuote(work_.path()) + " && TMPDIR=" +
                                     ShellQuote(tmp_.path()));
  }
  // What check.py says of the JSON lines in file.
  std::string CheckJson(const std::string& file, const std::string& out, bool against_files) {
    const auto r = test::RunCommand("cd " + ShellQuote(work_.path()) + " && python3 check.py " +
                                    file + " " + out + " coll" + (against_files ? " " + out : ""));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  test::ScratchProgram program_;
  test::TempDir work_;
  test::TempDir tmp_;
};

constexpr char kConvertedTree[] =
    "A.FDDf\nA.HDMf\ngames/B.FDDf\ngames/B.HDMf\ngames/C.FDDf\ngames/C.HDMf\n"
    "games/deep/D.FDDf\ngames/deep/D.HDMf\ngames/deep/E.FDDf\ngames/deep/E.HDMf\n"
    "games/deep/F.FDDf\ngames/deep/F.HDMf\ngames/deepd\ngamesd\n";

// What the JSON lines say of the tree, in the order walked.
constexpr char kReports[] =
    "converted A.HDM None tfd_reader.dvr 1 A.FDD A.HDM\n"
    "converted games/B.DIP None dip_reader.dvr 1 games/B.FDD games/B.HDM\n"
    "converted games/PACK.LZH C.HDM tfd_reader.dvr 1 games/C.FDD games/C.HDM\n"
    "converted games/deep/D.FDI None fdi_reader.dvr 1 games/deep/D.FDD games/deep/D.HDM\n"
    "converted games/deep/SET.ZIP E.HDM tfd_reader.dvr 1 games/deep/E.FDD games/deep/E.HDM\n"
    "converted games/deep/SET.ZIP F.DIP dip_reader.dvr 1 games/deep/F.FDD games/deep/F.HDM\n"
    "unsupported readme.txt None None 0 \n";

TEST_F(CollectionTest, ATreeConvertsIntoTheSameTreeUnderTheOutputFolder) {
  const std::string before = Tree(work_ / "coll", true);

  // A dry run names what the real run writes, and writes nothing.
  const auto dry = Run("-r -n -o OUT -t FDD,BKDSK --json --summary coll > dry.json");
  EXPECT_EQ(dry.status, 3) << dry.err;
  EXPECT_FALSE(test::FileExists(work_ / "OUT"));
  EXPECT_NE(dry.err.find("\n書き出し予定: OUT/games/deep/F.FDD\n"), std::string::npos) << dry.err;
  EXPECT_TRUE(dry.err.ends_with(
      "6 converted, 0 failed, 1 unsupported, 0 skipped (dry run: nothing written)\n"))
      << dry.err;
  EXPECT_EQ(CheckJson("dry.json", "OUT", false), kReports);

  const auto r = Run("-r -j 2 -o OUT -t FDD,BKDSK --summary coll");
  EXPECT_EQ(r.status, 3) << r.err;  // readme.txt
  EXPECT_TRUE(r.out.ends_with("\n6 converted, 0 failed, 1 unsupported, 0 skipped\n")) << r.out;
  EXPECT_EQ(Tree(work_ / "OUT"), kConvertedTree);
  // Nothing beside the sources, no folder left in TMPDIR.
  EXPECT_EQ(Tree(work_ / "coll", true), before);
  EXPECT_EQ(Tree(tmp_.path()), "");
  // Each output holds its source's disk.
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.25M"), 6);
  const std::vector<uint8_t> raw = test::RawBytes(*disk);
  EXPECT_TRUE(test::ReadFile(work_ / "OUT/games/deep/F.HDM") ==
              std::string(raw.begin(), raw.end()));

  // The JSON lines name exactly the files written; the log goes to stderr.
  const auto again = Run("-r -o OUT2 -t FDD,BKDSK --json coll > run.json");
  EXPECT_EQ(again.status, 3);
  EXPECT_NE(again.err.find("---------   F.DIP   ----------"), std::string::npos);
  EXPECT_EQ(CheckJson("run.json", "OUT2", true), kReports);
  EXPECT_EQ(Tree(work_ / "OUT2"), kConvertedTree);

  // Without -o every output goes beside its source (or its archive).
  const std::string copy = work_ / "copy";
  ASSERT_EQ(test::RunCommand("cp -a " + ShellQuote(work_ / "coll") + " " + ShellQuote(copy)).status,
            0);
  const auto beside = Run("-r -t FDD copy/games/deep");
  EXPECT_EQ(beside.status, 0) << beside.out;
  EXPECT_EQ(Tree(copy + "/games/deep"),
            "D.FDDf\nD.FDIf\nE.FDDf\nF.FDDf\nSET.ZIPf\nupl\n");
}

TEST_F(CollectionTest, NoClobberSkipsSourcesWhoseOutputsExist) {
  ASSERT_EQ(Run("-r -o OUT -t FDD coll").status, 3);
  test::WriteFile(work_ / "OUT/games/B.FDD", "kept");
  ASSERT_EQ(unlink((work_ / "OUT/games/deep/E.FDD").c_str()), 0);
  const std::string before = Tree(work_ / "OUT", true);
  const auto r = Run("-r -o OUT -t FDD,BKDSK --no-clobber --summary --json coll > nc.json");
  EXPECT_EQ(r.status, 3) << r.err;
  // FDD exists for all but E; BKDSK for none: each source converts to what
  // it lacks, and only E.FDD is written in FDD.
  EXPECT_TRUE(r.err.ends_with("\n6 converted, 0 failed, 1 unsupported, 0 skipped\n")) << r.err;
  EXPECT_EQ(test::ReadFile(work_ / "OUT/games/B.FDD"), "kept");
  EXPECT_TRUE(test::FileExists(work_ / "OUT/games/deep/E.FDD"));
  EXPECT_NE(r.err.find("出力ファイルが既にあるため変換しません: B.FDD"), std::string::npos);

  // Once every output is there, every source is skipped and nothing changes.
  const std::string full = Tree(work_ / "OUT", true);
  const auto s = Run("-r -o OUT -t FDD,BKDSK --no-clobber --summary coll");
  EXPECT_EQ(s.status, 3);
  EXPECT_TRUE(s.out.ends_with("\n0 converted, 0 failed, 1 unsupported, 6 skipped\n")) << s.out;
  EXPECT_EQ(Tree(work_ / "OUT", true), full);
  EXPECT_NE(before, full);
}

TEST_F(CollectionTest, UsageErrors) {
  for (const auto& [args, error] : std::vector<std::pair<std::string, std::string>>{
           {"-t FDD coll", "coll is a folder; give -r to convert the files in it"},
           {"-t FDD,fdd -r coll", "outputs FDD and fdd both write .FDD files"},
           {"-r -t BKDSK -t HDM coll", "outputs BKDSK and HDM both write .HDM files"},
           {"-t FDD, coll", "an empty output name in -t FDD,"}}) {
    const auto r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(r.err.starts_with("dravik-cli: " + error + "\n")) << r.err;
    EXPECT_FALSE(test::FileExists(work_ / "coll/A.FDD"));
  }
}

}  // namespace
}  // namespace dravik
