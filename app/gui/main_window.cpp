#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include <unistd.h>

#include "paths.h"
#include "settings_file.h"
#include "text.h"
#include "uri_list.h"

namespace dravik {
namespace {

constexpr char kBanner[] = "Dravik Version 2.10\r\n";
constexpr char kVersionText[] = "Dravik Version 2.10";
constexpr char kAboutEntry[] = "ﾊﾞｰｼﾞｮﾝ情報 (&A)...";
// Drops are not nested: the batch under way owns the one disk image.
constexpr int kLogLines = 15;
constexpr char kMsgBusyDrop[] = "\r\n変換中のため、ドロップされたファイルは変換しません";

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The output drop-down as the registry fills it.
class ComboSelector : public OutputSelector {
 public:
  explicit ComboSelector(QComboBox* combo) : combo_(combo) {}
  int current() const override { return combo_->currentIndex(); }
  void Clear() override { combo_->clear(); }
  // Two plug-ins may share a label, so the item is checked where it should
  // be rather than looked up by its text.
  int Insert(int index, const std::string& label) override {
    const QString text = QString::fromStdString(label);
    const int count = combo_->count();
    combo_->insertItem(index, text);
    return combo_->count() == count + 1 && combo_->itemText(index) == text ? index : -1;
  }
  void Select(int index) override { combo_->setCurrentIndex(index); }

 private:
  QComboBox* combo_;
};

}  // namespace

MainWindow::MainWindow(WindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      options_(std::move(options)),
      registry_(options_.program_folder) {
  setWindowTitle("Dravik");
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);
  BuildControls();

  // The initial settings, before the settings file is read.
  settings_ = ConversionSettings{};
  ShowSettingsInControls();
  EnableSettingsControls(false);
  AppendLog(kBanner);
  QTimer::singleShot(options_.startup_delay_ms, this, [this] { Startup(); });
}

MainWindow::~MainWindow() { Shutdown(); }

void MainWindow::BuildControls() {
  // Proportions of the original dialog (186 x 88 dialog units), scaled by
  // the font so that the Japanese texts fit.
  const QFontMetrics metrics(font());
  const double dlu_x = metrics.averageCharWidth() / 4.0 * 1.25;

  auto* group = new QGroupBox("変換設定", this);
  folder_check_ = new QCheckBox("出力先フォルダの指定", group);
  folder_edit_ = new QLineEdit(group);
  folder_edit_->setMaxLength(static_cast<int>(kMaxPathBytes));
  folder_edit_->setAcceptDrops(false);  // a file dropped here is converted, not typed in
  browse_button_ = new QPushButton("...", group);
  browse_button_->setFixedWidth(static_cast<int>(13 * dlu_x * 1.6));
  output_list_ = new QComboBox(group);
  output_list_->setMaxVisibleItems(12);
  comment_check_ = new QCheckBox("コメントファイルの生成", group);
  folder_check_->setObjectName("folder_check");
  folder_edit_->setObjectName("folder_edit");
  browse_button_->setObjectName("browse_button");
  output_list_->setObjectName("output_list");
  comment_check_->setObjectName("comment_check");

  auto* grid = new QGridLayout(group);
  grid->addWidget(folder_check_, 0, 0);
  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(folder_edit_, 1);
  folder_row->addWidget(browse_button_);
  grid->addLayout(folder_row, 0, 1);
  grid->addWidget(output_list_, 1, 0);
  grid->addWidget(comment_check_, 1, 1);
  grid->setColumnStretch(0, 83);
  grid->setColumnStretch(1, 90);

  // Plain text scrolls by whole lines, so the top line is never cut.
  log_ = new QPlainTextEdit(this);
  log_->setObjectName("log");
  log_->setReadOnly(true);
  log_->setAcceptDrops(false);  // drops go to the window
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(log_, 1);  // the log takes whatever room the window gains
  layout->addWidget(progress_);

  // Open with room for kLogLines whole lines of log; the user may shrink it
  // to a few.
  log_->setMinimumHeight(LogPaneHeight(kLogLines));
  resize(static_cast<int>(186 * dlu_x * 1.6), layout->totalMinimumSize().height());
  log_->setMinimumHeight(LogPaneHeight(3));

  connect(folder_check_, &QCheckBox::clicked, this, [this] {
    ReadSettingsFromControls();
    folder_edit_->setEnabled(settings_.use_output_folder);
    browse_button_->setEnabled(settings_.use_output_folder);
    ShowSettingsInControls();
  });
  connect(browse_button_, &QPushButton::clicked, this, [this] { ChooseFolder(); });

  // The About entry: on the window's context menu (the window manager owns
  // the title-bar menu here), on the log's own menu, and on Alt+A.
  auto* about = new QAction(kAboutEntry, this);
  about->setObjectName("about_action");
  about->setShortcut(QKeySequence("Alt+A"));
  about->setShortcutContext(Qt::WindowShortcut);
  connect(about, &QAction::triggered, this, [this] { ShowAbout(); });
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  group->setContextMenuPolicy(Qt::ActionsContextMenu);
  group->addAction(about);
  log_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(log_, &QWidget::customContextMenuRequested, this, [this, about](const QPoint& pos) {
    std::unique_ptr<QMenu> menu(log_->createStandardContextMenu(pos));
    menu->addSeparator();
    menu->addAction(about);
    menu->exec(log_->viewport()->mapToGlobal(pos));
  });
}

int MainWindow::LogPaneHeight(int lines) const {
  const double line = QFontMetricsF(log_->document()->defaultFont()).lineSpacing();
  const double margin = log_->document()->documentMargin();
  return static_cast<int>(std::ceil(lines * line + 2 * margin)) + 2 * log_->frameWidth();
}

void MainWindow::Startup() {
  expander_ = std::make_unique<ArchiveExpander>(options_.archivers);
  expander_->PrepareArchivers(WindowTempFolder(options_.program_folder), *this);
  driver_ = std::make_unique<ConversionDriver>(*this, registry_, *expander_);
  AppendLog("\r\n\r\nプラグインの検索.....");
  ComboSelector selector(output_list_);
  if (!registry_.LoadInputPlugins(*this) || !registry_.LoadOutputPlugins(*this, &selector)) {
    AppendLog("\r\nPlugin読込エラー");
  }
  // The selection as the loaded list has it, for a settings file that does
  // not name one.
  ReadSettingsFromControls();
  AppendLog("\r\n\r\nイメージファイルをDrag&Dropすると変換します");
  ReadSettingsFile(options_.settings_file, registry_.output_count(), settings_);
  ShowSettingsInControls();
  EnableSettingsControls(true);
  started_ = true;
  emit StartupFinished();
  if (!waiting_files_.empty()) {
    const std::vector<std::string> files = std::exchange(waiting_files_, {});
    ConvertFiles(files);
  }
}

void MainWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  // Before start-up has read the settings file, the controls hold only the
  // defaults: writing them would lose the user's settings.
  if (started_) {
    ReadSettingsFromControls();
    WriteSettingsFile(options_.settings_file, settings_);
  }
  driver_.reset();
  registry_.UnloadAllPlugins();
  expander_.reset();
}

void MainWindow::ConvertFiles(const std::vector<std::string>& paths) {
  if (!started_) {
    waiting_files_.insert(waiting_files_.end(), paths.begin(), paths.end());
    return;
  }
  if (converting_) {
    AppendLog(kMsgBusyDrop);
    return;
  }
  converting_ = true;
  EnableSettingsControls(false);
  const std::vector<WalkedFile> files = WalkDroppedFolders(paths);
  // Output folders made for the files of a folder; those left empty (a
  // folder of no images) go again.
  std::vector<std::string> made;
  for (size_t k = 0; k < files.size(); ++k) {
    // A close asked for meanwhile ends the batch after the file under way.
    if (close_requested_) break;
    // The progress bar shows only the disk at hand.
    setWindowTitle(QString("Dravik — %1 / %2").arg(k + 1).arg(files.size()));
    ConversionSettings settings = settings_;
    const WalkedFile& file = files[k];
    if (settings.use_output_folder && !settings.output_folder.empty() && !file.relative.empty()) {
      // The sub-folders of a dropped folder are kept under the output folder.
      settings.output_folder = JoinFolder(settings_.output_folder, file.relative);
      std::string reason;
      if (!MakeSubFolders(settings_.output_folder, file.relative, made, reason)) {
        AppendLog("\r\n\r\n---------   " + SanitizeUtf8(FileNameOf(file.path)) + "   ----------");
        AppendLog("\r\n出力先フォルダを作成できません: " + SanitizeUtf8(settings.output_folder) +
                  " (" + reason + ")");
        break;
      }
    }
    driver_->set_settings(settings);
    if (driver_->ConvertDroppedFile(file.path) == Flow::kStop) break;
  }
  std::sort(made.begin(), made.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& folder : made) rmdir(folder.c_str());
  setWindowTitle("Dravik");
  EnableSettingsControls(true);
  converting_ = false;
  emit BatchFinished();
  // A close asked for during the batch waits for it: plug-ins may not be
  // unloaded while one of them is on the stack.
  if (close_requested_) close();
}

std::vector<WalkedFile> MainWindow::WalkDroppedFolders(const std::vector<std::string>& paths) {
  std::vector<WalkedFile> files;
  for (const std::string& path : paths) {
    if (!IsFolder(path)) {
      files.push_back({path, ""});
      continue;
    }
    // The output folder, when inside the dropped one, holds no sources.
    FolderWalk walk = WalkFolder(path, settings_.use_output_folder ? settings_.output_folder : "");
    for (const std::string& failure : walk.errors) {
      AppendLog("\r\nフォルダを読めません: " + SanitizeUtf8(failure));
    }
    files.insert(files.end(), std::make_move_iterator(walk.files.begin()),
                 std::make_move_iterator(walk.files.end()));
  }
  return files;
}

QString MainWindow::LogText() const { return log_->toPlainText(); }

void MainWindow::AppendLog(std::string_view text) {
  QString qtext = FromUtf8(text);
  qtext.replace("\r\n", "\n");
  QTextCursor cursor = log_->textCursor();
  cursor.movePosition(QTextCursor::End);
  log_->setTextCursor(cursor);
  log_->insertPlainText(qtext);
  log_->ensureCursorVisible();
}

void MainWindow::SetProgress(int percent) { progress_->setValue(percent); }

void MainWindow::ProcessPendingEvent() { QCoreApplication::processEvents(); }

void MainWindow::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void MainWindow::FocusWindow() { activateWindow(); }

void MainWindow::ReadSettingsFromControls() {
  settings_.use_output_folder = folder_check_->isChecked();
  const QString folder = folder_edit_->text();
  settings_.output_folder = folder == folder_shown_ ? folder_bytes_ : folder.toStdString();
  settings_.write_comment = comment_check_->isChecked();
  settings_.selected_output = output_list_->currentIndex();
}

void MainWindow::ShowSettingsInControls() {
  folder_check_->setChecked(settings_.use_output_folder);
  folder_bytes_ = settings_.output_folder;
  folder_shown_ = FromUtf8(folder_bytes_);
  folder_edit_->setText(folder_shown_);
  comment_check_->setChecked(settings_.write_comment);
  output_list_->setCurrentIndex(settings_.selected_output);
}

void MainWindow::EnableSettingsControls(bool on) {
  ReadSettingsFromControls();
  folder_check_->setEnabled(on);
  comment_check_->setEnabled(on);
  output_list_->setEnabled(on);
  folder_edit_->setEnabled(on && settings_.use_output_folder);
  browse_button_->setEnabled(on && settings_.use_output_folder);
  ShowSettingsInControls();
}

void MainWindow::ChooseFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, "出力フォルダ選択", QString(),
                                                           QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return;
  ReadSettingsFromControls();
  settings_.output_folder = folder.toStdString();
  ShowSettingsInControls();
}

void MainWindow::ShowAbout() {
  QDialog about(this);
  about.setObjectName("about_dialog");
  about.setWindowTitle("Dravik Version Info");
  auto* icon = new QLabel(&about);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* text = new QLabel(kVersionText, &about);
  auto* ok = new QPushButton("OK", &about);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
  auto* layout = new QGridLayout(&about);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(text, 0, 1, Qt::AlignTop);
  layout->addWidget(ok, 1, 2);
  about.exec();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(*event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = DroppedPaths(*event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  ConvertFiles(paths);
}

std::vector<std::string> DroppedPaths(const QMimeData& mime) {
  // The list's own bytes: QUrl would decode a name that is not UTF-8 into
  // U+FFFD.
  const QByteArray list = mime.data("text/uri-list");
  return LocalPathsFromUriList(std::string_view(list.constData(), list.size()));
}

bool LoadQtTranslations() {
  auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
  if (!translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  QCoreApplication::installTranslator(translator.release());
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (converting_) {
    close_requested_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
  Shutdown();
}

QIcon ProgramIcon() {
  // A 3.5" floppy: dark shell, metal shutter, label.
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath shell;
  shell.moveTo(6, 6);
  shell.lineTo(52, 6);
  shell.lineTo(58, 12);
  shell.lineTo(58, 58);
  shell.lineTo(6, 58);
  shell.closeSubpath();
  p.fillPath(shell, QColor(0x2b, 0x3a, 0x67));
  p.fillRect(QRect(18, 6, 28, 18), QColor(0xc8, 0xcc, 0xd2));
  p.fillRect(QRect(36, 9, 6, 12), QColor(0x2b, 0x3a, 0x67));
  p.fillRect(QRect(13, 32, 38, 24), QColor(0xf4, 0xf1, 0xe8));
  p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 2));
  p.drawLine(17, 39, 47, 39);
  p.setPen(QPen(QColor(0x8a, 0x8f, 0x98), 1));
  p.drawLine(17, 45, 47, 45);
  p.drawLine(17, 50, 40, 50);
  p.end();
  return QIcon(pixmap);
}

}  // namespace dravik
