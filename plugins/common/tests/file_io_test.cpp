#include "file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

namespace dravik {
namespace {

TEST(FileIo, WritesReadsAndReportsShortReads) {
  test::TempDir dir;
  {
    OutputFile out;
    ASSERT_TRUE(out.Create(dir / "a.bin"));
    ASSERT_TRUE(out.Write("hello", 5));
    ASSERT_TRUE(out.Close());
    EXPECT_FALSE(out.Close());  // only once
  }
  InputFile in;
  ASSERT_TRUE(in.Open(dir / "a.bin"));
  EXPECT_EQ(in.Size(), 5);
  char buf[8] = {};
  ASSERT_TRUE(in.Seek(1));
  EXPECT_TRUE(in.ReadExact(buf, 3));
  EXPECT_STREQ(buf, "ell");
  EXPECT_FALSE(in.ReadExact(buf, 3));
  EXPECT_FALSE(in.Open(dir.path()));  // a folder is not a source file
  EXPECT_FALSE(in.Open(dir / "missing"));
}

TEST(FileIo, CloseReportsAFullDisk) {
  if (!test::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  OutputFile out;
  ASSERT_TRUE(out.Create("/dev/full"));
  out.Write("x", 1);  // buffered: the failure shows at close
  EXPECT_FALSE(out.Close());
}

TEST(FileIo, CreateInNeverWritesThroughALink) {
  test::TempDir outside;
  test::TempDir dir;
  test::WriteFile(outside / "victim", "keep");
  ASSERT_EQ(symlink((outside / "victim").c_str(), (dir / "soft").c_str()), 0);
  ASSERT_EQ(link((outside / "victim").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(symlink((outside / "missing").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (const char* name : {"soft", "hard", "dangling", "new"}) {
    OutputFile out;
    ASSERT_TRUE(out.CreateIn(fd, name)) << name;
    ASSERT_TRUE(out.Write("new", 3));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / name), "new") << name;
  }
  EXPECT_EQ(test::ReadFile(outside / "victim"), "keep");
  EXPECT_FALSE(test::FileExists(outside / "missing"));
  OutputFile out;
  for (const char* name : {"sub", "sub/x", "", ".", ".."}) {
    EXPECT_FALSE(out.CreateIn(fd, name)) << name;
  }
  close(fd);
}

TEST(FileIo, ReadWholeFileHonoursItsLimit) {
  test::TempDir dir;
  test::WriteFile(dir / "f", std::string(100, 'a'));
  std::vector<uint8_t> bytes;
  bool too_large = false;
  EXPECT_TRUE(ReadWholeFile(dir / "f", 100, bytes, &too_large));
  EXPECT_EQ(bytes.size(), 100u);
  EXPECT_FALSE(ReadWholeFile(dir / "f", 99, bytes, &too_large));
  EXPECT_TRUE(too_large);
}

}  // namespace
}  // namespace dravik
