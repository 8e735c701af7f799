// The program's one window: conversion settings, output selector, log and
// progress bar; files dropped on it are converted as one batch.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "archive_expander.h"
#include "conversion_driver.h"
#include "host.h"
#include "plugin_registry.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;

namespace dravik {

struct WindowOptions {
  std::string program_folder;  // ends in "/"; plug-ins and archivers live here
  std::string settings_file;
  int startup_delay_ms = 500;
};

class MainWindow : public QWidget, public Host {
  Q_OBJECT

 public:
  explicit MainWindow(WindowOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // One drop: every path in order, the batch ending at the first stop.
  // Files given before start-up has finished wait for it.
  void ConvertFiles(const QStringList& paths);
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
  void Startup();
  void Shutdown();
  void ReadSettingsFromControls();
  void ShowSettingsInControls();
  void EnableSettingsControls(bool on);
  void ChooseFolder();
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
  QStringList waiting_files_;

  QCheckBox* folder_check_ = nullptr;
  QLineEdit* folder_edit_ = nullptr;
  QPushButton* browse_button_ = nullptr;
  QComboBox* output_list_ = nullptr;
  QCheckBox* comment_check_ = nullptr;
  QTextEdit* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

// The program icon, drawn rather than shipped as a bitmap.
QIcon ProgramIcon();

}  // namespace dravik
