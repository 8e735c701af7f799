// Dravik: the window. Files named on the command line (as a desktop's
// "Open with" passes them) are converted as one drop after start-up.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QSocketNotifier>
#include <string>
#include <vector>

#include "main_window.h"
#include "paths.h"
#include "settings_file.h"

namespace {

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_signal_pipe[1], &byte, 1);
}

// Ctrl-C or a TERM closes the window as its close button does: the file
// being converted is finished, the settings are saved and the temporary
// folder goes. A second signal ends the program at once.
void CloseOnSignals(QWidget& window) {
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char bytes[16];
    while (read(g_signal_pipe[0], bytes, sizeof(bytes)) > 0) {
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt has taken its own options (-platform and the like) out of argv; the
  // rest are files, kept as the bytes they are. QApplication::arguments()
  // would decode a name that is not UTF-8 into U+FFFD, naming no file.
  const std::vector<std::string> files(argv + 1, argv + argc);

  QApplication::setApplicationName("Dravik");
  dravik::LoadQtTranslations();
  QFont font = QApplication::font();
  font.setFamilies({"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "VL PGothic", font.family()});
  QApplication::setFont(font);

  dravik::WindowOptions options;
  options.program_folder = dravik::ProgramFolder();
  options.settings_file = dravik::SettingsFilePath(options.program_folder);
  dravik::MainWindow window(options);
  CloseOnSignals(window);
  window.show();
  if (!files.empty()) window.ConvertFiles(files);
  return QApplication::exec();
}
