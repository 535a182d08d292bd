#include "AppStyle.h"

#include <QWidget>

#include "ToolTips.h"

namespace zandorui {

QFont AppFont(bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

QString ControlName(int id) { return QStringLiteral("c%1").arg(id); }

void NameControl(QWidget* control, int id, bool toolTips) {
  control->setObjectName(ControlName(id));
  if (toolTips) control->setToolTip(Qs(ToolTipText(id)));
}

void SetToolTips(QWidget& window, bool on) {
  for (QWidget* child : window.findChildren<QWidget*>()) {
    const QString name = child->objectName();
    if (!name.startsWith(QLatin1Char('c'))) continue;
    bool isNumber = false;
    const int id = QStringView(name).mid(1).toInt(&isNumber);
    if (isNumber) child->setToolTip(on ? Qs(ToolTipText(id)) : QString());
  }
}

}  // namespace zandorui
