// window-bench PROGRAM_DIR OUTPUT_FOLDER FILE...: opens the window (Qt's
// offscreen platform unless another is set), drops the files on it as one
// batch converted to FDD into OUTPUT_FOLDER, and prints the time between
// repaints of the window while the batch ran: "longest_ms median_ms count"
// (the drop and the end of the batch count as repaints).
// The window repaints only when the driver lets it handle events, between
// disks, so the longest gap is what a user sees as a frozen window.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main_window.h"
#include "plugin_registry.h"
#include "settings_file.h"

namespace {

using Clock = std::chrono::steady_clock;

class QuietHost : public dravik::Host {
 public:
  void AppendLog(std::string_view) override {}
  void SetProgress(int) override {}
};

// Notes the time of every repaint of the window: Qt paints a window's
// changed widgets in one pass, started by an UpdateRequest to the window.
class PaintClock : public QObject {
 public:
  explicit PaintClock(QWidget* window) : window_(window) {}
  bool eventFilter(QObject* object, QEvent* event) override {
    if (recording_ && object == window_ && event->type() == QEvent::UpdateRequest) {
      times_.push_back(Clock::now());
    }
    return false;
  }
  void Start() {
    times_ = {Clock::now()};
    recording_ = true;
  }
  // Gaps in milliseconds, the end of the batch counting as the last point.
  std::vector<double> Stop() {
    recording_ = false;
    times_.push_back(Clock::now());
    std::vector<double> gaps;
    for (size_t i = 1; i < times_.size(); ++i) {
      gaps.push_back(std::chrono::duration<double, std::milli>(times_[i] - times_[i - 1]).count());
    }
    return gaps;
  }

 private:
  QWidget* window_;
  bool recording_ = false;
  std::vector<Clock::time_point> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: window-bench PROGRAM_DIR OUTPUT_FOLDER FILE...\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string program_dir = argv[1];
  if (program_dir.back() != '/') program_dir += '/';
  const std::vector<std::string> files(argv + 3, argv + argc);

  // The FDD writer's place in the drop-down, as the registry orders it.
  int fdd = -1;
  {
    QuietHost host;
    dravik::PluginRegistry registry(program_dir);
    registry.LoadOutputPlugins(host, nullptr);
    for (int i = 0; i < registry.output_count(); ++i) {
      if (registry.output(i).extension == ".FDD") fdd = i;
    }
  }
  if (fdd < 0) {
    std::fprintf(stderr, "window-bench: no FDD writer in %s\n", program_dir.c_str());
    return 1;
  }
  const std::string settings_file = std::string(argv[2]) + "/window-bench.cfg";
  dravik::ConversionSettings settings;
  settings.use_output_folder = true;
  settings.output_folder = argv[2];
  settings.write_comment = false;
  settings.selected_output = fdd;
  dravik::WriteSettingsFile(settings_file, settings);

  QApplication app(argc, argv);
  dravik::WindowOptions options;
  options.program_folder = program_dir;
  options.settings_file = settings_file;
  options.startup_delay_ms = 0;
  dravik::MainWindow window(options);
  PaintClock clock(&window);
  app.installEventFilter(&clock);
  window.show();
  std::vector<double> gaps;
  QObject::connect(&window, &dravik::MainWindow::StartupFinished, [&] {
    // Let the window settle and paint once before the drop.
    QTimer::singleShot(200, [&] {
      clock.Start();
      window.ConvertFiles(files);
      gaps = clock.Stop();
      app.quit();
    });
  });
  app.exec();
  if (gaps.empty()) return 1;
  std::vector<double> sorted = gaps;
  std::sort(sorted.begin(), sorted.end());
  std::printf("%.3f %.3f %zu\n", sorted.back(), sorted[sorted.size() / 2], gaps.size());
  return 0;
}
