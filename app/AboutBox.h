#pragma once

#include <QDialog>

namespace zandorui {

// "About Zandor Update V1.0": the application's icon beside its name, the release line and the
// maker's notice, with OK. It is at least as wide as its title needs (TitleBarWidth), so that
// the window manager shows the title whole.
class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(const QIcon& icon, QWidget* parent = nullptr);
};

// The width a window manager's title bar needs to show `title` whole: the title in a bold font a
// quarter larger than the application's, beside the window's icon and three buttons.
int TitleBarWidth(const QString& title);

}  // namespace zandorui
