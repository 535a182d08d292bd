// Prints where the desktop's controls lie in its main window over a list folder, one "WHAT X Y"
// line each (centres, in the window's own coordinates), so that the real-input suite aims its
// clicks where this build under this X server draws them:
//   zandor-gui-probe LIST_FOLDER
// "cell ROW COLUMN X Y" for every cell of the list, "control ID X Y" for the buttons,
// "background X Y" for a point of the form's background (where its context menu opens); and in
// the COM Ports window's own coordinates "com-ports box N X Y" for the box of COMn, "com-ports
// arrow N X Y" for its arrow and "com-ports control 1 X Y" for OK.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "console/SerialSettingsDialog.h"
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
  const auto at = [](QWidget* root, QWidget* widget, QPoint local) {
    const QPoint point = widget->mapTo(root, local);
    return QStringLiteral("%1 %2").arg(point.x()).arg(point.y());
  };
  const auto centre = [&](QWidget* widget, QRect rect) {
    return at(&window, widget, rect.center());
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

  zandorui::SerialSettingsDialog comPorts(zandorui::SerialChoices{}, vel::ListSerialDevices(), true,
                                          &window);
  comPorts.show();
  if (!QTest::qWaitForWindowExposed(&comPorts)) return 1;
  for (int com = 1; com <= zandorui::SerialSettingsDialog::kMappedComPorts; ++com) {
    auto* box = comPorts.findChild<QWidget*>(QStringLiteral("comPort%1").arg(com));
    std::printf("com-ports box %d %s\n", com,
                qPrintable(at(&comPorts, box, QPoint(10, box->height() / 2))));
    std::printf("com-ports arrow %d %s\n", com,
                qPrintable(at(&comPorts, box, QPoint(box->width() - 6, box->height() / 2))));
  }
  QWidget* ok = comPorts.findChild<QWidget*>(zandorui::ControlName(1));
  std::printf("com-ports control 1 %s\n", qPrintable(at(&comPorts, ok, ok->rect().center())));
  return 0;
}
