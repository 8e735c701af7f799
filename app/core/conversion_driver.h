// Turns one dropped file into converted images: archive step, probing, the
// reader and writer calls for every disk, output names, comment and debug
// files, and every line of the log.
#pragma once

#include <ctime>
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
  // Probe, read and name the outputs, but write nothing.
  bool dry_run = false;
  // A source whose first output (or its comment or debug file) exists is
  // skipped; a later disk's existing output is kept.
  bool no_clobber = false;
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

enum class SourceResult { kConverted, kFailed, kUnsupported, kSkipped };

// What became of one source: a dropped file, or one file of a dropped
// archive. The command line prints it for scripts.
struct SourceReport {
  std::string path;    // the dropped file (the archive, for its files)
  std::string member;  // the file's name inside the archive, "" otherwise
  std::string reader;  // file name of the plug-in that took it, "" for none
  std::string description;  // what the reader said of the file
  int disks = 0;            // disks read
  std::vector<std::string> outputs;  // files written (named, on a dry run)
  SourceResult result = SourceResult::kFailed;
  std::vector<std::string> messages;  // the log texts below its header line
};

class ConversionDriver {
 public:
  ConversionDriver(Host& host, const PluginRegistry& registry, ArchiveExpander& expander);
  ~ConversionDriver();
  ConversionDriver(const ConversionDriver&) = delete;
  ConversionDriver& operator=(const ConversionDriver&) = delete;

  void set_settings(const ConversionSettings& settings) { settings_ = settings; }
  const ConversionTally& tally() const { return tally_; }
  // One report per source since the last reset, in the order converted.
  const std::vector<SourceReport>& reports() const { return reports_; }
  void ResetTally() {
    tally_ = {};
    reports_.clear();
  }

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
  Flow ForEachSourceReported(const std::string& path, bool describe);
  Flow ConvertReportedSource(const std::string& source, bool from_archive,
                             const std::string& archive_path);
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
  bool WriteDebugDump(const std::string& path);
  Flow Fail(std::string_view message);
  DiskStep StopAt(std::string_view message);
  void LogPluginText(const char* buffer, size_t size);
  void Log(std::string_view text);
  // The header line that starts a source's log; no report holds it.
  void LogHeader(const std::string& path);
  void Count(SourceResult result);
  // Opens a report that the log and the tally go to from now on.
  void BeginReport(const std::string& path, const std::string& member);
  // An archive's own lines go to its first file's report.
  void FoldArchiveReport(size_t archive_report);
  // Records what a plug-in wrote at planned (or beside it, named by the
  // plug-in itself) since the call began.
  void RecordWritten(const std::string& planned, const timespec& since);
  // A dry run names what it would write.
  void NameOutput(const std::string& path);

  Host& host_;
  const PluginRegistry& registry_;
  ArchiveExpander& expander_;
  ConversionSettings settings_;
  ConversionTally tally_;
  std::vector<SourceReport> reports_;
  std::optional<size_t> report_;
  struct FreeImage {
    void operator()(DiskImage* image) const;
  };
  // Fresh zeroed pages from calloc, cleared again only once a disk has
  // used them: a run of one disk touches only the pages its reader writes.
  std::unique_ptr<DiskImage, FreeImage> image_;
  bool image_clean_ = true;
  // Progress mapping of the plug-in call under way.
  int progress_scale_ = 50;
  int progress_offset_ = 0;
};

}  // namespace dravik
