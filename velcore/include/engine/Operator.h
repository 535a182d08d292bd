#pragma once

#include <cstdint>
#include <string>

#include "engine/DeviceIdentity.h"
#include "image/FirmwareFile.h"

namespace vel {

// What the device and file version check works on, and what it writes back.
struct ConfirmationRequest {
  DeviceIdentity& device;  // unit choice, images and serial number are written back here
  FirmwareFile& file;
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
  // The device and file version check; true when the operator accepts the device.
  virtual bool ConfirmDevice(ConfirmationRequest& request) = 0;
};

}  // namespace vel
