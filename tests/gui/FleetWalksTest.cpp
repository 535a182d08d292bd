#include <QCheckBox>
#include <QFile>
#include <QSpinBox>
#include <QTest>
#include <string>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "common/Strings.h"
#include "devices/WalkReport.h"
#include "support/UnitHoldings.h"
#include "widgets/AppStyle.h"

namespace zandorui::testing {

namespace {

// Replaces a spin box's text by keys.
void TypeInto(QSpinBox* box, const QString& text) {
  box->setFocus();
  QTRY_VERIFY(box->hasFocus());
  PressKey(Qt::Key_A, Qt::ControlModifier);
  TypeText(text);
  PressKey(Qt::Key_Return);
}

}  // namespace

void FleetWalksTest::TheWalkSettingsReach256AndAreKept() {
  {
    Desk desk;
    TypeInto(desk.form.findChild<QSpinBox*>(QStringLiteral("rowsAtOnce")), QStringLiteral("256"));
    TypeInto(desk.form.findChild<QSpinBox*>(QStringLiteral("canaryRows")), QStringLiteral("3"));
    Click(desk.form.findChild<QCheckBox*>(QStringLiteral("stopOnFailure")));
    QCOMPARE(desk.form.findChild<QSpinBox*>(QStringLiteral("rowsAtOnce"))->value(), 256);
  }
  Desk again;
  QCOMPARE(again.form.findChild<QSpinBox*>(QStringLiteral("rowsAtOnce"))->value(), 256);
  QCOMPARE(again.form.findChild<QSpinBox*>(QStringLiteral("canaryRows"))->value(), 3);
  QVERIFY(again.form.findChild<QCheckBox*>(QStringLiteral("stopOnFailure"))->isChecked());
  again.form.SetRowsAtOnce(1);
  again.form.SetCanaryRows(0);
  again.form.SetStopOnFailure(false);
}

void FleetWalksTest::AStagedWalkIsReportedAndItsFailuresRetried() {
  SimDevice hub(ThreeUnitHub());
  sim::SimConfig busyConfig = ThreeUnitHub();
  busyConfig.faults.busy = true;
  SimDevice busy(busyConfig);
  SimDevice later(ThreeUnitHub());
  Desk desk;
  const std::size_t canary = desk.AddTcpRow("Hub", hub);
  const std::size_t failing = desk.AddTcpRow("Busy", busy);
  const std::size_t notReached = desk.AddTcpRow("Later", later);
  const std::size_t spare = desk.AddRow("Spare", "127.0.0.1", "9");
  desk.form.ListModel().SetChecked(spare, false);
  desk.form.SetCanaryRows(1);
  desk.form.SetStopOnFailure(true);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  desk.form.SetCanaryRows(0);
  desk.form.SetStopOnFailure(false);
  QCOMPARE(desk.Status(canary), QStringLiteral("Device Update Successful"));
  QCOMPARE(desk.Status(failing), QStringLiteral("System busy! Please try later!"));
  QCOMPARE(desk.Status(notReached), Qs(vel::text::kNotReachedAfterFailure));

  const QString path = QDir(desk.folder.path()).filePath(QStringLiteral("walk.csv"));
  AnswerNextFileDialog(path);
  ChooseFromTheMenu(desk.form, QStringLiteral("Save Report..."));
  QTRY_VERIFY(QFile::exists(path));
  QTRY_VERIFY(boxes.Texts().contains(QStringLiteral("The report was saved to %1.").arg(path)));
  const auto lines = vel::ReadReportFile(path.toStdString());
  QVERIFY2(lines.ok(), lines.error().c_str());
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QVERIFY(file.readLine().startsWith("row,"));  // the CSV form, by the name
  QStringList outcomes;
  for (const vel::ReportLine& line : *lines) {
    if (outcomes.isEmpty() || outcomes.back() != Qs(line.name + " " + line.outcome)) {
      outcomes.append(Qs(line.name + " " + line.outcome));
    }
  }
  QCOMPARE(outcomes, (QStringList{QStringLiteral("Hub success"), QStringLiteral("Busy failed"),
                                  QStringLiteral("Later not-reached")}));

  // A report refused over the device list names the file it did not write.
  const QByteArray listBefore = Contents(desk.ListPath());
  AnswerNextFileDialog(desk.ListPath());
  ChooseFromTheMenu(desk.form, QStringLiteral("Save Report..."));
  const QString refused = QStringLiteral("The report was not saved to %1: ").arg(desk.ListPath());
  QTRY_VERIFY2(!boxes.Texts().filter(refused).isEmpty(),
               qPrintable(boxes.Texts().join(QLatin1Char('|'))));
  QCOMPARE(Contents(desk.ListPath()), listBefore);

  desk.form.ListModel().SetChecked(canary, true);
  desk.form.ListModel().SetChecked(spare, true);
  ChooseFromTheMenu(desk.form, QStringLiteral("Retry Failed"));
  QTRY_VERIFY(desk.form.List().Row(failing).checked);
  QVERIFY(desk.form.List().Row(notReached).checked);
  QVERIFY(!desk.form.List().Row(canary).checked);
  QVERIFY(!desk.form.List().Row(spare).checked);
}

void FleetWalksTest::ACutUpdateSaysToRunItAgain() {
  sim::SimConfig config = ThreeUnitHub();
  config.faults.powerCutAtFrame = 500;
  SimDevice device(config);
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Hub", device);
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QVERIFY(desk.WaitForTheWalk());
  const QString status = desk.Status(row);
  QVERIFY2(status.contains(Qs(vel::text::kUpdateInterrupted)), qPrintable(status));
  QVERIFY(!desk.form.List().Row(row).succeeded);
  // The Status says what each unit holds, as the device's memory has it.
  device.Stop();
  const vel::testing::FileImages file(kSample.toStdString());
  QVERIFY(file.Loaded());
  for (int u = 0; u < 3; ++u) {
    const vel::UnitOutcome held = vel::testing::HeldByUnit(device.Device(), u, file.Image(0));
    QVERIFY2(status.contains(QStringLiteral("unit %1 %2").arg(u).arg(vel::UnitOutcomeText(held))),
             qPrintable(status));
  }
}

}  // namespace zandorui::testing
