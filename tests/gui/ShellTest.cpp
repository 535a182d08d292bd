#include <QDialogButtonBox>
#include <QFontInfo>
#include <QLabel>
#include <QStyle>
#include <QStyleOption>
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
  // A title bar as the style lays one out (the window's menu, minimise, maximise and close
  // beside the label), its title in a bold font a quarter larger than the application's, as
  // window managers commonly draw it: the label has room for the whole title.
  QFont bold = QApplication::font();
  bold.setBold(true);
  bold.setPixelSize(QFontInfo(QApplication::font()).pixelSize() * 5 / 4);
  const QFontMetrics drawn(bold);
  QStyleOptionTitleBar bar;
  bar.text = title;
  bar.fontMetrics = drawn;
  bar.titleBarFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                      Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
  bar.subControls = QStyle::SC_All;
  bar.rect = QRect(0, 0, shown.width(), drawn.height() + 8);
  const QRect label =
      QApplication::style()->subControlRect(QStyle::CC_TitleBar, &bar, QStyle::SC_TitleBarLabel);
  QVERIFY2(drawn.horizontalAdvance(title) <= label.width(),
           qPrintable(QStringLiteral("%1 px of label in %2 px for a title of %3 px")
                          .arg(label.width())
                          .arg(shown.width())
                          .arg(drawn.horizontalAdvance(title))));
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
