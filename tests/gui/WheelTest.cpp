#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "console/SerialSettingsDialog.h"

namespace zandorui::testing {

namespace {

QStringList MappedTexts(const QDialog& dialog) {
  QStringList texts;
  for (int com = 1; com <= SerialSettingsDialog::kMappedComPorts; ++com) {
    texts.append(dialog.findChild<QComboBox*>(QStringLiteral("comPort%1").arg(com))->currentText());
  }
  return texts;
}

}  // namespace

void WheelTest::AWheelOverTheMappingScrollsItAndChangesNoPort() {
  SerialChoices choices;
  choices.mapping.Set("COM5", "/dev/ttyUSB3");
  SerialSettingsDialog dialog(choices, {{"/dev/ttyS0", {}}, {"/dev/ttyUSB0", {}}}, true);
  auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("comPortMapping"));
  const QStringList shown = MappedTexts(dialog);
  int scrolledDownTo = 0;
  QWidget* focusBeforeTheWheel = nullptr;
  QWidget* focusAfterTheWheel = nullptr;
  QTimer::singleShot(0, &dialog, [&] {
    if (!QTest::qWaitForWindowActive(&dialog)) qFatal("the dialog was not shown");
    focusBeforeTheWheel = QApplication::focusWidget();
    // The pointer rests over COM5's text, then over its arrow; the list scrolls beneath it.
    auto* com5 = dialog.findChild<QComboBox*>(QStringLiteral("comPort5"));
    QWidget* viewport = table->viewport();
    const QPoint overText = com5->mapTo(viewport, QPoint(10, com5->height() / 2));
    const QPoint overArrow = com5->mapTo(viewport, QPoint(com5->width() - 5, com5->height() / 2));
    for (const QPoint& at : {overText, overArrow}) {
      for (int notch = 0; notch < 2; ++notch) WheelAt(viewport, at, -1);
      scrolledDownTo = std::max(scrolledDownTo, table->verticalScrollBar()->value());
      for (int notch = 0; notch < 2; ++notch) WheelAt(viewport, at, 1);
    }
    focusAfterTheWheel = QApplication::focusWidget();
    Click(dialog.findChild<QWidget*>(QStringLiteral("c1")));  // OK
  });
  QCOMPARE(dialog.exec(), int(QDialog::Accepted));
  QCOMPARE(MappedTexts(dialog), shown);
  QCOMPARE(dialog.Choices().mapping.Entries(), choices.mapping.Entries());
  QCOMPARE(focusAfterTheWheel, focusBeforeTheWheel);  // no box under the pointer took it
  QVERIFY(scrolledDownTo > 0);                        // the wheel reached the list
}

void WheelTest::AControlInAnAreaTakesTheWheelOnceFocused() {
  // Any spin box in any scroll area: the rule belongs to no dialog of its own.
  QScrollArea area;
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* elsewhere = new QLineEdit;  // holds the focus at first
  layout->addWidget(elsewhere);
  auto* spin = new QSpinBox;
  spin->setRange(0, 99);
  spin->setValue(50);
  layout->addWidget(spin);
  layout->addSpacing(2000);
  area.setWidget(page);
  area.resize(200, 150);
  area.show();
  QVERIFY(QTest::qWaitForWindowActive(&area));
  elsewhere->setFocus();
  QScrollBar* bar = area.verticalScrollBar();
  const auto overSpin = [&] { return spin->mapTo(area.viewport(), spin->rect().center()); };
  WheelAt(area.viewport(), overSpin(), -1);
  QCOMPARE(spin->value(), 50);
  QVERIFY(bar->value() > 0);
  QVERIFY(!spin->hasFocus());

  bar->setValue(0);
  ClickAt(area.viewport(), overSpin());
  QVERIFY(spin->hasFocus());
  WheelAt(area.viewport(), overSpin(), 1);
  QCOMPARE(spin->value(), 51);
  QCOMPARE(bar->value(), 0);
}

}  // namespace zandorui::testing
