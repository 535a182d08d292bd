#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "image/FirmwareInfo.h"

namespace vel {

constexpr int kMaxUnits = 10;
constexpr int kSerialNumberSize = 16;
constexpr std::uint8_t kNoSerialNumber = 0xFF;
constexpr std::uint8_t kUnitKindUnknown = 0xFF;
constexpr std::uint8_t kNoImage = 0xFF;

// What a device reported about itself, and the operator's choice of units and images.
struct DeviceIdentity {
  int unitCount = 0;
  std::array<std::uint8_t, kMaxUnits> unitKind;
  std::array<std::string, kMaxUnits> typeCode;
  std::array<std::string, kMaxUnits> hardwareVersion;
  std::array<std::string, kMaxUnits> firmwareVersion;
  int auxiliaryCount = 0;
  std::array<std::string, kAuxiliaryVersionCount> auxiliaryVersions;
  // 16 serial bytes and a zero; first byte 0xFF = no valid serial number.
  std::array<std::uint8_t, kSerialNumberSize + 1> serialNumber{};

  // Written by the version check.
  std::array<std::uint8_t, kMaxUnits> unitSelected{};
  std::array<std::uint8_t, kMaxUnits> unitImage;

  // The running multi-unit update.
  int selectedImage = 0;
  int currentUnit = 4;
  int selectedUnitCount = 0;
  int doneUnitCount = 0;

  DeviceIdentity() { Reset(); }
  void Reset() {
    unitCount = 0;
    unitKind.fill(kUnitKindUnknown);
    typeCode.fill("?");
    hardwareVersion.fill("?");
    firmwareVersion.fill("?");
    auxiliaryCount = 0;
    auxiliaryVersions.fill("?");
    serialNumber.fill(0);
    serialNumber[0] = kNoSerialNumber;
    unitSelected.fill(0);
    unitImage.fill(kNoImage);
    selectedImage = 0;
    currentUnit = 4;
    selectedUnitCount = doneUnitCount = 0;
  }
  bool HasSerialNumber() const { return serialNumber[0] != kNoSerialNumber; }
};

// What an update left on one unit of the device.
enum class UnitOutcome {
  kNotSent,        // nothing of the file went to it
  kFailedPartWay,  // its image began to go out but did not end: it may hold part of it
  kProgrammed,     // its whole image went out and the device took it
};

// What the main form shows for one unit of the identified device.
struct UnitLabel {
  int unit = 0;
  std::string name;
  std::string firmwareVersion;
};

// Device classes found by identification; they steer the choice of procedure and accumulate
// until the next file load.
struct DeviceClasses {
  bool refuse64k = false;
  bool dnk = false;
  bool userStation = false;
  bool jqh = false;
  bool dravik = false;
  bool ypd = false;
  bool tzt = false;
  bool xxx = false;
};

}  // namespace vel
