#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/EngineContext.h"

namespace vel {

// The identification exchange: attention byte, type reply, information block, the operator's
// decision, the answer byte and, for multi-unit devices, the unit-select frame; then the
// classification of the device. It works on the link and reports through the two interfaces of
// the context it is given.
class DeviceIdentifier {
 public:
  explicit DeviceIdentifier(EngineContext& ctx) : ctx_(ctx) {}

  // A new operation: an update (answer byte 0xFA) or an information-only run (0xFB).
  void Begin(bool informationOnly);
  // 1 when the device answered (the context's identified flag says whether an update may
  // follow), 0 when it did not usably, -1 when it is busy.
  int IdentifyDevice();
  // The unit labels of the main form, for the units selected.
  void ShowDeviceUnits();
  void SendUnitSelect(std::uint8_t kindCode, std::uint8_t mode);
  // Bytes 9 and 10 of the unit-select frame for a unit, by its kind.
  std::uint8_t UnitSelectModeByKind(int unit, bool loaderVariant, std::uint8_t* mode) const;

  void SetSerialNumberOptional(bool on) { serialNumberOptional_ = on; }
  bool Declined() const { return declined_; }
  // Logs that `unit` did not confirm its unit-select frame (`answer`: what came instead) and
  // leaves the status code of a failed selection.
  void ReportUnitNotConfirmed(int unit, std::optional<std::uint8_t> answer);
  bool ReadErrorSeen() const { return readErrorSeen_; }
  const std::vector<int>& LeftOutUnits() const { return leftOutUnits_; }
  void ForgetLeftOutUnits() { leftOutUnits_.clear(); }

 private:
  bool ReadDeviceInfo(std::uint8_t reply);
  void AnswerUnitDevice(std::uint8_t& reply, bool multiUnit, bool& lastMoved);
  void AnswerSerialOnlyDevice(std::uint8_t& reply, bool& lastMoved);
  // Sends the unit-select frame of the current unit; anything but 0xFA leaves the device
  // unconfirmed (reply P + 1).
  void ConfirmUnitSelection(std::uint8_t& reply, bool& lastMoved);
  // The operator's verdict on the device. In an update run, units that no image fits are left
  // out first, and a device left without a unit is declined.
  bool ConfirmWithOperator();
  // Units the operator kept selected that no image fits are left out; true when any was.
  bool LeaveOutUnitsWithoutImage();
  void Classify();
  void ReadError(std::string_view text, int status);

  EngineContext& ctx_;
  bool informationOnly_ = false;
  bool serialNumberOptional_ = false;
  std::uint8_t answerByte_ = protocol::kAck;
  bool declined_ = false;  // the last identification ended with the device declined
  bool unitNotConfirmed_ = false;
  bool readErrorSeen_ = false;  // an information block of this operation was broken
  std::vector<int> leftOutUnits_;
};

}  // namespace vel
