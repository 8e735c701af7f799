// The window as a person uses it, under Qt's offscreen platform: start-up,
// the controls' enabling rules, drops, the settings file, and the program
// itself started with files on its command line.
#include "main_window.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QWindow>

#include "archive_builder.h"
#include "scratch_program.h"

using dravik::MainWindow;
using dravik::WindowOptions;
namespace test = dravik::test;
using Lines = std::vector<std::pair<std::string, std::string>>;

namespace {

// "ゲーム" in Shift-JIS: a name that is not UTF-8.
const std::string kSjisName = "\x83Q\x81[\x83\x80";

// A file: URI as a file manager writes it, every byte beyond the plain ones
// percent-encoded.
std::string FileUri(const std::string& path) {
  std::string uri = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) != 0 || std::strchr("/-._~", c) != nullptr) {
      uri += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof(escape), "%%%02X", c);
      uri += escape;
    }
  }
  return uri;
}

QString FromBytes(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

struct Setup {
  std::string settings = {};  // Dravik.cfg, none when empty
  int startup_delay_ms = 10;
  std::vector<std::pair<std::string, std::string>> more_plugins = {};
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    test::ScratchProgram program;
    test::TempDir work;
    std::unique_ptr<MainWindow> window;
    std::vector<int> progress;

    explicit Fixture(const Setup& setup = {}) {
      program.AddTestPlugin("title_reader.dvr", "a_title.dvr");
      program.AddTestPlugin("plain_reader.dvr", "b_plain.dvr");
      program.AddTestPlugin("tst_writer.dvw", "a_tst.dvw");
      program.AddTestPlugin("ts2_writer.dvw", "b_ts2.dvw");
      for (const auto& [file, as_name] : setup.more_plugins) program.AddTestPlugin(file, as_name);
      if (!setup.settings.empty()) test::WriteFile(settings_file(), setup.settings);
      window = Open(setup.startup_delay_ms);
      QObject::connect(Get<QProgressBar>("progress"), &QProgressBar::valueChanged,
                       [this](int v) { progress.push_back(v); });
    }
    // A window of this program folder (tests may open a second one).
    std::unique_ptr<MainWindow> Open(int startup_delay_ms = 10) const {
      WindowOptions options;
      options.program_folder = program.folder();
      options.settings_file = settings_file();
      options.startup_delay_ms = startup_delay_ms;
      options.archivers = {test::ProgramDir() + "UNLHA32.so", test::ProgramDir() + "UNZIP32.so"};
      auto opened = std::make_unique<MainWindow>(options);
      opened->show();
      return opened;
    }
    std::string settings_file() const { return program.folder() + "Dravik.cfg"; }
    template <typename T>
    T* Get(const char* name) const {
      return window->findChild<T*>(name);
    }
    bool WaitStarted(MainWindow* which = nullptr) {
      which = which != nullptr ? which : window.get();
      return QTest::qWaitFor([which] { return which->started(); }, 5000);
    }
    std::string Source(const std::string& name, const Lines& lines = {{"accept", "plain"}}) {
      test::WriteFile(work / name, test::Script(lines));
      return work / name;
    }
    // As the desktop delivers a drop: to the window system's window at a
    // point, where Qt finds the widget that takes it; the list in the bytes
    // a file manager sends, with the names as text too.
    void Drop(const std::vector<std::string>& files, QWidget* at = nullptr,
              MainWindow* which = nullptr) {
      which = which != nullptr ? which : window.get();
      at = at != nullptr ? at : which->findChild<QPlainTextEdit*>("log");
      QMimeData mime;
      QByteArray uris;
      QString text;
      for (const std::string& f : files) {
        uris += FileUri(f) + "\r\n";
        text += FromBytes(f) + "\n";
      }
      mime.setData("text/uri-list", uris);
      mime.setText(text);
      const QPoint point = at->mapTo(which, at->rect().center());
      QWindow* target = which->windowHandle();
      QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &enter);
      QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &move);
      QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(target, &drop);
    }
    bool ControlsEnabled() const {
      return Get<QCheckBox>("folder_check")->isEnabled() &&
             Get<QCheckBox>("comment_check")->isEnabled() &&
             Get<QComboBox>("output_list")->isEnabled();
    }
  };

 private slots:
  void initTestCase() { QVERIFY(dravik::LoadQtTranslations()); }

  // Files named on the command line wait for the start-up to finish.
  void StartsUpInOrder() {
    Fixture f;
    QVERIFY(!f.ControlsEnabled());
    QCOMPARE(f.window->LogText(), QString("Dravik Version 2.10\n"));
    f.window->ConvertFiles({f.Source("EARLY.img")});
    QVERIFY(!test::FileExists(f.work / "EARLY.TST"));
    QVERIFY(f.WaitStarted());
    QCOMPARE(
        f.window->LogText(),
        QString("Dravik Version 2.10\n\nUNLHA32.DLLをロードしました\nUNZIP32.DLLをロードしました"
                "\n\nプラグインの検索....."
                "\nTITLE形式入力Plug-in Ver.1.00\nTEST形式入力Plug-in Ver.0.01"
                "\nTST形式出力Plug-in Ver.1.00\nTS2形式出力Plug-in Ver.1.00"
                "\n\nイメージファイルをDrag&Dropすると変換します"
                "\n\n---------   EARLY.img   ----------\n...変換完了"));
    QVERIFY(test::FileExists(f.work / "EARLY.TST"));
    QVERIFY(f.ControlsEnabled());
    QCOMPARE(f.Get<QComboBox>("output_list")->count(), 2);
    QCOMPARE(f.Get<QComboBox>("output_list")->itemText(1), QString("BKTEST形式"));
    QCOMPARE(f.window->windowTitle(), QString("Dravik"));
    QVERIFY(!(f.window->windowFlags() & Qt::WindowMaximizeButtonHint));
  }

  // Enter and Escape in the path field do not close the window either.
  void FolderFieldFollowsItsCheckbox() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    auto* check = f.Get<QCheckBox>("folder_check");
    auto* edit = f.Get<QLineEdit>("folder_edit");
    auto* browse = f.Get<QPushButton>("browse_button");
    QVERIFY(!edit->isEnabled() && !browse->isEnabled());
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(edit->isEnabled() && browse->isEnabled());
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(f.window.get(), Qt::Key_Enter);
    QVERIFY(f.window->isVisible());
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!edit->isEnabled() && !browse->isEnabled());
    f.Drop({f.Source("A.img")});
    QVERIFY(!edit->isEnabled() && !browse->isEnabled());
    QVERIFY(f.ControlsEnabled());
  }

  void DropConvertsAndMovesTheProgressBar() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    const std::vector<std::string> files = {
        f.Source("ONE.img", {{"accept", "plain"}, {"read_progress", "0:2,1:2,2:2"}}),
        f.Source("TWO.img", {{"accept", "plain"}, {"write_progress", "1:2,2:2"}})};
    QSignalSpy finished(f.window.get(), &MainWindow::BatchFinished);
    f.Drop(files);
    QCOMPARE(finished.count(), 1);
    QVERIFY(test::FileExists(f.work / "ONE.TST"));
    QVERIFY(test::FileExists(f.work / "TWO.TST"));
    QVERIFY(std::count(f.progress.begin(), f.progress.end(), 100) == 1);
    QCOMPARE(f.Get<QProgressBar>("progress")->value(), 0);
    QVERIFY(f.window->LogText().endsWith("TWO.img   ----------\n...変換完了"));
  }

  // A drop that arrives while the batch runs (delivered by the batch's own
  // event processing) is refused; the batch stops at its failure.
  void BatchStopsAtTheFirstFailureAndRefusesDropsMeanwhile() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    auto* late = new QMimeData;
    late->setData("text/uri-list", QByteArray::fromStdString(FileUri(f.Source("LATE.img"))));
    QCoreApplication::postEvent(f.window.get(), new QDropEvent(QPointF(5, 5), Qt::CopyAction, late,
                                                               Qt::LeftButton, Qt::NoModifier));
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i) {
      files.push_back(f.Source(std::to_string(i) + ".img",
                               {{"accept", "plain"}, {"read", i == 2 ? "8" : "0"}}));
    }
    f.Drop(files);
    delete late;
    QVERIFY(test::FileExists(f.work / "1.TST"));
    for (const char* name : {"3.TST", "4.TST", "5.TST", "LATE.TST"}) {
      QVERIFY(!test::FileExists(f.work / name));
    }
    QVERIFY(f.window->LogText().contains("変換中のため、ドロップされたファイルは変換しません"));
    QVERIFY(f.window->LogText().endsWith("...変換エラー"));
    QVERIFY(f.ControlsEnabled());
  }

  void SettingsAreReadAtStartAndWrittenAtClose() {
    {
      Fixture f({.settings = "outlist: 03\n"});  // more than the outputs there are
      QVERIFY(f.WaitStarted());
      QCOMPARE(f.Get<QComboBox>("output_list")->currentIndex(), 0);
      QVERIFY(f.Get<QCheckBox>("comment_check")->isChecked());
    }
    Fixture f({.settings = "outlist: 01\nfolder : 1\npath   : /tmp/出力\ncomment: 0\n"});
    QVERIFY(f.WaitStarted());
    QCOMPARE(f.Get<QComboBox>("output_list")->currentIndex(), 1);
    QVERIFY(f.Get<QCheckBox>("folder_check")->isChecked());
    QVERIFY(f.Get<QLineEdit>("folder_edit")->isEnabled());
    QCOMPARE(f.Get<QLineEdit>("folder_edit")->text(), QString("/tmp/出力"));
    QVERIFY(!f.Get<QCheckBox>("comment_check")->isChecked());
    f.Get<QCheckBox>("comment_check")->setChecked(true);
    f.window->close();
    QCOMPARE(QString::fromStdString(test::ReadFile(f.settings_file())),
             QString("folder : 1\npath   : /tmp/出力\ncomment: 1\noutlist: 01\ndebug  : 0\n"));
  }

  // A settings file made by hand to switch the debug dump on names no
  // output: the first one is taken, not none.
  void ASettingsFileWithoutAnOutputSelectsTheFirst() {
    Fixture f({.settings = "debug  : 1\n"});
    QVERIFY(f.WaitStarted());
    QCOMPARE(f.Get<QComboBox>("output_list")->currentIndex(), 0);
    f.Drop({f.Source("A.img")});
    QVERIFY(f.window->LogText().endsWith("...変換完了"));
    QVERIFY(test::FileExists(f.work / "A.TST") && test::FileExists(f.work / "A.dbg"));
    f.window->close();
    QCOMPARE(QString::fromStdString(test::ReadFile(f.settings_file())),
             QString("folder : 0\npath   : \ncomment: 1\noutlist: 00\ndebug  : 1\n"));
  }

  void TwoOutputsMayShareALabel() {
    Fixture f({.more_plugins = {{"tst_writer.dvw", "c_tst.dvw"}}});
    QVERIFY(f.WaitStarted());
    auto* list = f.Get<QComboBox>("output_list");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(2), list->itemText(0));
    QVERIFY(!f.window->LogText().contains("異常"));
    QVERIFY(!f.window->LogText().contains("エラー"));
  }

  // Closed before start-up has read the settings: the file stays as it was.
  void ClosingEarlyKeepsTheSettings() {
    const std::string settings = "folder : 1\npath   : /tmp/x\ncomment: 0\noutlist: 01\n";
    Fixture f({.settings = settings, .startup_delay_ms = 60000});
    f.window->close();
    QCOMPARE(test::ReadFile(f.settings_file()), settings);
  }

  // Names from old media are often Shift-JIS: such a file dropped, and such
  // an output folder from the settings file, are used by their bytes; the
  // log shows what it can of the name.
  void NamesThatAreNotUtf8AreUsedByTheirBytes() {
    test::TempDir out;
    const std::string folder = out / ("出力" + kSjisName);
    QCOMPARE(mkdir(folder.c_str(), 0755), 0);
    const std::string settings = "folder : 1\npath   : " + folder + "\ncomment: 1\n";
    Fixture f({.settings = settings});
    QVERIFY(f.WaitStarted());
    f.Drop({f.Source(kSjisName + ".img")});
    QVERIFY(
        f.window->LogText().endsWith("---------   \uFFFDQ\uFFFD[\uFFFD\uFFFD.img   ----------"
                                     "\n...変換完了"));
    QVERIFY(test::FileExists(folder + "/" + kSjisName + ".TST"));
    f.window->close();
    QVERIFY(test::ReadFile(f.settings_file()).starts_with("folder : 1\npath   : " + folder + "\n"));
  }

  // Only the window takes drops: a file dropped on the folder field is
  // converted, not typed into the field.
  void ADropOnTheFolderFieldConverts() {
    test::TempDir out;
    Fixture f({.settings = "folder : 1\npath   : " + out.path() + "\n"});
    QVERIFY(f.WaitStarted());
    auto* edit = f.Get<QLineEdit>("folder_edit");
    QVERIFY(edit->isEnabled());
    f.Drop({f.Source("A.img")}, edit);
    QCOMPARE(edit->text(), QString::fromStdString(out.path()));
    QVERIFY(test::FileExists(out / "A.TST"));
    f.Drop({f.Source("B.img")}, f.Get<QComboBox>("output_list"));
    QVERIFY(test::FileExists(out / "B.TST"));
  }

  // A dropped folder is walked as dravik-cli -r walks it: its sub-folders
  // kept under the output folder, hidden files left out; the title counts
  // the files of the batch.
  void ADroppedFolderIsWalked() {
    test::TempDir out;
    Fixture f({.settings = "folder : 1\npath   : " + out.path() + "\n"});
    QVERIFY(f.WaitStarted());
    for (const char* folder : {"coll", "coll/sub", "coll/sub/deep", "coll/empty"}) {
      QCOMPARE(mkdir((f.work / folder).c_str(), 0700), 0);
    }
    f.Source("coll/A.img");
    f.Source("coll/.H.img");
    f.Source("coll/sub/deep/B.img");
    f.Source("coll/sub/C.txt", {{"accept", "none"}});
    QCOMPARE(symlink("../..", (f.work / "coll/sub/deep/up").c_str()), 0);
    QStringList titles;
    QObject::connect(f.window.get(), &QWidget::windowTitleChanged,
                     [&titles](const QString& title) { titles << title; });
    f.Drop({f.work / "coll", f.Source("LOOSE.img")});
    QCOMPARE(titles, QStringList({"Dravik — 1 / 4", "Dravik — 2 / 4", "Dravik — 3 / 4",
                                  "Dravik — 4 / 4", "Dravik"}));
    QCOMPARE(test::RunCommand("cd " + test::ShellQuote(out.path()) + " && find . | sort").out,
             std::string(".\n./A.TST\n./LOOSE.TST\n./sub\n./sub/deep\n./sub/deep/B.TST\n"));
    QVERIFY(f.window->LogText().contains("C.txt   ----------\n未対応のフォーマットです。"));
    QVERIFY(f.ControlsEnabled());

    // Without the output folder, each output goes beside its source.
    f.Get<QCheckBox>("folder_check")->setChecked(false);
    f.Drop({f.work / "coll/sub"});
    QVERIFY(test::FileExists(f.work / "coll/sub/deep/B.TST"));
    QVERIFY(!test::FileExists(f.work / "coll/A.TST"));
  }

  // Two windows of one program folder unpack into folders of their own; a
  // draviktemp/ this user cannot use does not stop archives; each window's
  // folder goes with it.
  void EachWindowUnpacksIntoAFolderOfItsOwn() {
    Fixture f;
    const std::unique_ptr<MainWindow> second = f.Open();
    QVERIFY(f.WaitStarted() && f.WaitStarted(second.get()));
    const std::string parent = f.program.folder() + "draviktemp/";
    const std::vector<std::string> folders = test::ListFolder(parent);
    QCOMPARE(folders.size(), size_t{2});
    const std::string first_folder = parent + folders[0] + "/";
    const std::string second_folder = parent + folders[1] + "/";
    test::WriteFile(first_folder + "BEING.img", "being converted");
    test::WriteFile(second_folder + "BEING.img", "being converted");
    test::WriteFile(f.work / "GAME.ZIP",
                    test::BuildZip({{"A.img", test::Script({{"accept", "plain"}})}}));
    f.Drop({f.work / "GAME.ZIP"}, nullptr, second.get());
    QVERIFY(second->LogText().endsWith("---------   A.img   ----------\n...変換完了"));
    QVERIFY(test::FileExists(f.work / "A.TST"));
    QCOMPARE(test::ListFolder(parent).size(), size_t{2});
    // The second window emptied its own folder only.
    QCOMPARE(test::FileExists(first_folder + "BEING.img") +
                 test::FileExists(second_folder + "BEING.img"),
             1);
    f.window->close();
    second->close();
    QVERIFY(test::ListFolder(parent).empty());

    // Left behind by another user (or unwritable): the window takes a
    // private folder elsewhere.
    if (geteuid() == 0) {
      QCOMPARE(chown(parent.c_str(), 65534, 65534), 0);
    } else {
      QCOMPARE(chmod(parent.c_str(), 0555), 0);
    }
    const std::unique_ptr<MainWindow> third = f.Open();
    QVERIFY(f.WaitStarted(third.get()));
    test::WriteFile(f.work / "MORE.ZIP",
                    test::BuildZip({{"B.img", test::Script({{"accept", "plain"}})}}));
    f.Drop({f.work / "MORE.ZIP"}, nullptr, third.get());
    QVERIFY(third->LogText().endsWith("---------   B.img   ----------\n...変換完了"));
    QVERIFY(test::ListFolder(parent).empty());
    third->close();
    chmod(parent.c_str(), 0755);
  }

  // The log pane opens with at least 15 whole lines and takes the room the
  // window gains; the settings stay as they are.
  void TheLogGrowsWithTheWindow() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    auto* log = f.Get<QPlainTextEdit>("log");
    for (int i = 0; i < 40; ++i) f.window->AppendLog("\r\nline");
    QTest::qWait(0);
    const QTextDocument* document = log->document();
    const double line =
        document->documentLayout()->blockBoundingRect(document->findBlockByNumber(3)).height();
    const double room = log->viewport()->height() - 2 * document->documentMargin();
    QVERIFY2(room >= 15 * line, qPrintable(QString("%1 px for lines of %2").arg(room).arg(line)));

    auto* settings = f.window->findChild<QWidget*>("folder_check")->parentWidget();
    const int settings_height = settings->height();
    const int log_height = log->height();
    f.window->resize(f.window->width() + 40, f.window->height() + 120);
    QVERIFY(QTest::qWaitFor([&] { return log->height() == log_height + 120; }, 2000));
    QCOMPARE(settings->height(), settings_height);
  }

  // Qt's own texts in the log's menu are Japanese like the rest.
  void TheLogMenuIsJapanese() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    auto* log = f.Get<QPlainTextEdit>("log");
    QStringList texts;
    QTimer::singleShot(50, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* action : menu->actions()) texts << action->text();
        menu->close();
      }
    });
    emit log->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(texts.contains("ﾊﾞｰｼﾞｮﾝ情報 (&A)..."));
    QVERIFY2(texts.filter("コピー").size() == 1, qPrintable(texts.join('|')));
    QVERIFY2(texts.filter("Copy").isEmpty() && texts.filter("Select").isEmpty(),
             qPrintable(texts.join('|')));
  }

  void AboutBoxShowsTheVersion() {
    Fixture f;
    QVERIFY(f.WaitStarted());
    QString seen_title;
    QString seen_text;
    QTimer::singleShot(50, [&] {
      auto* dialog = f.window->findChild<QDialog*>("about_dialog");
      QVERIFY(dialog != nullptr);
      seen_title = dialog->windowTitle();
      for (auto* label : dialog->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) seen_text = label->text();
      }
      QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });
    QAction* about = f.window->findChild<QAction*>("about_action");
    QVERIFY(about != nullptr);
    QCOMPARE(about->text(), QString("ﾊﾞｰｼﾞｮﾝ情報 (&A)..."));
    about->trigger();
    QCOMPARE(seen_title, QString("Dravik Version Info"));
    QCOMPARE(seen_text, QString("Dravik Version 2.10"));
  }

  // The program itself, as a desktop's "Open with" starts it: two files on
  // its command line, one named in Shift-JIS, and a settings file holding
  // only the debug switch. A TERM closes it as the close button does.
  void TheProgramConvertsTheFilesOnItsCommandLine() {
    test::ScratchProgram program;
    program.AddWindow();
    program.AddTestPlugin("plain_reader.dvr", "a_plain.dvr");
    program.AddTestPlugin("tst_writer.dvw", "a_tst.dvw");
    test::WriteFile(program.folder() + "Dravik.cfg", "debug  : 1\n");
    test::TempDir work;
    std::string sjis = work / (kSjisName + ".img");
    std::string plain = work / "PLAIN.img";
    test::WriteFile(sjis, test::Script({{"accept", "plain"}}));
    test::WriteFile(plain, test::Script({{"accept", "plain"}}));

    // Started directly, so that the name reaches it as its bytes.
    std::string path = program.window();
    char* argv[] = {path.data(), sjis.data(), plain.data(), nullptr};
    const std::string errors = work / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    QCOMPARE(spawned, 0);
    const bool converted = QTest::qWaitFor(
        [&] {
          return test::FileExists(work / (kSjisName + ".dbg")) &&
                 test::FileExists(work / "PLAIN.dbg");
        },
        30000);
    kill(pid, SIGTERM);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY2(converted, test::ReadFile(errors).c_str());
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, test::ReadFile(errors).c_str());
    QVERIFY(test::FileExists(work / (kSjisName + ".TST")));
    QVERIFY(test::FileExists(work / "PLAIN.TST"));
    QCOMPARE(QString::fromStdString(test::ReadFile(program.folder() + "Dravik.cfg")),
             QString("folder : 0\npath   : \ncomment: 1\noutlist: 00\ndebug  : 1\n"));
    QVERIFY(test::ListFolder(program.folder() + "draviktemp/").empty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
