#pragma once

#include <QDialog>
#include <vector>

#include "link/PortNames.h"
#include "link/SerialSettings.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace zandorui {

// What the serial settings dialog edits: the line settings, the port choice and the port
// override, and which device each COM number opens on this machine.
struct SerialChoices {
  vel::SerialSettings settings;
  int portIndex = 0;  // position in "Serial Port"; 4 is "User Defined"
  vel::PortNameMap mapping;
};

// "Advanced Communication Settings": port, baud rate, parity, stop and data bits, the manual
// port override with its address and IRQ, and the COM numbers mapped to this machine's serial
// devices. The values change only on OK; Cancel leaves them as they were.
class SerialSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMappedComPorts = 10;

  // `mappingOnly`: "COM Ports", the mapping without the line settings.
  SerialSettingsDialog(const SerialChoices& choices, std::vector<vel::SerialDevice> devices,
                       bool mappingOnly = false, QWidget* parent = nullptr);

  // The choices as the controls hold them (valid after OK).
  const SerialChoices& Choices() const { return choices_; }

  void accept() override;

 private:
  void BuildLayout();
  void ShowChoices();
  void ToggleOverride();
  void ResetPortDefaults();
  void ShowPortDefaults();
  void SetOverride(bool on);
  void AddUserDefined();
  void RemoveUserDefined();
  QComboBox* List(int id, const QStringList& entries);
  // What an unmapped COM number opens: the device ZANDOR_COM_PORTS names, else /dev/ttyS<n-1>.
  QString UnmappedText(int com) const;

  SerialChoices choices_;
  std::vector<vel::SerialDevice> devices_;
  vel::PortNameMap environment_ = vel::PortNameMap::FromEnvironment();
  bool override_ = false;
  QComboBox* port_ = nullptr;
  QComboBox* baud_ = nullptr;
  QComboBox* parity_ = nullptr;
  QComboBox* stopBits_ = nullptr;
  QComboBox* dataBits_ = nullptr;
  QLineEdit* address_ = nullptr;
  QLineEdit* irq_ = nullptr;
  QPushButton* overrideButton_ = nullptr;
  QPushButton* resetButton_ = nullptr;
  QTableWidget* mappingTable_ = nullptr;
};

}  // namespace zandorui
