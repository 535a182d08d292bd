#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "GuiTests.h"
#include "widgets/AppStyle.h"
#include "widgets/WheelGuard.h"

#ifdef __SANITIZE_ADDRESS__
// A window that reads a worker's stack after the worker's function returned is reported, not
// left to read whatever the stack holds by then.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }
#endif

// Runs every GUI test class; the settings and the COM port mapping go to a folder of the run's
// own, never to the user's.
int main(int argc, char** argv) {
  QTemporaryDir config;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  unsetenv("ZANDOR_COM_PORTS");
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));
  zandorui::WheelGuard::Install(app);
  int failures = 0;
  // ZANDOR_GUI_CLASS=FormTest runs one class (its functions may follow as arguments).
  const QString only = qEnvironmentVariable("ZANDOR_GUI_CLASS");
  const auto run = [&](QObject&& test) {
    const QString name = QString::fromLatin1(test.metaObject()->className());
    if (only.isEmpty() || name.endsWith(QStringLiteral("::") + only)) {
      failures += QTest::qExec(&test, argc, argv);
    }
  };
  run(zandorui::testing::VersionFileTest());
  run(zandorui::testing::MessageLogTest());
  run(zandorui::testing::JobEventQueueTest());
  run(zandorui::testing::WalkControllerTest());
  run(zandorui::testing::ShellTest());
  run(zandorui::testing::FormTest());
  run(zandorui::testing::DeviceListModelTest());
  run(zandorui::testing::ListEditingTest());
  run(zandorui::testing::ViewsTest());
  run(zandorui::testing::SerialSettingsTest());
  run(zandorui::testing::WheelTest());
  run(zandorui::testing::VersionDialogTest());
  run(zandorui::testing::DesktopEndToEndTest());
  run(zandorui::testing::OperatorWalksTest());
  run(zandorui::testing::OperatorQuestionsTest());
  run(zandorui::testing::OperatorListTest());
  run(zandorui::testing::FleetWalksTest());
  run(zandorui::testing::SessionRecordsTest());
  return failures == 0 ? 0 : 1;
}
