#include "reader_export.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include "test_support.h"

namespace dravik {
namespace {

// Buffers as the host hands them over: full of a previous call's text.
struct Buffers {
  char message[kMessageSize];
  char title[kPluginTitleSize];
  int16_t multi_disk = 7;
  Buffers() {
    std::memset(message, 'm', sizeof(message) - 1);
    message[sizeof(message) - 1] = '\0';
    std::memset(title, 't', sizeof(title) - 1);
    title[sizeof(title) - 1] = '\0';
  }
};

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

TEST(ReaderExport, EmptiesTheBuffersOpensTheSourceAndReturnsTheBodysAnswer) {
  test::TempDir dir;
  test::WriteFile(dir / "disk.img", "ABCD");
  Buffers b;
  const size_t descriptors = OpenDescriptors();
  const int result = ReaderExport((dir / "disk.img").c_str(), b.message, b.title, &b.multi_disk,
                                  [&](InputFile& file) {
                                    EXPECT_STREQ(b.message, "");
                                    EXPECT_STREQ(b.title, "");
                                    EXPECT_EQ(b.multi_disk, 0);
                                    char bytes[4];
                                    EXPECT_TRUE(file.ReadExact(bytes, 4));
                                    return kResultReadError;
                                  });
  EXPECT_EQ(result, kResultReadError);
  EXPECT_EQ(OpenDescriptors(), descriptors);  // closed when the call returns

  // Either buffer and the flag may be missing.
  EXPECT_EQ(ReaderExport((dir / "disk.img").c_str(), nullptr, nullptr, nullptr,
                         [](InputFile&) { return kResultOk; }),
            kResultOk);
}

TEST(ReaderExport, AnswersEightWithAMessageForWhatItCannotOpenOrWhatThrows) {
  test::TempDir dir;
  test::WriteFile(dir / "disk.img", "ABCD");
  const std::pair<std::string, std::string> cases[] = {
      {dir / "missing.img", ": No such file or directory"}, {dir.path(), ": Is a directory"}};
  for (const auto& [path, reason] : cases) {
    Buffers b;
    bool called = false;
    EXPECT_EQ(ReaderExport(path.c_str(), b.message, b.title, &b.multi_disk,
                           [&](InputFile&) {
                             called = true;
                             return kResultOk;
                           }),
              kResultFailed);
    EXPECT_EQ(std::string(b.message), std::string(kMsgSourceOpenError) + "\r\n" + path + reason);
    EXPECT_STREQ(b.title, "");
    EXPECT_EQ(b.multi_disk, 0);
    EXPECT_FALSE(called);
  }
  EXPECT_EQ(ReaderExport(nullptr, nullptr, nullptr, nullptr, [](InputFile&) { return 0; }),
            kResultFailed);

  Buffers b;
  EXPECT_EQ(ReaderExport((dir / "disk.img").c_str(), b.message, b.title, &b.multi_disk,
                         [](InputFile&) -> int { throw std::bad_alloc(); }),
            kResultFailed);
  EXPECT_EQ(std::string(b.message), kMsgImageTooLarge);
  EXPECT_EQ(ReaderExport((dir / "disk.img").c_str(), b.message, b.title, &b.multi_disk,
                         [](InputFile&) -> int { throw std::runtime_error("x"); }),
            kResultFailed);
  EXPECT_EQ(std::string(b.message), kMsgInternalError);
}

TEST(ReadDiskExport, RefusesASetDirectFlagBeforeOpeningAnything) {
  test::TempDir dir;
  test::WriteFile(dir / "disk.img", "ABCD");
  const struct {
    int direct;
    std::string path;
    int result;
    std::string_view message;
  } cases[] = {
      {1, dir / "disk.img", kResultFailed, kMsgUnsupportedConversion},
      {1, dir / "missing.img", kResultFailed, kMsgUnsupportedConversion},
      {0x10000, dir / "disk.img", kResultOk, ""},  // only the low 16 bits count
      {0, dir / "disk.img", kResultOk, ""},
  };
  for (const auto& c : cases) {
    Buffers b;
    EXPECT_EQ(ReadDiskExport(c.path.c_str(), c.direct, b.message, b.title,
                             [](InputFile&) { return kResultOk; }),
              c.result)
        << c.direct << " " << c.path;
    EXPECT_EQ(std::string(b.message), c.message);
    EXPECT_STREQ(b.title, "");
  }
}

}  // namespace
}  // namespace dravik
