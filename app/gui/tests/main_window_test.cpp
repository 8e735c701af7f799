// The window as a person uses it, under Qt's offscreen platform: start-up,
// the controls' enabling rules, drops, the settings file.
#include "main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "scratch_program.h"

using dravik::MainWindow;
using dravik::WindowOptions;
namespace test = dravik::test;

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    test::ScratchProgram program;
    test::TempDir work;
    std::unique_ptr<MainWindow> window;
    std::vector<int> progress;

    explicit Fixture(const std::string& settings = "") {
      program.AddTestPlugin("title_reader.dvr", "a_title.dvr");
      program.AddTestPlugin("plain_reader.dvr", "b_plain.dvr");
      program.AddTestPlugin("tst_writer.dvw", "a_tst.dvw");
      program.AddTestPlugin("ts2_writer.dvw", "b_ts2.dvw");
      if (!settings.empty()) test::WriteFile(program.folder() + "Dravik.cfg", settings);
      WindowOptions options;
      options.program_folder = program.folder();
      options.settings_file = program.folder() + "Dravik.cfg";
      options.startup_delay_ms = 10;
      window = std::make_unique<MainWindow>(options);
      window->show();
      QObject::connect(Get<QProgressBar>("progress"), &QProgressBar::valueChanged,
                       [this](int v) { progress.push_back(v); });
    }
    template <typename T>
    T* Get(const char* name) const {
      return window->findChild<T*>(name);
    }
    bool WaitStarted() {
      return QTest::qWaitFor([this] { return window->started(); }, 5000);
    }
    QString Source(const std::string& name,
                   const std::vector<std::pair<std::string, std::string>>& lines = {
                       {"accept", "plain"}}) {
      test::WriteFile(work / name, test::Script(lines));
      return QString::fromStdString(work / name);
    }
    void Drop(const QStringList& files) {
      auto* mime = new QMimeData;
      QList<QUrl> urls;
      for (const QString& f : files) urls << QUrl::fromLocalFile(f);
      mime->setUrls(urls);
      // As the desktop delivers a drop: enter, then drop.
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(window.get(), &enter);
      QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(window.get(), &drop);
      delete mime;
    }
    bool ControlsEnabled() const {
      return Get<QCheckBox>("folder_check")->isEnabled() &&
             Get<QCheckBox>("comment_check")->isEnabled() &&
             Get<QComboBox>("output_list")->isEnabled();
    }
  };

 private slots:
  // Files named on the command line wait for the start-up to finish.
  void StartsUpInOrder() {
    Fixture f;
    QVERIFY(!f.ControlsEnabled());
    QCOMPARE(f.window->LogText(), QString("Dravik Version 2.10\n"));
    f.window->ConvertFiles({f.Source("EARLY.img")});
    QVERIFY(!test::FileExists(f.work / "EARLY.TST"));
    QVERIFY(f.WaitStarted());
    QCOMPARE(f.window->LogText(),
             QString("Dravik Version 2.10\n\n\nプラグインの検索....."
                     "\nTITLE形式入力Plug-in Ver.1.00\nTEST形式入力Plug-in Ver.0.01"
                     "\nTST形式出力Plug-in Ver.1.00\nTS2形式出力Plug-in Ver.1.00"
                     "\n\nイメージファイルをDrag&Dropすると変換します"
                     "\n\n---------   EARLY.img   ----------\n...変換完了"));
    QVERIFY(test::FileExists(f.work / "EARLY.TST"));
    QVERIFY(f.ControlsEnabled());
    QVERIFY(test::FileExists(f.program.folder() + "draviktemp"));  // archives unpack there
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
    const QStringList files = {
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
    late->setUrls({QUrl::fromLocalFile(f.Source("LATE.img"))});
    QCoreApplication::postEvent(f.window.get(), new QDropEvent(QPointF(5, 5), Qt::CopyAction, late,
                                                               Qt::LeftButton, Qt::NoModifier));
    QStringList files;
    for (int i = 1; i <= 5; ++i) {
      files << f.Source(std::to_string(i) + ".img",
                        {{"accept", "plain"}, {"read", i == 2 ? "8" : "0"}});
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
      Fixture f("outlist: 03\n");  // more than the outputs there are
      QVERIFY(f.WaitStarted());
      QCOMPARE(f.Get<QComboBox>("output_list")->currentIndex(), 0);
      QVERIFY(f.Get<QCheckBox>("comment_check")->isChecked());
    }
    Fixture f("outlist: 01\nfolder : 1\npath   : /tmp/出力\ncomment: 0\n");
    QVERIFY(f.WaitStarted());
    QCOMPARE(f.Get<QComboBox>("output_list")->currentIndex(), 1);
    QVERIFY(f.Get<QCheckBox>("folder_check")->isChecked());
    QVERIFY(f.Get<QLineEdit>("folder_edit")->isEnabled());
    QCOMPARE(f.Get<QLineEdit>("folder_edit")->text(), QString("/tmp/出力"));
    QVERIFY(!f.Get<QCheckBox>("comment_check")->isChecked());
    f.Get<QCheckBox>("comment_check")->setChecked(true);
    f.window->close();
    QCOMPARE(QString::fromStdString(test::ReadFile(f.program.folder() + "Dravik.cfg")),
             QString("folder : 1\npath   : /tmp/出力\ncomment: 1\noutlist: 01\ndebug  : 0\n"));
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
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
