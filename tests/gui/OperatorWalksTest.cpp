#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <cstdlib>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "console/VersionDialog.h"
#include "console/WalkRows.h"
#include "views/MessageLog.h"

namespace zandorui::testing {

namespace {

bool ProgressShown(ConsoleForm& form) {
  auto* bar = Control<QProgressBar>(form, 1012);
  return bar->isEnabled() && bar->value() > bar->minimum();
}

sim::SimConfig OneUnit(const std::string& firmware = "100", int answerDelayMs = 0) {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", firmware, {}}};
  config.answerDelayMs = answerDelayMs;
  return config;
}

QRect PlaceOf(QWidget* control) {
  return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
}

}  // namespace

void OperatorWalksTest::AUnitLeftOutIsSaidInTheRowTheSummaryAndTheLog() {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}, sim::SimUnit{1, "N8 ", "AC", "100", {}}};
  SimDevice device(config);
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Pair", device);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  const QString note = QStringLiteral("(unit 1 left out: no image of the file fits it)");
  QVERIFY2(desk.Status(row).startsWith(QStringLiteral("Device Update Successful")),
           qPrintable(desk.Status(row)));
  QVERIFY2(desk.Status(row).contains(note), qPrintable(desk.Status(row)));
  QCOMPARE(boxes.Texts().size(), 1);
  QVERIFY(boxes.Texts()[0].startsWith(QStringLiteral("Device Update Successful")));
  QVERIFY2(boxes.Texts()[0].contains(note), qPrintable(boxes.Texts()[0]));
  QVERIFY(desk.form.Log().Text().contains(note));
  QVERIFY(Control<QCheckBox>(desk.form, 1132)->isChecked());  // unit 0 was updated
}

void OperatorWalksTest::RowsSideBySideKeepTheirOwnProgressAndUnits() {
  SimDevice first(ThreeUnitHub());
  SimDevice second(ThreeUnitHub());
  SimDevice slow(OneUnit("100", 1));
  Desk desk;
  desk.form.SetRowsAtOnce(3);
  const std::size_t a = desk.AddTcpRow("A", first);
  const std::size_t b = desk.AddTcpRow("B", second);
  const std::size_t s = desk.AddTcpRow("Slow", slow);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  const QString done = QStringLiteral("Device Update Successful");
  QVERIFY(QTest::qWaitFor(
      [&] {
        return desk.Status(a) == done && desk.Status(b) == done &&
               desk.Status(s).contains(QLatin1Char('%'));
      },
      kWalkTimeoutMs));
  const QString early = desk.Status(s);
  // The panel names the running row and shows its one unit, not the others' three ticked ones.
  QCOMPARE(Control<QGroupBox>(desk.form, 1133)->title(), QStringLiteral("Slow : <Upgrade Status>"));
  QVERIFY(Control(desk.form, 1124)->isVisible());
  QVERIFY(!Control(desk.form, 1123)->isVisible());
  QVERIFY(!Control<QCheckBox>(desk.form, 1132)->isChecked());
  QVERIFY(QTest::qWaitFor([&] { return desk.Status(s) != early; }, 5000));  // it moves on alone
  QVERIFY(desk.WaitForTheWalk());
  desk.form.SetRowsAtOnce(1);
  QCOMPARE(desk.Status(s), done);
  QVERIFY(Control<QCheckBox>(desk.form, 1132)->isChecked());
}

void OperatorWalksTest::LoadingAFileWaitsForTheWalk() {
  SimDevice slow(OneUnit("100", 1));
  Desk desk;
  desk.AddTcpRow("Slow", slow);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(QTest::qWaitFor([&] { return ProgressShown(desk.form); }, kWalkTimeoutMs));
  QVERIFY(!Control(desk.form, 1007)->isEnabled());
  QVERIFY(!desk.form.LoadFile(QStringLiteral(ZANDOR_SAMPLES_DIR "/tzt-two-images.hex")));
  QCOMPARE(Control<QLabel>(desk.form, 1014)->text(), QStringLiteral("multi-unit.hex"));
  QVERIFY(!boxes.Texts().isEmpty());
  PressKey(Qt::Key_Escape);
  QVERIFY(desk.WaitForTheWalk());
  QVERIFY(Control(desk.form, 1007)->isEnabled());
}

void OperatorWalksTest::TheCloseGuardCoversEveryWalkThatWrites() {
  SimDevice slow(OneUnit("100", 1));
  Desk desk;
  desk.AddTcpRow("Slow", slow);
  BoxAnswerer boxes(QMessageBox::Yes);
  desk.form.ToggleAdvancedFunctionsOverride();
  QVERIFY(desk.form.AdvancedFunctions());
  boxes.SetAnswer(QMessageBox::No);
  for (int id : {1035, 1032}) {
    Click(Control(desk.form, id));
    QVERIFY(desk.form.DeviceWorkRunning());
    // The walk may ask its own questions meanwhile; count only the close guard's box.
    const auto guards = [&] {
      return boxes.Texts()
          .filter(QRegularExpression(QStringLiteral("^Device is in upgrading")))
          .size();
    };
    const qsizetype before = guards();
    QVERIFY(!desk.window.close());
    QCOMPARE(guards(), before + 1);
    desk.form.CancelDeviceWork();
    QVERIFY(desk.WaitForTheWalk());
  }
}

void OperatorWalksTest::EachWalkAndLoadStartsClean() {
  SimDevice slow(OneUnit("100", 1));
  SimDevice other(OneUnit("100", 1));
  Desk desk;
  const std::size_t first = desk.AddTcpRow("First", slow);
  const std::size_t second = desk.AddTcpRow("Second", other);
  desk.form.ListModel().SetOutcome(second, "Device Update Successful",
                                   false);  // from an earlier walk
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(QTest::qWaitFor([&] { return ProgressShown(desk.form); }, kWalkTimeoutMs));
  PressKey(Qt::Key_Escape);
  QVERIFY(desk.WaitForTheWalk());
  QCOMPARE(desk.Status(first), QStringLiteral("Cancelled at the operator's request"));
  QCOMPARE(desk.Status(second),
           QStringLiteral("Cancelled at the operator's request (not reached)"));

  // A walk that fails keeps nothing of the one before it; a load clears the rows and the panel.
  SimDevice hub(ThreeUnitHub());
  desk.form.ListModel().SetChecked(first, false);
  desk.form.ListModel().SetChecked(second, false);
  const std::size_t good = desk.AddTcpRow("Hub", hub);
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  const QString afterSuccess = Control<QGroupBox>(desk.form, 1011)->title();
  desk.form.ListModel().SetChecked(good, false);
  setenv("ZANDOR_COM_PORTS", "COM5=/dev/zandor-no-such-tty", 1);
  desk.AddRow("Missing", vel::kDefaultSerial, "5");
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  unsetenv("ZANDOR_COM_PORTS");
  QVERIFY(Control<QGroupBox>(desk.form, 1011)->title() != afterSuccess);
  QVERIFY(!Control<QGroupBox>(desk.form, 1011)->title().contains(QStringLiteral("Transmission")));
  QVERIFY(desk.form.LoadFile(kSample));
  QCOMPARE(desk.Status(good), QString());
  QCOMPARE(Control<QGroupBox>(desk.form, 1133)->title(), QStringLiteral("Update Status"));
  QVERIFY(!Control(desk.form, 1124)->isVisible());
}

void OperatorWalksTest::AMessageHoldsItsWorkerWhileOthersGoOn() {
  // A busy device's message ("System busy!") is an engine message like a block error's: its
  // worker waits for OK before it goes on, and only that worker.
  sim::SimConfig busy = ThreeUnitHub();
  busy.faults.busy = true;
  SimDevice device(busy);
  SimDevice hub(ThreeUnitHub());
  Desk desk;
  desk.form.SetRowsAtOnce(2);
  const std::size_t held = desk.AddTcpRow("Held", device);
  const std::size_t other = desk.AddTcpRow("Other", hub);
  // The box runs its own event loop: what the test sees while it is open, it sees from a timer.
  BoxAnswerer boxes;
  boxes.Hold(true);
  QElapsedTimer shown;
  boxes.OnBox([&](QMessageBox&) { shown.start(); });
  QString heldWhileOpen;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, &watcher, [&] {
    if (!shown.isValid() || !heldWhileOpen.isEmpty()) return;
    const bool otherDone = desk.Status(other) == QStringLiteral("Device Update Successful");
    if ((otherDone && shown.elapsed() > 300) || shown.elapsed() > 20000) {
      heldWhileOpen = otherDone ? desk.Status(held) : QStringLiteral("the other row stopped");
      boxes.Hold(false);
    }
  });
  watcher.start(10);
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  desk.form.SetRowsAtOnce(1);
  QCOMPARE(heldWhileOpen, QStringLiteral("Device updating ..."));
  QCOMPARE(desk.Status(held), QStringLiteral("System busy! Please try later!"));
  QVERIFY(boxes.Titles().value(0).contains(QStringLiteral("Held (127.0.0.1:")));
}

void OperatorWalksTest::QuestionsAndMessagesNameTheirDevice() {
  setenv("ZANDOR_COM_PORTS", "COM5=/dev/zandor-no-such-tty", 1);
  SimDevice hub(ThreeUnitHub());
  Desk desk;
  desk.AddRow("Missing", vel::kDefaultSerial, "5");
  const std::size_t row = desk.AddTcpRow("Hub", hub);
  BoxAnswerer boxes;
  QString dialogTitle;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, &operatorHand, [&] {
    auto* dialog = qobject_cast<VersionDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialogTitle = dialog->windowTitle();
    dialog->ClickOk();
  });
  operatorHand.start(5);
  Click(Control(desk.form, 1038));
  QVERIFY(desk.WaitForTheWalk());
  unsetenv("ZANDOR_COM_PORTS");
  QVERIFY2(boxes.Titles().value(0).contains(QStringLiteral("Missing (COM5)")),
           qPrintable(boxes.Titles().value(0)));
  const QString hubLabel = QStringLiteral("Hub (127.0.0.1:%1)")
                               .arg(QString::fromStdString(desk.form.List().Row(row).port));
  QVERIFY2(dialogTitle.contains(hubLabel), qPrintable(dialogTitle));
}

void OperatorWalksTest::LinuxErrorsSayWhatToDo() {
  setenv("ZANDOR_COM_PORTS", "COM5=/dev/zandor-no-such-tty", 1);
  Desk desk;
  const std::size_t row = desk.AddRow("Missing", vel::kDefaultSerial, "5");
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  unsetenv("ZANDOR_COM_PORTS");
  QVERIFY2(desk.Status(row).contains(QStringLiteral("/dev/zandor-no-such-tty")),
           qPrintable(desk.Status(row)));
  QVERIFY(desk.Status(row).contains(QStringLiteral("com-ports")));
  QVERIFY(desk.Status(row).contains(QStringLiteral("COM Ports...")));

  // The mapping is one right click away, without the override.
  MenuChooser menu(QString{});
  RightClickAt(&desk.form, QPoint(3, 3));
  QVERIFY(menu.Opened());
  QVERIFY(menu.Offered().contains(QStringLiteral("COM Ports...")));
}

void OperatorWalksTest::TheLayoutStaysPutDuringAWalk() {
  SimDevice hub(ThreeUnitHub(1));
  Desk desk;
  desk.AddTcpRow("Hub", hub);
  const std::vector<int> ids{1117, 1120, 1038, 1034, 1012};
  std::vector<QRect> before;
  for (int id : ids) before.push_back(PlaceOf(Control(desk.form, id)));
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(QTest::qWaitFor(
      [&] { return ProgressShown(desk.form) && Control(desk.form, 1122)->isVisible(); },
      kWalkTimeoutMs));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    QCOMPARE(PlaceOf(Control(desk.form, ids[i])), before[i]);
  }
  QVERIFY(desk.WaitForTheWalk());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    QCOMPARE(PlaceOf(Control(desk.form, ids[i])), before[i]);
  }
}

void OperatorWalksTest::ADowngradeIsNamed() {
  SimDevice newer(OneUnit("400"));  // the file carries 3.05
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Newer", newer);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  QVERIFY2(desk.Status(row).contains(QStringLiteral("downgrade")), qPrintable(desk.Status(row)));
  QVERIFY(desk.form.Log().Text().contains(QStringLiteral("downgrade")));
}

}  // namespace zandorui::testing
