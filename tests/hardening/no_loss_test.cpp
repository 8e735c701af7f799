// Every input format's sample converted by dravik-cli into every output, as
// it is and cut in half: the source folder is the same afterwards, byte for
// byte, a conversion that fails leaves no file cut short and loses no older
// output (outputs are only ever renamed into place when complete), and the
// temporary folder is gone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "format_samples.h"
#include "test_support.h"
#include "tree_snapshot.h"

namespace dravik {
namespace {

using test::ShellQuote;

struct Output {
  std::string label;      // the name -t takes: the label up to "形式"
  std::string extension;  // ".FDD"; "." for a folder of files
};

// The output plug-ins of the program folder.
std::vector<Output> Outputs() {
  std::vector<Output> outputs;
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.ends_with(".dvw")) {
      const test::LoadedPlugin plugin = test::LoadBuiltPlugin(name);
      const std::string label = plugin.label();
      outputs.push_back({label.substr(0, label.find("形式")), plugin.extension()});
    }
  }
  return outputs;
}

class NoLossTest : public ::testing::TestWithParam<test::InputFormat> {
 protected:
  void SetUp() override {
    if (!test::FileExists(test::ProgramDir() + GetParam().reader)) {
      GTEST_SKIP() << GetParam().reader << " is not built";
    }
  }

  // Converts source into out (beside the source when out is empty) with
  // the output of label and a private temporary folder; every file of the
  // source's folder must be as it was, byte for byte, and the temporary
  // folder gone. Answers the exit status.
  int Convert(const std::string& source, const std::string& label, const std::string& out) {
    const std::string folder = source.substr(0, source.rfind('/') + 1);
    const test::TreeSnapshot before = test::SnapshotTree(folder);
    test::TempDir tmp;
    const auto r = test::RunCommand("TMPDIR=" + ShellQuote(tmp.path()) + " " +
                                    ShellQuote(test::ProgramDir() + "dravik-cli") + " -q -t " +
                                    ShellQuote(label) +
                                    (out.empty() ? "" : " -o " + ShellQuote(out)) + " " +
                                    ShellQuote(source));
    EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 3) << r.status << r.out << r.err;
    const test::TreeSnapshot after = test::SnapshotTree(folder);
    for (const auto& [path, what] : before) {
      EXPECT_TRUE(after.contains(path) && after.at(path) == what)
          << "the source folder's " << path << " changed\n" << r.out << r.err;
    }
    if (!out.empty()) {
      EXPECT_EQ(test::ChangedPaths(before, after), std::vector<std::string>{})
          << "the source folder changed";
    }
    EXPECT_EQ(test::ListFolder(tmp.path()), std::vector<std::string>{})
        << "the temporary folder was left behind";
    if (r.status != 0) log_ = r.out + r.err;
    return r.status;
  }

  std::string log_;  // of the last failed run
};

bool IsFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The whole sample into every output, then the sample cut in half into every
// output over older files at the names the whole one gave. A failed run may
// leave only files that are complete (those of the disks before the one that
// failed, byte for byte as from the whole source) and the older files as
// they were.
TEST_P(NoLossTest, SourcesStayWholeAndFailuresLeaveNoOutput) {
  auto disk = test::NewDiskImage();
  test::SampleFiles files;
  for (const test::DiskShape& shape : test::SampleShapes()) {
    test::BuildSampleDisk(*disk, shape);
    files = GetParam().make(*disk, GetParam().name, test::ProgramDir());
    if (!files.empty()) break;
  }
  ASSERT_FALSE(files.empty());
  test::TempDir whole_src;
  const std::string whole_source = test::SaveSample(files, whole_src.path());
  files[0].bytes.resize(files[0].bytes.size() / 2);
  test::TempDir cut_src;
  const std::string cut_source = test::SaveSample(files, cut_src.path());

  const std::string older = "older output, to be kept";
  bool fdd_converted = false;
  for (const auto& [label, extension] : Outputs()) {
    SCOPED_TRACE(label);
    test::TempDir out;
    const int status = Convert(whole_source, label, out.path());
    const test::TreeSnapshot whole = test::SnapshotTree(out.path());
    if (status == 0) {
      EXPECT_FALSE(whole.empty()) << "converted, but no output";
      fdd_converted = fdd_converted || label == "FDD";
    } else {
      EXPECT_EQ(test::ListFolder(out.path()), std::vector<std::string>{})
          << "failed, yet left output\n" << log_;
    }

    test::TempDir cut_out;
    for (const std::string& name : test::ListFolder(out.path())) {
      if (!IsFolder(out / name)) test::WriteFile(cut_out / name, older);
    }
    const test::TreeSnapshot placed = test::SnapshotTree(cut_out.path());
    if (Convert(cut_source, label, cut_out.path()) == 0) continue;
    const test::TreeSnapshot after = test::SnapshotTree(cut_out.path());
    for (const auto& [path, what] : placed) {
      EXPECT_TRUE(after.contains(path)) << "the older " << path << " is lost\n" << log_;
    }
    for (const auto& [path, what] : after) {
      const bool complete = whole.contains(path) &&
                            (whole.at(path) == what || IsFolder(cut_out / path));
      const bool kept = placed.contains(path) && placed.at(path) == what;
      EXPECT_TRUE(complete || kept) << path << " is left cut short or new\n" << log_;
    }
  }
  // FDD holds every disk the record can hold.
  EXPECT_TRUE(fdd_converted);
}

// Converted beside itself, the source named as its output would be (the
// readers go by content): the source and its partners stay as they were.
TEST_P(NoLossTest, ASourceNamedAsItsOutputStaysWhole) {
  auto disk = test::NewDiskImage();
  test::SampleFiles files;
  for (const test::DiskShape& shape : test::SampleShapes()) {
    test::BuildSampleDisk(*disk, shape);
    files = GetParam().make(*disk, "SAME", test::ProgramDir());
    if (!files.empty()) break;
  }
  ASSERT_FALSE(files.empty());
  for (const auto& [label, extension] : Outputs()) {
    SCOPED_TRACE(label);
    test::TempDir src;
    // A folder of files is named after the source without its extension.
    files[0].name = extension == "." ? "SAME" : "SAME" + extension;
    const int status = Convert(test::SaveSample(files, src.path()), label, "");
    if (label == GetParam().name) {
      EXPECT_EQ(status, 1);
      EXPECT_NE(log_.find("入出力ファイル名が同じになりました"), std::string::npos) << log_;
    }
  }
}

// The BKDSK output picks its extension by the disk's shape, so the driver
// cannot tell beforehand whether the file it will write is the source. An
// FDD image of every standard shape, named as its BKDSK output will be, is
// converted beside itself: the FDD file must stay.
TEST(NoLossBesideTest, AnOutputThatPicksItsOwnNameNeverReplacesTheSource) {
  if (!test::FileExists(test::ProgramDir() + "bkdsk_writer.dvw")) GTEST_SKIP() << "no BKDSK";
  auto disk = test::NewDiskImage();
  for (const test::DiskShape& shape : test::StandardShapes()) {
    SCOPED_TRACE(shape.name);
    test::BuildSampleDisk(*disk, shape);
    const test::SampleFiles fdd =
        test::WrittenBy(test::ProgramDir() + "fdd_writer.dvw", *disk, "GAME");
    const test::SampleFiles bkdsk =
        test::WrittenBy(test::ProgramDir() + "bkdsk_writer.dvw", *disk, "GAME");
    ASSERT_EQ(fdd.size(), 1u);
    if (bkdsk.size() != 1) continue;
    test::TempDir src;
    const std::string source = src / bkdsk[0].name;
    test::WriteFile(source, fdd[0].bytes);
    test::TempDir tmp;
    const auto r = test::RunCommand("TMPDIR=" + ShellQuote(tmp.path()) + " " +
                                    ShellQuote(test::ProgramDir() + "dravik-cli") +
                                    " -t BKDSK " + ShellQuote(source));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("入出力ファイル名が同じになりました"), std::string::npos) << r.out;
    EXPECT_TRUE(test::ReadFile(source) ==
                std::string(fdd[0].bytes.begin(), fdd[0].bytes.end()))
        << bkdsk[0].name << " was replaced";
    EXPECT_EQ(test::ListFolder(src.path()), std::vector<std::string>{bkdsk[0].name});
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, NoLossTest, ::testing::ValuesIn(test::InputFormats()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace dravik
