#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zandorui {

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  // The device: a dark rounded box with a row of port lights.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x3b, 0x5c));
  p.drawRoundedRect(QRectF(4, 22, 56, 36), 6, 6);
  p.setBrush(QColor(0x7c, 0xd9, 0x92));
  for (int i = 0; i < 4; ++i) p.drawEllipse(QRectF(11 + i * 8, 48, 4, 4));
  // The chip being written.
  p.setBrush(QColor(0xf2, 0xb1, 0x34));
  p.drawRect(QRectF(38, 30, 14, 14));
  // The arrow coming down into the device.
  QPainterPath arrow;
  arrow.moveTo(20, 4);
  arrow.lineTo(28, 4);
  arrow.lineTo(28, 22);
  arrow.lineTo(34, 22);
  arrow.lineTo(24, 36);
  arrow.lineTo(14, 22);
  arrow.lineTo(20, 22);
  arrow.closeSubpath();
  p.setBrush(QColor(0x3d, 0x8b, 0xe0));
  p.drawPath(arrow);
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  return icon;
}

}  // namespace zandorui
