// The identification exchange: attention byte, type reply, information block, the operator's
// decision, the answer byte and, for multi-unit devices, the unit-select frame.
#include "engine/DeviceIdentifier.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"
#include "families/DeviceTypes.h"
#include "families/Families.h"
#include "image/VersionText.h"

namespace vel {

namespace {

constexpr std::size_t kInfoFixedBytes = 9;  // auxiliary count, type code, hardware, firmware
constexpr int kMaxAuxiliaryCount = 127;     // the count byte is signed on the device side

std::string Text(const std::uint8_t* bytes, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

}  // namespace

void DeviceIdentifier::Begin(bool informationOnly) {
  informationOnly_ = informationOnly;
  answerByte_ = informationOnly ? protocol::kBusy : protocol::kAck;
  declined_ = false;
  unitNotConfirmed_ = false;
  readErrorSeen_ = false;
}

int DeviceIdentifier::IdentifyDevice() {
  ctx_.display.BeginProgress(0, 6, std::string(text::kAttemptingToCommunicate), 1);
  ctx_.identified = false;
  if (ctx_.link.Kind() == LinkKind::kTcp && ctx_.link.ConnectTcp() != 0) {
    if (!ctx_.Cancelled()) {
      ctx_.display.AppendMessage(
          Format(format::kCannotConnect, std::strerror(ctx_.link.Tcp().LastError())));
    }
    ctx_.display.EndProgress();
    return 0;
  }
  const std::uint8_t p = ctx_.protocolByte;
  std::uint8_t reply = 0;
  bool busy = false;
  bool lastMoved = false;
  // A declined device (reply P + 1) is not asked again: the operator's answer stands.
  const std::uint8_t declined = static_cast<std::uint8_t>(p + 1);
  for (int pass = 0;
       pass < kIdentifyPasses && reply != p && reply != declined && !busy && !ctx_.Cancelled();
       ++pass) {
    ctx_.display.SetStatus({});
    lastMoved = ctx_.Write(&p, 1);
    // Skip the device's echoes of 0x1B; a read that brings nothing ends the wait.
    std::uint8_t byte = 0;
    do {
      lastMoved = ctx_.ReadByte(&byte) == 1;
      if (lastMoved) reply = byte;
    } while (lastMoved && reply == protocol::kSingleUnitProtocol);
    if (reply == protocol::kReplyMultiUnit) {
      AnswerUnitDevice(reply, true, lastMoved);
    } else if (protocol::IsSingleUnitReply(reply)) {
      AnswerUnitDevice(reply, false, lastMoved);
    } else if (reply == protocol::kReplySerialOnly && ctx_.link.Kind() == LinkKind::kSerial) {
      AnswerSerialOnlyDevice(reply, lastMoved);
    } else {
      int busyBytes = 0;
      while (reply == protocol::kBusy && busyBytes < kBusyBytes && ctx_.ReadByte(&byte) == 1) {
        reply = byte;
        ++busyBytes;
      }
      if (busyBytes == kBusyBytes) {
        busy = true;
      } else {
        // Bytes that are no reply at all: most often a device that deciphers with another key.
        if (lastMoved && reply != p && reply != declined) ctx_.strangeAnswer = true;
        const std::uint8_t restart = protocol::kRestart;
        lastMoved = ctx_.Write(&restart, 1);
      }
    }
  }
  ctx_.display.EndProgress();

  if (reply == p && lastMoved) {
    ctx_.display.AppendMessage(std::string(text::kCommunicationEstablishedLog));
    Classify();
    ctx_.link.Purge();
    ShowDeviceUnits();
    return 1;
  }
  ctx_.link.Purge();
  if (reply == declined) {
    declined_ = !unitNotConfirmed_;
    ShowDeviceUnits();
    return 1;
  }
  ctx_.identity.serialNumber[0] = kNoSerialNumber;
  return busy ? -1 : 0;
}

bool DeviceIdentifier::ConfirmWithOperator() {
  ConfirmationRequest request{ctx_.identity,     ctx_.file.Loaded(), informationOnly_,
                              ctx_.protocolByte, answerByte_,        serialNumberOptional_};
  const bool accepted = ctx_.op.ConfirmDevice(request);
  // The units, images and serial number the check chose, as the operator left them, are the
  // device's from here on.
  DeviceChoices::Of(request.device).ApplyTo(ctx_.identity);
  if (!accepted) return false;
  if (informationOnly_ || !LeaveOutUnitsWithoutImage()) return true;
  for (int u = 0; u < 4; ++u) {
    if (ctx_.identity.unitSelected[u] == 1) return true;
  }
  // Every unit was left out: there is nothing to update on this device.
  ctx_.display.AppendMessage(LoadString(ids::kNoUnitFits));
  return false;
}

void DeviceIdentifier::AnswerUnitDevice(std::uint8_t& reply, bool multiUnit, bool& lastMoved) {
  const std::uint8_t p = ctx_.protocolByte;
  ctx_.display.SetStatus(std::string(text::kCommunicationEstablished));
  for (int attempt = 0; attempt < kDeviceInfoTries; ++attempt) {
    std::uint8_t answer = protocol::kAskAgain;
    const bool read = ReadDeviceInfo(reply);
    if (read) {
      const bool noSerial = !ctx_.identity.HasSerialNumber();
      if (ConfirmWithOperator()) {
        if (informationOnly_) ctx_.SetStatusCode(status::kCheckAccepted);
        if (!multiUnit) {
          reply = p;
          ctx_.identified = true;
        } else {
          int selected = 0;
          for (int u = 0; u < 4; ++u) selected += ctx_.identity.unitSelected[u] == 1;
          ctx_.identity.selectedUnitCount = selected;
          if (selected != 0) {
            ctx_.identity.selectedImage = 0;
            ctx_.identity.doneUnitCount = 0;
            ctx_.identity.currentUnit = 4;
            do {
              --ctx_.identity.currentUnit;
            } while (ctx_.identity.currentUnit > 0 &&
                     ctx_.identity.unitSelected[ctx_.identity.currentUnit] != 1);
            ctx_.identity.selectedImage = ctx_.identity.unitImage[ctx_.identity.currentUnit];
            reply = p;
            ctx_.identified = true;
          }
        }
      } else {
        reply = static_cast<std::uint8_t>(p + 1);
        ctx_.identified = false;
        if (informationOnly_) ctx_.SetStatusCode(status::kCheckDeclined);
      }
      answer = ((noSerial || answerByte_ == protocol::kAck) && reply == p) ? answerByte_
                                                                           : protocol::kDecline;
      if (!multiUnit && FamilyOf(ctx_.identity.typeCode[0]).answersAfterPause)
        ctx_.Pause("dnkAnswerDelay", ctx_.timing.dnkAnswerDelayMs);
    } else if (attempt + 1 == kDeviceInfoTries) {
      // Asking a third time would leave the device's third block to confuse the next pass: the
      // exchange starts over instead.
      answer = protocol::kRestart;
    }
    lastMoved = ctx_.Write(&answer, 1);
    if (!read) continue;
    if (multiUnit && answerByte_ == protocol::kAck && ctx_.identified) {
      ConfirmUnitSelection(reply, lastMoved);
    } else if (multiUnit && answerByte_ != protocol::kAck) {
      reply = static_cast<std::uint8_t>(p + 1);
    }
    return;
  }
}

void DeviceIdentifier::ConfirmUnitSelection(std::uint8_t& reply, bool& lastMoved) {
  const int unit = ctx_.identity.currentUnit;
  std::uint8_t mode = 0;
  const std::uint8_t kind = UnitSelectModeByKind(unit, true, &mode);
  SendUnitSelect(kind, mode);
  std::uint8_t ack = 0;
  lastMoved = ctx_.ReadByte(&ack) == 1;
  if (lastMoved && ack == protocol::kAck) return;
  // Not confirmed: the device did not say which unit would take the image, so none is sent.
  ReportUnitNotConfirmed(unit, lastMoved ? std::optional<std::uint8_t>(ack) : std::nullopt);
  ctx_.identified = false;
  reply = static_cast<std::uint8_t>(ctx_.protocolByte + 1);
}

void DeviceIdentifier::ReportUnitNotConfirmed(int unit, std::optional<std::uint8_t> answer) {
  unitNotConfirmed_ = true;
  if (ctx_.Cancelled()) return;
  char shown[8] = "none";
  if (answer) std::snprintf(shown, sizeof shown, "0x%02X", *answer);
  ctx_.display.AppendMessage(Format(format::kUnitNotConfirmed, unit, shown));
  ctx_.SetStatusCode(ids::kUnitNotSelected);
}

void DeviceIdentifier::AnswerSerialOnlyDevice(std::uint8_t& reply, bool& lastMoved) {
  const std::uint8_t p = ctx_.protocolByte;
  ctx_.display.SetStatus(std::string(text::kCommunicationEstablished));
  std::uint8_t answer = protocol::kDecline;
  if (!ReadDeviceInfo(reply)) {
    reply = static_cast<std::uint8_t>(p + 1);
    ctx_.identified = false;
    if (informationOnly_) ctx_.SetStatusCode(status::kCheckDeclined);
  } else if (ConfirmWithOperator()) {
    reply = p;
    ctx_.identified = true;
    if (informationOnly_) ctx_.SetStatusCode(status::kCheckAccepted);
  } else {
    reply = static_cast<std::uint8_t>(p + 1);
    ctx_.identified = false;
    if (informationOnly_) ctx_.SetStatusCode(status::kCheckDeclined);
  }
  if (answerByte_ == protocol::kAck && reply == p) answer = answerByte_;
  lastMoved = ctx_.Write(&answer, 1);
}

bool DeviceIdentifier::LeaveOutUnitsWithoutImage() {
  leftOutUnits_.clear();
  for (int u = 0; u < 4 && u < ctx_.identity.unitCount; ++u) {
    if (ctx_.identity.unitSelected[u] != 1 || ctx_.identity.unitImage[u] < kImageSlots) continue;
    ctx_.identity.unitSelected[u] = 0;
    leftOutUnits_.push_back(u);
    ctx_.display.AppendMessage(Format(LoadString(ids::kUnitLeftOut).c_str(), u,
                                      DisplayName(ctx_.identity.typeCode[u]).c_str()));
  }
  return !leftOutUnits_.empty();
}

void DeviceIdentifier::ReadError(std::string_view text, int status) {
  // Reads cut short by a cancel are no fault of the device.
  if (!ctx_.Cancelled()) {
    ctx_.op.ShowMessage(std::string(text));
    ctx_.display.AppendMessage(std::string(text));
  }
  ctx_.SetStatusCode(status);
  readErrorSeen_ = true;
  ctx_.identity.serialNumber[0] = kNoSerialNumber;
}

bool DeviceIdentifier::ReadDeviceInfo(std::uint8_t reply) {
  unsigned sum = reply;
  int units = 1;
  const bool multi = ctx_.protocolByte == protocol::kMultiUnitProtocol;
  if (multi) {
    std::uint8_t count = 0;
    if (ctx_.ReadByte(&count) != 1) {
      ReadError(text::kReadNotEnoughBytes, ids::kReadNotEnoughBytes);
      return false;
    }
    if (count > kMaxUnits) {
      ReadError(Format(format::kTooManyUnits, count, kMaxUnits), ids::kReadMissingParameters);
      return false;
    }
    units = count;
    sum += count;
  }
  ctx_.identity.unitCount = units;
  for (int u = 0; u < units; ++u) {
    std::uint8_t header[2] = {};
    if (multi) {
      if (ctx_.link.LinkRead(header, 2) != 2) {
        ReadError(text::kReadNotEnoughBytes, ids::kReadNotEnoughBytes);
        return false;
      }
      if (header[0] <= 3) ctx_.identity.unitKind[u] = header[0];
    }
    ctx_.identity.serialNumber.fill(0);
    const int got = ctx_.link.LinkRead(ctx_.identity.serialNumber.data(), kSerialNumberSize);
    if (got < kSerialNumberSize) {
      ReadError(std::string(text::kReadNotEnoughBytes) + " [ " +
                    Text(ctx_.identity.serialNumber.data(), static_cast<std::size_t>(got)) + " ]",
                ids::kReadNotEnoughBytes);
      return false;
    }
    std::uint8_t fixed[kInfoFixedBytes];
    if (ctx_.link.LinkRead(fixed, kInfoFixedBytes) != static_cast<int>(kInfoFixedBytes) ||
        fixed[0] > kMaxAuxiliaryCount) {
      ReadError(text::kReadMissingParameters, ids::kReadMissingParameters);
      return false;
    }
    const int auxCount = fixed[0];
    std::uint8_t aux[3 * kMaxAuxiliaryCount];
    if (ctx_.link.LinkRead(aux, 3 * auxCount) != 3 * auxCount) {
      ReadError(text::kReadMissingParameters, ids::kReadMissingParameters);
      return false;
    }
    ctx_.identity.auxiliaryCount = std::min(auxCount, kAuxiliaryVersionCount);
    ctx_.identity.typeCode[u] = Text(fixed + 1, 3);
    ctx_.identity.hardwareVersion[u] = Text(fixed + 4, 2);
    ctx_.identity.firmwareVersion[u] = Text(fixed + 6, 3);
    for (int i = 0; i < ctx_.identity.auxiliaryCount; ++i) {
      ctx_.identity.auxiliaryVersions[i] = Text(aux + 3 * i, 3);
    }
    for (std::uint8_t b : fixed) sum += b;
    for (int i = 0; i < 3 * auxCount; ++i) sum += aux[i];
    for (int i = 0; i < kSerialNumberSize; ++i) sum += ctx_.identity.serialNumber[i];
    if (multi) sum += header[0] + header[1];
  }
  std::uint8_t checksum = 0;
  if (ctx_.ReadByte(&checksum) != 1 || checksum != static_cast<std::uint8_t>(sum)) {
    ReadError(text::kReadChecksumIncorrect, ids::kReadChecksumIncorrect);
    return false;
  }
  return true;
}

std::uint8_t DeviceIdentifier::UnitSelectModeByKind(int unit, bool loaderVariant,
                                                    std::uint8_t* mode) const {
  *mode = 0x00;
  if (ctx_.file.ImageCount() == 1 || unit < 0) return 0x00;
  switch (ctx_.identity.unitKind[unit]) {
    case 1:
      *mode = protocol::kSelectForUpdate;
      return 0x01;
    case 2:
      *mode = protocol::kSelectForUpdate;
      return 0x02;
    case 3:
      *mode = protocol::kSelectForUpdate;
      return 0x03;
    default:
      if (loaderVariant && ctx_.file.SecondTypeFlag()) {
        *mode = protocol::kSelectLoader;
        return 0x01;
      }
      return 0x00;
  }
}

void DeviceIdentifier::SendUnitSelect(std::uint8_t kindCode, std::uint8_t mode) {
  const auto frame = protocol::UnitSelectFrame(ctx_.identity.serialNumber.data(), kindCode, mode);
  ctx_.Write(frame.data(), static_cast<int>(frame.size()));
}

void DeviceIdentifier::Classify() {
  // What the family of unit 0 is steers the choice of procedure.
  ctx_.device = &FamilyOf(ctx_.identity.typeCode[0]);
}

void DeviceIdentifier::ShowDeviceUnits() {
  std::vector<UnitLabel> labels;
  for (int u = 0; u < 4 && u < ctx_.identity.unitCount; ++u) {
    if (ctx_.identity.unitSelected[u] != 1) continue;
    const int image = ctx_.identity.unitImage[u];
    const std::string version = image < kImageSlots ? ctx_.file.Info(image).firmwareVersion : "?";
    labels.push_back({u, DisplayName(ctx_.identity.typeCode[u]), FormatFirmwareVersion(version)});
  }
  ctx_.display.ShowDeviceUnits(labels);
}

}  // namespace vel
