// One valid file of every input format, cut at every length (every 97th past
// 64 KiB) and spoilt one byte at a time by a seeded generator, goes through
// IsSupport, GetFileInfo and ReadDisk of its reader. Whatever the bytes, each
// call answers a result code of the interface and keeps to its buffers; the
// sanitizer build checks that no call reads or writes out of bounds on the
// way. A format is a row of the sample table, so a new reader is swept as
// soon as it has one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format_samples.h"
#include "test_support.h"

namespace dravik {
namespace {

// What a call may answer; 1 (aborted) cannot come, since the progress
// callback never asks to stop.
const std::set<int> kProbeResults = {kResultOk, kResultNotMine, kResultReadError, kResultFailed};
const std::set<int> kReadResults = {kResultOk,     kResultNotMine,  kResultReadError,
                                    kResultFailed, kResultMoreDisks, kResultSkipped};

constexpr size_t kEveryLengthUpTo = 64 * 1024;
constexpr size_t kLengthStep = 97;
constexpr int kMutations = 1000;

class SweepTest : public ::testing::TestWithParam<test::InputFormat> {
 protected:
  void SetUp() override {
    const test::InputFormat& format = GetParam();
    if (!test::FileExists(test::ProgramDir() + format.reader)) {
      GTEST_SKIP() << format.reader << " is not built";
    }
    // The smallest shape the format holds keeps the sweep quick.
    auto disk = test::NewDiskImage();
    for (const test::DiskShape& shape : test::SampleShapes()) {
      test::BuildSampleDisk(*disk, shape);
      files_ = format.make(*disk, "SAMPLE", test::ProgramDir());
      if (!files_.empty()) break;
    }
    ASSERT_FALSE(files_.empty()) << "no sample of " << format.name;
    path_ = test::SaveSample(files_, dir_.path());
    bytes_ = files_[0].bytes;
    reader_ = std::make_unique<test::BareReader>(format.reader);
    ASSERT_TRUE(reader_->loaded());
    const test::TruncationAnswers whole = reader_->Call(path_);
    ASSERT_EQ(whole.is_support, kResultOk);
    ASSERT_EQ(whole.file_info, kResultOk);
    ASSERT_TRUE(whole.read_disk == kResultOk || whole.read_disk == kResultMoreDisks)
        << whole.read_disk;
  }

  // Calls the reader on the file as it stands now; what tells the case
  // apart goes into the failure text.
  void Probe(const std::string& what) {
    const test::TruncationAnswers a = reader_->Call(path_);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_TRUE(kProbeResults.count(a.is_support)) << what << ": IsSupport " << a.is_support;
    ASSERT_TRUE(kProbeResults.count(a.file_info)) << what << ": GetFileInfo " << a.file_info;
    ASSERT_TRUE(kReadResults.count(a.read_disk)) << what << ": ReadDisk " << a.read_disk;
    if (a.read_disk == kResultOk || a.read_disk == kResultMoreDisks) {
      const DiskImage& image = reader_->image();
      ASSERT_GE(image.track_count, 1) << what;
      ASSERT_LE(image.track_count, kMaxTracks) << what;
      ASSERT_NE(std::memchr(image.title, 0, kTitleSize), nullptr) << what;
    }
  }

  test::TempDir dir_;
  test::SampleFiles files_;
  std::string path_;
  std::vector<uint8_t> bytes_;
  std::unique_ptr<test::BareReader> reader_;
};

TEST_P(SweepTest, EveryTruncationIsAnsweredSafely) {
  std::vector<size_t> lengths;
  const size_t step = bytes_.size() > kEveryLengthUpTo ? kLengthStep : 1;
  for (size_t length = 0; length < bytes_.size(); length += step) lengths.push_back(length);
  // Longest first: truncate() then only ever shortens the file.
  for (auto it = lengths.rbegin(); it != lengths.rend(); ++it) {
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(*it)), 0);
    Probe("cut to " + std::to_string(*it) + " of " + std::to_string(bytes_.size()) + " bytes");
    if (HasFatalFailure()) return;
  }
}

TEST_P(SweepTest, SingleByteMutationsAreAnsweredSafely) {
  // A fixed seed per format, so that a failure comes back on every run; the
  // engine is fully specified by the standard, its distributions are not.
  std::mt19937 random(0x5EED + static_cast<uint32_t>(GetParam().name.size()) * 131 +
                      static_cast<uint32_t>(GetParam().name[0]));
  const int fd = open(path_.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  // Headers and tables sit at the front: half the mutations go to the first
  // kilobyte.
  const size_t front = std::min<size_t>(bytes_.size(), 1024);
  for (int i = 0; i < kMutations && !HasFatalFailure(); ++i) {
    const size_t at = (i % 2 ? random() % front : random() % bytes_.size());
    const uint8_t was = bytes_[at];
    const uint8_t value = static_cast<uint8_t>(was ^ (1 + random() % 255));
    ASSERT_EQ(pwrite(fd, &value, 1, static_cast<off_t>(at)), 1);
    Probe("byte " + std::to_string(at) + " " + std::to_string(was) + " -> " +
          std::to_string(value));
    ASSERT_EQ(pwrite(fd, &was, 1, static_cast<off_t>(at)), 1);
  }
  close(fd);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, SweepTest, ::testing::ValuesIn(test::InputFormats()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace dravik
