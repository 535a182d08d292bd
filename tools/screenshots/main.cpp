// Renders every window of the desktop application, over simulated devices, into PNG files:
//   zandor-screenshots OUT_DIR
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "SimServer.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "console/SerialSettingsDialog.h"
#include "console/VersionDialog.h"
#include "support/DeviceRows.h"
#include "views/MemoryView.h"
#include "views/MessageLog.h"
#include "views/RecordView.h"
#include "widgets/AppIcon.h"
#include "widgets/AppStyle.h"

namespace {

QString out;
int failures = 0;

void Save(QWidget& widget, const QString& name) {
  const QString path = QDir(out).filePath(name + QStringLiteral(".png"));
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    ++failures;
    return;
  }
  std::printf("%s\n", qPrintable(path));
  std::fflush(stdout);
}

// Runs the event loop until `done` holds (or the time is up).
bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

// Captures the first modal window of type T that appears and closes it with `close`; with
// `every`, later ones (a walk's further rows) are closed too, without a picture.
template <typename T>
void CaptureModal(const QString& name, std::function<void(T&)> close, bool every = false) {
  auto* poll = new QTimer;
  auto saved = std::make_shared<bool>(false);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, name, close, every, saved] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (modal == nullptr || modal->property("captured").toBool()) return;
    modal->setProperty("captured", true);
    if (!every) {
      poll->stop();
      poll->deleteLater();
    }
    const bool first = !*saved;
    *saved = true;
    QTimer::singleShot(150, modal, [modal, name, close, first] {
      if (first && !name.isEmpty()) Save(*modal, name);
      close(*modal);
    });
  });
  poll->start(10);
}

sim::SimConfig Hub(int answerDelayMs) {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {"B07"}},
                  sim::SimUnit{1, "G4 ", "B2", "100", {}}, sim::SimUnit{2, "G6 ", "A1", "100", {}}};
  config.answerDelayMs = answerDelayMs;
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zandor-screenshots OUT_DIR\n");
    return 2;
  }
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Kelmori Computer"));
  QCoreApplication::setApplicationName(QStringLiteral("VelUpdate"));
  QApplication::setFont(zandorui::AppFont(false));
  QApplication::setWindowIcon(zandorui::AppIcon());
  out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);

  sim::SimServer hub(Hub(1));
  // A second device whose second unit no image of the file fits: it is left out, and said so.
  sim::SimConfig pair = Hub(1);
  pair.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}}, sim::SimUnit{1, "N8 ", "AC", "100", {}}};
  sim::SimServer station(pair);
  const int hubPort = hub.StartTcp();
  const int stationPort = station.StartTcp();
  QTemporaryDir folder;
  // The list the window finds in its folder, as an operator would have saved it.
  vel::DeviceList rows;
  vel::testing::AddTickedRow(rows, "Hub", "127.0.0.1", std::to_string(hubPort));
  vel::testing::AddTickedRow(rows, "Rack 2", "127.0.0.1", std::to_string(stationPort));
  vel::testing::AddTickedRow(rows, "Desk", vel::kDefaultSerial, "1");
  if (!rows.Save(QDir(folder.path()).filePath(QStringLiteral("KestaLST.txt")).toStdString())) {
    std::fprintf(stderr, "the device list could not be written\n");
    return 1;
  }
  zandorui::MainWindow window(folder.path());
  zandorui::ConsoleForm& form = window.Form();
  form.ListModel().SetChecked(0, true);
  form.ListModel().SetChecked(1, true);
  window.show();
  form.LoadFile(QStringLiteral(ZANDOR_SAMPLES_DIR "/multi-unit.hex"));
  WaitFor([] { return false; }, 300);
  Save(window, QStringLiteral("main-window"));

  // A check run: the version dialog waits for the operator.
  CaptureModal<zandorui::VersionDialog>(
      QStringLiteral("version-dialog"), [](zandorui::VersionDialog& d) { d.ClickOk(); }, true);
  form.findChild<QPushButton*>(QStringLiteral("c1038"))->click();
  WaitFor([&] { return !form.DeviceWorkRunning(); });

  // Two rows updated at once, each with its own progress, then the end with the summary box.
  form.SetRowsAtOnce(2);
  form.findChild<QPushButton*>(QStringLiteral("c1034"))->click();
  auto* bar = form.findChild<QProgressBar*>(QStringLiteral("c1012"));
  WaitFor([&] { return bar->isEnabled() && bar->value() > (bar->minimum() + bar->maximum()) / 3; });
  Save(window, QStringLiteral("main-window-updating"));
  CaptureModal<QMessageBox>(QStringLiteral("update-successful"),
                            [](QMessageBox& box) { box.accept(); });
  WaitFor([&] { return !form.DeviceWorkRunning(); }, 120000);
  WaitFor([] { return false; }, 500);
  Save(window, QStringLiteral("main-window-done"));

  form.ShowLog();
  WaitFor([] { return false; }, 200);
  Save(form.Log(), QStringLiteral("message-log"));
  form.Log().hide();

  // Override 02 and the advanced buttons.
  CaptureModal<QMessageBox>(QStringLiteral("override-02"),
                            [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
  form.ToggleAdvancedFunctionsOverride();
  form.ToggleAdvancedSettings();
  WaitFor([] { return false; }, 200);
  Save(window, QStringLiteral("main-window-advanced"));

  // The list with the key editor open over a cell, part of a key typed.
  auto* table = form.findChild<zandorui::DeviceTable*>(QStringLiteral("c1116"));
  table->ClickCell(1, 4);
  if (auto* key = qobject_cast<QComboBox*>(table->Editor())) {
    key->lineEdit()->clear();
    QTest::keyClicks(key->lineEdit(), QStringLiteral("00112233aabb"));
  }
  WaitFor([] { return false; }, 200);
  Save(window, QStringLiteral("list-key-editor"));
  table->setFocus();
  CaptureModal<QMessageBox>(QString(), [](QMessageBox& box) { box.accept(); });  // invalid key
  WaitFor([] { return false; }, 300);

  form.OpenRecordView();
  auto* records = qobject_cast<zandorui::RecordView*>(form.OpenViews().back().data());
  records->ShowRecordNumber(3);
  records->ShowRecordNumber(2);
  WaitFor([] { return false; }, 200);
  Save(*records, QStringLiteral("record-view"));
  CaptureModal<QMessageBox>(QString(),
                            [](QMessageBox& box) { box.accept(); });  // segment FF unused
  form.OpenMemoryView();
  auto* memory = qobject_cast<zandorui::MemoryView*>(form.OpenViews().back().data());
  memory->findChild<QLineEdit*>(QStringLiteral("c1030"))->setText(QStringLiteral("00"));
  memory->findChild<QLineEdit*>(QStringLiteral("c1020"))->setText(QStringLiteral("00"));
  memory->GoTo();
  WaitFor([] { return false; }, 200);
  Save(*memory, QStringLiteral("memory-view"));

  zandorui::SerialChoices choices;
  choices.mapping.Set("COM1", "/dev/ttyUSB0");
  const std::vector<vel::SerialDevice> devices{
      {"/dev/ttyS0", {}}, {"/dev/ttyUSB0", {"/dev/serial/by-id/usb-Cable_A-if00-port0"}}};
  zandorui::SerialSettingsDialog settings(choices, devices, false, &window);
  settings.show();
  WaitFor([] { return false; }, 200);
  Save(settings, QStringLiteral("serial-settings"));
  settings.hide();
  // "COM Ports..." of the form's menu: the mapping alone, one port mapped by ZANDOR_COM_PORTS.
  qputenv("ZANDOR_COM_PORTS", "COM9=/dev/pts/4");
  zandorui::SerialSettingsDialog comPorts(choices, devices, true, &window);
  qunsetenv("ZANDOR_COM_PORTS");
  comPorts.show();
  WaitFor([] { return false; }, 200);
  Save(comPorts, QStringLiteral("com-ports"));
  comPorts.hide();

  CaptureModal<QDialog>(QStringLiteral("about"), [](QDialog& d) { d.accept(); });
  window.ShowAbout();

  hub.Stop();
  station.Stop();
  return failures == 0 ? 0 : 1;
}
