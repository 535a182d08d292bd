#include "AppStyle.h"

namespace zandorui {

QFont AppFont(bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  return font;
}

QString ControlName(int id) { return QStringLiteral("c%1").arg(id); }

}  // namespace zandorui
