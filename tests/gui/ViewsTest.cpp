#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "image/HexFileLoader.h"
#include "views/MemoryView.h"
#include "views/MessageLog.h"
#include "views/RecordView.h"

namespace zandorui::testing {

namespace {

template <typename T = QWidget>
T* Control(QWidget& root, int id) {
  return root.findChild<T*>(QStringLiteral("c%1").arg(id));
}

// Address records of both kinds, a record of an unknown type and one of 64 data bytes.
const QByteArray kTypes =
    ":020000021000EC\n:02000004FFFFFC\n:0400000001020304F2\n:00000006FA\n:40001000" +
    QByteArray(128, '1') + "70\n:00000001FF\n";
// Data before any address record, and a record whose checksum is wrong.
const QByteArray kEarly = ":0400000001020304F2\n:00000001FF\n";
const QByteArray kBroken = ":0400000001020304F3\n:00000001FF\n";

// A window with the form and files of its own.
struct Viewer {
  Viewer() : window(folder.path()), form(window.Form()) {}
  QString Write(const char* name, const QByteArray& text) {
    const QString path = QDir(folder.path()).filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) qFatal("cannot write");
    return path;
  }
  template <typename View>
  View* Open() {
    if constexpr (std::is_same_v<View, RecordView>) {
      form.OpenRecordView();
    } else {
      form.OpenMemoryView();
    }
    return qobject_cast<View*>(form.OpenViews().back().data());
  }
  QTemporaryDir folder;
  MainWindow window;
  ConsoleForm& form;
};

}  // namespace

void ViewsTest::RecordsShowTheirFields() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("types.hex", kTypes)));
  RecordView* view = viewer.Open<RecordView>();
  QVERIFY(view != nullptr);
  QCOMPARE(view->windowTitle(), QStringLiteral("Record View - types.hex"));
  auto* type = Control<QComboBox>(*view, 61447);
  QCOMPARE(type->currentText(), QStringLiteral("Ext. Segment Address Record"));
  QCOMPARE(Control<QLineEdit>(*view, 1019)->text(), QStringLiteral("0x02"));
  QCOMPARE(Control<QLineEdit>(*view, 1021)->text(), QStringLiteral("0xEC"));
  view->ShowRecordNumber(2);
  QCOMPARE(type->currentText(), QStringLiteral("Ext. Linear Address Record"));
  view->ShowRecordNumber(4);
  QCOMPARE(type->currentIndex(), -1);  // type 06 has no name
  view->ShowRecordNumber(5);
  QCOMPARE(Control<QLineEdit>(*view, 1029)->text(), QStringLiteral("0x0010"));
  const QString data = Control<QPlainTextEdit>(*view, 1025)->toPlainText();
  QCOMPARE(data, QStringLiteral("11 ").repeated(64));  // all 64 bytes of the long record
}

void ViewsTest::TheSelectorKeepsElevenNumbersAndBounds() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(QStringLiteral(ZANDOR_SAMPLES_DIR "/multi-unit.hex")));
  RecordView* view = viewer.Open<RecordView>();
  QCOMPARE(view->SelectorHistory(), QStringList{QStringLiteral("1")});
  for (int n = 2; n <= 12; ++n) view->ShowRecordNumber(n);
  QStringList expected;
  for (int n = 12; n >= 2; --n) expected.append(QString::number(n));
  QCOMPARE(view->SelectorHistory(), expected);
  view->ShowRecordNumber(12);  // already at the top: nothing changes
  QCOMPARE(view->SelectorHistory(), expected);

  BoxAnswerer boxes;
  auto* selector = Control<QComboBox>(*view, 1016);
  selector->setEditText(QStringLiteral("0"));
  view->Refresh();
  QCOMPARE(view->ShownRecord(), 1);
  selector->setEditText(QStringLiteral("99999"));
  view->Refresh();
  QCOMPARE(view->ShownRecord(), 4099);  // the end record
  selector->setEditText(QStringLiteral("-3"));
  view->Refresh();
  QCOMPARE(view->ShownRecord(), 4099);  // a negative number counts as very large
  selector->setEditText(QStringLiteral("abc"));
  view->Refresh();
  QCOMPARE(view->ShownRecord(), 1);
  QCOMPARE(boxes.Texts().size(), 4);
  QVERIFY(boxes.Texts()[0].startsWith(QStringLiteral("The specified record number is below one.")));
  QVERIFY(
      boxes.Texts()[1].startsWith(QStringLiteral("The specified record number does not exist.")));
  QVERIFY(
      boxes.Texts()[2].startsWith(QStringLiteral("The specified record number does not exist.")));

  // The spin stops at either end.
  auto* spin = Control<QSpinBox>(*view, 1017);
  spin->stepDown();
  QCOMPARE(view->ShownRecord(), 1);
  view->ShowRecordNumber(4099);
  spin->stepUp();
  QCOMPARE(view->ShownRecord(), 4099);
  spin->stepDown();
  QCOMPARE(view->ShownRecord(), 4098);
}

void ViewsTest::TheMemoryViewPagesThroughTheMap() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(QStringLiteral(ZANDOR_SAMPLES_DIR "/multi-unit.hex")));
  BoxAnswerer boxes;
  bool viewShownFirst = false;
  boxes.OnBox([&](QMessageBox& box) {
    auto* parent = qobject_cast<MemoryView*>(box.parentWidget());
    viewShownFirst = parent != nullptr && parent->isVisible();
  });
  MemoryView* view = viewer.Open<MemoryView>();
  QTRY_COMPARE(boxes.Texts().size(), 1);
  QVERIFY(viewShownFirst);  // the warning stands over the view, not before it
  // The file does not use segment FF: one warning, the segment shows erased.
  QCOMPARE(boxes.Texts(),
           QStringList{QStringLiteral("WARNING:\nThe specified segment is not used in the file.  "
                                      "\nThe segment will be displayed as erased.")});
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("XX"));
  QCOMPARE(view->GridText(),
           QStringLiteral("  FF\t").repeated(15).append(QStringLiteral("  FF\n")).repeated(16));
  QVERIFY(view->AddressText().startsWith(QStringLiteral("0xXX0000\n0xXX0010\n")));

  Control<QLineEdit>(*view, 1030)->setText(QStringLiteral("00"));
  Control<QLineEdit>(*view, 1020)->setText(QStringLiteral("01"));
  Control<QPushButton>(*view, 1028)->click();
  QCOMPARE(view->CurrentSegment(), std::uint8_t(0));
  QCOMPARE(view->CurrentPage(), std::uint8_t(1));
  QVERIFY(view->AddressText().startsWith(QStringLiteral("0x000100\n0x000110\n")));
  vel::FirmwareFile file;
  vel::HexFileLoader(file).LoadPath(ZANDOR_SAMPLES_DIR "/multi-unit.hex");
  const std::uint8_t* bytes = file.GetMemMap(0).GetPage(0, 1);
  QString expected;
  for (int i = 0; i < 256; ++i) {
    expected += QString::number(bytes[i], 16).rightJustified(2, QLatin1Char('0')).toUpper();
    expected += i % 16 == 15 ? QLatin1Char('\n') : QLatin1Char('\t');
  }
  QCOMPARE(view->GridText(), expected);

  auto* scroll = Control<QScrollBar>(*view, 1029);
  scroll->setValue(0xF5);
  scroll->triggerAction(QAbstractSlider::SliderPageStepAdd);
  QCOMPARE(view->CurrentPage(), std::uint8_t(0xFF));
  scroll->setValue(0x0A);
  scroll->triggerAction(QAbstractSlider::SliderPageStepSub);
  QCOMPARE(view->CurrentPage(), std::uint8_t(0x00));
  Control<QSpinBox>(*view, 1018)->stepDown();  // wraps to FF
  QCOMPARE(view->CurrentPage(), std::uint8_t(0xFF));
  QCOMPARE(Control<QLineEdit>(*view, 1020)->text(), QStringLiteral("FF"));
  Control<QSpinBox>(*view, 1031)->stepUp();  // segment 01
  QCOMPARE(view->CurrentSegment(), std::uint8_t(1));

  // An empty page box: the message, nothing changes.
  const QString before = view->GridText();
  Control<QLineEdit>(*view, 1020)->clear();
  Control<QPushButton>(*view, 1028)->click();
  QVERIFY(boxes.Texts().last().startsWith(
      QStringLiteral("The page number is not a valid hexadecimal number.")));
  QCOMPARE(view->GridText(), before);
  Control<QLineEdit>(*view, 1020)->setText(QStringLiteral("10"));
  Control<QLineEdit>(*view, 1030)->setText(QStringLiteral("g"));
  Control<QPushButton>(*view, 1028)->click();
  QVERIFY(boxes.Texts().last().startsWith(
      QStringLiteral("The segment number is not a valid hexadecimal number.")));

  // A second view reads the same map: it is built once.
  viewer.Open<MemoryView>();
  QCOMPARE(viewer.form.OpenViews().size(), std::size_t(2));
  QCOMPARE(viewer.form.Log().Text().count(QStringLiteral("Creating Memory Map from Hex File...")),
           1);
}

void ViewsTest::TheMemoryViewsSpinsReadAsItsBoxes() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  MemoryView* view = viewer.Open<MemoryView>();
  // One format: the spins read as the boxes beside them do.
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("FF"));
  QCOMPARE(Control<QSpinBox>(*view, 1031)->text(), QStringLiteral("FF"));
  QCOMPARE(Control<QLineEdit>(*view, 1020)->text(), QStringLiteral("00"));
  QCOMPARE(Control<QSpinBox>(*view, 1018)->text(), QStringLiteral("00"));
  Control<QSpinBox>(*view, 1018)->stepUp();
  QCOMPARE(Control<QSpinBox>(*view, 1018)->text(), QStringLiteral("01"));
  QCOMPARE(Control<QLineEdit>(*view, 1020)->text(), QStringLiteral("01"));

  // A segment the file does not use reads "XX" in both; the spin steps on from the segment.
  BoxAnswerer boxes;
  QVERIFY(viewer.form.LoadFile(QStringLiteral(ZANDOR_SAMPLES_DIR "/multi-unit.hex")));
  view = viewer.Open<MemoryView>();
  auto* segmentSpin = Control<QSpinBox>(*view, 1031);
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("XX"));
  QCOMPARE(segmentSpin->text(), QStringLiteral("XX"));
  segmentSpin->stepUp();  // FF wraps to 00, which the file uses
  QCOMPARE(view->CurrentSegment(), std::uint8_t(0));
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("00"));
  QCOMPARE(segmentSpin->text(), QStringLiteral("00"));
  Control<QLineEdit>(*view, 1030)->setText(QStringLiteral("7E"));  // unused as well
  Control<QPushButton>(*view, 1028)->click();
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("XX"));
  QCOMPARE(segmentSpin->text(), QStringLiteral("XX"));
  segmentSpin->stepDown();
  QCOMPARE(view->CurrentSegment(), std::uint8_t(0x7D));
}

void ViewsTest::TheStatusLineSaysTheMapIsMade() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  auto* statusLine = Control<QGroupBox>(viewer.form, 1011);
  MemoryView* view = viewer.Open<MemoryView>();
  Control<QPushButton>(*view, 1)->click();  // "Done"
  QVERIFY(!view->isVisible());
  QCOMPARE(statusLine->title(), QStringLiteral("Memory map created from early.hex"));
  QVERIFY(!statusLine->isEnabled());  // nothing runs
  const QString log = viewer.form.Log().Text();
  QVERIFY(log.indexOf(QStringLiteral("Creating Memory Map from Hex File...")) <
          log.indexOf(QStringLiteral("Memory map created from early.hex")));
}

void ViewsTest::DataBeforeAnyAddressShowsAtSegmentFF() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  BoxAnswerer boxes;
  MemoryView* view = viewer.Open<MemoryView>();
  QVERIFY(boxes.Texts().isEmpty());
  QVERIFY(view->GridText().startsWith(QStringLiteral("01\t02\t03\t04\tFF\t")));
  QCOMPARE(Control<QLineEdit>(*view, 1030)->text(), QStringLiteral("FF"));
}

void ViewsTest::OpenViewsFollowTheToolTipSwitch() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  RecordView* view = viewer.Open<RecordView>();
  QVERIFY(!Control(*view, 1016)->toolTip().isEmpty());
  viewer.form.ToggleToolTips();
  QVERIFY(Control(*view, 1016)->toolTip().isEmpty());
  viewer.form.ToggleToolTips();
  QVERIFY(!Control(*view, 1016)->toolTip().isEmpty());
}

void ViewsTest::ALoadClosesEveryView() {
  Viewer viewer;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  viewer.Open<RecordView>();
  viewer.Open<RecordView>();
  viewer.Open<MemoryView>();
  std::vector<QPointer<QDialog>> views = viewer.form.OpenViews();
  QCOMPARE(views.size(), std::size_t(3));
  QVERIFY(viewer.form.LoadFile(viewer.Write("types.hex", kTypes)));
  for (const QPointer<QDialog>& view : views) QVERIFY(view.isNull());
  QVERIFY(viewer.form.OpenViews().empty());
}

void ViewsTest::TheFileTestReportsItsVerdict() {
  Viewer viewer;
  BoxAnswerer boxes;
  QVERIFY(viewer.form.LoadFile(viewer.Write("early.hex", kEarly)));
  viewer.form.TestLoadedFile();
  QVERIFY(viewer.form.LoadFile(viewer.Write("broken.hex", kBroken)));
  viewer.form.TestLoadedFile();
  QCOMPARE(boxes.Texts().size(), 2);
  QVERIFY(boxes.Texts()[0].startsWith(QStringLiteral("Testing loaded hex file: Passed")));
  QVERIFY(boxes.Texts()[1].startsWith(QStringLiteral("Testing loaded hex file: FAILED")));
  QVERIFY2(boxes.Texts()[1].contains(QStringLiteral("Record 1 of image 0 (line 1)")),
           qPrintable(boxes.Texts()[1]));
  QVERIFY(viewer.form.Log().Text().contains(QStringLiteral("Testing Hex file...")));
}

}  // namespace zandorui::testing
