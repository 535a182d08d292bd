#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "console/KeyEntry.h"

namespace zandorui::testing {

namespace {

constexpr const char* kKey = "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF";

// A window whose list holds a serial row and a TCP row.
struct EditedList {
  EditedList() : window(folder.path()), form(window.Form()) {
    table = form.findChild<DeviceTable*>(QStringLiteral("c1116"));
    AddTickedRow(form.ListModel(), "serial", vel::kDefaultSerial, "2");
    AddTickedRow(form.ListModel(), "tcp", "10.0.0.5", "3000");
    window.show();
    if (!QTest::qWaitForWindowActive(&window)) qFatal("the window was not shown");
  }
  void Click(int row, int column) {
    ClickAt(table->viewport(), CellRect(*table, row, column).center());
  }
  // A click on the list below its rows: the list takes the focus, an open edit ends.
  void ClickBelowTheRows() {
    ClickAt(table->viewport(), QPoint(5, table->viewport()->height() - 5));
  }
  QLineEdit* Edit() { return qobject_cast<QLineEdit*>(table->Editor()); }
  QComboBox* Combo() { return qobject_cast<QComboBox*>(table->Editor()); }
  QString Cell(int row, int column) { return CellText(*table, row, column); }
  const vel::DeviceEntry& Row(std::size_t row) { return form.List().Row(row); }

  QTemporaryDir folder;
  MainWindow window;
  ConsoleForm& form;
  DeviceTable* table = nullptr;
};

}  // namespace

void ListEditingTest::TypedKeysGetTheirDashes() {
  std::string text;
  int caret = 0;
  const auto type = [&](char c) {
    text += c;
    const TypedKey key = FormatTypedKey(text, ++caret);
    text = key.text;
    caret = key.caret;
  };
  for (char c : std::string("0a1b")) type(c);
  QCOMPARE(text, std::string("0A-1B-"));
  text = "0A";  // the dash was deleted with Backspace: the next digit puts it back
  caret = 2;
  type('c');
  QCOMPARE(text, std::string("0A-C"));
  text.clear();
  caret = 0;
  for (char c : std::string("00112233445566778899aabbccddeeff")) type(c);
  QCOMPARE(text, std::string(kKey));
  type('1');  // nothing beyond 47 characters
  QCOMPARE(text, std::string(kKey));
  QVERIFY(!IsKeyEntryCharacter('g') && IsKeyEntryCharacter('f') && IsKeyEntryCharacter('7'));
}

void ListEditingTest::EnterStoresAndEscapeLeavesTheCell() {
  EditedList list;
  list.Click(0, 1);
  QLineEdit* edit = list.Edit();
  QVERIFY(edit != nullptr);
  QCOMPARE(edit->objectName(), QStringLiteral("c4660"));
  QCOMPARE(edit->geometry().topLeft(), CellRect(*list.table, 0, 1).topLeft());
  QCOMPARE(edit->text(), QStringLiteral("serial"));
  edit->selectAll();
  TypeText(QStringLiteral("Lab 1"));
  PressKey(Qt::Key_Return);
  QCOMPARE(list.Row(0).name, std::string("Lab 1"));
  QCOMPARE(list.Cell(0, 1), QStringLiteral("Lab 1"));
  QVERIFY(list.table->Editor() == nullptr);

  list.Click(0, 1);
  TypeText(QStringLiteral("xyz"));
  PressKey(Qt::Key_Escape);
  QCOMPARE(list.Row(0).name, std::string("Lab 1"));

  // A "!" would split the row in the file: refused with its reason, the cell unchanged.
  BoxAnswerer boxes;
  list.Click(0, 1);
  TypeText(QStringLiteral("!"));
  PressKey(Qt::Key_Return);
  QCOMPARE(list.Row(0).name, std::string("Lab 1"));
  QCOMPARE(boxes.Texts().size(), 1);
}

void ListEditingTest::TabWalksTheEditableCellsAndWraps() {
  EditedList list;
  list.Click(1, 1);
  PressKey(Qt::Key_Tab);
  QVERIFY(list.Combo() != nullptr);  // the address
  QCOMPARE(list.Combo()->currentText(), QStringLiteral("10.0.0.5"));
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Edit()->text(), QStringLiteral("3000"));  // the Port
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Combo()->objectName(), QStringLiteral("c4661"));  // the key
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Edit()->text(), QStringLiteral("tcp"));  // wrapped to the Name, never the Status
  PressKey(Qt::Key_Escape);
  QCOMPARE(list.Row(1).address, std::string("10.0.0.5"));  // walking through changed nothing

  // On a serial row the key cell opens nothing; the next Tab wraps to the Name.
  list.Click(0, 3);
  PressKey(Qt::Key_Tab);
  QVERIFY(list.table->Editor() == nullptr);
  QCOMPARE(list.Cell(0, 4), QString::fromLatin1(vel::kNoEncryption));
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Edit()->text(), QStringLiteral("serial"));
  PressKey(Qt::Key_Escape);

  // After a click on the Status cell, Tab starts again at the Name.
  list.Click(1, 5);
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Edit()->text(), QStringLiteral("tcp"));
}

void ListEditingTest::PortCellsResetWhenOpened() {
  EditedList list;
  // Ports no edit takes, as a list file can hold them.
  std::vector<vel::DeviceEntry> rows = list.form.List().Rows();
  rows[0].port = "12";
  rows[1].port = "5";
  QVERIFY(list.form.ListModel().ReplaceRows(rows));
  list.Click(0, 3);
  QCOMPARE(list.Edit()->text(), QStringLiteral("1"));
  PressKey(Qt::Key_Escape);
  list.Click(1, 3);
  QCOMPARE(list.Edit()->text(), QStringLiteral("3000"));
  TypeText(QStringLiteral("4001"));  // the text is selected: typing replaces it
  PressKey(Qt::Key_Enter);
  QCOMPARE(list.Row(1).port, std::string("4001"));
  QVERIFY(list.form.ListModel().SetCell(0, DeviceListModel::kPortColumn, "4"));
  list.Click(0, 3);
  QCOMPARE(list.Edit()->text(), QStringLiteral("4"));
}

void ListEditingTest::TheKeyEditorTakesHexDigitsOnly() {
  EditedList list;
  list.Click(1, 4);
  QLineEdit* line = list.Combo()->lineEdit();
  line->clear();
  TypeText(QStringLiteral("0a1b"));
  QCOMPARE(line->text(), QStringLiteral("0A-1B-"));
  TypeText(QStringLiteral("g z"));  // discarded
  QCOMPARE(line->text(), QStringLiteral("0A-1B-"));
  PressKey(Qt::Key_Backspace);
  QCOMPARE(line->text(), QStringLiteral("0A-1B"));  // no reformatting after Backspace
  line->clear();
  TypeText(QStringLiteral("00112233445566778899aabbccddeef"));  // 31 digits: 46 characters
  BoxAnswerer boxes;
  list.ClickBelowTheRows();  // the edit ends
  QCOMPARE(boxes.Texts(),
           QStringList{QStringLiteral(
               "Invalid Encryption Key! \nPlease Enter a valid 16 Byte Encryption Key")});
  QCOMPARE(list.Row(1).key, std::string(vel::kNoEncryption));

  list.Click(1, 4);
  line = list.Combo()->lineEdit();
  line->clear();
  TypeText(QStringLiteral("00112233445566778899aabbccddeeff"));
  QCOMPARE(line->text(), QString::fromLatin1(kKey));
  PressKey(Qt::Key_Tab);
  QCOMPARE(list.Row(1).key, std::string(kKey));
  PressKey(Qt::Key_Escape);
  // The new key is offered to every row from then on.
  QVERIFY(std::count(list.form.List().KeyChoices().begin(), list.form.List().KeyChoices().end(),
                     std::string(kKey)) == 1);
}

void ListEditingTest::AddressesJoinTheChoicesAndEmptyMeansSerial() {
  EditedList list;
  list.Click(1, 2);
  QLineEdit* line = list.Combo()->lineEdit();
  line->clear();
  TypeText(QStringLiteral("192.168.7.9"));
  PressKey(Qt::Key_Return);
  QCOMPARE(list.Row(1).address, std::string("192.168.7.9"));
  list.Click(0, 2);
  QVERIFY(list.Combo()->findText(QStringLiteral("192.168.7.9")) >= 0);
  list.Combo()->lineEdit()->clear();
  list.Combo()->setCurrentIndex(-1);
  PressKey(Qt::Key_Return);
  QCOMPARE(list.Row(0).address, std::string(vel::kDefaultSerial));
}

void ListEditingTest::ALongNameWidensUpToTheListsEdge() {
  EditedList list;
  list.Click(0, 1);
  QLineEdit* edit = list.Edit();
  const int narrow = edit->width();
  TypeText(QStringLiteral("a rather long name for a device in the second rack"));
  QVERIFY(edit->width() > narrow);
  TypeText(QString(150, QLatin1Char('x')));
  QVERIFY(edit->geometry().right() < list.table->viewport()->width());
  PressKey(Qt::Key_Return);
}

void ListEditingTest::ScrollingEndsTheEditAndStoresIt() {
  EditedList list;
  for (int i = 0; i < 40; ++i) list.form.ListModel().AddDevice();
  list.Click(1, 1);
  list.Edit()->selectAll();
  TypeText(QStringLiteral("scrolled"));
  list.table->verticalScrollBar()->setValue(list.table->verticalScrollBar()->maximum());
  QVERIFY(list.table->Editor() == nullptr);
  QCOMPARE(list.Row(1).name, std::string("scrolled"));
}

void ListEditingTest::AReloadStoresTheOpenEditFirst() {
  // A save or a merge that ends while a cell is edited replaces the rows: what was typed is kept.
  EditedList list;
  list.Click(1, 1);
  list.Edit()->selectAll();
  TypeText(QStringLiteral("typed"));
  const auto reload = [&] {
    QVERIFY(list.form.ListModel().MergeRows(list.form.List().Rows(), list.form.List().Rows()));
  };
  reload();
  QVERIFY(list.table->Editor() == nullptr);
  QCOMPARE(list.Row(1).name, std::string("typed"));
  QCOMPARE(list.Cell(1, 1), QStringLiteral("typed"));
  // The same for a drop-down, and with the window in the background.
  list.Click(1, 2);
  list.Combo()->lineEdit()->clear();
  TypeText(QStringLiteral("10.0.0.9"));
  list.window.clearFocus();
  QApplication::setActiveWindow(nullptr);
  reload();
  QCOMPARE(list.Row(1).address, std::string("10.0.0.9"));
}

void ListEditingTest::CopyPasteAndDeleteRows() {
  EditedList list;
  list.form.ListModel().AddDevice();
  list.form.ListModel().SetChecked(2, true);  // row 2, ticked
  PressKey(Qt::Key_V);                        // nothing copied yet
  QCOMPARE(list.Row(2).name, std::string());

  list.Click(1, 5);  // the Status cell: marks row 1, opens nothing
  QVERIFY(list.table->Editor() == nullptr);
  PressKey(Qt::Key_C);
  list.Click(2, 0);  // unticks row 2: a row unticked by the click becomes the paste target
  QVERIFY(!list.Row(2).checked);
  PressKey(Qt::Key_V);
  QCOMPARE(list.Row(2).name, std::string("tcp"));
  QCOMPARE(list.Row(2).address, std::string("10.0.0.5"));
  QCOMPARE(list.Row(2).port, std::string("3000"));

  // Three rows that differ: the Delete key takes the one clicked and no other.
  QVERIFY(list.form.ListModel().SetCell(2, DeviceListModel::kNameColumn, "copy"));
  list.Click(1, 5);
  PressKey(Qt::Key_Delete);
  QCOMPARE(list.form.List().Count(), std::size_t(2));
  QCOMPARE(list.Row(0).name, std::string("serial"));
  QCOMPARE(list.Row(1).name, std::string("copy"));
}

void ListEditingTest::TheSavedListHoldsWhatWasTyped() {
  EditedList list;
  list.Click(1, 1);
  list.Edit()->selectAll();
  TypeText(QStringLiteral("Rack 7"));
  PressKey(Qt::Key_Tab);
  QLineEdit* address = list.Combo()->lineEdit();
  address->clear();
  TypeText(QStringLiteral("10.1.2.3"));
  PressKey(Qt::Key_Tab);
  list.Edit()->selectAll();
  TypeText(QStringLiteral("4001"));
  PressKey(Qt::Key_Tab);
  QLineEdit* key = list.Combo()->lineEdit();
  key->clear();
  TypeText(QStringLiteral("00112233445566778899AABBCCDDEEFF"));
  PressKey(Qt::Key_Tab);
  PressKey(Qt::Key_Escape);
  Click(list.form.findChild<QPushButton*>(QStringLiteral("c1120")));

  vel::DeviceList saved;
  const std::string path = QDir(list.folder.path()).filePath("KestaLST.txt").toStdString();
  QTRY_VERIFY(saved.Load(path) && saved.Count() == 2);
  QCOMPARE(saved.Count(), std::size_t(2));
  QCOMPARE(saved.Row(1).name, std::string("Rack 7"));
  QCOMPARE(saved.Row(1).address, std::string("10.1.2.3"));
  QCOMPARE(saved.Row(1).port, std::string("4001"));
  QCOMPARE(saved.Row(1).key, std::string(kKey));
}

}  // namespace zandorui::testing
