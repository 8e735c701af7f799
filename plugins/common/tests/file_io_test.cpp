#include "file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "plugin_export.h"
#include "test_support.h"

namespace dravik {
namespace {

using Names = std::vector<std::string>;

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
  EXPECT_FALSE(in.Open(dir / "missing"));
}

// Reads of every size, across and beyond the buffer's fills, after seeks
// forward, back and past the end, against the file's own bytes.
TEST(FileIo, BufferedReadsMatchTheFileAfterAnySeek) {
  test::TempDir dir;
  std::mt19937 random(18);
  std::string bytes(3 * kFileBufferSize + 1234, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  test::WriteFile(dir / "a.bin", bytes);
  InputFile in;
  ASSERT_TRUE(in.Open(dir / "a.bin"));
  EXPECT_EQ(in.Size(), static_cast<int64_t>(bytes.size()));
  std::vector<char> got(2 * kFileBufferSize);
  uint64_t position = 0;
  for (int step = 0; step < 3000; ++step) {
    if (random() % 4 == 0) {
      position = random() % (bytes.size() + 100);
      ASSERT_TRUE(in.Seek(position));
    }
    ASSERT_EQ(in.Tell(), static_cast<int64_t>(position));
    const size_t sizes[] = {1, 32, 4095, 4097, kFileBufferSize - 1, kFileBufferSize,
                            kFileBufferSize + 7};
    const size_t n = random() % 2 ? sizes[random() % 7] : random() % 9000;
    const size_t expected = position >= bytes.size() ? 0 : std::min(n, bytes.size() - position);
    ASSERT_EQ(in.Read(got.data(), n), expected) << "step " << step;
    ASSERT_EQ(std::string(got.data(), expected), bytes.substr(position, expected)) << step;
    position += expected;
  }
  // Reopening starts afresh, at the start of the other file.
  test::WriteFile(dir / "b.bin", "other");
  ASSERT_TRUE(in.Open(dir / "b.bin"));
  EXPECT_EQ(in.Tell(), 0);
  EXPECT_EQ(in.Size(), 5);
  EXPECT_EQ(in.Read(got.data(), 10), 5u);
  EXPECT_EQ(std::string(got.data(), 5), "other");
}

TEST(FileIo, InputRefusesWhatIsNoRegularFileWithoutBlocking) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  InputFile in;
  EXPECT_FALSE(in.Open(dir / "fifo"));  // a plain open would wait for a writer for ever
  EXPECT_FALSE(in.Open("/dev/null"));
  EXPECT_FALSE(in.Open(dir.path()));
  EXPECT_EQ(errno, EISDIR);
}

// Writes text as path's new content.
bool Replace(const std::string& path, const std::string& text) {
  OutputFile out;
  return out.Create(path) && out.Write(text) && out.Close();
}

TEST(FileIo, AnOutputShowsUnderItsNameOnlyWhenComplete) {
  test::TempDir dir;
  test::WriteFile(dir / "a.bin", "old good file");
  {
    OutputFile out;
    ASSERT_TRUE(out.Create(dir / "a.bin"));
    ASSERT_TRUE(out.Write("new", 3));
    EXPECT_EQ(test::ReadFile(dir / "a.bin"), "old good file");
    EXPECT_EQ(test::ListFolder(dir.path()).size(), 2u);  // written aside
  }  // dropped without Close(), as on an error or an abort
  EXPECT_EQ(test::ReadFile(dir / "a.bin"), "old good file");
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "a.bin"));
  out.Write("x", 1);
  out.Discard();
  EXPECT_FALSE(out.Close());
  EXPECT_EQ(test::ListFolder(dir.path()), Names{"a.bin"});

  ASSERT_TRUE(out.Create(dir / "a.bin"));
  ASSERT_TRUE(out.Seek(4));
  ASSERT_TRUE(out.Write("!", 1));
  ASSERT_TRUE(out.Seek(0));
  ASSERT_TRUE(out.Write("new", 3));
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(test::ReadFile(dir / "a.bin"), std::string("new\0!", 5));
  EXPECT_EQ(test::ListFolder(dir.path()), Names{"a.bin"});
}

TEST(FileIo, LinksAtTheNameAreReplacedNeverWrittenThrough) {
  test::TempDir outside;
  test::TempDir dir;
  test::WriteFile(outside / "victim", "keep");
  ASSERT_EQ(symlink((outside / "victim").c_str(), (dir / "soft").c_str()), 0);
  ASSERT_EQ(link((outside / "victim").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(symlink((outside / "missing").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (dir / "linked").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (const char* name : {"soft", "hard", "dangling", "linked", "new"}) {
    OutputFile out;
    ASSERT_TRUE(out.CreateIn(fd, name)) << name;
    ASSERT_TRUE(out.Write("new", 3));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(test::ReadFile(dir / name), "new") << name;
    ASSERT_TRUE(Replace(dir / name, "again")) << name;
    EXPECT_EQ(test::ReadFile(dir / name), "again") << name;
  }
  EXPECT_EQ(test::ReadFile(outside / "victim"), "keep");
  EXPECT_EQ(test::ListFolder(outside.path()), Names{"victim"});

  // A folder, a FIFO or a path that is no single name is refused at once.
  OutputFile out;
  for (const char* name : {"sub", "fifo", "sub/x", "", ".", ".."}) {
    EXPECT_FALSE(out.CreateIn(fd, name)) << name;
    EXPECT_NE(out.error(), 0) << name;
  }
  close(fd);
  EXPECT_FALSE(out.Create(dir / "sub"));
  EXPECT_EQ(out.error(), EISDIR);
  EXPECT_FALSE(out.Create(dir / "fifo"));
  EXPECT_FALSE(out.Create(dir / "no/such/folder"));
  EXPECT_EQ(out.error(), ENOENT);
  EXPECT_EQ(test::ListFolder(dir.path()),
            (Names{"dangling", "fifo", "hard", "linked", "new", "soft", "sub"}));
}

TEST(FileIo, AReplacedFileKeepsItsModeAndWriteProtectionHolds) {
  test::TempDir dir;
  test::WriteFile(dir / "shared", "old");
  ASSERT_EQ(chmod((dir / "shared").c_str(), 0640), 0);
  ASSERT_TRUE(Replace(dir / "shared", "new"));
  struct stat st {};
  ASSERT_EQ(stat((dir / "shared").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  if (geteuid() == 0) GTEST_SKIP() << "root may write a protected file";
  test::WriteFile(dir / "locked", "old");
  ASSERT_EQ(chmod((dir / "locked").c_str(), 0444), 0);
  OutputFile out;
  EXPECT_FALSE(out.Create(dir / "locked"));
  EXPECT_EQ(out.error(), EACCES);
  EXPECT_EQ(test::ReadFile(dir / "locked"), "old");
}

TEST(FileIo, AFailedWriteKeepsTheOldFileAndLeavesNothingBehind) {
  test::TempDir dir;
  test::WriteFile(dir / "a.bin", "old good file");
  // The limit stops the write part way, as a full disk would.
  const int answer = test::RunWithFileSizeLimit(100000, [&] {
    OutputFile out;
    if (!out.Create(dir / "a.bin")) return 1;
    if (out.Write(std::string(200000, 'x')) && out.Close()) return 2;
    if (out.Close()) return 3;
    return out.error() == EFBIG ? 0 : 4;
  });
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(test::ReadFile(dir / "a.bin"), "old good file");
  EXPECT_EQ(test::ListFolder(dir.path()), Names{"a.bin"});

  // Small enough to stay in the write buffer: the failure shows only at Close().
  EXPECT_EQ(test::RunWithFileSizeLimit(10, [&] {
              OutputFile out;
              const bool written = out.Create(dir / "b.bin") && out.Write(std::string(20, 'y'));
              return written && !out.Close() && out.error() == EFBIG ? 0 : 1;
            }),
            0);
  EXPECT_EQ(test::ListFolder(dir.path()), Names{"a.bin"});
}

TEST(FileIo, ErrorMessagesNameTheFileAndTheReason) {
  EXPECT_EQ(FileErrorMessage("\r\nオープンエラー", "/out/GAME.FDI", EACCES),
            "\r\nオープンエラー\r\n/out/GAME.FDI: Permission denied");
  // A long path is cut in its middle, at character boundaries, to fit.
  const std::string path = "/" + std::string(600, 'a') + "/ゲーム" + std::string(600, 'b');
  const std::string message = FileErrorMessage("\r\nエラー", path, ENOSPC);
  EXPECT_LE(message.size(), kMessageSize - 1);
  EXPECT_TRUE(message.starts_with("\r\nエラー\r\n/aaa")) << message;
  EXPECT_TRUE(message.ends_with("bbb: No space left on device")) << message;
  EXPECT_NE(message.find("…"), std::string::npos);
  EXPECT_EQ(SanitizeUtf8(message), message);
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
