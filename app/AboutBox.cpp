#include "AboutBox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "../widgets/AppStyle.h"
#include "common/Version.h"

namespace zandorui {

namespace {

constexpr int kIconSize = 48;
constexpr int kTitleBarControls = 4;  // the window's icon, minimise, maximise, close
constexpr int kTitleBarPadding = 8;   // around the title and inside each control

QFont TitleFont() {
  QFont font = QApplication::font();
  font.setBold(true);
  if (font.pixelSize() > 0) {
    font.setPixelSize(font.pixelSize() * 5 / 4);
  } else {
    font.setPointSizeF(font.pointSizeF() * 5 / 4);
  }
  return font;
}

}  // namespace

int TitleBarWidth(const QString& title) {
  const QFontMetrics metrics(TitleFont());
  const int control = metrics.height() + kTitleBarPadding;
  return metrics.horizontalAdvance(title) + 2 * kTitleBarPadding + kTitleBarControls * control;
}

AboutBox::AboutBox(const QIcon& icon, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(QStringLiteral("About Zandor Update V1.0"));
  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  auto* picture = new QLabel;
  picture->setPixmap(icon.pixmap(kIconSize, kIconSize));
  picture->setAlignment(Qt::AlignTop);
  columns->addWidget(picture);
  auto* lines = new QVBoxLayout;
  auto* name = new QLabel(QStringLiteral("Zandor Update Universal"));
  name->setFont(AppFont(true));
  lines->addWidget(name);
  lines->addWidget(new QLabel(Qs(vel::VersionLine())));
  lines->addWidget(new QLabel(QStringLiteral("Copyright (C) Kelmori Computer")));
  columns->addLayout(lines, 1);
  layout->addLayout(columns);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  setMinimumWidth(TitleBarWidth(windowTitle()));
}

}  // namespace zandorui
