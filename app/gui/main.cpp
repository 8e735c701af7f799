// Dravik: the window. Files named on the command line (as a desktop's
// "Open with" passes them) are converted as one drop after start-up.
#include <QApplication>
#include <QFont>
#include <QStringList>

#include "main_window.h"
#include "paths.h"
#include "settings_file.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Dravik");
  QFont font = QApplication::font();
  font.setFamilies({"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "VL PGothic", font.family()});
  QApplication::setFont(font);

  dravik::WindowOptions options;
  options.program_folder = dravik::ProgramFolder();
  options.settings_file = dravik::SettingsFilePath(options.program_folder);
  dravik::MainWindow window(options);
  window.show();

  QStringList files = QApplication::arguments();
  files.removeFirst();
  if (!files.isEmpty()) window.ConvertFiles(files);
  return QApplication::exec();
}
