#include <QDialogButtonBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"

namespace zandorui::testing {

namespace {

template <typename T = QWidget>
T* Control(QWidget& root, int id) {
  return root.findChild<T*>(QStringLiteral("c%1").arg(id));
}

// Lays the windows out as the event loop would, without waiting for it.
void SettleLayouts() { QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest); }

}  // namespace

void ShellTest::TheAboutBoxShowsItsWholeTitle() {
  QTemporaryDir folder;
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QSize shown;
  QString title;
  QStringList lines;
  bool hasOk = false;
  QTimer::singleShot(0, &window, [&] {
    auto* about = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
    if (about == nullptr) qFatal("no About box");
    shown = about->size();
    title = about->windowTitle();
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) lines.append(label->text());
    }
    hasOk = about->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok) != nullptr;
    about->accept();
  });
  window.ShowAbout();
  QCOMPARE(title, QStringLiteral("About Zandor Update V1.0"));
  QCOMPARE(lines, (QStringList{QStringLiteral("Zandor Update Universal"),
                               QStringLiteral("ZandorUpdate version 2.4.5 GA Build 1"),
                               QStringLiteral("Copyright (C) Kelmori Computer")}));
  QVERIFY(hasOk);
  // A window manager draws the title in a bold font, commonly a little larger than the
  // application's, between the window's icon and its buttons (each about as wide as the bar is
  // high): the box leaves it that much room.
  QFont bold = QApplication::font();
  bold.setBold(true);
  bold.setPixelSize(QFontInfo(QApplication::font()).pixelSize() * 5 / 4);
  const QFontMetrics drawn(bold);
  const int room = drawn.horizontalAdvance(title) + 4 * (drawn.height() + 8);
  QVERIFY2(shown.width() >= room,
           qPrintable(QStringLiteral("%1 px for a title needing %2").arg(shown.width()).arg(room)));
}

void ShellTest::OverrideTwoMovesNothingAndKeepsTheWindowsSize() {
  QTemporaryDir folder;
  MainWindow window(folder.path());
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  SettleLayouts();
  ConsoleForm& form = window.Form();
  const QSize size = window.size();
  const QRect list = Control(form, 1116)->geometry();
  const QRect status = Control(form, 1011)->geometry();
  BoxAnswerer boxes(QMessageBox::Yes);
  for (bool shown : {true, false}) {
    form.ToggleAdvancedFunctionsOverride();
    SettleLayouts();
    QCOMPARE(Control(form, 1006)->isVisible(), shown);  // "View Memory"
    QCOMPARE(window.size(), size);
    QCOMPARE(Control(form, 1116)->geometry(), list);
    QCOMPARE(Control(form, 1011)->geometry(), status);
  }
}

}  // namespace zandorui::testing
