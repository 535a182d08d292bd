#pragma once

#include <QtTest/qtestspontaneevent.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <functional>

#include "support/ModelRows.h"

namespace zandorui::testing {

// Input as the window system delivers it: keys go to the widget that has the focus, clicks to
// the widget under the point of the top-level window. A test never picks the receiver itself,
// so an editor lying over a cell, or a focus proxy, gets what it would get from a person.
inline QWidget* FocusWidget() {
  // An open pop-up (a drop-down's list, a menu) holds the keyboard; a modal window owns it
  // while it is open.
  if (QWidget* popup = QApplication::activePopupWidget()) {
    return popup->focusWidget() != nullptr ? popup->focusWidget() : popup;
  }
  QWidget* modal = QApplication::activeModalWidget();
  QWidget* focus = modal != nullptr ? modal->focusWidget() : QApplication::focusWidget();
  if (focus == nullptr) focus = modal;
  if (focus == nullptr) {
    // A closed box leaves no window active on the offscreen platform; a window manager would
    // give the keyboard back to the main window.
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->isVisible() && window->inherits("QMainWindow")) {
        QApplication::setActiveWindow(window);
        focus = window->focusWidget() != nullptr ? window->focusWidget() : window;
        break;
      }
    }
  }
  if (focus == nullptr) qFatal("no widget has the keyboard focus");
  return focus;
}

// What a list shows in a cell, and where the cell is on its viewport.
inline QString CellText(const QAbstractItemView& view, int row, int column) {
  return view.model()->index(row, column).data().toString();
}
inline Qt::CheckState CellCheck(const QAbstractItemView& view, int row, int column = 0) {
  return view.model()->index(row, column).data(Qt::CheckStateRole).value<Qt::CheckState>();
}
inline QRect CellRect(const QAbstractItemView& view, int row, int column) {
  return view.visualRect(view.model()->index(row, column));
}

inline void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(FocusWidget(), static_cast<Qt::Key>(key), modifiers);
}

inline void TypeText(const QString& text) { QTest::keyClicks(FocusWidget(), text); }

// The widget of `widget`'s window under a point of `widget`, and the point in its terms.
inline QWidget* WidgetUnder(QWidget* widget, QPoint local, QPoint* there) {
  QWidget* window = widget->window();
  const QPoint inWindow = widget->mapTo(window, local);
  QWidget* target = window->childAt(inWindow);
  if (target == nullptr) target = window;
  *there = target->mapFrom(window, inWindow);
  return target;
}

inline void ClickAt(QWidget* widget, QPoint local, Qt::MouseButton button = Qt::LeftButton) {
  // An open pop-up holds the mouse: a press outside it closes it, and the window system hands
  // the click on to the window under the point.
  const QPoint global = widget->mapToGlobal(local);
  QWidget* popup = QApplication::activePopupWidget();
  if (popup != nullptr && popup != widget->window() && !popup->geometry().contains(global)) {
    QTest::mousePress(popup, button, Qt::NoModifier, popup->mapFromGlobal(global));
  }
  QPoint there;
  QWidget* target = WidgetUnder(widget, local, &there);
  QTest::mouseClick(target, button, Qt::NoModifier, there);
}

inline void Click(QWidget* widget) { ClickAt(widget, widget->rect().center()); }

// Turns the wheel by `notches` (positive away from the user, as X button 4) over a point of
// `widget`: to the widget under the point, passed on to its parents while none takes it.
inline void WheelAt(QWidget* widget, QPoint local, int notches) {
  QPoint there;
  QWidget* target = WidgetUnder(widget, local, &there);
  QWheelEvent wheel(QPointF(there), QPointF(target->mapToGlobal(there)), QPoint(),
                    QPoint(0, notches * QWheelEvent::DefaultDeltasPerStep), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QSpontaneKeyEvent::setSpontaneous(&wheel);
  QApplication::instance()->notify(target, &wheel);
}

// A right click's context menu request, to the widget under the point (it travels up to the
// parents that handle it, as the window system's does).
inline void RightClickAt(QWidget* widget, QPoint local) {
  QPoint there;
  QWidget* target = WidgetUnder(widget, local, &there);
  QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, there);
  QContextMenuEvent menu(QContextMenuEvent::Mouse, there, target->mapToGlobal(there));
  QApplication::sendEvent(target, &menu);
}

// Chooses an entry of the next context menu that opens (nothing chosen when it has none such)
// and records the entries it offered.
class MenuChooser : public QObject {
 public:
  explicit MenuChooser(QString choice) : choice_(std::move(choice)) {
    connect(&timer_, &QTimer::timeout, this, &MenuChooser::Look);
    timer_.start(5);
  }
  const QStringList& Offered() const { return offered_; }
  bool Opened() const { return opened_; }

 private:
  void Look() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    opened_ = true;
    for (QAction* action : menu->actions()) offered_.append(action->text());
    for (QAction* action : menu->actions()) {
      if (!choice_.isEmpty() && action->text() == choice_) {
        menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
        return;
      }
    }
    QTest::keyClick(menu, Qt::Key_Escape);
  }

  QString choice_;
  QTimer timer_;
  QStringList offered_;
  bool opened_ = false;
};

// A file's bytes; none for a file that cannot be read.
inline QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Chooses `entry` from the context menu a right click on `widget` opens.
inline void ChooseFromTheMenu(QWidget& widget, const QString& entry) {
  MenuChooser menu(entry);
  RightClickAt(&widget, QPoint(3, 3));
  QVERIFY(menu.Opened());
  QVERIFY2(menu.Offered().contains(entry), qPrintable(menu.Offered().join(QLatin1Char('|'))));
}

// Answers the message boxes that appear while it lives: records each box's text and title and
// presses the chosen button (Yes, then OK, for boxes that offer them). `onBox` runs first.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes) : answer_(answer) {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Look);
    timer_.start(5);
  }
  const QStringList& Texts() const { return texts_; }
  const QStringList& Titles() const { return titles_; }
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
  void OnBox(std::function<void(QMessageBox&)> onBox) { onBox_ = std::move(onBox); }
  // Leaves the boxes open until answering is switched on again.
  void Hold(bool hold) { hold_ = hold; }

 private:
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (!box->property("answered").toBool()) {
      box->setProperty("answered", true);
      texts_.append(box->text());
      titles_.append(box->windowTitle());
      if (onBox_) onBox_(*box);
    }
    if (hold_) return;
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->button(QMessageBox::Ok);
    if (button == nullptr) button = box->buttons().value(0);
    if (button != nullptr) button->click();
  }

  QMessageBox::StandardButton answer_;
  QTimer timer_;
  QStringList texts_;
  QStringList titles_;
  std::function<void(QMessageBox&)> onBox_;
  bool hold_ = false;
};

// Types `name` into the name box of the file dialog that opens within ten seconds and presses
// Enter there, as a person would, once the dialog runs its own loop.
inline void AnswerNextFileDialog(const QString& name, int looksLeft = 1000) {
  QTimer::singleShot(10, [name, looksLeft] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      if (looksLeft > 0) AnswerNextFileDialog(name, looksLeft - 1);
      return;
    }
    QTimer::singleShot(100, dialog, [dialog, name] {
      auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      QTest::keyClicks(edit, name);
      QTest::keyClick(edit, Qt::Key_Return);
    });
  });
}

}  // namespace zandorui::testing
