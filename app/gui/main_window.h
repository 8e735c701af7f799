// The program's one window: conversion settings, output selector, log and
// progress bar; files dropped on it are converted as one batch.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "archive_expander.h"
#include "conversion_driver.h"
#include "folder_walk.h"
#include "host.h"
#include "plugin_registry.h"

class QCheckBox;
class QMimeData;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QPlainTextEdit;

namespace dravik {

struct WindowOptions {
  std::string program_folder;  // ends in "/"; plug-ins and archivers live here
  std::string settings_file;
  int startup_delay_ms = 500;
  ArchiverLibraries archivers;
};

class MainWindow : public QWidget, public Host {
  Q_OBJECT

 public:
  explicit MainWindow(WindowOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // One drop: every path in order, the batch ending at the first stop.
  // Files given before start-up has finished wait for it. Paths are the
  // file system's bytes, whether or not they are UTF-8.
  void ConvertFiles(const std::vector<std::string>& paths);
  bool started() const { return started_; }
  bool converting() const { return converting_; }
  QString LogText() const;

  // Host
  void AppendLog(std::string_view text) override;
  void SetProgress(int percent) override;
  void ProcessPendingEvent() override;
  void SetBusy(bool busy) override;
  void FocusWindow() override;

 signals:
  void StartupFinished();
  void BatchFinished();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // The log pane's height that shows lines whole lines.
  int LogPaneHeight(int lines) const;
  void Startup();
  void Shutdown();
  void ReadSettingsFromControls();
  void ShowSettingsInControls();
  void EnableSettingsControls(bool on);
  void ChooseFolder();
  // A dropped folder becomes the files in it, walked as dravik-cli -r walks
  // it (EnableSettingsControls has read the output folder).
  std::vector<WalkedFile> WalkDroppedFolders(const std::vector<std::string>& paths);
  void ShowAbout();

  WindowOptions options_;
  ConversionSettings settings_;
  PluginRegistry registry_;
  std::unique_ptr<ArchiveExpander> expander_;
  std::unique_ptr<ConversionDriver> driver_;
  bool started_ = false;
  bool converting_ = false;
  bool close_requested_ = false;
  bool shut_down_ = false;
  std::vector<std::string> waiting_files_;
  // The output folder's bytes as last shown, and the text that shows them:
  // a name that is not UTF-8 shows with U+FFFD, and as long as the field
  // holds that text, the bytes are the folder.
  std::string folder_bytes_;
  QString folder_shown_;

  QCheckBox* folder_check_ = nullptr;
  QLineEdit* folder_edit_ = nullptr;
  QPushButton* browse_button_ = nullptr;
  QComboBox* output_list_ = nullptr;
  QCheckBox* comment_check_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

// The program icon, drawn rather than shipped as a bitmap.
QIcon ProgramIcon();

// The local files of a drop, with their names' bytes as the file system has
// them.
std::vector<std::string> DroppedPaths(const QMimeData& mime);

// Qt's own Japanese texts (the standard context menus and dialogs), so they
// match the window's; false when the translation is not installed.
bool LoadQtTranslations();

}  // namespace dravik
