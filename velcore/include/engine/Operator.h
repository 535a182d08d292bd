#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/DeviceIdentity.h"

namespace vel {

class LoadedFirmware;
// A load of no file: what a request holds until it is handed the file's load.
std::shared_ptr<const LoadedFirmware> NothingLoaded();

// The operator's word on a device: the units to update, the image of the file for each, and
// the serial number the device is to keep.
struct DeviceChoices {
  std::array<std::uint8_t, kMaxUnits> unitSelected{};
  std::array<std::uint8_t, kMaxUnits> unitImage{};
  std::array<std::uint8_t, kSerialNumberSize + 1> serialNumber{};

  static DeviceChoices Of(const DeviceIdentity& device) {
    return {device.unitSelected, device.unitImage, device.serialNumber};
  }
  void ApplyTo(DeviceIdentity& device) const {
    device.unitSelected = unitSelected;
    device.unitImage = unitImage;
    device.serialNumber = serialNumber;
  }
};

// What the device and file version check works on: copies of what identification read and of
// the file's load, which the check may take to another thread and keep as long as it likes. The
// choice of units, images and serial number is made in `device`; the exchange takes it back
// from there (DeviceChoices).
struct ConfirmationRequest {
  DeviceIdentity device;
  std::shared_ptr<const LoadedFirmware> file = NothingLoaded();
  bool informationOnly = false;
  std::uint8_t protocolByte = 0x1D;
  std::uint8_t answerByte = 0xFA;
  bool serialNumberOptional = false;
};

enum class Question {
  kNotResponding,         // Yes cancels the transfer
  kUnknownCompatibility,  // Yes proceeds with a file of unknown fitness
};

// The operator: messages, questions and the confirmation of a device. Called from the thread
// that runs the engine (a worker, or the caller of DispatchUpdate).
class Operator {
 public:
  virtual ~Operator() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskYesNo(Question question, const std::string& text) = 0;
  // The device and file version check; true when the operator accepts the device. The
  // operator's choices are left in `request.device`, accepted or not.
  virtual bool ConfirmDevice(ConfirmationRequest& request) = 0;
};

}  // namespace vel
