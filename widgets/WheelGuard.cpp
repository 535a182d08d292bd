#include "WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>

namespace zandorui {

namespace {

bool TakesValuesFromTheWheel(const QObject* object) {
  return qobject_cast<const QComboBox*>(object) != nullptr ||
         qobject_cast<const QAbstractSpinBox*>(object) != nullptr;
}

bool InsideScrollArea(const QWidget& widget) {
  for (const QWidget* outer = widget.parentWidget(); outer != nullptr;
       outer = outer->parentWidget()) {
    if (qobject_cast<const QAbstractScrollArea*>(outer) != nullptr) return true;
    if (outer->isWindow()) break;
  }
  return false;
}

}  // namespace

void WheelGuard::Install(QApplication& app) { app.installEventFilter(new WheelGuard(&app)); }

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type != QEvent::Wheel && type != QEvent::Show) || !TakesValuesFromTheWheel(watched)) {
    return false;
  }
  auto* control = static_cast<QWidget*>(watched);
  if (!InsideScrollArea(*control)) return false;
  if (type == QEvent::Show) {
    // The application gives the focus to a wheel-focus control before the wheel reaches it.
    if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
    return false;
  }
  if (control->hasFocus()) return false;
  // Refused: the event goes on to the parents, and the area under the pointer scrolls.
  event->ignore();
  return true;
}

}  // namespace zandorui
