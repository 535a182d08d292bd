// The boxes and windows a walk opens for the operator against the walk's end: a cancel closes
// those of its rows, and closing the main window lets every running row end, in the log and the
// report, before the window goes.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "common/Strings.h"
#include "console/VersionDialog.h"
#include "console/WalkController.h"
#include "devices/DeviceJobsSeam.h"
#include "devices/WalkReport.h"
#include "engine/VelUpdateDoc.h"
#include "views/MessageLog.h"
#include "widgets/AppStyle.h"

namespace zandorui {

// Reaches the documents of a form's walks, as DeviceJobsSeam does for the core's tests.
struct WalkControllerSeam {
  static void PrepareDocuments(WalkController& walks,
                               std::function<void(vel::CVelUpdateDoc&)> prepare) {
    vel::DeviceJobsSeam::PrepareDocuments(*walks.jobs_, std::move(prepare));
  }
};

namespace testing {

namespace {

const QString kCancelled = QStringLiteral("Cancelled at the operator's request");

// A hub that gives no serial number: its version window waits for the operator to type one.
sim::SimConfig HubWithoutSerialNumber() {
  sim::SimConfig config = ThreeUnitHub();
  config.serialNumber.reset();
  return config;
}

// A hub that falls silent after the first block-ID frame: the host sends its frames again and
// again, and asks the operator whether to give up.
sim::SimConfig HubThatFallsSilent() {
  sim::SimConfig config = ThreeUnitHub();
  config.faults.silenceFromFrame = 1;
  return config;
}

WalkController& WalksOf(Desk& desk) { return *desk.form.findChild<WalkController*>(); }

// Reads of a silent device end sooner: the not-responding question comes within seconds.
void ShortenTheLinksWaits(Desk& desk) {
  WalkControllerSeam::PrepareDocuments(
      WalksOf(desk), [](vel::CVelUpdateDoc& doc) { doc.Link().Tcp().SetWaitStep(50); });
}

bool NoOperatorWindowOpen() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && (qobject_cast<VersionDialog*>(window) != nullptr ||
                                qobject_cast<QMessageBox*>(window) != nullptr)) {
      return false;
    }
  }
  return true;
}

// Plays the operator from a timer (a check run's window has an event loop of its own): once
// the first version window is open it runs `act`; once the walk has ended, it types into the
// window if it is still open, as a person would who saw it stay, and closes it.
class VersionWindowHand : public QObject {
 public:
  VersionWindowHand(Desk& desk, std::function<void()> act) : desk_(desk), act_(std::move(act)) {
    connect(&timer_, &QTimer::timeout, this, &VersionWindowHand::Look);
    timer_.start(5);
  }
  bool Opened() const { return opened_; }
  bool StayedAfterTheWalk() const { return stayed_; }

 private:
  void Look() {
    if (window_ == nullptr && !opened_) {
      window_ = qobject_cast<VersionDialog*>(QApplication::activeModalWidget());
      if (window_ == nullptr) return;
      opened_ = true;
      act_();
      return;
    }
    if (desk_.form.DeviceWorkRunning() || window_ == nullptr || !window_->isVisible()) return;
    stayed_ = true;
    TypeText(QStringLiteral("SN1"));
    window_->reject();
  }

  Desk& desk_;
  std::function<void()> act_;
  QTimer timer_;
  QPointer<VersionDialog> window_;
  bool opened_ = false;
  bool stayed_ = false;
};

QString ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

void OperatorQuestionsTest::ACancelClosesTheWindowsOfItsRows() {
  // An update run's version window opens beside the queue; a check run's runs its own loop.
  for (const int walkButton : {1034, 1038}) {
    SimDevice device(HubWithoutSerialNumber());
    Desk desk;
    const std::size_t row = desk.AddTcpRow("Bare", device);
    BoxAnswerer boxes;
    VersionWindowHand hand(desk, [&] { desk.form.CancelDeviceWork(); });
    Click(Control(desk.form, walkButton));
    QVERIFY(desk.WaitForTheWalk());
    QVERIFY(hand.Opened());
    QVERIFY2(!hand.StayedAfterTheWalk(), "the version window outlived its walk");
    QVERIFY(NoOperatorWindowOpen());
    QCOMPARE(desk.Status(row), kCancelled);
    device.Stop();
    for (const sim::ProgrammedUnit& unit : device.Device().Programmed()) {
      QVERIFY(!unit.runFrameSeen);
    }
  }

  // The not-responding question closes too, answered No, and the log says so.
  SimDevice slow(HubThatFallsSilent());
  Desk desk;
  ShortenTheLinksWaits(desk);
  const std::size_t row = desk.AddTcpRow("Slow", slow);
  BoxAnswerer boxes;
  boxes.Hold(true);
  boxes.OnBox([&](QMessageBox& box) {
    if (box.text() == Qs(vel::text::kNotResponding)) desk.form.CancelDeviceWork();
  });
  // A box still open once the walk has ended would hold the test: it is noted and let go.
  bool boxOutlivedTheWalk = false;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, &watcher, [&] {
    if (desk.form.DeviceWorkRunning() || NoOperatorWindowOpen()) return;
    boxOutlivedTheWalk = true;
    boxes.Hold(false);
  });
  watcher.start(5);
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  QCOMPARE(boxes.Texts(), QStringList{Qs(vel::text::kNotResponding)});
  QVERIFY2(!boxOutlivedTheWalk, "the question outlived its walk");
  QVERIFY(NoOperatorWindowOpen());
  QVERIFY2(desk.Status(row).startsWith(kCancelled), qPrintable(desk.Status(row)));
  const QString label = WalksOf(desk).RowLabel(row);
  const QString log = desk.form.Log().Text();
  QVERIFY2(log.contains(label + QStringLiteral(": Answered: No (the walk was cancelled)")),
           qPrintable(log));
}

void OperatorQuestionsTest::ClosingMidWalkEndsEveryRowInTheLogFirst() {
  SimDevice slow(HubThatFallsSilent());
  Desk desk;
  const QString logPath = QDir(desk.folder.path()).filePath(QStringLiteral("zandor.log"));
  QString error;
  QVERIFY2(desk.form.Log().SetLogFile(logPath, &error), qPrintable(error));
  ShortenTheLinksWaits(desk);
  const std::size_t row = desk.AddTcpRow("Slow", slow);
  const QString label = WalksOf(desk).RowLabel(row);
  // The operator waits on when the device does not answer, then closes the window anyway.
  BoxAnswerer boxes(QMessageBox::No);
  boxes.OnBox([&](QMessageBox& box) {
    boxes.SetAnswer(box.objectName() == QStringLiteral("closeGuard") ? QMessageBox::Yes
                                                                     : QMessageBox::No);
  });
  Click(Control(desk.form, 1034));
  QTRY_VERIFY_WITH_TIMEOUT(boxes.Texts().contains(Qs(vel::text::kNotResponding)), kWalkTimeoutMs);
  QTRY_VERIFY(NoOperatorWindowOpen());
  QVERIFY(desk.form.UpdateRunning());

  QVERIFY(desk.window.close());
  QVERIFY(!desk.form.DeviceWorkRunning());
  QVERIFY(boxes.Texts().contains(
      QStringLiteral("Device is in upgrading, closing this window may cause unrecoverable "
                     "damage!!!\n\n Close anyway?")));

  // The log file holds the question, the answer and the row's outcome, in that order.
  const QString log = ReadText(logPath);
  const qsizetype asked =
      log.indexOf(label + QStringLiteral(": Asked: ") + Qs(vel::text::kNotResponding).simplified());
  const qsizetype answered = log.indexOf(label + QStringLiteral(": Answered: No\n"));
  const qsizetype ended = log.indexOf(label + QStringLiteral(": ") + kCancelled, answered);
  QVERIFY2(asked >= 0 && answered > asked && ended > answered, qPrintable(log));

  // The walk's report saw the row end.
  const std::vector<vel::ReportLine> report = WalksOf(desk).ReportLines();
  QVERIFY(!report.empty());
  for (const vel::ReportLine& line : report) {
    QCOMPARE(QString::fromStdString(line.outcome), QString::fromLatin1(vel::kReportCancelled));
    QVERIFY(QString::fromStdString(line.statusText).startsWith(kCancelled));
    QVERIFY(!line.end.empty());
  }

  // The device was in the middle of a transfer and never got a run frame.
  slow.Stop();
  QVERIFY(slow.Device().FramesReceived() > 0);
  for (const sim::ProgrammedUnit& unit : slow.Device().Programmed()) QVERIFY(!unit.runFrameSeen);
}

}  // namespace testing
}  // namespace zandorui
