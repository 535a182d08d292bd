// Prints where the desktop's controls lie in its main window over a list folder, one "WHAT X Y"
// line each (centres, in the window's own coordinates), so that the real-input suite aims its
// clicks where this build under this X server draws them:
//   zandor-gui-probe LIST_FOLDER
// "cell ROW COLUMN X Y" for every cell of the list, "control ID X Y" for the buttons,
// "background X Y" for a point of the form's background (where its context menu opens).
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "widgets/AppStyle.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zandor-gui-probe LIST_FOLDER\n");
    return 2;
  }
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));
  zandorui::MainWindow window(QString::fromLocal8Bit(argv[1]));
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  const auto centre = [&](QWidget* widget, QRect rect) {
    const QPoint point = widget->mapTo(&window, rect.center());
    return QStringLiteral("%1 %2").arg(point.x()).arg(point.y());
  };
  auto* table = window.findChild<zandorui::DeviceTable*>(zandorui::ControlName(1116));
  const QAbstractItemModel& cells = *table->model();
  for (int r = 0; r < cells.rowCount(); ++r) {
    for (int c = 0; c < cells.columnCount(); ++c) {
      std::printf("cell %d %d %s\n", r, c,
                  qPrintable(centre(table->viewport(), table->visualRect(cells.index(r, c)))));
    }
  }
  for (int id : {1007, 1117, 1150, 1118, 1119, 1120, 1038, 1034, 1151, 1152}) {
    QWidget* control = window.findChild<QWidget*>(zandorui::ControlName(id));
    std::printf("control %d %s\n", id, qPrintable(centre(control, control->rect())));
  }
  QWidget* form = window.findChild<QWidget*>(QStringLiteral("consoleForm"));
  std::printf("background %s\n", qPrintable(centre(form, QRect(QPoint(2, 2), QSize(3, 3)))));
  return 0;
}
