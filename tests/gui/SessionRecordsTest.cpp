#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"
#include "SessionReplay.h"
#include "link/SessionRecord.h"
#include "support/CutSamples.h"

namespace zandorui::testing {

namespace {

constexpr int kRecordSessions = 1151;
constexpr int kRecordFolder = 1152;
constexpr int kChooseRecordFolder = 1153;
const std::string kKey = "00112233445566778899AABBCCDDEEFF";
const std::string kDashedKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";

// The settings are kept between runs of the program: a test leaves them as it found them.
struct RecordSettingCleared {
  ~RecordSettingCleared() {
    QSettings settings;
    settings.remove(QStringLiteral("rowsAtOnce"));
    settings.remove(QStringLiteral("recordSessions"));
    settings.remove(QStringLiteral("recordFolder"));
  }
};

// Every entry of a folder, hidden ones included.
QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Replaces the folder's text by keys.
void TypeFolder(ConsoleForm& form, const QString& folder) {
  Click(Control(form, kRecordFolder));
  PressKey(Qt::Key_A, Qt::ControlModifier);
  TypeText(folder);
}

// Starts an update from the form and expects it refused with a box that says `why`.
void ExpectRefused(Desk& desk, const QString& why) {
  BoxAnswerer boxes;
  Click(Control(desk.form, 1034));
  QTRY_COMPARE(boxes.Texts().size(), 1);
  QVERIFY2(boxes.Texts()[0].startsWith(QStringLiteral("Sessions cannot be recorded in")),
           qPrintable(boxes.Texts()[0]));
  QVERIFY2(boxes.Texts()[0].contains(why), qPrintable(boxes.Texts()[0]));
  QVERIFY(!desk.form.DeviceWorkRunning());
}

}  // namespace

void SessionRecordsTest::AWalkRecordsEachRowForAReplayWithoutItsKey() {
  const RecordSettingCleared cleared;
  SimDevice plain(ThreeUnitHub());
  // One unit: an enciphered link pauses ten seconds after selecting each further unit.
  sim::SimConfig keyedConfig;
  keyedConfig.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}};
  keyedConfig.key = kKey;
  SimDevice keyed(keyedConfig);
  const QTemporaryDir records;
  Desk desk;
  // The sample cut short: an enciphered update of the whole of it takes many seconds.
  const vel::testing::CutSamples shortFiles(1024);
  QVERIFY(desk.form.LoadFile(QString::fromStdString(shortFiles.Path("multi-unit.hex"))));
  const std::size_t plainRow = desk.AddTcpRow("Hub", plain);
  const std::size_t keyedRow =
      desk.AddRow("Keyed", "127.0.0.1", std::to_string(keyed.StartTcp()), kDashedKey);
  desk.form.SetRowsAtOnce(2);  // each row records its own session, side by side
  AnswerNextFileDialog(records.path());
  Click(Control(desk.form, kChooseRecordFolder));
  QTRY_COMPARE(Control<QLineEdit>(desk.form, kRecordFolder)->text(), records.path());
  QVERIFY(Control<QCheckBox>(desk.form, kRecordSessions)->isChecked());
  {
    BoxAnswerer boxes;
    Click(Control(desk.form, 1034));
    QVERIFY(desk.WaitForTheWalk());
  }
  const QString success = QStringLiteral("Device Update Successful");
  QCOMPARE(desk.Status(plainRow), success);
  QCOMPARE(desk.Status(keyedRow), success);
  // One file a row and nothing else (no probe of the folder stays behind).
  const QStringList files{QStringLiteral("row-1.session"), QStringLiteral("row-2.session")};
  QCOMPARE(Entries(records.path()), files);

  std::vector<vel::SessionRecord> recorded;
  for (std::size_t row : {plainRow, keyedRow}) {
    const QByteArray text =
        Contents(QDir(records.path()).filePath(QStringLiteral("row-%1.session").arg(row + 1)));
    for (const std::string& key : {kKey, kDashedKey, std::string("00 11 22 33 44 55 66 77")}) {
      QVERIFY(!text.toUpper().contains(QByteArray::fromStdString(key)));
    }
    const auto record = vel::ParseSession(text.toStdString());
    QVERIFY2(record.ok(), record.error().c_str());
    QCOMPARE(QString::fromStdString(record->statusText), success);
    recorded.push_back(*record);
  }
  QVERIFY(!QString::fromStdString(recorded[0].link).endsWith(QStringLiteral(" enciphered")));
  QVERIFY2(QString::fromStdString(recorded[1].link).endsWith(QStringLiteral(" enciphered")),
           recorded[1].link.c_str());

  // Played back in place of its device, the plain row's update ends alike and uses up its record.
  Click(Control(desk.form, kRecordSessions));
  QVERIFY(!Control<QCheckBox>(desk.form, kRecordSessions)->isChecked());
  sim::SessionReplay replay(recorded[0].events, std::string());
  sim::SimServer server{sim::SimConfig{}};
  server.ServeBy(replay);
  const std::size_t replayedRow = desk.AddTcpRow("Hub", server);
  desk.form.ListModel().SetChecked(plainRow, false);
  desk.form.ListModel().SetChecked(keyedRow, false);
  {
    BoxAnswerer boxes;
    Click(Control(desk.form, 1034));
    QVERIFY(desk.WaitForTheWalk());
  }
  server.Stop();
  QCOMPARE(desk.Status(replayedRow), success);
  QVERIFY(replay.Violations().empty());
  QVERIFY2(replay.Unplayed().empty(), replay.Unplayed().c_str());
  QCOMPARE(Entries(records.path()), files);
}

void SessionRecordsTest::RetryFailedKeepsTheRecordOfEveryAttempt() {
  const RecordSettingCleared cleared;
  sim::SimConfig config = ThreeUnitHub();
  config.faults.powerCutAtFrame = 500;
  SimDevice device(config);
  const QTemporaryDir records;
  Desk desk;
  const std::size_t row = desk.AddTcpRow("Hub", device);
  AnswerNextFileDialog(records.path());
  Click(Control(desk.form, kChooseRecordFolder));
  QTRY_COMPARE(Control<QLineEdit>(desk.form, kRecordFolder)->text(), records.path());
  const auto walk = [&] {
    BoxAnswerer boxes;
    Click(Control(desk.form, 1034));
    return desk.WaitForTheWalk();
  };
  QVERIFY(walk());
  QVERIFY(!desk.form.List().Row(row).succeeded);
  const QString first = QDir(records.path()).filePath(QStringLiteral("row-1.session"));
  const QByteArray cut = Contents(first);

  desk.form.ListModel().SetChecked(row, false);
  ChooseFromTheMenu(desk.form, QStringLiteral("Retry Failed"));
  QTRY_VERIFY(desk.form.List().Row(row).checked);
  QVERIFY(walk());
  QCOMPARE(desk.Status(row), QStringLiteral("Device Update Successful"));
  QCOMPARE(Entries(records.path()),
           (QStringList{QStringLiteral("row-1.2.session"), QStringLiteral("row-1.session")}));
  QCOMPARE(Contents(first), cut);
  const auto cutRecord = vel::ParseSession(cut.toStdString());
  QVERIFY2(cutRecord.ok(), cutRecord.error().c_str());
  QVERIFY2(QString::fromStdString(cutRecord->statusText) != desk.Status(row),
           cutRecord->statusText.c_str());
  const auto retried = vel::ParseSession(
      Contents(QDir(records.path()).filePath(QStringLiteral("row-1.2.session"))).toStdString());
  QVERIFY2(retried.ok(), retried.error().c_str());
  QCOMPARE(QString::fromStdString(retried->statusText), desk.Status(row));
}

void SessionRecordsTest::AFolderThatCannotTakeRecordsStartsNothing() {
  const RecordSettingCleared cleared;
  SimDevice hub(ThreeUnitHub());
  const QTemporaryDir records;
  const QString missing = QDir(records.path()).filePath(QStringLiteral("missing"));
  const QString aFile = QDir(records.path()).filePath(QStringLiteral("a-file"));
  {
    QFile file(aFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("kept");
  }
  {
    Desk desk;
    const std::size_t row = desk.AddTcpRow("Hub", hub);
    Click(Control(desk.form, kRecordSessions));
    QVERIFY(Control<QCheckBox>(desk.form, kRecordSessions)->isChecked());
    ExpectRefused(desk, QStringLiteral("no folder is chosen"));
    TypeFolder(desk.form, missing);
    ExpectRefused(desk, QStringLiteral("the folder does not exist"));
    TypeFolder(desk.form, aFile);
    ExpectRefused(desk, QStringLiteral("it is not a folder"));
    // A folder that nobody, not even an administrator, can write in.
    TypeFolder(desk.form, QStringLiteral("/proc"));
    ExpectRefused(desk, QStringLiteral("no file can be written in it"));
    QCOMPARE(desk.Status(row), QString());
    QCOMPARE(hub.BytesExchanged(), 0);
    QCOMPARE(Entries(records.path()), QStringList{QStringLiteral("a-file")});
    QCOMPARE(Contents(aFile), QByteArray("kept"));
    TypeFolder(desk.form, missing);
  }
  // The setting outlives the window, as the walks' other settings do.
  Desk again;
  QVERIFY(Control<QCheckBox>(again.form, kRecordSessions)->isChecked());
  QCOMPARE(Control<QLineEdit>(again.form, kRecordFolder)->text(), missing);
}

}  // namespace zandorui::testing
