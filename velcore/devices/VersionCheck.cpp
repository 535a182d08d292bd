#include "devices/VersionCheck.h"

#include <algorithm>
#include <cstring>

#include "common/Strings.h"
#include "engine/Protocol.h"
#include "families/DeviceTypes.h"
#include "families/Families.h"

namespace vel {

int MatchDeviceType(const std::string& unitCode, const std::string& imageCode) {
  if (IsUnset(unitCode) || IsUnset(imageCode)) return kUnknownFit;
  return CodesAreKin(unitCode, imageCode) ? kFits : kDoesNotFit;
}

int CheckHardwareVersion(const std::string& unitHardware, const std::vector<std::string>& list) {
  // An image without a hardware list says nothing about hardware: it cannot be told.
  const bool acceptsAll = !list.empty() && IsUnset(list.front());
  if (IsUnset(unitHardware)) return acceptsAll ? kFits : kUnknownFit;
  if (list.empty()) return kUnknownFit;
  if (acceptsAll) return kFits;
  return std::find(list.begin(), list.end(), unitHardware) != list.end() ? kFits : kDoesNotFit;
}

int CheckFirmwareVersion(const std::string& unitFirmware, const std::string& imageFirmware) {
  if (IsUnset(unitFirmware) || IsUnset(imageFirmware)) return kUnknownFit;
  return unitFirmware <= imageFirmware ? kFits : kDoesNotFit;
}

std::string DeviceColumnName(const std::string& code) {
  const std::string_view name = FamilyOf(code).deviceColumnName;
  return name.empty() ? DisplayName(code) : std::string(name);
}

std::string FileColumnName(const std::string& code) {
  const std::string_view name = FamilyOf(code).fileColumnName;
  return name.empty() ? DisplayName(code) : std::string(name);
}

std::string FormatUnitHardware(const std::string& version) {
  return IsUnset(version) ? std::string(text::kUnknown) : version;
}

std::string FormatAuxiliaryLine(int i, const DeviceIdentity& device, const SharedMetadata& file) {
  const std::size_t index = static_cast<std::size_t>(i);
  if (index >= file.displayLines.size() || index >= device.auxiliaryVersions.size()) {
    return "Auxiliary Version Value: \r\n";
  }
  std::string line = file.displayLines[index];
  const std::string& ours = device.auxiliaryVersions[index];
  const std::string& theirs = file.auxiliaryVersions[index];
  if (IsUnset(ours)) {
    line += "<Unknown> ";
    line += IsUnset(theirs) ? "- Version OK (Compatibility information not required)"
                            : "- Compatibility not guaranteed";
  } else {
    line += ours;
    if (!IsUnset(theirs)) line += ours > theirs ? " - WARNING: Version is older" : " Version OK";
  }
  return line + "\r\n";
}

UpdateEffect EffectOfUpdate(const ConfirmationRequest& request) {
  ConfirmationRequest copy = request;
  const VersionCheck check(copy);
  switch (check.Evaluate()) {
    case VersionCheck::OkOutcome::kNoUnitSelected:
    case VersionCheck::OkOutcome::kWrongFirmware:
      return UpdateEffect::kRefused;
    case VersionCheck::OkOutcome::kAskCompatibility:
      return UpdateEffect::kChanges;  // once the operator says the file fits
    case VersionCheck::OkOutcome::kAccepted:
      break;
  }
  for (int u = 0; u < 4; ++u) {
    if (!check.UnitSelected(u)) continue;
    // A unit without an image of its own is not judged here: the update decides what it sends.
    if (check.UnitImage(u) >= copy.file->ImageCount()) return UpdateEffect::kChanges;
    const std::string& held = copy.device.firmwareVersion[static_cast<std::size_t>(u)];
    const std::string& offered = copy.file->Info(check.UnitImage(u)).firmwareVersion;
    if (IsUnset(held) || held != offered) return UpdateEffect::kChanges;
  }
  return UpdateEffect::kCurrent;
}

VersionCheck::VersionCheck(ConfirmationRequest& request) : request_(request) {
  DeviceIdentity& device = request_.device;
  for (int u = 0; u < 4; ++u) device.unitSelected[u] = 0;
  if (request_.file->HasFile() && request_.file->MetadataPresent()) Preselect();
  for (int i = 0; i < device.auxiliaryCount; ++i) {
    auxiliaryLines_.push_back(FormatAuxiliaryLine(i, device, request_.file->Shared()));
  }
  if (request_.informationOnly) boxEnabled_.fill(false);
  if (FamilyOf(device.typeCode[0]).noSerialNumber) return;
  if (!device.HasSerialNumber()) {
    serialEditable_ = true;
    needsSerial_ = !request_.serialNumberOptional;
    return;
  }
  const auto* serial = reinterpret_cast<const char*>(device.serialNumber.data());
  serialText_.assign(serial, strnlen(serial, kSerialNumberSize));
  serialEditable_ = request_.serialNumberOptional && request_.answerByte != protocol::kBusy;
}

void VersionCheck::Preselect() {
  const DeviceIdentity& device = request_.device;
  const LoadedFirmware& file = *request_.file;
  for (int u = 0; u < std::min(device.unitCount, 4); ++u) {
    request_.device.unitSelected[u] = 1;
    for (int k = 0; k < file.ImageCount() && k < kImageSlots; ++k) {
      const FirmwareInfo& image = file.Info(k);
      UnitVerdicts& v = verdicts_[u];
      v.type = MatchDeviceType(device.typeCode[u], image.deviceType);
      const bool versionsKnown =
          u == 0 || (!device.hardwareVersion[u].empty() && !device.firmwareVersion[u].empty());
      if (v.type == kFits && versionsKnown) {
        v.hardware = CheckHardwareVersion(device.hardwareVersion[u], image.hardwareVersions);
        v.firmware = CheckFirmwareVersion(device.firmwareVersion[u], image.firmwareVersion);
        if (v.hardware != kDoesNotFit) {
          ChooseImage(u, k);
          break;
        }
      } else if (u == 0 && v.type == kDoesNotFit) {
        break;  // unit 0 tries no further image after a type that does not fit
      }
    }
  }
}

void VersionCheck::ChooseImage(int unit, int image) {
  request_.device.unitImage[unit] = static_cast<std::uint8_t>(image);
  request_.device.unitSelected[unit] = 1;
  boxEnabled_[unit] = request_.protocolByte != protocol::kSingleUnitProtocol || unit != 0;
}

bool VersionCheck::UnitSelected(int unit) const { return request_.device.unitSelected[unit] == 1; }

int VersionCheck::UnitImage(int unit) const { return request_.device.unitImage[unit]; }

void VersionCheck::ToggleUnit(int unit) {
  auto& selected = request_.device.unitSelected[unit];
  selected = selected == 1 ? 0 : 1;
}

bool VersionCheck::OkEnabledFor(const std::string& serialText) const {
  if (!serialEditable_) return !needsSerial_;
  if (serialText.size() >= kMinSerialText) return true;
  return request_.serialNumberOptional && serialText.empty();
}

VersionCheck::OkOutcome VersionCheck::Evaluate() const {
  bool any = false;
  for (int u = 0; u < 4; ++u) any = any || UnitSelected(u);
  if (!any) return OkOutcome::kNoUnitSelected;
  if (request_.file->MetadataPresent()) {
    if (verdicts_[0].type == kDoesNotFit) return OkOutcome::kWrongFirmware;
    if (verdicts_[0].type == kUnknownFit) return OkOutcome::kAskCompatibility;
  }
  return OkOutcome::kAccepted;
}

void VersionCheck::Accept(const std::string& serialText) {
  auto& serial = request_.device.serialNumber;
  if (serialText == serialText_ && request_.device.HasSerialNumber()) return;  // as the device said
  const std::string text = serialText.substr(0, kMaxSerialText);
  serial.fill(0);
  if (text.empty()) {
    serial[0] = kNoSerialNumber;
    return;
  }
  std::copy(text.begin(), text.end(), serial.begin());
}

}  // namespace vel
