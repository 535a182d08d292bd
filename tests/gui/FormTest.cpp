#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "console/SerialSettingsDialog.h"
#include "views/MessageLog.h"

namespace zandorui::testing {

namespace {

QString Sample(const char* name) {
  return QStringLiteral(ZANDOR_SAMPLES_DIR "/") + QString::fromLatin1(name);
}

template <typename T = QWidget>
T* Control(QWidget& root, int id) {
  return root.findChild<T*>(QStringLiteral("c%1").arg(id));
}

// The keys reach the shortcut once the window is active again after the last box.
void PressOverride(QWidget& form, char letter) {
  QApplication::setActiveWindow(form.window());
  QVERIFY(QTest::qWaitForWindowActive(form.window()));
  PressKey(Qt::Key_A + (letter - 'A'), Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
}

}  // namespace

void FormTest::initTestCase() { QVERIFY(listFolder_.isValid()); }

void FormTest::StartsWithTheControlsOfAnIdleForm() {
  MainWindow window(listFolder_.path());
  window.show();
  ConsoleForm& form = window.Form();
  QVERIFY(!Control(form, 1034)->isEnabled());
  QVERIFY(!Control(form, 1038)->isEnabled());
  QVERIFY(Control(form, 1007)->isEnabled());
  QVERIFY(!Control(form, 1013)->isVisible());
  QCOMPARE(Control<QLabel>(form, 1014)->text(), QStringLiteral("<none>"));
  QCOMPARE(Control<QLabel>(form, 1149)->text(),
           QStringLiteral("ZandorUpdate version 2.4.5 GA Build 1"));
  for (int id : {1032, 1033, 1035, 1005, 1006, 1002}) QVERIFY(!Control(form, id)->isVisible());
  for (int id : {1121, 1122, 1123, 1124, 1125, 1128, 1129, 1132}) {
    QVERIFY2(!Control(form, id)->isVisible(), qPrintable(QString::number(id)));
  }
  QVERIFY(Control<QLabel>(form, 1134)->font().bold());
  QVERIFY(!Control<QLabel>(form, 1149)->font().bold());
  QCOMPARE(Control<QLabel>(window, 101)->text(), QStringLiteral("Port Inactive"));
  QVERIFY(window.menuWidget() == nullptr);
  QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));

  auto* table = Control<DeviceTable>(form, 1116);
  QCOMPARE(table->model()->columnCount(), 6);
  const QStringList headers{QString(), "Name",           "IP address/Serial",
                            "Port",    "Encryption Key", "Status"};
  for (int c = 0; c < 6; ++c) {
    QCOMPARE(table->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
  }
  QCOMPARE(table->columnWidth(1), 50);
  QCOMPARE(table->columnWidth(4), 280);
  QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
}

void FormTest::LoadingAFileEnablesTheWalksAndNamesTheFamily() {
  MainWindow window(listFolder_.path());
  ConsoleForm& form = window.Form();
  QSignalSpy loaded(&form, &ConsoleForm::FileLoaded);
  QVERIFY(form.LoadFile(Sample("multi-unit.hex")));
  QCOMPARE(loaded.count(), 1);
  QCOMPARE(Control<QLabel>(form, 1014)->text(), QStringLiteral("multi-unit.hex"));
  QVERIFY(Control(form, 1034)->isEnabled());
  QVERIFY(Control(form, 1038)->isEnabled());
  QCOMPARE(Control<QPushButton>(form, 1034)->text(), QStringLiteral("Send To Zandor"));
  QVERIFY(form.LoadFile(Sample("tzt-two-images.hex")));
  QCOMPARE(Control<QPushButton>(form, 1034)->text(), QStringLiteral("Kesta4080"));
  QVERIFY(form.Log().Text().contains(QStringLiteral("Loading Hex File...")));
  QCOMPARE(RecentFiles::Load().value(0), Sample("tzt-two-images.hex"));
  QCOMPARE(RecentFiles::Load().value(1), Sample("multi-unit.hex"));

  // A file that is not a firmware file says so and leaves no file loaded.
  QTemporaryDir dir;
  const QString broken = dir.filePath(QStringLiteral("broken.hex"));
  QFile file(broken);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(":10000000000102030405060708090A0B0C0D0E0F78\n");  // no end record
  file.close();
  BoxAnswerer boxes;
  QVERIFY(!form.LoadFile(broken));
  QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Unexpected file format.")});
  QVERIFY(!Control(form, 1034)->isEnabled());
  QCOMPARE(Control<QLabel>(form, 1014)->text(), QStringLiteral("<none>"));
}

void FormTest::RecentFilesKeepTheFourLatestOnce() {
  for (const char* name : {"a.hex", "b.hex", "c.hex", "d.hex", "b.hex", "e.hex"}) {
    RecentFiles::Add(QString::fromLatin1(name));
  }
  QCOMPARE(RecentFiles::Load(), (QStringList{"e.hex", "b.hex", "d.hex", "c.hex"}));
}

void FormTest::OverridesAskAndCancel() {
  MainWindow window(listFolder_.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  BoxAnswerer boxes(QMessageBox::No);
  PressOverride(form, 'S');
  QCOMPARE(boxes.Texts().size(), 1);
  QVERIFY(!form.SerialNumberOptional());  // No leaves it off
  boxes.SetAnswer(QMessageBox::Yes);
  PressOverride(form, 'S');
  QCOMPARE(boxes.Texts().size(), 2);
  QVERIFY(form.SerialNumberOptional());
  PressOverride(form, 'S');
  QVERIFY(!form.SerialNumberOptional());
  QCOMPARE(boxes.Texts().last(),
           QStringLiteral("Override 01 Cancelled: Serial Number Entry Required"));

  PressOverride(form, 'A');
  QVERIFY(form.AdvancedFunctions());
  for (int id : {1032, 1033, 1035, 1005, 1006, 1002}) QVERIFY(Control(form, id)->isVisible());
  QVERIFY(!Control(form, 1002)->isEnabled());
  form.ToggleAdvancedSettings();
  QVERIFY(Control(form, 1002)->isEnabled());
  PressOverride(form, 'A');  // off again: the buttons hide and the advanced settings go off
  QVERIFY(!form.AdvancedFunctions());
  QVERIFY(!form.AdvancedSettings());
  for (int id : {1032, 1033, 1035, 1005, 1006, 1002}) QVERIFY(!Control(form, id)->isVisible());
  QCOMPARE(boxes.Texts().last(),
           QStringLiteral("Override 02 Cancelled: Advanced Control Functions Disabled"));
}

void FormTest::ToolTipsFollowTheirSwitch() {
  MainWindow window(listFolder_.path());
  ConsoleForm& form = window.Form();
  QCOMPARE(Control(form, 1013)->toolTip(), QStringLiteral("Cancels a time-consuming action"));
  QCOMPARE(Control(form, 1002)->toolTip(),
           QStringLiteral("Open the dialog box to set advanced communication options."));
  form.ToggleToolTips();
  QVERIFY(Control(form, 1013)->toolTip().isEmpty());
  form.ToggleToolTips();
  QVERIFY(!Control(form, 1013)->toolTip().isEmpty());
}

void FormTest::ListButtonsEditAndSaveTheList() {
  QTemporaryDir folder;
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  auto* table = Control<DeviceTable>(form, 1116);
  QCOMPARE(table->model()->rowCount(), 0);
  for (int i = 0; i < 4; ++i) Click(Control(form, 1117));
  QCOMPARE(table->model()->rowCount(), 4);
  QCOMPARE(CellText(*table, 0, 2), QStringLiteral("<Default Serial>"));
  QCOMPARE(CellText(*table, 0, 3), QStringLiteral("1"));
  QCOMPARE(CellText(*table, 0, 4), QStringLiteral("<Default No Encryption>"));
  QVERIFY(form.ListModel().SetCell(1, DeviceListModel::kNameColumn, "kept"));

  // Ticking in the table reaches the list; Delete removes the ticked rows only.
  table->model()->setData(table->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  table->model()->setData(table->model()->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  QVERIFY(form.List().Row(0).checked);
  Click(Control(form, 1150));
  QCOMPARE(table->model()->rowCount(), 2);
  QCOMPARE(CellText(*table, 0, 1), QStringLiteral("kept"));

  Click(Control(form, 1118));
  QCOMPARE(CellCheck(*table, 1), Qt::Checked);
  Click(Control(form, 1119));
  QCOMPARE(CellCheck(*table, 1), Qt::Unchecked);

  Click(Control(form, 1120));
  QTRY_VERIFY([&] {
    vel::DeviceList saved;
    return saved.Load(QDir(folder.path()).filePath("KestaLST.txt").toStdString()) &&
           saved.Count() == 2;
  }());
  MainWindow again(folder.path());
  QCOMPARE(Control<DeviceTable>(again.Form(), 1116)->model()->rowCount(), 2);
  QCOMPARE(again.Form().List().Row(0).name, std::string("kept"));
}

void FormTest::WalksNeedAFileAndATickedRow() {
  QTemporaryDir folder;
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  AddTickedRow(form.ListModel(), "Hub", "127.0.0.1", "9");
  BoxAnswerer boxes;
  // No file: the walk buttons take no click, and nothing starts.
  for (int id : {1034, 1038}) {
    QVERIFY(!Control(form, id)->isEnabled());
    Click(Control(form, id));
    QVERIFY(!form.DeviceWorkRunning());
  }
  QVERIFY(boxes.Texts().isEmpty());
  // A file that went from the disk after its load is sent to no device.
  QTemporaryDir files;
  const QString copy = QDir(files.path()).filePath(QStringLiteral("gone.hex"));
  QVERIFY(QFile::copy(Sample("multi-unit.hex"), copy));
  QVERIFY(form.LoadFile(copy));
  QVERIFY(QFile::remove(copy));
  Click(Control(form, 1034));
  QVERIFY(QTest::qWaitFor([&] { return !form.DeviceWorkRunning(); }, 10000));
  QTRY_VERIFY(boxes.Texts().contains(QStringLiteral("Load the Hex File !")));
  QCOMPARE(form.List().Row(0).status, std::string());

  form.ListModel().SetChecked(0, false);
  QVERIFY(form.LoadFile(Sample("multi-unit.hex")));
  boxes.SetAnswer(QMessageBox::Ok);
  const int before = boxes.Texts().size();
  Click(Control(form, 1034));
  QTRY_COMPARE(boxes.Texts().size(), before + 1);
  QVERIFY(boxes.Texts().last().startsWith(QStringLiteral("No device is ticked")));
  QVERIFY(!form.DeviceWorkRunning());
  // Cancel while nothing runs changes nothing.
  form.CancelDeviceWork();
  QVERIFY(!form.DeviceWorkRunning());
}

void FormTest::SerialSettingsFromTheForm() {
  QTemporaryDir folder;
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  BoxAnswerer boxes(QMessageBox::Yes);
  form.ToggleAdvancedFunctionsOverride();
  form.ToggleAdvancedSettings();
  const QString mappingFile = qEnvironmentVariable("XDG_CONFIG_HOME") + "/zandor/com-ports";
  QFile::remove(mappingFile);
  // The dialog is driven from a timer: it runs its own event loop.
  const auto inDialog = [](const std::function<void(SerialSettingsDialog&)>& act) {
    QTimer::singleShot(50, [act] {
      auto* dialog = qobject_cast<SerialSettingsDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) qFatal("no serial settings dialog");
      act(*dialog);
    });
  };
  QString presetAddress;
  inDialog([&](SerialSettingsDialog& dialog) {
    presetAddress = Control<QLineEdit>(dialog, 1009)->text();
    Control<QComboBox>(dialog, 1004)->setCurrentIndex(0);
    Click(Control(dialog, 2));  // Cancel
  });
  Click(Control(form, 1002));
  QCOMPARE(presetAddress, QStringLiteral("3F8"));  // the port's own address, preset
  QCOMPARE(form.Serial().settings.baudIndex, 5);   // Cancel kept 9600
  QVERIFY(!QFile::exists(mappingFile));            // and wrote nothing

  inDialog([&](SerialSettingsDialog& dialog) {
    Control<QComboBox>(dialog, 1004)->setCurrentIndex(7);
    dialog.findChild<QComboBox*>(QStringLiteral("comPort2"))->setCurrentText("/dev/ttyUSB3");
    Click(Control(dialog, 1));
  });
  Click(Control(form, 1002));
  QCOMPARE(form.Serial().settings.BaudRate(), 38400);
  QFile mapping(mappingFile);
  QVERIFY(mapping.open(QIODevice::ReadOnly));
  QVERIFY(mapping.readAll().contains("COM2=/dev/ttyUSB3"));
  mapping.close();

  // OK without a change leaves the file as it is, comments and all.
  QVERIFY(mapping.open(QIODevice::WriteOnly | QIODevice::Truncate));
  mapping.write("# the bench by the door\nCOM2=/dev/ttyUSB3\n");
  mapping.close();
  inDialog([&](SerialSettingsDialog& dialog) { Click(Control(dialog, 1)); });
  Click(Control(form, 1002));
  QVERIFY(mapping.open(QIODevice::ReadOnly));
  QCOMPARE(mapping.readAll(), QByteArray("# the bench by the door\nCOM2=/dev/ttyUSB3\n"));
  mapping.close();
  // A change keeps the comment too.
  inDialog([&](SerialSettingsDialog& dialog) {
    dialog.findChild<QComboBox*>(QStringLiteral("comPort4"))->setCurrentText("/dev/ttyACM1");
    Click(Control(dialog, 1));
  });
  Click(Control(form, 1002));
  QVERIFY(mapping.open(QIODevice::ReadOnly));
  const QByteArray changed = mapping.readAll();
  QVERIFY(changed.startsWith("# the bench by the door\nCOM2=/dev/ttyUSB3\n"));
  QVERIFY(changed.contains("COM4=/dev/ttyACM1"));
  QFile::remove(mappingFile);
}

void FormTest::TheContextMenuBelongsToTheFormBackground() {
  MainWindow window(listFolder_.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  for (int id : {1117, 1149, 1034}) {
    MenuChooser menu(QString{});
    RightClickAt(Control(form, id), Control(form, id)->rect().center());
    QTest::qWait(20);
    QVERIFY2(!menu.Opened(), qPrintable(QString::number(id)));
  }
  // The Menu key asks for no menu of the form either.
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(3, 3), form.mapToGlobal(QPoint(3, 3)));
  {
    MenuChooser menu(QString{});
    QApplication::sendEvent(&form, &key);
    QTest::qWait(20);
    QVERIFY(!menu.Opened());
  }
  MenuChooser menu(QString{});
  RightClickAt(&form, QPoint(3, 3));
  QVERIFY(menu.Opened());
  QVERIFY(menu.Offered().contains(QStringLiteral("View Status Log")));
}

void FormTest::TheLogWindowShowsAndHides() {
  MainWindow window(listFolder_.path());
  ConsoleForm& form = window.Form();
  form.ShowLog();
  QVERIFY(form.Log().isVisible());
  QCOMPARE(form.Log().windowTitle(), QStringLiteral("Zandor  Message Log"));
  form.Log().close();
  QVERIFY(!form.Log().isVisible());
  form.Log().AppendMessage(QStringLiteral("while hidden"));
  form.ShowLog();
  auto* edit = form.Log().findChild<QPlainTextEdit*>(QStringLiteral("c1037"));
  QVERIFY(edit->toPlainText().contains(QStringLiteral("while hidden")));
}

}  // namespace zandorui::testing
