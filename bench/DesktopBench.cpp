// The desktop application beside the command line, in one run:
// (a) a 64 KiB multi-unit update of a simulated TCP device started from the form, against
//     `zandor update` of the same device as a whole process (pairs, median ratio, spread);
// (b) the user-interface thread's longest stall during the form's updates, measured by a
//     heartbeat timer;
// (c) the time from starting the program to its window painted, as a whole process;
// (d) the user-interface thread's longest stall while the form updates 256 simulated TCP devices
//     at once ("Rows updated at once" 256; --rows N for another number), each answering every
//     frame after 2 ms as a device behind a serial server does; and the same stall once more
//     with the user-interface thread alone on one processor and the walk's threads and the
//     devices on another, which tells its own work apart from waiting for a processor; for each,
//     what the user-interface thread did in the longest gap (the kernel's scheduler statistics).
// Without a display it runs on Qt's offscreen platform.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

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
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "BoxCloser.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "app/MainWindow.h"
#include "common/AtomicFile.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "support/ModelRows.h"
#include "widgets/AppStyle.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kUpdateTarget = 1.10;
constexpr double kStallTargetMs = 50;
constexpr double kShownTargetS = 0.5;
constexpr int kPairs = 11;
constexpr int kHeartbeatMs = 5;
constexpr int kManyRows = 256;
constexpr int kManyRowsWalks = 3;
constexpr int kAnswerDelayMs = 2;
constexpr int kDevicePriority = 19;  // the lowest: a nice value

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

// What the user-interface thread did in a gap between two heartbeat ticks: ran, waited for a
// processor while it could have run, or neither (it waited for something else).
struct Gap {
  double ms = 0, ranMs = 0, waitedMs = 0;
};

// The thread's processor time and its time runnable but not running, in nanoseconds, as the
// kernel's scheduler statistics keep them (zero where there are none).
std::pair<long long, long long> SchedulerTimes() {
  long long ran = 0, waited = 0;
  if (FILE* stats = std::fopen("/proc/thread-self/schedstat", "r")) {
    if (std::fscanf(stats, "%lld %lld", &ran, &waited) != 2) ran = waited = 0;
    std::fclose(stats);
  }
  return {ran, waited};
}

// Keeps the longest gap between two ticks of a fast timer on the user-interface thread.
class Heartbeat {
 public:
  Heartbeat() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      const auto times = SchedulerTimes();
      const double ms = std::chrono::duration<double, std::milli>(now - last_).count();
      if (ms > longest_.ms) {
        longest_ = {ms, (times.first - lastTimes_.first) / 1e6,
                    (times.second - lastTimes_.second) / 1e6};
      }
      last_ = now;
      lastTimes_ = times;
    });
  }
  void Start() {
    last_ = Clock::now();
    lastTimes_ = SchedulerTimes();
    timer_.start(kHeartbeatMs);
  }
  void Stop() { timer_.stop(); }
  Gap Longest() const { return longest_; }

 private:
  QTimer timer_;
  Clock::time_point last_;
  std::pair<long long, long long> lastTimes_;
  Gap longest_;
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

// A firmware file of one block (1,024 record frames) for one G4 unit; its path.
std::string WriteOneBlockImage(const QTemporaryDir& dir) {
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??", "FirmwareVersion = 200"};
  image.segments = {0};
  image.bytesPerSegment = 0x4000;
  image.addressRecordType = 2;
  const std::string file = dir.filePath(QStringLiteral("one-block.hex")).toStdString();
  if (!vel::WriteFileAtomically(file, samplegen::Generate({image}).text, 0644)) std::exit(1);
  return file;
}

// Where (d) runs its threads: on every processor, or the user-interface thread alone on the
// first and everything else on the second.
enum class Processors { kShared, kOwnForTheUi };

void KeepThisThreadOn(int processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(processor, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

// The devices of (d), served at the lowest scheduling priority: they stand for devices that
// run on hardware of their own, not on the desktop's processor.
class SimulatedDevices {
 public:
  SimulatedDevices(int count, Processors processors) {
    // Threads inherit the priority and the processors of the thread that starts them.
    std::thread starter([this, count, processors] {
      if (processors == Processors::kOwnForTheUi) KeepThisThreadOn(1);
      if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kDevicePriority) != 0) {
        std::perror("setpriority");
      }
      for (int d = 0; d < count; ++d) {
        sim::SimConfig config;
        config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}};
        config.answerDelayMs = kAnswerDelayMs;
        servers_.push_back(std::make_unique<sim::SimServer>(config));
        ports_.push_back(servers_.back()->StartTcp());
      }
    });
    starter.join();
  }
  int Port(int device) const { return ports_.at(static_cast<std::size_t>(device)); }

 private:
  std::vector<std::unique_ptr<sim::SimServer>> servers_;
  std::vector<int> ports_;
};

// (d): the longest stall of one walk that updates `rows` simulated devices at once from the form,
// and how long the walk took.
struct WalkGap {
  Gap gap;
  double seconds = 0;
};

WalkGap StallWithRowsAtOnce(int rows, const std::string& firmware, Processors processors) {
  const QTemporaryDir listFolder;
  zandorui::MainWindow window(listFolder.path());
  zandorui::ConsoleForm& form = window.Form();
  const SimulatedDevices devices(rows, processors);
  for (int r = 0; r < rows; ++r) {
    zandorui::testing::AddTickedRow(form.ListModel(), "Bench " + std::to_string(r + 1), "127.0.0.1",
                                    std::to_string(devices.Port(r)));
  }
  window.show();
  form.LoadFile(QString::fromStdString(firmware));
  form.SetRowsAtOnce(rows);
  Heartbeat heartbeat;
  cpu_set_t everyProcessor;
  sched_getaffinity(0, sizeof everyProcessor, &everyProcessor);
  heartbeat.Start();
  // The walk's threads start on the second processor; then this thread moves to the first.
  if (processors == Processors::kOwnForTheUi) KeepThisThreadOn(1);
  const auto start = std::chrono::steady_clock::now();
  form.findChild<QPushButton*>(QStringLiteral("c1034"))->click();
  if (processors == Processors::kOwnForTheUi) KeepThisThreadOn(0);
  while (form.DeviceWorkRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  heartbeat.Stop();
  sched_setaffinity(0, sizeof everyProcessor, &everyProcessor);
  for (std::size_t r = 0; r < form.List().Count(); ++r) {
    if (form.List().Row(r).status != "Device Update Successful") {
      std::fprintf(stderr, "row %zu of the walk failed: %s\n", r + 1,
                   form.List().Row(r).status.c_str());
      std::exit(1);
    }
  }
  form.SetRowsAtOnce(1);
  return {heartbeat.Longest(), seconds};
}

// (d)'s walks: their longest stalls, the longest gap of them all, and the walks' times.
struct Walks {
  bench::Spread stalls;
  Gap worst;
  bench::Spread seconds;
};

Walks StallsOfWalks(int rows, const std::string& firmware, Processors processors) {
  Walks walks;
  std::vector<double> stalls, seconds;
  for (int walk = 0; walk < kManyRowsWalks; ++walk) {
    const WalkGap measured = StallWithRowsAtOnce(rows, firmware, processors);
    stalls.push_back(measured.gap.ms);
    seconds.push_back(measured.seconds);
    if (measured.gap.ms > walks.worst.ms) walks.worst = measured.gap;
  }
  walks.stalls = bench::SpreadOf(stalls);
  walks.seconds = bench::SpreadOf(seconds);
  return walks;
}

void PrintWorstGap(const Gap& gap) {
  std::printf(
      "  in the longest gap (%.1f ms) the user-interface thread ran %.1f ms and waited %.1f ms "
      "for a processor\n",
      gap.ms, gap.ranMs, gap.waitedMs);
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
  bench::BenchArgs args(argc, argv,
                        "[--rows N]  (rows updated at once in the stall measurement (d), from 2, "
                        "default 256)");
  const int manyRows = args.Option("--rows", kManyRows, 2, kManyRows);
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
  zandorui::testing::AddTickedRow(form.ListModel(), "Bench", "127.0.0.1", port);
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
  const double stall = heartbeat.Longest().ms;
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

  const std::string oneBlock = WriteOneBlockImage(dir);
  const Walks shared = StallsOfWalks(manyRows, oneBlock, Processors::kShared);
  std::printf(
      "longest user-interface stall with %d rows updated at once (%d walks): median %.1f ms "
      "(%.1f-%.1f), target <= %.0f ms in every walk %s\n",
      manyRows, kManyRowsWalks, shared.stalls.median, shared.stalls.low, shared.stalls.high,
      kStallTargetMs, shared.stalls.high <= kStallTargetMs ? "PASS" : "MISS");
  PrintWorstGap(shared.worst);
  std::printf("  the walk's wall time: median %.2f s (%.2f-%.2f)\n", shared.seconds.median,
              shared.seconds.low, shared.seconds.high);
  met = met && shared.stalls.high <= kStallTargetMs;
  if (std::thread::hardware_concurrency() >= 2) {
    const Walks alone = StallsOfWalks(manyRows, oneBlock, Processors::kOwnForTheUi);
    std::printf(
        "the same with the user-interface thread alone on a processor (not a target): median "
        "%.1f ms (%.1f-%.1f)\n",
        alone.stalls.median, alone.stalls.low, alone.stalls.high);
    PrintWorstGap(alone.worst);
  }
  return met ? 0 : 1;
}
