#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "console/DeviceListModel.h"

namespace zandorui::testing {

namespace {

constexpr const char* kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";
using Model = DeviceListModel;

// A list of named rows under a model whose every signal is checked for consistency.
struct ModelledList {
  explicit ModelledList(std::initializer_list<const char*> names) {
    for (const char* name : names) AddTickedRow(model, name, "10.0.0.5", "3000");
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

  Model model;
  const vel::DeviceList& list = model.List();
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
  for (std::size_t r = 0; r < 5; ++r) {
    rows.model.SetOutcome(r, "status " + std::to_string(r), false);
  }
  QSignalSpy removed(&rows.model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy reset(&rows.model, &QAbstractItemModel::modelReset);

  rows.model.DeleteRow(1);
  QCOMPARE(rows.Statuses(), (QStringList{"status 0", "status 2", "status 3", "status 4"}));
  QCOMPARE(rows.Text(1, Model::kNameColumn), QStringLiteral("c"));

  // Two runs of ticked rows (a, and d e) go; c keeps its text in its new place.
  rows.model.SetChecked(1, false);
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
  rows.model.SetOutcome(0, "Device Update Successful", true);
  rows.model.CopyRow(0);
  rows.model.SetPasteTarget(1);
  QVERIFY(rows.model.PasteDevice());
  QCOMPARE(rows.Text(1, Model::kNameColumn), QStringLiteral("c"));
  QCOMPARE(rows.Statuses(), (QStringList{"Device Update Successful", "Device Update Successful"}));
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

void DeviceListModelTest::ARowNotReadWholeShowsWhyAndKeepsItsEmptyCells() {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("KestaLST.txt"));
  std::string stored = "A!127.0.0.1!41003!<Default No Encryption>!CutSer!<Default Serial>";
  for (char& c : stored) c = static_cast<char>(c + 4);
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(stored.data(), static_cast<qint64>(stored.size()));
  file.close();
  ModelledList rows{};
  QVERIFY(rows.model.Load(path.toStdString()));
  QCOMPARE(rows.model.rowCount(), 2);
  // The port and key the file never held are shown as nothing, not as a COM port and no key.
  QCOMPARE(rows.Text(1, Model::kPortColumn), QString());
  QCOMPARE(rows.Text(1, Model::kKeyColumn), QString());
  QVERIFY2(rows.Text(1, Model::kStatusColumn)
               .startsWith(QStringLiteral("Not used: the list file "
                                          "ends inside this row")),
           qPrintable(rows.Text(1, Model::kStatusColumn)));
  // A walk never takes it.
  const std::optional<vel::JobRow> taken = rows.model.Live()->TickedRow(1);
  QVERIFY(!taken.has_value() || !taken->target.has_value());
}

void DeviceListModelTest::ThePasteTargetIsMarkedAndFollowsItsRow() {
  ModelledList rows{"a", "b", "c"};
  rows.model.CopyRow(0);
  rows.model.SetPasteTarget(2);
  const auto marked = [&](int row) {
    return rows.model.index(row, Model::kNameColumn).data(Qt::BackgroundRole).isValid();
  };
  QVERIFY(marked(2) && !marked(0) && !marked(1));
  QVERIFY(!rows.model.index(2, Model::kNameColumn).data(Qt::ToolTipRole).toString().isEmpty());
  // Another program's rows merged in before them: the target is still row "c".
  std::vector<vel::DeviceEntry> merged = rows.list.Rows();
  merged.insert(merged.begin(), merged[1]);
  merged.front().name = "new";
  QVERIFY(rows.model.ReplaceRows(merged));
  QVERIFY(marked(3) && !marked(2));
  QVERIFY(rows.model.PasteDevice());
  QCOMPARE(rows.list.Row(3).name, std::string("a"));
  // A long Status is read whole in its tip.
  const std::string longText(400, 'x');
  rows.model.SetOutcome(1, longText, false);
  QCOMPARE(rows.model.index(1, Model::kStatusColumn).data(Qt::ToolTipRole).toString().size(), 400);
}

void DeviceListModelTest::WalksReadTheRowsAsTheyStandNow() {
  ModelledList rows{"a", "b"};
  const auto live = rows.model.Live();
  QVERIFY(live->TickedRow(1).has_value());
  rows.model.SetChecked(1, false);
  QVERIFY(!live->TickedRow(1).has_value());
  rows.model.SetChecked(1, true);
  QVERIFY(rows.model.SetCell(1, Model::kPortColumn, "4001"));
  const std::optional<vel::JobRow> row = live->TickedRow(1);
  QVERIFY(row && row->target);
  QCOMPARE(row->target->port, std::string("4001"));
}

}  // namespace zandorui::testing
