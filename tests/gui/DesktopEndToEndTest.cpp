#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <memory>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "SimServer.h"
#include "app/MainWindow.h"
#include "common/Strings.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "console/VersionDialog.h"
#include "image/HexFileLoader.h"
#include "views/MessageLog.h"

namespace zandorui::testing {

namespace {

// Every segment the unit holds equals the file's memory map.
bool HoldsTheImage(const sim::ProgrammedUnit& unit) {
  vel::FirmwareFile file;
  vel::HexFileLoader(file).LoadPath(kSample.toStdString());
  const vel::VelMemMap& map = file.GetMemMap(0);
  if (!unit.runFrameSeen || unit.segments.empty()) return false;
  for (const auto& [number, bytes] : unit.segments) {
    const vel::VelSegment* image = map.Segment(static_cast<std::uint8_t>(number));
    if (image == nullptr || !std::equal(image->bytes.begin(), image->bytes.end(), bytes.begin())) {
      return false;
    }
  }
  return true;
}

}  // namespace

void DesktopEndToEndTest::UpdatesTheTickedDevicesFromTheForm() {
  SimDevice hub(ThreeUnitHub());
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Hub", hub);
  const std::size_t unticked = desk.AddRow("Unticked", "127.0.0.1", "9");
  desk.form.ListModel().SetChecked(unticked, false);
  QSignalSpy port(&desk.form, &ConsoleForm::PortActiveChanged);
  BoxAnswerer boxes;

  Click(Control(desk.form, 1034));
  QVERIFY(desk.form.DeviceWorkRunning());
  QVERIFY(Control(desk.form, 1013)->isVisible());
  QVERIFY(!Control(desk.form, 1034)->isEnabled());
  QCOMPARE(Control<QLabel>(desk.window, 101)->text(), QStringLiteral("Port ACTIVE"));
  QVERIFY(desk.WaitForTheWalk());

  QCOMPARE(desk.Status(row), QStringLiteral("Device Update Successful"));
  QCOMPARE(desk.Status(unticked), QString());
  QCOMPARE(Control<QGroupBox>(desk.form, 1133)->title(), QStringLiteral("Hub : <Upgrade Status>"));
  QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Device Update Successful")});
  QVERIFY(!Control(desk.form, 1013)->isVisible());
  QVERIFY(Control(desk.form, 1034)->isEnabled());
  QCOMPARE(Control<QLabel>(desk.window, 101)->text(), QStringLiteral("Port Inactive"));
  // Every status line reached the log, which keeps only its last hundred or so lines.
  QVERIFY(desk.form.Log().Text().contains(QStringLiteral("Sending Hex File : Block")));
  QVERIFY(desk.form.Log().Text().count(QLatin1Char('\n')) <= 101);

  hub.Stop();
  const auto programmed = hub.Device().Programmed();
  QCOMPARE(programmed.size(), std::size_t(3));
  for (const sim::ProgrammedUnit& unit : programmed) QVERIFY(HoldsTheImage(unit));
  QVERIFY(hub.Device().Violations().empty());
}

void DesktopEndToEndTest::ChecksADeviceAndWaitsForTheOperator() {
  SimDevice hub(ThreeUnitHub());
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Hub", hub);
  // The dialog runs its own event loop: the operator's part is played from a timer.
  bool openAfterAWhile = false;
  QString unitOne;
  QString statusWhileOpen;
  QTimer operatorHand;
  connect(&operatorHand, &QTimer::timeout, &operatorHand, [&] {
    auto* dialog = qobject_cast<VersionDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog->property("seen").toBool()) return;
    dialog->setProperty("seen", true);
    QTimer::singleShot(50, dialog, [&, dialog] {
      openAfterAWhile = dialog->isVisible();
      unitOne = Control<QLabel>(*dialog, 1090)->text();
      statusWhileOpen = desk.Status(row);
      Control<QPushButton>(*dialog, 1)->click();
    });
  });
  operatorHand.start(5);
  Click(Control(desk.form, 1038));
  QVERIFY(desk.WaitForTheWalk());
  QVERIFY(openAfterAWhile);  // a check run waits for the operator
  QCOMPARE(unitOne, QStringLiteral("KestaHWIII"));
  QCOMPARE(statusWhileOpen, QStringLiteral("Device checking ..."));
  QCOMPARE(desk.Status(row), QStringLiteral("Device Information Success"));
  hub.Stop();
  QVERIFY(hub.Device().Programmed().empty());
}

void DesktopEndToEndTest::FailuresShowInTheRowsAndNoSuccessBox() {
  setenv("ZANDOR_COM_PORTS", "COM5=/dev/zandor-no-such-tty", 1);
  SimDevice hub(ThreeUnitHub());
  sim::SimConfig busyConfig = ThreeUnitHub();
  busyConfig.faults.busy = true;
  SimDevice busy(busyConfig);
  Desk desk;
  const std::size_t missing = desk.AddRow("Missing", vel::kDefaultSerial, "5");
  const std::size_t busyRow = desk.AddTcpRow("Busy", busy);
  const std::size_t good = desk.AddTcpRow("Hub", hub);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  unsetenv("ZANDOR_COM_PORTS");
  QVERIFY(desk.Status(missing).startsWith(
      QString::fromStdString(vel::LoadString(vel::ids::kPortMissing))));
  QVERIFY(!desk.Status(missing).contains(QStringLiteral("Windows")));
  QCOMPARE(desk.Status(busyRow), QStringLiteral("System busy! Please try later!"));
  QCOMPARE(desk.Status(good), QStringLiteral("Device Update Successful"));
  QVERIFY(!boxes.Texts().contains(QStringLiteral("Device Update Successful")));
  QVERIFY(!desk.form.List().Row(missing).succeeded);
  QVERIFY(!desk.form.List().Row(busyRow).succeeded);
}

void DesktopEndToEndTest::CancelStopsALongSerialUpdate() {
  sim::SimConfig config = ThreeUnitHub();
  config.baud = 9600;  // some seconds for the whole file: long enough to stop in the middle
  SimDevice device(config);
  const std::string pty = device.StartPty();
  QVERIFY(!pty.empty());
  setenv("ZANDOR_COM_PORTS", ("COM4=" + pty).c_str(), 1);
  Desk desk;
  const std::size_t row = desk.AddRow("Serial", vel::kDefaultSerial, "4");
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  auto* bar = Control<QProgressBar>(desk.form, 1012);
  QTRY_VERIFY_WITH_TIMEOUT(bar->isEnabled() && bar->value() > bar->minimum(), 30000);
  PressKey(Qt::Key_Escape);
  QVERIFY(desk.WaitForTheWalk());
  unsetenv("ZANDOR_COM_PORTS");
  QCOMPARE(desk.Status(row), QStringLiteral("Cancelled at the operator's request"));
  QVERIFY(!boxes.Texts().contains(QStringLiteral("Device Update Successful")));
  device.Stop();
  for (const sim::ProgrammedUnit& unit : device.Device().Programmed()) QVERIFY(!unit.runFrameSeen);
}

void DesktopEndToEndTest::SeveralRowsAtOnceShowTheirOwnProgress() {
  SimDevice first(ThreeUnitHub());
  SimDevice second(ThreeUnitHub());
  Desk desk;
  desk.form.SetRowsAtOnce(2);
  const std::size_t a = desk.AddTcpRow("A", first);
  const std::size_t b = desk.AddTcpRow("B", second);
  auto* table = Control<DeviceTable>(desk.form, 1116);
  QStringList progressTexts;
  connect(table->model(), &QAbstractItemModel::dataChanged, table,
          [&](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            if (topLeft.column() > 5 || bottomRight.column() < 5) return;
            for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
              const QString text = CellText(*table, row, 5);
              if (text.contains(QLatin1Char('%'))) {
                progressTexts.append(QStringLiteral("%1:%2").arg(row).arg(text));
              }
            }
          });
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  desk.form.SetRowsAtOnce(1);
  QCOMPARE(desk.Status(a), QStringLiteral("Device Update Successful"));
  QCOMPARE(desk.Status(b), QStringLiteral("Device Update Successful"));
  QVERIFY(progressTexts.filter(QRegularExpression(QStringLiteral("^0:\\d+% "))).size() > 0);
  QVERIFY(progressTexts.filter(QRegularExpression(QStringLiteral("^1:\\d+% "))).size() > 0);
  QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Device Update Successful")});
  // Each row's percent is the share of its whole update: it never goes back, across its units
  // and programming waits, and it gets beyond the first unit's third.
  const QRegularExpression percentOf(QStringLiteral("^(\\d+):(\\d+)% "));
  std::map<int, int> highest;
  for (const QString& text : progressTexts) {
    const QRegularExpressionMatch match = percentOf.match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    const int row = match.captured(1).toInt();
    const int percent = match.captured(2).toInt();
    QVERIFY2(percent >= highest[row], qPrintable(text));
    highest[row] = percent;
  }
  QVERIFY(highest[0] > 50);
  QVERIFY(highest[1] > 50);
}

void DesktopEndToEndTest::TheCloseGuardKeepsARunningUpdate() {
  SimDevice hub(ThreeUnitHub());
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Hub", hub);
  // The operator presses Enter on the question: its default button answers.
  QTimer enter;
  QObject::connect(&enter, &QTimer::timeout, &enter, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr && box->isVisible()) PressKey(Qt::Key_Return);
  });
  enter.start(20);
  BoxAnswerer boxes(QMessageBox::NoButton);
  boxes.Hold(true);
  Click(Control(desk.form, 1034));
  QVERIFY(desk.form.UpdateRunning());
  QVERIFY(!desk.window.close());  // No is the default
  enter.stop();
  boxes.Hold(false);
  QVERIFY(desk.window.isVisible());
  QCOMPARE(boxes.Texts().value(0),
           QStringLiteral("Device is in upgrading, closing this window may cause unrecoverable "
                          "damage!!!\n\n Close anyway?"));
  boxes.SetAnswer(QMessageBox::Ok);
  QVERIFY(desk.WaitForTheWalk());
  QCOMPARE(desk.Status(row), QStringLiteral("Device Update Successful"));
  boxes.SetAnswer(QMessageBox::No);  // the rows added here are not saved: no need to
  QVERIFY(desk.window.close());      // nothing runs: no question about devices
  QCOMPARE(boxes.Texts().filter(QStringLiteral("Device is in upgrading")).size(), 1);
}

}  // namespace zandorui::testing
