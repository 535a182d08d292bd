// The desktop application beside the command line, in one run:
// (a) a 64 KiB multi-unit update of a simulated TCP device started from the form, against
//     `zandor update` of the same device as a whole process (pairs, median ratio, spread);
// (b) the user-interface thread's longest stall during the form's updates, measured by a
//     heartbeat timer;
// (c) the time from starting the program to its window painted, as a whole process.
// Without a display it runs on Qt's offscreen platform.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchSupport.h"
#include "BoxCloser.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "app/MainWindow.h"
#include "common/AtomicFile.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "support/DeviceRows.h"
#include "widgets/AppStyle.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kUpdateTarget = 1.10;
constexpr double kStallTargetMs = 50;
constexpr double kShownTargetS = 0.5;
constexpr int kPairs = 11;
constexpr int kHeartbeatMs = 5;

// The child process of (c): shows the window and ends once it has been painted.
class PaintedOnce : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return false;
  }
};

int ShowWindowOnce(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));
  QTemporaryDir folder;
  zandorui::MainWindow window(folder.path());
  PaintedOnce painted;
  window.installEventFilter(&painted);
  window.show();
  return app.exec();
}

// Keeps the longest gap between two ticks of a fast timer on the user-interface thread.
class Heartbeat {
 public:
  Heartbeat() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      longest_ = std::max(longest_, std::chrono::duration<double, std::milli>(now - last_).count());
      last_ = now;
    });
  }
  void Start() {
    last_ = Clock::now();
    timer_.start(kHeartbeatMs);
  }
  void Stop() { timer_.stop(); }
  double LongestMs() const { return longest_; }

 private:
  QTimer timer_;
  Clock::time_point last_;
  double longest_ = 0;
};

bench::Seconds UpdateFromTheForm(zandorui::ConsoleForm& form) {
  const auto start = Clock::now();
  form.findChild<QPushButton*>(QStringLiteral("c1034"))->click();
  while (form.DeviceWorkRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const bench::Seconds seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (form.List().Row(0).status != "Device Update Successful") {
    std::fprintf(stderr, "the form's update failed: %s\n", form.List().Row(0).status.c_str());
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  if (argc > 1 && std::strcmp(argv[1], "--show-window") == 0) return ShowWindowOnce(argc, argv);

  QTemporaryDir config;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);  // takes Qt's own arguments out of argv
  bench::BenchArgs args(argc, argv, "(no arguments)");
  if (!args.Valid()) return 2;
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));

  QTemporaryDir dir;
  samplegen::ImageSpec multi;
  multi.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??", "FirmwareVersion = 200"};
  multi.segments = {0};
  multi.addressRecordType = 2;
  const std::string file = dir.filePath(QStringLiteral("multi-64k.hex")).toStdString();
  if (!vel::WriteFileAtomically(file, samplegen::Generate({multi}).text, 0644)) return 1;

  sim::SimConfig device;
  device.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}};
  sim::SimServer server(device);
  const std::string port = std::to_string(server.StartTcp());

  zandorui::MainWindow window(dir.path());
  zandorui::ConsoleForm& form = window.Form();
  vel::testing::AddTickedRow(form.List(), "Bench", "127.0.0.1", port);
  form.findChild<zandorui::DeviceTable*>(QStringLiteral("c1116"))->ShowList();
  window.show();
  form.LoadFile(QString::fromStdString(file));
  const bench::BoxCloser boxCloser;

  const std::vector<std::string> commandLine{bench::OwnFolder() + "/zandor", "update", file,
                                             "tcp:127.0.0.1:" + port};
  bench::PairedTimes updates;
  Heartbeat heartbeat;
  for (int round = 0; round <= kPairs; ++round) {  // the first round warms up
    const bench::ProcessRun cli = bench::TimeProgram(commandLine);
    if (!cli.ok) {
      std::fprintf(stderr, "zandor update failed\n");
      return 1;
    }
    if (round > 0) heartbeat.Start();
    const bench::Seconds ours = UpdateFromTheForm(form);
    heartbeat.Stop();
    if (round > 0) updates.Add(ours, cli.seconds);
  }
  bool met = updates.Report("64 KiB multi-unit update, form vs zandor update (whole process)",
                            kUpdateTarget);
  const double stall = heartbeat.LongestMs();
  std::printf(
      "longest user-interface stall during the form's updates: %.1f ms (target <= %.0f ms) %s\n",
      stall, kStallTargetMs, stall <= kStallTargetMs ? "PASS" : "MISS");
  met = met && stall <= kStallTargetMs;

  std::vector<double> shown;
  for (int i = 0; i < 7; ++i) {
    const bench::ProcessRun run =
        bench::TimeProgram({bench::OwnFolder() + "/bench_desktop", "--show-window"});
    if (!run.ok) return 1;
    shown.push_back(run.seconds);
  }
  const bench::Spread spread = bench::SpreadOf(shown);
  std::printf(
      "program start to window painted (whole process, 7 runs): median %.3f s (%.3f-%.3f), "
      "target <= %.1f s %s\n",
      spread.median, spread.low, spread.high, kShownTargetS,
      spread.median <= kShownTargetS ? "PASS" : "MISS");
  met = met && spread.median <= kShownTargetS;
  server.Stop();
  return met ? 0 : 1;
}
