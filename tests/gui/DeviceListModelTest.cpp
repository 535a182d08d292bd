#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include "GuiTests.h"
#include "console/DeviceListModel.h"
#include "support/DeviceRows.h"

namespace zandorui::testing {

namespace {

constexpr const char* kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
using Model = DeviceListModel;

// A list of named rows under a model whose every signal is checked for consistency.
struct ModelledList {
  explicit ModelledList(std::initializer_list<const char*> names) {
    for (const char* name : names) vel::testing::AddTickedRow(list, name, "10.0.0.5", "3000");
    model.Reload();
  }
  QString Text(int row, int column) const { return model.index(row, column).data().toString(); }
  QStringList Statuses() const {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r) texts.append(Text(r, Model::kStatusColumn));
    return texts;
  }
  bool Set(int row, int column, const QString& text) {
    return model.setData(model.index(row, column), text, Qt::EditRole);
  }

  vel::DeviceList list;
  Model model{list};
  QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

}  // namespace

void DeviceListModelTest::ARefusedEditChangesNothing() {
  ModelledList rows{"tcp"};
  QSignalSpy refused(&rows.model, &Model::EditRefused);
  QSignalSpy changed(&rows.model, &QAbstractItemModel::dataChanged);
  // A "!" (the core's rule), an address no device has, a TCP port out of range (the row's).
  const std::vector<std::pair<int, QString>> refusals{{Model::kNameColumn, "a!b"},
                                                      {Model::kAddressColumn, "10.0.0"},
                                                      {Model::kPortColumn, "70000"},
                                                      {Model::kKeyColumn, "00-11"}};
  for (const auto& [column, text] : refusals) {
    const QString before = rows.Text(0, column);
    QVERIFY(!rows.Set(0, column, text));
    QCOMPARE(rows.Text(0, column), before);
  }
  QCOMPARE(refused.size(), 4);
  for (const QList<QVariant>& reason : refused) QVERIFY(!reason.at(0).toString().isEmpty());
  QCOMPARE(changed.size(), 0);
  const vel::DeviceEntry& entry = rows.list.Row(0);
  QCOMPARE(entry.name, std::string("tcp"));
  QCOMPARE(entry.address, std::string("10.0.0.5"));
  QCOMPARE(entry.port, std::string("3000"));
  QCOMPARE(entry.key, std::string(vel::kNoEncryption));
  // The Status and the check box take no text.
  QVERIFY(!rows.Set(0, Model::kStatusColumn, "typed"));
  QVERIFY(!rows.Set(0, Model::kCheckColumn, "typed"));
  QCOMPARE(rows.Text(0, Model::kStatusColumn), QString());
}

void DeviceListModelTest::AStoredEditShowsTheWholeRowAgain() {
  ModelledList rows{"tcp"};
  QVERIFY(rows.Set(0, Model::kKeyColumn, kKey));
  QCOMPARE(rows.model.index(0, Model::kKeyColumn).data(Model::kChoicesRole).toStringList(),
           (QStringList{vel::kNoEncryption, kKey}));
  QSignalSpy changed(&rows.model, &QAbstractItemModel::dataChanged);
  // Turning the row serial also drops its key: both cells are shown again.
  QVERIFY(rows.Set(0, Model::kAddressColumn, vel::kDefaultSerial));
  QCOMPARE(rows.Text(0, Model::kKeyColumn), QString::fromLatin1(vel::kNoEncryption));
  QCOMPARE(changed.size(), 1);
  const auto topLeft = changed[0][0].value<QModelIndex>();
  const auto bottomRight = changed[0][1].value<QModelIndex>();
  QVERIFY(topLeft.column() <= Model::kAddressColumn && bottomRight.column() >= Model::kKeyColumn);
  QCOMPARE(rows.list.Row(0).address, std::string(vel::kDefaultSerial));
}

void DeviceListModelTest::StatusTextsMoveWithTheirRows() {
  ModelledList rows{"a", "b", "c", "d", "e"};
  // A text the core's list never holds (a row waiting for the operator) is kept all the same.
  for (int r = 0; r < 5; ++r) rows.model.SetStatus(r, QStringLiteral("status %1").arg(r));
  QSignalSpy removed(&rows.model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy reset(&rows.model, &QAbstractItemModel::modelReset);

  rows.model.DeleteRow(1);
  QCOMPARE(rows.Statuses(), (QStringList{"status 0", "status 2", "status 3", "status 4"}));
  QCOMPARE(rows.Text(1, Model::kNameColumn), QStringLiteral("c"));

  // Two runs of ticked rows (a, and d e) go; c keeps its text in its new place.
  rows.list.SetChecked(1, false);
  rows.model.DeleteCheckedRows();
  QCOMPARE(rows.Statuses(), QStringList{"status 2"});
  QCOMPARE(rows.list.Count(), std::size_t(1));
  QCOMPARE(rows.list.Row(0).name, std::string("c"));
  QCOMPARE(removed.size(), 3);

  QSignalSpy inserted(&rows.model, &QAbstractItemModel::rowsInserted);
  rows.model.AddDevice();
  QCOMPARE(inserted.size(), 1);
  QCOMPARE(rows.Statuses(), (QStringList{"status 2", QString()}));

  // A paste brings the copied row's cells into the target, its Status as the list holds it.
  rows.list.SetStatus(0, "Device Update Successful");
  rows.list.CopyDevice(0);
  rows.list.SetPasteTarget(1);
  QVERIFY(rows.model.PasteDevice());
  QCOMPARE(rows.Text(1, Model::kNameColumn), QStringLiteral("c"));
  QCOMPARE(rows.Statuses(), (QStringList{"status 2", "Device Update Successful"}));
  QCOMPARE(reset.size(), 0);  // nothing above reads the whole list again
}

void DeviceListModelTest::CheckStatesRoundTripToTheList() {
  ModelledList rows{"a", "b"};
  const QModelIndex box = rows.model.index(1, Model::kCheckColumn);
  QVERIFY(rows.model.flags(box) & Qt::ItemIsUserCheckable);
  QVERIFY(!(rows.model.flags(box) & Qt::ItemIsEditable));
  QVERIFY(!(rows.model.flags(rows.model.index(1, Model::kStatusColumn)) & Qt::ItemIsEditable));
  QCOMPARE(box.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
  QVERIFY(rows.model.setData(box, Qt::Unchecked, Qt::CheckStateRole));
  QVERIFY(!rows.list.Row(1).checked);
  QVERIFY(rows.list.Row(0).checked);
  QCOMPARE(box.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);

  QSignalSpy changed(&rows.model, &QAbstractItemModel::dataChanged);
  rows.model.SetAllChecked(true);
  QVERIFY(rows.list.Row(1).checked);
  QCOMPARE(box.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
  QCOMPARE(changed.size(), 1);
  rows.model.SetAllChecked(false);
  QVERIFY(!rows.list.Row(0).checked && !rows.list.Row(1).checked);
}

void DeviceListModelTest::RowsChangedBehindTheModelWaitForAReload() {
  ModelledList rows{"a", "b"};
  rows.model.SetStatus(1, QStringLiteral("waiting"));
  // The view's rows stay as they were announced: a row gone from the list shows nothing.
  rows.list.DeleteSelectedDevice(1);
  QCOMPARE(rows.model.rowCount(), 2);
  QVERIFY(!rows.model.index(1, Model::kNameColumn).data().isValid());
  QVERIFY(!rows.Set(1, Model::kNameColumn, "late"));
  rows.model.SetStatus(1, QStringLiteral("late"));
  rows.model.Reload();
  QCOMPARE(rows.model.rowCount(), 1);
  QCOMPARE(rows.Statuses(), QStringList{QString()});
}

}  // namespace zandorui::testing
