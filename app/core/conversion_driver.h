// Turns one dropped file into converted images: archive step, probing, the
// reader and writer calls for every disk, output names, comment and debug
// files, and every line of the log.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_expander.h"
#include "dravik/disk_image.h"
#include "host.h"
#include "plugin_registry.h"

namespace dravik {

struct ConversionSettings {
  bool use_output_folder = false;
  std::string output_folder;
  bool write_comment = true;
  int selected_output = 0;  // -1: nothing selected
  bool debug = false;
};

enum class Flow { kContinue, kStop };

// What happened to the source files of the drops since the last reset; the
// command line turns it into its exit status.
struct ConversionTally {
  int converted = 0;
  int skipped = 0;
  int unsupported = 0;
  int failed = 0;
};

class ConversionDriver {
 public:
  ConversionDriver(Host& host, const PluginRegistry& registry, ArchiveExpander& expander);
  ~ConversionDriver();
  ConversionDriver(const ConversionDriver&) = delete;
  ConversionDriver& operator=(const ConversionDriver&) = delete;

  void set_settings(const ConversionSettings& settings) { settings_ = settings; }
  const ConversionTally& tally() const { return tally_; }
  void ResetTally() { tally_ = {}; }

  Flow ConvertDroppedFile(const std::string& path);
  Flow ConvertSourceFile(const std::string& source, bool from_archive,
                         const std::string& archive_path);
  // Probes and describes a dropped file (archives unpacked) without
  // converting it.
  Flow DescribeDroppedFile(const std::string& path);

  // nullopt when the result would exceed the platform's path limits.
  std::optional<std::string> BuildOutputPath(const std::string& base, const std::string& extension,
                                             bool from_archive, const std::string& archive_path,
                                             int disk, bool multi) const;

  // Called from the progress callback that plug-ins see.
  int OnProgress(int done, int total, char* message);

 private:
  struct SourceJob;
  struct DiskPaths;
  enum class DiskStep { kMore, kLast, kStopped };

  Flow ForEachSource(const std::string& path, bool describe);
  // Tells the host the stems of the outputs of a dropped file's sources.
  void ExpectOutputs(bool describe, const std::vector<std::string>& sources, bool from_archive,
                     const std::string& archive_path);
  Flow DescribeSourceFile(const std::string& source);
  // Logs the header and offers the source to the readers in order: the one
  // that takes it, or nullptr with flow saying whether the batch goes on.
  const InputPlugin* ChooseReader(const std::string& source, Flow& flow);
  // The steps below answer the failure text to stop with, empty when all
  // went well; the plug-in's own message is logged already.
  std::string OpenCommentFile(SourceJob& job);
  std::string_view CallFileInfo(SourceJob& job);
  std::string_view CallWriter(SourceJob& job, const std::string& output_path);
  // Reads, dumps and writes one disk; failures are logged.
  DiskStep ConvertDisk(SourceJob& job, int disk);
  // The reader's result.
  int CallReader(SourceJob& job, int disk, const std::string& output_path);
  // The output and debug names of one disk, checked against the platform's
  // limits and the source.
  DiskPaths PlanDisk(const SourceJob& job, int disk, bool multi) const;
  void WriteDebugDump(const std::string& path);
  Flow Fail(std::string_view message);
  DiskStep StopAt(std::string_view message);
  void LogPluginText(const char* buffer, size_t size);
  void Log(std::string_view text) { host_.AppendLog(text); }

  Host& host_;
  const PluginRegistry& registry_;
  ArchiveExpander& expander_;
  ConversionSettings settings_;
  ConversionTally tally_;
  std::unique_ptr<DiskImage> image_;
  // Progress mapping of the plug-in call under way.
  int progress_scale_ = 50;
  int progress_offset_ = 0;
};

}  // namespace dravik
