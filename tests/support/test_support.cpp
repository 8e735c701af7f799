#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "archive_expander.h"
#include "text.h"

namespace dravik::test {

std::string ProgramDir() { return DRAVIK_PROGRAM_DIR "/"; }
std::string TestPluginDir() { return DRAVIK_TEST_PLUGIN_DIR "/"; }

TempDir::TempDir() : path_(MakePrivateTempFolder()) {
  if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
}

TempDir::~TempDir() { RemoveTree(path_); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void CopyFile(const std::string& from, const std::string& to) {
  if (!FileExists(from)) ADD_FAILURE() << "missing " << from;
  WriteFile(to, ReadFile(from));
  chmod(to.c_str(), 0755);
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  const CommandResult r = RunCommand("ls -A " + ShellQuote(folder));
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) names.push_back(line);
  return names;
}

std::string ShellQuote(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

int RunWithFileSizeLimit(uint64_t limit, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const rlimit size{limit, limit};
    signal(SIGXFSZ, SIG_IGN);  // else the first write past the limit kills
    _exit(setrlimit(RLIMIT_FSIZE, &size) == 0 ? body() : 255);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

CommandResult RunCommand(const std::string& command_line) {
  TempDir temp;
  const std::string out_file = temp / "out";
  const std::string err_file = temp / "err";
  const std::string full = "( " + command_line + " ) >" + ShellQuote(out_file) + " 2>" +
                           ShellQuote(err_file) + " </dev/null";
  const int raw = std::system(full.c_str());
  CommandResult result;
  if (raw != -1 && WIFEXITED(raw)) {
    result.status = WEXITSTATUS(raw);
  } else if (raw != -1 && WIFSIGNALED(raw)) {
    result.status = 128 + WTERMSIG(raw);
  }
  result.out = ReadFile(out_file);
  result.err = ReadFile(err_file);
  return result;
}

CommandResult RunAndSignalWhen(const std::string& command_line,
                               const std::function<bool()>& ready, int signal) {
  TempDir temp;
  const std::string out_file = temp / "out";
  const std::string err_file = temp / "err";
  CommandResult result;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    // A shell runs a program started with "&" with SIGINT ignored; a test of
    // Ctrl-C must see the program's own handling, not that inheritance.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(SIGINT, &plain, nullptr);
    sigaction(SIGQUIT, &plain, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(127);
    }
    execl("/bin/sh", "sh", "-c", command_line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Polls, so that the outcome never depends on how long anything took:
  // only the bounds are times, and they are generous for a loaded machine.
  const auto wait_until = [&](const std::function<bool()>& done, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  };
  int status = 0;
  bool ended = false;
  const auto child_ended = [&] {
    ended = ended || waitpid(child, &status, WNOHANG) == child;
    return ended;
  };
  bool timed_out = false;
  if (!wait_until([&] { return child_ended() || ready(); }, std::chrono::minutes(2))) {
    timed_out = true;
  } else if (!ended) {
    kill(child, signal);
    timed_out = !wait_until(child_ended, std::chrono::minutes(2));
  }
  if (timed_out) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  result.out = ReadFile(out_file);
  result.err = ReadFile(err_file);
  if (timed_out) result.err += "\n(killed: not ready or not ended in time)\n";
  return result;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + ShellQuote(name)).status == 0;
}

namespace {

// The harness's callback records every call; plug-ins run on the test's
// thread, so the recorder of the call under way is thread-local.
thread_local CallResult* t_recording = nullptr;
thread_local int t_abort_at = 0;

int RecordProgress(int done, int total, char* message) {
  if (t_recording == nullptr) return 0;
  t_recording->progress.push_back(
      {done, total, message == nullptr ? "" : std::string(message, BoundedLength(message, kMessageSize))});
  if (message != nullptr && message[0] != '\0') message[0] = '\0';
  return t_abort_at != 0 && static_cast<int>(t_recording->progress.size()) >= t_abort_at ? 1 : 0;
}

class Recording {
 public:
  Recording(CallResult& result, int abort_at) {
    t_recording = &result;
    t_abort_at = abort_at;
  }
  ~Recording() {
    t_recording = nullptr;
    t_abort_at = 0;
  }
};

struct Buffers {
  char message[kMessageSize + 1] = {};
  char title[kPluginTitleSize + 1] = {};
  void Into(CallResult& r) const {
    r.message.assign(message, BoundedLength(message, kMessageSize));
    r.title.assign(title, BoundedLength(title, kPluginTitleSize));
  }
};

}  // namespace

LoadedPlugin::LoadedPlugin(const std::string& path) : library_(SharedLibrary::Open(path)) {
  if (!library_.loaded()) {
    ADD_FAILURE() << "cannot load " << path;
    return;
  }
  auto info = reinterpret_cast<GetPluginInfoFn>(library_.Symbol("GetPluginInfo"));
  is_support_ = reinterpret_cast<IsSupportFn>(library_.Symbol("IsSupport"));
  get_file_info_ = reinterpret_cast<GetFileInfoFn>(library_.Symbol("GetFileInfo"));
  read_disk_ = reinterpret_cast<ReadDiskFn>(library_.Symbol("ReadDisk"));
  write_disk_ = reinterpret_cast<WriteDiskFn>(library_.Symbol("WriteDisk"));
  if (info == nullptr) {
    ADD_FAILURE() << path << " lacks GetPluginInfo";
    return;
  }
  EXPECT_EQ(info(identity_, caps_, extension_, label_), 0) << path;
  const bool input = kind() == kKindInput;
  if (input && (!is_support_ || !get_file_info_ || !read_disk_)) {
    ADD_FAILURE() << path << " lacks an input export";
  }
  if (!input && !write_disk_) ADD_FAILURE() << path << " lacks WriteDisk";
}

CallResult LoadedPlugin::IsSupport(const std::string& path) const {
  CallResult r;
  Buffers b;
  if (is_support_ != nullptr) r.result = is_support_(path.c_str(), b.message);
  b.Into(r);
  return r;
}

CallResult LoadedPlugin::GetFileInfo(const std::string& path) const {
  CallResult r;
  Buffers b;
  if (get_file_info_ != nullptr) {
    r.result = get_file_info_(path.c_str(), b.message, b.title, &r.multi_disk);
  }
  b.Into(r);
  return r;
}

CallResult LoadedPlugin::ReadDisk(const std::string& path, DiskImage& image, int disk,
                                  int abort_at) const {
  CallResult r;
  Buffers b;
  std::memset(&image, 0, sizeof(image));
  Recording rec(r, abort_at);
  if (read_disk_ != nullptr) {
    r.result = read_disk_(path.c_str(), &image, disk, 0, &RecordProgress, b.message, b.title);
  }
  b.Into(r);
  return r;
}

CallResult LoadedPlugin::ReadDirect(const std::string& path, const std::string& output, int disk,
                                    int abort_at) const {
  CallResult r;
  Buffers b;
  std::vector<char> target(kOutputPathSize, '\0');
  std::memcpy(target.data(), output.data(), std::min(output.size(), target.size() - 1));
  Recording rec(r, abort_at);
  if (read_disk_ != nullptr) {
    r.result = read_disk_(path.c_str(), target.data(), disk, 1, &RecordProgress, b.message,
                          b.title);
  }
  b.Into(r);
  return r;
}

CallResult LoadedPlugin::WriteDisk(DiskImage& image, const std::string& output, int direct,
                                   int abort_at) const {
  CallResult r;
  Buffers b;
  Recording rec(r, abort_at);
  if (write_disk_ != nullptr) {
    r.result = write_disk_(&image, output.c_str(), direct, &RecordProgress, b.message);
  }
  b.Into(r);
  return r;
}

LoadedPlugin LoadBuiltPlugin(const std::string& file_name) {
  return LoadedPlugin(ProgramDir() + file_name);
}

namespace {
int IgnoreProgress(int, int, char*) { return 0; }
}  // namespace

void ForEveryTruncation(const std::string& plugin_file, const std::vector<uint8_t>& bytes,
                        const std::function<void(size_t, const TruncationAnswers&)>& check) {
  std::vector<size_t> lengths(bytes.size() + 1);
  for (size_t i = 0; i < lengths.size(); ++i) lengths[i] = i;
  ForTruncations(plugin_file, bytes, std::move(lengths), check);
}

std::vector<size_t> TruncationLengths(size_t size, size_t dense, size_t first, size_t step) {
  std::vector<size_t> lengths;
  for (size_t i = 0; i <= std::min(dense, size); ++i) lengths.push_back(i);
  for (size_t at = first; at <= size + 1 && step > 0; at += step) {
    for (size_t i : {at - 1, at, at + 1}) {
      if (i > dense && i <= size) lengths.push_back(i);
    }
  }
  lengths.push_back(size);
  return lengths;
}

void ForTruncations(const std::string& plugin_file, const std::vector<uint8_t>& bytes,
                    std::vector<size_t> lengths,
                    const std::function<void(size_t, const TruncationAnswers&)>& check) {
  std::sort(lengths.begin(), lengths.end(), std::greater<>());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
  const BareReader reader(plugin_file);
  ASSERT_TRUE(reader.loaded()) << plugin_file;
  TempDir dir;
  const std::string path = dir / "truncated.img";
  WriteFile(path, bytes);
  for (const size_t length : lengths) {
    ASSERT_LE(length, bytes.size());
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length)), 0);
    const TruncationAnswers answers = reader.Call(path);
    if (::testing::Test::HasFatalFailure()) return;  // one length is enough to tell
    check(length, answers);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

BareReader::BareReader(const std::string& plugin_file)
    : library_(SharedLibrary::Open(ProgramDir() + plugin_file)),
      image_(NewDiskImage()) {
  if (!library_.loaded()) return;
  is_support_ = reinterpret_cast<IsSupportFn>(library_.Symbol("IsSupport"));
  file_info_ = reinterpret_cast<GetFileInfoFn>(library_.Symbol("GetFileInfo"));
  read_disk_ = reinterpret_cast<ReadDiskFn>(library_.Symbol("ReadDisk"));
}

TruncationAnswers BareReader::Call(const std::string& path) const {
  TruncationAnswers answers;
  if (!loaded()) {
    ADD_FAILURE() << "plug-in not loaded";
    return answers;
  }
  constexpr char kGuard = 0x5A;
  char message[kMessageSize + 1];
  char title[kPluginTitleSize + 1];
  message[kMessageSize] = kGuard;
  title[kPluginTitleSize] = kGuard;
  int16_t multi = 0;
  message[0] = '\0';
  answers.is_support = is_support_(path.c_str(), message);
  message[0] = title[0] = '\0';
  answers.file_info = file_info_(path.c_str(), message, title, &multi);
  message[0] = title[0] = '\0';
  answers.read_disk =
      read_disk_(path.c_str(), image_.get(), 1, 0, &IgnoreProgress, message, title);
  if (message[kMessageSize] != kGuard || title[kPluginTitleSize] != kGuard ||
      std::memchr(message, 0, kMessageSize) == nullptr ||
      std::memchr(title, 0, kPluginTitleSize) == nullptr) {
    [&] { FAIL() << path << ": a text left unterminated, or a call wrote past its buffer"; }();
  }
  return answers;
}

std::unique_ptr<DiskImage> NewDiskImage() {
  auto image = std::make_unique<DiskImage>();
  std::memset(image.get(), 0, sizeof(DiskImage));
  return image;
}

}  // namespace dravik::test
