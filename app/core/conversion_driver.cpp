#include "conversion_driver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "file_io.h"
#include "paths.h"
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
  return t_active_driver == nullptr ? 0
                                    : t_active_driver->OnProgress(done, total, message);
}

class ActiveDriverScope {
 public:
  explicit ActiveDriverScope(ConversionDriver* driver)
      : previous_(t_active_driver) {
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

}  // namespace

ConversionDriver::ConversionDriver(Host& host, const PluginRegistry& registry,
                                   ArchiveExpander& expander)
    : host_(host),
      registry_(registry),
      expander_(expander),
      image_(std::make_unique<DiskImage>()) {}

ConversionDriver::~ConversionDriver() = default;

Flow ConversionDriver::ConvertDroppedFile(const std::string& path) {
  return ForEachSource(path, false);
}

Flow ConversionDriver::DescribeDroppedFile(const std::string& path) {
  return ForEachSource(path, true);
}

Flow ConversionDriver::ForEachSource(const std::string& path, bool describe) {
  host_.FocusWindow();
  if (!describe) {
    if (settings_.selected_output < 0 ||
        settings_.selected_output > registry_.output_count() - 1) {
      return Fail(kMsgNoOutput);
    }
    if (settings_.use_output_folder && settings_.output_folder.empty()) {
      return Fail(kMsgNoOutputFolder);
    }
  }
  if (!PathFits(path)) {
    Log("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(path)) + "   ----------");
    return Fail(kMsgConvertError);
  }
  const ExpandResult expand = expander_.ExpandIfArchive(path, host_);
  if (!expand.ok) {
    ++tally_.failed;
    return Flow::kStop;
  }
  if (!expand.expanded) {
    return describe ? DescribeSourceFile(path) : ConvertSourceFile(path, false, {});
  }
  const std::string& folder = expander_.temp_folder();
  for (const std::string& name : ListFiles(folder)) {
    const std::string source = folder + name;
    // An archive dropped from inside the temporary folder is not one of its
    // own files.
    if (SameFile(source, path)) continue;
    const Flow flow =
        describe ? DescribeSourceFile(source) : ConvertSourceFile(source, true, path);
    if (flow == Flow::kStop) return Flow::kStop;
  }
  return Flow::kContinue;
}

ConversionDriver::Probe ConversionDriver::ProbeSource(const std::string& source) {
  for (int i = 0; i < registry_.input_count(); ++i) {
    TextBuffer<kMessageSize> message;
    const int result = registry_.input(i).is_support(source.c_str(), message.bytes);
    LogPluginText(message.bytes, kMessageSize);
    switch (result) {
      case kResultOk:
        return {ProbeOutcome::kChosen, i, result};
      case kResultNotMine:
        continue;
      case kResultSkipped:
        return {ProbeOutcome::kSkipped, i, result};
      default:
        return {ProbeOutcome::kFailed, i, result};
    }
  }
  return {ProbeOutcome::kUnsupported, -1, kResultNotMine};
}

Flow ConversionDriver::ConvertSourceFile(const std::string& source, bool from_archive,
                                         const std::string& archive_path) {
  BusyScope busy(host_);
  const int selected = settings_.selected_output;
  if (selected < 0 || selected > registry_.output_count() - 1) return Fail(kMsgNoOutput);
  const OutputPlugin& output = registry_.output(selected);

  Log("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(source)) + "   ----------");
  if (!PathFits(source)) return Fail(kMsgConvertError);

  const Probe probe = ProbeSource(source);
  switch (probe.outcome) {
    case ProbeOutcome::kUnsupported:
      Log(kMsgUnsupported);
      ++tally_.unsupported;
      return Flow::kContinue;
    case ProbeOutcome::kSkipped:
      ++tally_.skipped;
      return Flow::kContinue;
    case ProbeOutcome::kFailed:
      return Fail(FailureText(probe.result, kMsgProbeError));
    case ProbeOutcome::kChosen:
      break;
  }
  const InputPlugin& input = registry_.input(probe.plugin);
  const bool direct = input.Has(kCapDirect);
  const std::string base = input.Has(kCapKeepExtension) ? KeepExtensionName(source) : source;
  const std::string& extension = direct ? input.extension : output.extension;

  // Neither side file may take the place of the source; find out before
  // anything is opened for writing.
  if (settings_.debug && !direct) {
    for (bool multi : {false, true}) {
      const auto out = BuildOutputPath(base, extension, from_archive, archive_path, 1, multi);
      if (out && SameFile(DropExtension(*out) + ".dbg", source)) return Fail(kMsgSameName);
    }
  }
  OutputFile comment;
  if (settings_.write_comment && input.Has(kCapTitle)) {
    const auto path = BuildOutputPath(base, ".txt", from_archive, archive_path, 0, false);
    if (!path) return Fail(kMsgConvertError);
    if (SameFile(*path, source)) return Fail(kMsgSameName);
    if (!comment.Create(*path)) return Fail(kMsgCommentOpen);
  }

  TextBuffer<kMessageSize> message;
  TextBuffer<kPluginTitleSize> title;
  int16_t multi_disk = 0;
  const int info_result =
      input.get_file_info(source.c_str(), message.bytes, title.bytes, &multi_disk);
  LogPluginText(message.bytes, kMessageSize);
  if (info_result != kResultOk) return Fail(FailureText(info_result, kMsgInfoError));
  if (comment.is_open() && !title.str().empty()) {
    comment.Write("TITLE : " + title.str() + "\n");
  }

  for (int disk = 1;; ++disk) {
    host_.ProcessPendingEvent();
    const auto out_path = BuildOutputPath(base, extension, from_archive, archive_path,
                                          disk, multi_disk != 0);
    if (!out_path) return Fail(kMsgConvertError);
    if (SameFile(*out_path, source)) return Fail(kMsgSameName);
    std::string debug_path;
    if (settings_.debug && !direct) {
      debug_path = DropExtension(*out_path) + ".dbg";
      if (!PathFits(debug_path)) return Fail(kMsgConvertError);
      if (SameFile(debug_path, source)) return Fail(kMsgSameName);
    }

    std::vector<char> direct_target;
    void* target;
    if (direct) {
      direct_target.assign(kOutputPathSize, '\0');
      std::memcpy(direct_target.data(), out_path->data(), out_path->size());
      target = direct_target.data();
    } else {
      std::memset(image_.get(), 0, sizeof(DiskImage));
      target = image_.get();
    }

    message.Clear();
    int read_result;
    {
      ActiveDriverScope active(this);
      progress_scale_ = direct ? 100 : 50;
      progress_offset_ = 0;
      read_result = input.read_disk(source.c_str(), target, disk, direct ? 1 : 0,
                                    &ProgressThunk, message.bytes, title.bytes);
    }
    LogPluginText(message.bytes, kMessageSize);

    if (!debug_path.empty()) {
      OutputFile dump;
      const bool written = dump.Create(debug_path) &&
                           dump.Write(image_.get(), kDebugDumpSize) && dump.Close();
      Log(written ? kMsgDebugWritten : kMsgDebugFailed);
    }
    if (read_result != kResultOk && read_result != kResultMoreDisks) {
      return Fail(FailureText(read_result, kMsgConvertError));
    }
    if (comment.is_open() && !title.str().empty()) {
      comment.Write("  " + std::string(FileNameOf(*out_path)) + " : " + title.str() + "\n");
    }

    if (!direct) {
      message.Clear();
      int write_result;
      {
        ActiveDriverScope active(this);
        progress_scale_ = 50;
        progress_offset_ = 50;
        write_result = output.write_disk(image_.get(), out_path->c_str(), 0, &ProgressThunk,
                                         message.bytes);
      }
      LogPluginText(message.bytes, kMessageSize);
      if (write_result != kResultOk) return Fail(FailureText(write_result, kMsgOutputError));
    }
    host_.SetProgress(0);

    if (read_result == kResultOk) {
      if (comment.is_open() && !comment.Close()) return Fail(kMsgWriteError);
      Log(kMsgDone);
      ++tally_.converted;
      return Flow::kContinue;
    }
  }
}

Flow ConversionDriver::DescribeSourceFile(const std::string& source) {
  Log("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(source)) + "   ----------");
  if (!PathFits(source)) return Fail(kMsgConvertError);
  const Probe probe = ProbeSource(source);
  switch (probe.outcome) {
    case ProbeOutcome::kUnsupported:
      Log(kMsgUnsupported);
      ++tally_.unsupported;
      return Flow::kContinue;
    case ProbeOutcome::kSkipped:
      ++tally_.skipped;
      return Flow::kContinue;
    case ProbeOutcome::kFailed:
      return Fail(FailureText(probe.result, kMsgProbeError));
    case ProbeOutcome::kChosen:
      break;
  }
  const InputPlugin& input = registry_.input(probe.plugin);
  Log("\r\n[" + SanitizeUtf8(input.description) + "]");
  TextBuffer<kMessageSize> message;
  TextBuffer<kPluginTitleSize> title;
  int16_t multi_disk = 0;
  const int result = input.get_file_info(source.c_str(), message.bytes, title.bytes, &multi_disk);
  LogPluginText(message.bytes, kMessageSize);
  if (result != kResultOk) return Fail(FailureText(result, kMsgInfoError));
  if (!title.str().empty()) Log("\r\nTITLE : " + SanitizeUtf8(title.str()));
  if (multi_disk != 0) Log("\r\n(複数ディスク)");
  ++tally_.converted;
  return Flow::kContinue;
}

std::optional<std::string> ConversionDriver::BuildOutputPath(
    const std::string& base, const std::string& extension, bool from_archive,
    const std::string& archive_path, int disk, bool multi) const {
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
  ++tally_.failed;
  return Flow::kStop;
}

void ConversionDriver::LogPluginText(const char* buffer, size_t size) {
  const size_t length = BoundedLength(buffer, size);
  if (length != 0) Log(SanitizeUtf8(std::string_view(buffer, length)));
}

}  // namespace dravik
