#include "conversion_driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "file_io.h"
#include "paths.h"
#include "plugin_export.h"
#include "text.h"

namespace dravik {
namespace {

constexpr std::string_view kMsgNoOutput = "\r\n有効な出力プラグインが選択されていません";
constexpr std::string_view kMsgNoOutputFolder = "\r\n出力先フォルダが指定されていません";
constexpr std::string_view kMsgUnsupported = "\r\n未対応のフォーマットです。";
constexpr std::string_view kMsgReadError = "\r\n...ファイルリードエラー";
constexpr std::string_view kMsgWriteError = "\r\n...ファイルライトエラー";
constexpr std::string_view kMsgProbeError = "\r\n...イメージ判断エラー";
constexpr std::string_view kMsgInfoError = "\r\n...情報取得エラー";
constexpr std::string_view kMsgConvertError = "\r\n...変換エラー";
constexpr std::string_view kMsgOutputError = "\r\n...変換出力エラー";
constexpr std::string_view kMsgSameName = "\r\n入出力ファイル名が同じになりました";
constexpr std::string_view kMsgCommentOpen = "\r\nコメントファイルオープンエラー";
constexpr std::string_view kMsgDebugWritten = "\r\n--デバック情報ファイルを書き出しました--";
constexpr std::string_view kMsgDebugFailed = "\r\n--デバック情報ファイルを書き出せませんでした--";
constexpr std::string_view kMsgDone = "\r\n...変換完了";
constexpr std::string_view kMsgNotAFile = "\r\n通常のファイルではありません";
constexpr std::string_view kMsgWouldWrite = "\r\n書き出し予定: ";
constexpr std::string_view kMsgDryRunDone = "\r\n...確認完了 (書き出していません)";
constexpr std::string_view kMsgExists = "\r\n出力ファイルが既にあるため変換しません: ";
constexpr std::string_view kMsgKept = "\r\n既にあるファイルを残しました: ";

// Results 6 and 7 read the same after every call; the rest depend on which
// call failed.
std::string_view FailureText(int result, std::string_view otherwise) {
  if (result == kResultReadError) return kMsgReadError;
  if (result == kResultWriteError) return kMsgWriteError;
  return otherwise;
}

// Plug-ins see a plain C callback; the driver it reports to is the one whose
// call is under way on this thread (the command line runs one driver per
// worker thread).
thread_local ConversionDriver* t_active_driver = nullptr;

int ProgressThunk(int done, int total, char* message) {
  return t_active_driver == nullptr ? 0 : t_active_driver->OnProgress(done, total, message);
}

class ActiveDriverScope {
 public:
  explicit ActiveDriverScope(ConversionDriver* driver) : previous_(t_active_driver) {
    t_active_driver = driver;
  }
  ~ActiveDriverScope() { t_active_driver = previous_; }
  ActiveDriverScope(const ActiveDriverScope&) = delete;
  ActiveDriverScope& operator=(const ActiveDriverScope&) = delete;

 private:
  ConversionDriver* previous_;
};

class BusyScope {
 public:
  explicit BusyScope(Host& host) : host_(host) { host_.SetBusy(true); }
  ~BusyScope() { host_.SetBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  Host& host_;
};

// Caller-owned buffers handed to plug-ins: one byte more than promised, kept
// at NUL, so a plug-in that forgets its NUL cannot make us read past them.
template <size_t kSize>
struct TextBuffer {
  char bytes[kSize + 1] = {};
  void Clear() { std::memset(bytes, 0, sizeof(bytes)); }
  std::string str() const { return std::string(bytes, BoundedLength(bytes, kSize)); }
};

// Source name with its extension folded in ("GAME.dcp" -> "GAME_DCP.$$$"),
// for readers whose outputs would otherwise collide with their sources.
std::string KeepExtensionName(const std::string& source) {
  std::string_view ext = ExtensionOf(source);
  if (!ext.empty()) ext.remove_prefix(1);
  return DropExtension(source) + "_" + ToUpperAscii(ext) + ".$$$";
}


bool Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool NotOlder(const timespec& a, const timespec& b) {
  return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

// The file system stamps files with the coarse clock, which may lag the
// precise one.
timespec CoarseNow() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

// The archive expander talks to the host directly; its lines belong to the
// archive's report too.
class LogTap : public Host {
 public:
  LogTap(Host& host, std::function<void(std::string_view)> tap)
      : host_(host), tap_(std::move(tap)) {}
  void AppendLog(std::string_view text) override {
    host_.AppendLog(text);
    tap_(text);
  }
  void SetProgress(int percent) override { host_.SetProgress(percent); }
  void ProcessPendingEvent() override { host_.ProcessPendingEvent(); }
  void SetBusy(bool busy) override { host_.SetBusy(busy); }
  void FocusWindow() override { host_.FocusWindow(); }
  bool AbortRequested() override { return host_.AbortRequested(); }
  void ExpectOutputs(const std::vector<std::string>& stems) override {
    host_.ExpectOutputs(stems);
  }
  bool AwaitOutputTurn(const std::string& stem) override { return host_.AwaitOutputTurn(stem); }

 private:
  Host& host_;
  std::function<void(std::string_view)> tap_;
};

// Every entry of the folder, sorted by name.
std::vector<std::string> ListEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every entry of the folder that is not a folder, sorted by name.
std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    struct stat st {};
    if (stat((folder + entry->d_name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A writer may choose its file's name itself (BKDSK picks the extension by
// the disk's shape), so whether it will write over its own source cannot be
// told beforehand: "GAME.DD6" holding an FDD image, converted to BKDSK beside
// itself, would be replaced. The source is held open while the writer runs;
// when its name leads to another file afterwards, the source's bytes are put
// back from the open file, over whatever the writer left there.
class SourceGuard {
 public:
  explicit SourceGuard(const std::string& path) : path_(path) {
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0 && (fstat(fd_, &held_) != 0 || !S_ISREG(held_.st_mode))) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~SourceGuard() {
    if (fd_ >= 0) close(fd_);
  }
  SourceGuard(const SourceGuard&) = delete;
  SourceGuard& operator=(const SourceGuard&) = delete;

  bool Replaced() const {
    struct stat now {};
    return fd_ >= 0 && stat(path_.c_str(), &now) == 0 &&
           (now.st_dev != held_.st_dev || now.st_ino != held_.st_ino);
  }
  // Writes the held bytes back under the source's name; the errno of the
  // step that failed, or 0.
  int Restore() {
    OutputFile out;
    if (!out.Create(path_)) return out.error();
    std::vector<char> buffer(kFileBufferSize);
    for (off_t at = 0;;) {
      const ssize_t n = pread(fd_, buffer.data(), buffer.size(), at);
      if (n < 0) return errno;
      if (n == 0) break;
      if (!out.Write(buffer.data(), static_cast<size_t>(n))) return out.error();
      at += n;
    }
    return out.Close() ? 0 : out.error();
  }

 private:
  const std::string& path_;
  int fd_ = -1;
  struct stat held_ {};
};

}  // namespace

ConversionDriver::ConversionDriver(Host& host, const PluginRegistry& registry,
                                   ArchiveExpander& expander)
    : host_(host),
      registry_(registry),
      expander_(expander),
      image_(static_cast<DiskImage*>(std::calloc(1, sizeof(DiskImage)))) {
  if (!image_) throw std::bad_alloc();
}

void ConversionDriver::FreeImage::operator()(DiskImage* image) const { std::free(image); }

ConversionDriver::~ConversionDriver() = default;

Flow ConversionDriver::ConvertDroppedFile(const std::string& path) {
  return ForEachSource(path, false);
}

Flow ConversionDriver::DescribeDroppedFile(const std::string& path) {
  return ForEachSource(path, true);
}

Flow ConversionDriver::ForEachSource(const std::string& path, bool describe) {
  const Flow flow = ForEachSourceReported(path, describe);
  report_.reset();
  return flow;
}

Flow ConversionDriver::ForEachSourceReported(const std::string& path, bool describe) {
  host_.FocusWindow();
  BeginReport(path, {});
  const size_t file_report = *report_;
  if (!describe) {
    if (settings_.selected_output < 0 || settings_.selected_output > registry_.output_count() - 1) {
      return Fail(kMsgNoOutput);
    }
    if (settings_.use_output_folder && settings_.output_folder.empty()) {
      return Fail(kMsgNoOutputFolder);
    }
  }
  if (!PathFits(path)) {
    LogHeader(path);
    return Fail(kMsgConvertError);
  }
  // Nothing opens the path before it is known to be a file: a FIFO would
  // block the first open() for ever, a device or a folder is no image.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    const int error = errno;
    LogHeader(path);
    return Fail(FileErrorMessage(kMsgReadError, path, error));
  }
  if (!S_ISREG(st.st_mode)) {
    host_.ExpectOutputs({});
    LogHeader(path);
    Log(kMsgNotAFile);
    Count(SourceResult::kUnsupported);
    return Flow::kContinue;
  }
  LogTap tap(host_, [this, file_report](std::string_view text) {
    reports_[file_report].messages.emplace_back(text);
  });
  const ExpandResult expand = expander_.ExpandIfArchive(path, tap);
  if (!expand.ok) {
    Count(SourceResult::kFailed);
    return Flow::kStop;
  }
  if (!expand.expanded) {
    ExpectOutputs(describe, {path}, false, {});
    return describe ? DescribeSourceFile(path) : ConvertReportedSource(path, false, {});
  }
  // Nothing to convert came out (the expander said so): as a file of no
  // known format, not a success.
  if (expand.empty) {
    host_.ExpectOutputs({});
    Count(SourceResult::kUnsupported);
    return Flow::kContinue;
  }
  const std::string& folder = expander_.temp_folder();
  std::vector<std::string> sources;
  for (const std::string& name : ListFiles(folder)) {
    // An archive dropped from inside the temporary folder is not one of its
    // own files.
    if (!SameFile(folder + name, path)) sources.push_back(folder + name);
  }
  ExpectOutputs(describe, sources, true, path);
  Flow flow = Flow::kContinue;
  for (const std::string& source : sources) {
    BeginReport(path, std::string(FileNameOf(source)));
    flow = describe ? DescribeSourceFile(source) : ConvertReportedSource(source, true, path);
    if (flow == Flow::kStop) break;
  }
  FoldArchiveReport(file_report);
  return flow;
}

void ConversionDriver::ExpectOutputs(bool describe, const std::vector<std::string>& sources,
                                     bool from_archive, const std::string& archive_path) {
  std::vector<std::string> stems;
  for (const std::string& source : sources) {
    if (describe) break;  // nothing is written
    if (auto stem = BuildOutputPath(source, "", from_archive, archive_path, 0, false)) {
      stems.push_back(std::move(*stem));
    }
  }
  host_.ExpectOutputs(stems);
}

// One source file on its way from its reader to the selected writer (none
// when it is only described).
struct ConversionDriver::SourceJob {
  SourceJob(const std::string& source_path, const InputPlugin& reader, const OutputPlugin* writer,
            bool in_archive, const std::string& archive)
      : source(source_path),
        input(reader),
        output(writer),
        from_archive(in_archive),
        archive_path(archive),
        direct(reader.Has(kCapDirect)),
        base(reader.Has(kCapKeepExtension) ? KeepExtensionName(source_path) : source_path),
        extension(direct || writer == nullptr ? reader.extension : writer->extension) {}

  const std::string& source;
  const InputPlugin& input;
  const OutputPlugin* output;
  const bool from_archive;
  const std::string& archive_path;
  // The reader writes the output itself; no writer is called.
  const bool direct;
  // What the output names are formed from, and the extension they get.
  const std::string base;
  const std::string extension;
  OutputFile comment;
  std::string comment_path;  // planned, when a comment file is made
  TextBuffer<kMessageSize> message;
  TextBuffer<kPluginTitleSize> title;
  int16_t multi_disk = 0;
};

// Where one disk goes, or why it cannot go anywhere.
struct ConversionDriver::DiskPaths {
  std::string output;
  std::string debug;  // empty without a debug dump
  std::string_view failure;
};

const InputPlugin* ConversionDriver::ChooseReader(const std::string& source, Flow& flow) {
  LogHeader(source);
  if (!PathFits(source)) {
    flow = Fail(kMsgConvertError);
    return nullptr;
  }
  flow = Flow::kContinue;
  for (int i = 0; i < registry_.input_count(); ++i) {
    TextBuffer<kMessageSize> message;
    const int result = registry_.input(i).is_support(source.c_str(), message.bytes);
    LogPluginText(message.bytes, kMessageSize);
    switch (result) {
      case kResultOk:
        if (report_) reports_[*report_].reader = registry_.input(i).file_name;
        return &registry_.input(i);
      case kResultNotMine:
        continue;
      case kResultSkipped:
        Count(SourceResult::kSkipped);
        return nullptr;
      default:
        flow = Fail(FailureText(result, kMsgProbeError));
        return nullptr;
    }
  }
  Log(kMsgUnsupported);
  Count(SourceResult::kUnsupported);
  return nullptr;
}

std::string_view ConversionDriver::CallFileInfo(SourceJob& job) {
  job.message.Clear();
  const int result = job.input.get_file_info(job.source.c_str(), job.message.bytes, job.title.bytes,
                                             &job.multi_disk);
  LogPluginText(job.message.bytes, kMessageSize);
  if (report_) {
    reports_[*report_].description = SanitizeUtf8(job.message.str());
  }
  return result == kResultOk ? std::string_view{} : FailureText(result, kMsgInfoError);
}

ConversionDriver::DiskPaths ConversionDriver::PlanDisk(const SourceJob& job, int disk,
                                                       bool multi) const {
  DiskPaths paths;
  const auto output =
      BuildOutputPath(job.base, job.extension, job.from_archive, job.archive_path, disk, multi);
  if (!output) {
    paths.failure = kMsgConvertError;
  } else if (SameFile(*output, job.source)) {
    paths.failure = kMsgSameName;
  } else {
    paths.output = *output;
    if (settings_.debug && !job.direct) paths.debug = DropExtension(*output) + ".dbg";
  }
  if (paths.debug.empty()) return paths;
  if (!PathFits(paths.debug)) {
    paths.failure = kMsgConvertError;
  } else if (SameFile(paths.debug, job.source)) {
    paths.failure = kMsgSameName;
  }
  return paths;
}

std::string ConversionDriver::OpenCommentFile(SourceJob& job) {
  if (!settings_.write_comment || !job.input.Has(kCapTitle)) return {};
  // Whether the source has several disks is not known yet: no first disk's
  // name, with or without the suffix, may turn out to be the source before
  // anything is written.
  for (bool multi : {false, true}) {
    if (PlanDisk(job, 1, multi).failure == kMsgSameName) return std::string(kMsgSameName);
  }
  const auto path = BuildOutputPath(job.base, ".txt", job.from_archive, job.archive_path, 0, false);
  if (!path) return std::string(kMsgConvertError);
  if (SameFile(*path, job.source)) return std::string(kMsgSameName);
  job.comment_path = *path;
  if (settings_.dry_run) return {};
  // Written aside and put in place only when the whole source converted:
  // after a failure an older comment file stays as it was.
  if (!job.comment.Create(*path)) {
    return FileErrorMessage(kMsgCommentOpen, *path, job.comment.error());
  }
  return {};
}

Flow ConversionDriver::ConvertSourceFile(const std::string& source, bool from_archive,
                                         const std::string& archive_path) {
  if (report_) return ConvertReportedSource(source, from_archive, archive_path);
  BeginReport(from_archive ? archive_path : source, from_archive ? std::string(FileNameOf(source)) : "");
  const Flow flow = ConvertReportedSource(source, from_archive, archive_path);
  report_.reset();
  return flow;
}

Flow ConversionDriver::ConvertReportedSource(const std::string& source, bool from_archive,
                                             const std::string& archive_path) {
  BusyScope busy(host_);
  const int selected = settings_.selected_output;
  if (selected < 0 || selected > registry_.output_count() - 1) return Fail(kMsgNoOutput);
  Flow flow = Flow::kContinue;
  const InputPlugin* input = ChooseReader(source, flow);
  if (input == nullptr) return flow;

  SourceJob job(source, *input, &registry_.output(selected), from_archive, archive_path);
  // Every output of the source begins with this; another worker may be
  // writing names that begin so for a file given earlier.
  const auto stem = BuildOutputPath(job.base, "", from_archive, archive_path, 0, false);
  if (stem && !host_.AwaitOutputTurn(*stem)) return Fail(kMsgConvertError);
  if (const auto failure = OpenCommentFile(job); !failure.empty()) return Fail(failure);
  if (const auto failure = CallFileInfo(job); !failure.empty()) return Fail(failure);
  if (settings_.no_clobber) {
    const DiskPaths first = PlanDisk(job, 1, job.multi_disk != 0);
    for (const std::string* path :
         std::initializer_list<const std::string*>{&first.output, &first.debug, &job.comment_path}) {
      if (!Exists(*path)) continue;
      // The comment file begun aside is dropped unwritten.
      Log(std::string(kMsgExists) + SanitizeUtf8(FileNameOf(*path)));
      Count(SourceResult::kSkipped);
      return Flow::kContinue;
    }
  }
  if (job.comment.is_open() && !job.title.str().empty()) {
    job.comment.Write("TITLE : " + job.title.str() + "\n");
  }
  for (int disk = 1;; ++disk) {
    switch (ConvertDisk(job, disk)) {
      case DiskStep::kStopped:
        return Flow::kStop;
      case DiskStep::kMore:
        continue;
      case DiskStep::kLast:
        if (job.comment.is_open()) {
          if (!job.comment.Close()) return Fail(kMsgWriteError);
          reports_[*report_].outputs.push_back(job.comment_path);
        } else if (settings_.dry_run && !job.comment_path.empty()) {
          NameOutput(job.comment_path);
        }
        Log(settings_.dry_run ? kMsgDryRunDone : kMsgDone);
        Count(SourceResult::kConverted);
        return Flow::kContinue;
    }
  }
}

ConversionDriver::DiskStep ConversionDriver::ConvertDisk(SourceJob& job, int disk) {
  host_.ProcessPendingEvent();
  const DiskPaths paths = PlanDisk(job, disk, job.multi_disk != 0);
  if (!paths.failure.empty()) return StopAt(paths.failure);
  // A later disk's output that is there already stays; its source was not
  // skipped, since its first disk was not there.
  const bool keep = settings_.no_clobber && disk > 1 && Exists(paths.output);
  if (job.direct && (settings_.dry_run || keep)) {
    // A direct reader writes as it reads: nothing to read on a dry run.
    if (keep) Log(std::string(kMsgKept) + SanitizeUtf8(FileNameOf(paths.output)));
    if (settings_.dry_run) NameOutput(paths.output);
    ++reports_[*report_].disks;
    return DiskStep::kLast;
  }

  const timespec since = CoarseNow();
  const int read_result = CallReader(job, disk, paths.output);
  if (!paths.debug.empty()) {
    if (settings_.dry_run) {
      NameOutput(paths.debug);
    } else if (WriteDebugDump(paths.debug)) {
      reports_[*report_].outputs.push_back(paths.debug);
    }
  }
  if (read_result != kResultOk && read_result != kResultMoreDisks) {
    return StopAt(FailureText(read_result, kMsgConvertError));
  }
  ++reports_[*report_].disks;
  if (job.direct) RecordWritten(paths.output, since);
  if (job.comment.is_open() && !job.title.str().empty()) {
    job.comment.Write("  " + std::string(FileNameOf(paths.output)) + " : " + job.title.str() +
                      "\n");
  }
  if (keep) {
    Log(std::string(kMsgKept) + SanitizeUtf8(FileNameOf(paths.output)));
  } else if (settings_.dry_run) {
    NameOutput(paths.output);
  } else if (!job.direct) {
    const timespec written_since = CoarseNow();
    SourceGuard source(job.source);
    const auto failure = CallWriter(job, paths.output);
    if (source.Replaced()) {
      if (const int error = source.Restore(); error != 0) {
        Log(FileErrorMessage(kMsgWriteError, job.source, error));
      }
      return StopAt(kMsgSameName);
    }
    if (!failure.empty()) return StopAt(failure);
    RecordWritten(paths.output, written_since);
  }
  host_.SetProgress(0);
  return read_result == kResultOk ? DiskStep::kLast : DiskStep::kMore;
}

int ConversionDriver::CallReader(SourceJob& job, int disk, const std::string& output_path) {
  // A direct reader gets the output name in a buffer of the size the
  // interface promises; the others get the cleared disk image.
  std::vector<char> direct_target;
  void* target = image_.get();
  if (job.direct) {
    direct_target.assign(kOutputPathSize, '\0');
    std::memcpy(direct_target.data(), output_path.data(), output_path.size());
    target = direct_target.data();
  } else {
    if (!image_clean_) std::memset(image_.get(), 0, sizeof(DiskImage));
    image_clean_ = false;
  }
  job.message.Clear();
  int result;
  {
    ActiveDriverScope active(this);
    progress_scale_ = job.direct ? 100 : 50;
    progress_offset_ = 0;
    result = job.input.read_disk(job.source.c_str(), target, disk, job.direct ? 1 : 0,
                                 &ProgressThunk, job.message.bytes, job.title.bytes);
  }
  LogPluginText(job.message.bytes, kMessageSize);
  return result;
}

std::string_view ConversionDriver::CallWriter(SourceJob& job, const std::string& output_path) {
  job.message.Clear();
  int result;
  {
    ActiveDriverScope active(this);
    progress_scale_ = 50;
    progress_offset_ = 50;
    result = job.output->write_disk(image_.get(), output_path.c_str(), 0, &ProgressThunk,
                                    job.message.bytes);
  }
  LogPluginText(job.message.bytes, kMessageSize);
  return result == kResultOk ? std::string_view{} : FailureText(result, kMsgOutputError);
}

bool ConversionDriver::WriteDebugDump(const std::string& path) {
  OutputFile dump;
  if (dump.Create(path) && dump.Write(image_.get(), kDebugDumpSize) && dump.Close()) {
    Log(kMsgDebugWritten);
    return true;
  }
  Log(FileErrorMessage(kMsgDebugFailed, path, dump.error()));
  return false;
}

Flow ConversionDriver::DescribeSourceFile(const std::string& source) {
  Flow flow = Flow::kContinue;
  const InputPlugin* input = ChooseReader(source, flow);
  if (input == nullptr) return flow;
  Log("\r\n[" + SanitizeUtf8(input->description) + "]");
  SourceJob job(source, *input, nullptr, false, source);
  if (const auto failure = CallFileInfo(job); !failure.empty()) return Fail(failure);
  if (!job.title.str().empty()) Log("\r\nTITLE : " + SanitizeUtf8(job.title.str()));
  if (job.multi_disk != 0) Log("\r\n(複数ディスク)");
  Count(SourceResult::kConverted);
  return Flow::kContinue;
}

std::optional<std::string> ConversionDriver::BuildOutputPath(const std::string& base,
                                                             const std::string& extension,
                                                             bool from_archive,
                                                             const std::string& archive_path,
                                                             int disk, bool multi) const {
  std::string path;
  if (settings_.use_output_folder) {
    std::string folder = settings_.output_folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    path = DropExtension(folder + std::string(FileNameOf(base)));
  } else if (from_archive) {
    path = DropExtension(std::string(FolderOf(archive_path)) + std::string(FileNameOf(base)));
  } else {
    path = DropExtension(base);
  }
  if (multi) {
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "_%02d", disk);
    path += suffix;
  }
  path += extension;
  if (!PathFits(path)) return std::nullopt;
  return path;
}

int ConversionDriver::OnProgress(int done, int total, char* message) {
  if (message != nullptr && message[0] != '\0') {
    LogPluginText(message, kMessageSize);
    message[0] = '\0';
  }
  int64_t position = 0;
  if (total > 0) {
    position = static_cast<int64_t>(done) * progress_scale_ / total + progress_offset_;
  }
  host_.SetProgress(static_cast<int>(std::clamp<int64_t>(position, 0, 100)));
  return host_.AbortRequested() ? 1 : 0;
}

Flow ConversionDriver::Fail(std::string_view message) {
  Log(message);
  Count(SourceResult::kFailed);
  return Flow::kStop;
}

void ConversionDriver::Log(std::string_view text) {
  host_.AppendLog(text);
  if (report_) reports_[*report_].messages.emplace_back(text);
}

void ConversionDriver::LogHeader(const std::string& path) {
  // A header line per source, in the window's form.
  host_.AppendLog("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(path)) + "   ----------");
}

void ConversionDriver::Count(SourceResult result) {
  switch (result) {
    case SourceResult::kConverted:
      ++tally_.converted;
      break;
    case SourceResult::kFailed:
      ++tally_.failed;
      break;
    case SourceResult::kUnsupported:
      ++tally_.unsupported;
      break;
    case SourceResult::kSkipped:
      ++tally_.skipped;
      break;
  }
  if (report_) reports_[*report_].result = result;
}

void ConversionDriver::BeginReport(const std::string& path, const std::string& member) {
  SourceReport report;
  report.path = path;
  report.member = member;
  reports_.push_back(std::move(report));
  report_ = reports_.size() - 1;
}

void ConversionDriver::FoldArchiveReport(size_t archive_report) {
  report_.reset();
  if (reports_.size() <= archive_report + 1) return;
  std::vector<std::string>& first = reports_[archive_report + 1].messages;
  std::vector<std::string>& own = reports_[archive_report].messages;
  first.insert(first.begin(), own.begin(), own.end());
  reports_.erase(reports_.begin() + static_cast<std::ptrdiff_t>(archive_report));
}

void ConversionDriver::RecordWritten(const std::string& planned, const timespec& since) {
  std::vector<std::string>& outputs = reports_[*report_].outputs;
  // Some plug-ins choose the extension themselves (BKDSK by the disk's
  // shape) or write a folder (FILE, whose extension is "."): what has the
  // planned name without its extension and was made since the call began.
  struct stat st {};
  if (lstat(planned.c_str(), &st) == 0 && NotOlder(st.st_mtim, since)) {
    outputs.push_back(planned);
    return;
  }
  const std::string folder(FolderOf(planned));
  const std::string stem = DropExtension(FileNameOf(planned));
  std::vector<std::string> found;
  for (const std::string& name : ListEntries(folder.empty() ? "." : folder)) {
    if (DropExtension(name) != stem) continue;
    const std::string path = folder + name;
    if (lstat(path.c_str(), &st) == 0 && NotOlder(st.st_mtim, since)) found.push_back(path);
  }
  if (found.empty()) found.push_back(planned);
  outputs.insert(outputs.end(), found.begin(), found.end());
}

void ConversionDriver::NameOutput(const std::string& path) {
  Log(std::string(kMsgWouldWrite) + SanitizeUtf8(path));
  reports_[*report_].outputs.push_back(path);
}

ConversionDriver::DiskStep ConversionDriver::StopAt(std::string_view message) {
  Fail(message);
  return DiskStep::kStopped;
}

void ConversionDriver::LogPluginText(const char* buffer, size_t size) {
  const size_t length = BoundedLength(buffer, size);
  if (length != 0) Log(SanitizeUtf8(std::string_view(buffer, length)));
}

}  // namespace dravik
