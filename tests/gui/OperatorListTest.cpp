#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "Desk.h"
#include "GuiSupport.h"
#include "GuiTests.h"

namespace zandorui::testing {

namespace {

// Runs `zandor devices --list LIST ...`, as another program editing the same list.
bool RunZandorDevices(const QString& list, const QStringList& arguments) {
  QProcess zandor;
  zandor.start(QStringLiteral(ZANDOR_BIN_DIR "/zandor"),
               QStringList{QStringLiteral("devices"), QStringLiteral("--list"), list} + arguments);
  return zandor.waitForFinished(10000) && zandor.exitCode() == 0;
}

std::vector<std::string> NamesIn(const QString& list) {
  vel::DeviceList saved;
  std::vector<std::string> names;
  if (!saved.Load(list.toStdString())) return names;
  for (const vel::DeviceEntry& row : saved.Rows()) names.push_back(row.name);
  return names;
}

// A desk whose list holds three distinct rows.
struct ThreeRows : Desk {
  ThreeRows() {
    AddRow("A", vel::kDefaultSerial, "1");
    AddRow("B", "10.0.0.5", "3000");
    AddRow("C", "10.0.0.6", "3001");
    for (std::size_t r = 0; r < 3; ++r) form.ListModel().SetChecked(r, false);
  }
  QWidget* Viewport() { return Table().viewport(); }
  QWidget* Editor() { return Table().Editor(); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const vel::DeviceEntry& row : form.List().Rows()) names.push_back(row.name);
    return names;
  }
};

}  // namespace

void OperatorListTest::TabLeavesTheDropDownsAndTypedTextLandsInItsCell() {
  ThreeRows desk;
  ClickAt(desk.Viewport(), desk.Cell(1, 1).center());
  QVERIFY(qobject_cast<QLineEdit*>(desk.Editor()) != nullptr);
  PressKey(Qt::Key_Tab);
  QVERIFY(qobject_cast<QComboBox*>(desk.Editor()) != nullptr);  // the address
  TypeText(QStringLiteral("10.9.9.9"));
  PressKey(Qt::Key_Tab);
  auto* port = qobject_cast<QLineEdit*>(desk.Editor());
  QVERIFY(port != nullptr);
  QCOMPARE(port->text(), QStringLiteral("3000"));
  TypeText(QStringLiteral("4000"));
  PressKey(Qt::Key_Tab);
  QVERIFY(qobject_cast<QComboBox*>(desk.Editor()) != nullptr);  // the key
  PressKey(Qt::Key_Tab);
  QVERIFY(qobject_cast<QLineEdit*>(desk.Editor()) != nullptr);  // wrapped to the Name
  PressKey(Qt::Key_Escape);
  QCOMPARE(desk.form.List().Row(1).address, std::string("10.9.9.9"));
  QCOMPARE(desk.form.List().Row(1).port, std::string("4000"));
  QVERIFY(desk.Editor() == nullptr);
}

void OperatorListTest::TheContextMenuActsOnTheRowUnderTheCursor() {
  ThreeRows desk;
  ClickAt(desk.Viewport(), desk.Cell(0, 5).center());  // row A last left-clicked
  {
    MenuChooser menu(QStringLiteral("Delete"));
    RightClickAt(desk.Viewport(), desk.Cell(2, 1).center());
    QVERIFY(menu.Opened());
  }
  QCOMPARE(desk.Names(), (std::vector<std::string>{"A", "B"}));

  // After the Delete button takes the ticked rows, the Delete key acts on no row that merely
  // moved into the place of the one last clicked.
  desk.AddRow("C", "10.0.0.6", "3001");
  desk.form.ListModel().SetChecked(2, false);
  desk.form.ListModel().SetChecked(0, true);
  ClickAt(desk.Viewport(), desk.Cell(1, 5).center());  // B
  BoxAnswerer boxes;
  Click(Control(desk.form, 1150));
  QCOMPARE(desk.Names(), (std::vector<std::string>{"B", "C"}));
  ClickAt(desk.Viewport(), QPoint(5, desk.Viewport()->height() - 5));  // below the rows
  PressKey(Qt::Key_Delete);
  QCOMPARE(desk.Names(), (std::vector<std::string>{"B", "C"}));
}

void OperatorListTest::SaveKeepsTheRowsAnotherProgramAdded() {
  Desk first;
  const QString list = first.ListPath();
  QVERIFY(RunZandorDevices(list, {"add", "--name", "A", "--address", "serial", "--port", "1"}));
  MainWindow window(first.folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  ConsoleForm& form = window.Form();
  QCOMPARE(form.List().Count(), std::size_t(1));
  QVERIFY(
      RunZandorDevices(list, {"add", "--name", "B", "--address", "10.0.0.7", "--port", "3000"}));
  QVERIFY(::chmod(list.toLocal8Bit().constData(), 0640) == 0);  // a list the group may read
  Click(Control(form, 1117));                                   // New
  Click(Control(form, 1120));                                   // Save
  QVERIFY(QTest::qWaitFor([&] { return NamesIn(list).size() == 3; }, 5000));
  const std::vector<std::string> names = NamesIn(list);
  QVERIFY(std::find(names.begin(), names.end(), "B") != names.end());
  QTRY_COMPARE(form.List().Count(), std::size_t(3));  // the window shows B too
}

void OperatorListTest::SaveKeepsTheFileMode() {
  QTemporaryDir folder;
  const QString list = QDir(folder.path()).filePath(QStringLiteral("KestaLST.txt"));
  QVERIFY(RunZandorDevices(list, {"add", "--name", "A", "--address", "serial", "--port", "1"}));
  QVERIFY(::chmod(list.toLocal8Bit().constData(), 0640) == 0);  // a list the group may read
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  Click(Control(window.Form(), 1117));
  Click(Control(window.Form(), 1120));
  QVERIFY(QTest::qWaitFor([&] { return NamesIn(list).size() == 2; }, 5000));
  struct stat info {};
  QVERIFY(::stat(list.toLocal8Bit().constData(), &info) == 0);
  QCOMPARE(info.st_mode & 0777, 0640u);
}

void OperatorListTest::ClosingWithEditsNotSavedAsks() {
  Desk desk;
  const QString list = desk.ListPath();
  Click(Control(desk.form, 1117));  // New
  BoxAnswerer boxes(QMessageBox::Cancel);
  QVERIFY(!desk.window.close());  // Cancel keeps the window
  QCOMPARE(boxes.Texts().size(), 1);
  QVERIFY(boxes.Texts()[0].contains(list));
  boxes.SetAnswer(QMessageBox::No);
  QVERIFY(desk.window.close());
  QVERIFY(!QFile::exists(list));  // No leaves the file as it was
  desk.window.show();
  boxes.SetAnswer(QMessageBox::Yes);
  QVERIFY(desk.window.close());
  QCOMPARE(NamesIn(list).size(), std::size_t(1));  // Yes saved it first
}

void OperatorListTest::AListFileOfAnotherProgramIsMergedWhenItChanges() {
  Desk desk;
  const QString list = desk.ListPath();
  desk.AddRow("Mine", vel::kDefaultSerial, "2");
  QVERIFY(RunZandorDevices(list, {"add", "--name", "Theirs", "--address", "serial"}));
  QTRY_COMPARE_WITH_TIMEOUT(desk.form.List().Count(), std::size_t(2), 5000);
  QCOMPARE(desk.form.List().Row(0).name, std::string("Mine"));
  QCOMPARE(desk.form.List().Row(1).name, std::string("Theirs"));
}

void OperatorListTest::APortOutOfRangeIsRefused() {
  ThreeRows desk;
  BoxAnswerer boxes;
  ClickAt(desk.Viewport(), desk.Cell(1, 3).center());
  PressKey(Qt::Key_A, Qt::ControlModifier);
  TypeText(QStringLiteral("70000"));
  PressKey(Qt::Key_Return);
  QCOMPARE(desk.form.List().Row(1).port, std::string("3000"));
  QCOMPARE(boxes.Texts().size(), 1);
  QVERIFY(boxes.Texts()[0].contains(QStringLiteral("65535")));
}

void OperatorListTest::ARefusedListFileIsShownWithItsReason() {
  QTemporaryDir folder;
  const QString list = QDir(folder.path()).filePath(QStringLiteral("KestaLST.txt"));
  QFile file(list);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(QByteArray("\x05\x06\x0e", 3));  // control characters once shifted back
  file.close();
  BoxAnswerer boxes;
  MainWindow window(folder.path());
  window.show();
  QTRY_COMPARE(boxes.Texts().size(), 1);
  QVERIFY2(boxes.Texts()[0].contains(list), qPrintable(boxes.Texts()[0]));
  QVERIFY(boxes.Texts()[0].contains(QStringLiteral("not a device list")));
}

void OperatorListTest::TabLeavesTheListAndThePortEditorSelectsItsText() {
  ThreeRows desk;
  desk.Table().setFocus(Qt::TabFocusReason);
  PressKey(Qt::Key_Tab);
  QVERIFY(desk.Editor() == nullptr);
  QVERIFY(!desk.Table().isAncestorOf(FocusWidget()) && FocusWidget() != &desk.Table());

  ClickAt(desk.Viewport(), desk.Cell(1, 3).center());
  auto* port = qobject_cast<QLineEdit*>(FocusWidget());
  QVERIFY(port != nullptr);
  QCOMPARE(port->selectedText(), QStringLiteral("3000"));
}

}  // namespace zandorui::testing
