#include <QSignalSpy>
#include <QTest>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "common/Strings.h"
#include "console/DeviceListModel.h"
#include "console/WalkController.h"
#include "support/JobRecorder.h"
#include "widgets/AppStyle.h"

namespace zandorui::testing {

namespace {

vel::JobOptions Walk(vel::JobKind kind) {
  vel::JobOptions options;
  options.kind = kind;
  options.firmwarePath = kSample.toStdString();
  return options;
}

}  // namespace

void WalkControllerTest::NothingStartsWithoutATickedRowOrWhileAWalkRuns() {
  DeviceListModel rows;
  WalkController walks(rows);
  QSignalSpy started(&walks, &WalkController::Started);
  QCOMPARE(walks.Start(Walk(vel::JobKind::kUpdate)), WalkController::StartResult::kNoRowTicked);
  rows.AddDevice();
  QCOMPARE(walks.Start(Walk(vel::JobKind::kUpdate)), WalkController::StartResult::kNoRowTicked);
  QCOMPARE(started.count(), 0);
  QVERIFY(!walks.Running());

  AddTickedRow(rows, "Closed", "127.0.0.1", "1");
  QSignalSpy finished(&walks, &WalkController::Finished);
  QCOMPARE(walks.Start(Walk(vel::JobKind::kUpdate)), WalkController::StartResult::kStarted);
  QCOMPARE(started.count(), 1);
  // Until its end is applied on this thread the walk runs, whatever its workers did meanwhile.
  QVERIFY(walks.Running());
  QCOMPARE(walks.Start(Walk(vel::JobKind::kCheck)), WalkController::StartResult::kRefused);
  QVERIFY(finished.wait(kWalkTimeoutMs));
  QVERIFY(!walks.Running());
  QCOMPARE(walks.Kind(), vel::JobKind::kUpdate);  // the refused start changed nothing
}

void WalkControllerTest::AFailedRowKeepsItsOutcomeInTheListAndTheLog() {
  DeviceListModel rows;
  const vel::DeviceList& list = rows.List();
  const std::size_t closed = AddTickedRow(rows, "Closed", "127.0.0.1", "1");
  rows.SetOutcome(closed, "Device Update Success", true);  // the last walk's, to be replaced
  WalkController walks(rows);
  QSignalSpy status(&rows, &QAbstractItemModel::dataChanged);
  QSignalSpy log(&walks, &WalkController::LogLine);
  QSignalSpy finished(&walks, &WalkController::Finished);
  QCOMPARE(walks.Start(Walk(vel::JobKind::kUpdate)), WalkController::StartResult::kStarted);
  // The row starts clean, before any worker has said a word.
  QCOMPARE(list.Row(closed).status, std::string());
  QVERIFY(finished.wait(kWalkTimeoutMs));

  QVERIFY(!status.isEmpty());  // the view was told
  const QString outcome =
      rows.index(static_cast<int>(closed), DeviceListModel::kStatusColumn).data().toString();
  QVERIFY(!outcome.isEmpty());
  QCOMPARE(list.Row(closed).status, outcome.toStdString());
  QVERIFY(!list.Row(closed).succeeded);
  bool logged = false;
  for (const QList<QVariant>& line : log) {
    logged = logged || line[0].toString() == QStringLiteral("Closed (127.0.0.1:1): ") + outcome;
  }
  QVERIFY2(logged, qPrintable(outcome));
  QCOMPARE(finished[0][0].toString(), QStringLiteral("0 of 1 ticked devices succeeded."));
  QCOMPARE(finished[0][1].toString(), QString());  // no success box for a failed update
}

void WalkControllerTest::AnUpdateShowsItsUnitsAndEndsWithTheSuccessBox() {
  SimDevice hub(ThreeUnitHub());
  DeviceListModel rows;
  const vel::DeviceList& list = rows.List();
  const std::size_t row = AddTickedRow(rows, "Hub", "127.0.0.1", std::to_string(hub.StartTcp()));
  WalkController walks(rows);
  int asked = 0;
  connect(&walks, &WalkController::QuestionAsked, &walks,
          [&](std::size_t, const std::shared_ptr<vel::JobQuestion>& question) {
            ++asked;
            vel::testing::JobRecorder().Answer(*question);  // as the automatic confirmation
          });
  std::size_t unitsShown = 0;
  connect(&walks, &WalkController::PanelChanged, &walks, [&](std::size_t, const RowView& view) {
    unitsShown = std::max(unitsShown, view.units.size());
  });
  QSignalSpy finished(&walks, &WalkController::Finished);
  QCOMPARE(walks.Start(Walk(vel::JobKind::kUpdate)), WalkController::StartResult::kStarted);
  QVERIFY(finished.wait(kWalkTimeoutMs));
  QCOMPARE(asked, 1);  // the version window, which an update run confirms itself
  QCOMPARE(unitsShown, std::size_t(3));
  QVERIFY(list.Row(row).succeeded);
  QCOMPARE(finished[0][0].toString(), QStringLiteral("1 of 1 ticked devices succeeded."));
  const QString summary = finished[0][1].toString();
  QVERIFY2(summary.startsWith(Qs(vel::LoadString(vel::ids::kUpdateSuccessful))),
           qPrintable(summary));
  hub.Stop();
  QVERIFY(!hub.Device().Programmed().empty());
}

}  // namespace zandorui::testing
