#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/Operator.h"
#include "image/FirmwareFile.h"

namespace vel {

// Verdicts: 1 fits, 0 does not fit, 2 cannot be told.
constexpr int kFits = 1;
constexpr int kDoesNotFit = 0;
constexpr int kUnknownFit = 2;

int MatchDeviceType(const std::string& unitCode, const std::string& imageCode);
int CheckHardwareVersion(const std::string& unitHardware, const std::vector<std::string>& list);
int CheckFirmwareVersion(const std::string& unitFirmware, const std::string& imageFirmware);

// Type names as the version check shows them, for the device and for the file column.
std::string DeviceColumnName(const std::string& code);
std::string FileColumnName(const std::string& code);
// A unit's hardware version: "<Unknown>" when unset.
std::string FormatUnitHardware(const std::string& version);
// Line i of the auxiliary versions box, ending in "\r\n".
std::string FormatAuxiliaryLine(int i, const DeviceIdentity& device, const SharedMetadata& file);

struct UnitVerdicts {
  int type = kDoesNotFit;
  int hardware = kDoesNotFit;
  int firmware = kDoesNotFit;
};

// The device and file version check: verdicts per unit, the pre-selection of units and images,
// the auxiliary lines and the rules of OK. The dialog and the command-line tool both drive it.
class VersionCheck {
 public:
  enum class OkOutcome {
    kAccepted,          // close with OK
    kNoUnitSelected,    // "You must select the unit..."; stays open
    kWrongFirmware,     // "This hex file does not contain firmware..."; leaves by Cancel
    kAskCompatibility,  // Yes proceeds, No leaves by Cancel
  };

  // Makes its choices in `request.device`; the request outlives the check (the caller's own
  // copy: a dialog's member, a local).
  explicit VersionCheck(ConfirmationRequest& request);

  const UnitVerdicts& Verdicts(int unit) const {
    return verdicts_.at(static_cast<std::size_t>(unit));
  }
  bool UnitBoxEnabled(int unit) const { return boxEnabled_.at(static_cast<std::size_t>(unit)); }
  bool UnitSelected(int unit) const;
  int UnitImage(int unit) const;
  // The "Upgrade ?" box of a unit was clicked.
  void ToggleUnit(int unit);
  const std::vector<std::string>& AuxiliaryLines() const { return auxiliaryLines_; }

  // The serial number rules.
  const std::string& InitialSerialText() const { return serialText_; }
  bool SerialEditable() const { return serialEditable_; }
  bool NeedsSerialNumber() const { return needsSerial_; }
  bool OkEnabledFor(const std::string& serialText) const;

  // The first steps of OK: whether the device may be accepted as it stands.
  OkOutcome Evaluate() const;
  // The last steps of OK: the serial number text goes back to the device (at most 12
  // characters; an unchanged text keeps the device's own number whole).
  void Accept(const std::string& serialText);

  const ConfirmationRequest& Request() const { return request_; }
  // The units, images and serial number as the check and the operator left them.
  DeviceChoices Choices() const { return DeviceChoices::Of(request_.device); }

 private:
  void Preselect();
  void ChooseImage(int unit, int image);

  ConfirmationRequest& request_;
  std::array<UnitVerdicts, 4> verdicts_{};
  std::array<bool, 4> boxEnabled_{};
  std::vector<std::string> auxiliaryLines_;
  std::string serialText_;
  bool serialEditable_ = false;
  bool needsSerial_ = false;
};

// What an update with the file would do to the device, as the check preselects its units.
enum class UpdateEffect {
  kChanges,  // some unit it would update holds another firmware version, or an unknown one
  kCurrent,  // every unit it would update holds exactly the firmware version of its image
  kRefused,  // the check would not let the update begin (no unit, a file for another device)
};
UpdateEffect EffectOfUpdate(const ConfirmationRequest& request);

constexpr std::size_t kMaxSerialText = 12;
constexpr std::size_t kMinSerialText = 8;

}  // namespace vel
