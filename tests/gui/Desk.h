#pragma once

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "GuiSupport.h"
#include "SimServer.h"
#include "app/MainWindow.h"
#include "console/ConsoleForm.h"
#include "console/DeviceTable.h"
#include "support/CheckedSimServer.h"

namespace zandorui::testing {

inline void FailOnViolation(const std::string& violation) {
  QTest::qFail(("protocol violation: " + violation).c_str(), __FILE__, __LINE__);
}
// A simulated device for the desktop's tests: a protocol violation fails the test.
using SimDevice = vel::testing::CheckedSimServer<&FailOnViolation>;

constexpr int kWalkTimeoutMs = 60000;
inline const QString kSample = QStringLiteral(ZANDOR_SAMPLES_DIR "/multi-unit.hex");

template <typename T = QWidget>
T* Control(QWidget& root, int id) {
  return root.findChild<T*>(QStringLiteral("c%1").arg(id));
}

inline sim::SimConfig ThreeUnitHub(int answerDelayMs = 0) {
  sim::SimConfig config;
  config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {"B07"}},
                  sim::SimUnit{1, "G4 ", "B2", "100", {}}, sim::SimUnit{2, "G6 ", "A1", "100", {}}};
  config.answerDelayMs = answerDelayMs;
  return config;
}

// A shown window over a fresh list folder with the sample loaded.
struct Desk {
  Desk() : window(folder.path()), form(window.Form()) {
    window.show();
    if (!QTest::qWaitForWindowActive(&window)) qFatal("the window was not shown");
    form.LoadFile(kSample);
  }
  DeviceTable& Table() { return *Control<DeviceTable>(form, 1116); }
  // Appends a ticked row and returns its index.
  std::size_t AddRow(const std::string& name, const std::string& address, const std::string& port,
                     const std::string& key = vel::kNoEncryption) {
    const std::size_t row = AddTickedRow(form.ListModel(), name, address, port, key);
    return row;
  }
  std::size_t AddTcpRow(const std::string& name, sim::SimServer& server) {
    return AddRow(name, "127.0.0.1", std::to_string(server.StartTcp()));
  }
  QString Status(std::size_t row) { return CellText(Table(), static_cast<int>(row), 5); }
  QRect Cell(int row, int column) { return CellRect(Table(), row, column); }
  QString ListPath() const { return QDir(folder.path()).filePath(QStringLiteral("KestaLST.txt")); }
  bool WaitForTheWalk() {
    const bool ended = QTest::qWaitFor([&] { return !form.DeviceWorkRunning(); }, kWalkTimeoutMs);
    QTest::qWait(20);  // the boxes the walk's end shows
    return ended;
  }

  QTemporaryDir folder;
  MainWindow window;
  ConsoleForm& form;
};

}  // namespace zandorui::testing
