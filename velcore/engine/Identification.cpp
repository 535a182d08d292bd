// The identification exchange: attention byte, type reply, information block, the operator's
// decision, the answer byte and, for multi-unit devices, the unit-select frame.
#include <algorithm>
#include <cstring>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/DeviceTypes.h"
#include "engine/Protocol.h"
#include "engine/VelUpdateDoc.h"
#include "image/VersionText.h"

namespace vel {

namespace {

constexpr std::size_t kInfoFixedBytes = 9;  // auxiliary count, type code, hardware, firmware
constexpr int kMaxAuxiliaryCount = 127;     // the count byte is signed on the device side

std::string Text(const std::uint8_t* bytes, std::size_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

}  // namespace

int CVelUpdateDoc::IdentifyDevice() {
  console_.BeginProgress(0, 6, std::string(text::kAttemptingToCommunicate), 1);
  identified_ = false;
  if (link_.Kind() == LinkKind::kTcp && link_.Tcp().ConnectTcp(link_.Tcp().Endpoint()) != 0) {
    if (!Cancelled()) {
      console_.AppendMessage(
          Format("Cannot connect to the Zandor Unit: %s", std::strerror(link_.Tcp().LastError())));
    }
    console_.EndProgress();
    return 0;
  }
  const std::uint8_t p = protocolByte_;
  std::uint8_t reply = 0;
  bool busy = false;
  bool lastMoved = false;
  // A declined device (reply P + 1) is not asked again: the operator's answer stands.
  const std::uint8_t declined = static_cast<std::uint8_t>(p + 1);
  for (int pass = 0;
       pass < kIdentifyPasses && reply != p && reply != declined && !busy && !Cancelled(); ++pass) {
    console_.SetStatus({});
    lastMoved = Write(&p, 1);
    // Skip the device's echoes of 0x1B; a read that brings nothing ends the wait.
    std::uint8_t byte = 0;
    do {
      lastMoved = ReadByte(&byte) == 1;
      if (lastMoved) reply = byte;
    } while (lastMoved && reply == protocol::kSingleUnitProtocol);
    if (reply == protocol::kReplyMultiUnit) {
      AnswerUnitDevice(reply, true, lastMoved);
    } else if (protocol::IsSingleUnitReply(reply)) {
      AnswerUnitDevice(reply, false, lastMoved);
    } else if (reply == protocol::kReplySerialOnly && link_.Kind() == LinkKind::kSerial) {
      AnswerSerialOnlyDevice(reply, lastMoved);
    } else {
      int busyBytes = 0;
      while (reply == protocol::kBusy && busyBytes < kBusyBytes && ReadByte(&byte) == 1) {
        reply = byte;
        ++busyBytes;
      }
      if (busyBytes == kBusyBytes) {
        busy = true;
      } else {
        const std::uint8_t restart = protocol::kRestart;
        lastMoved = Write(&restart, 1);
      }
    }
  }
  console_.EndProgress();

  if (reply == p && lastMoved) {
    console_.AppendMessage(std::string(text::kCommunicationEstablishedLog));
    Classify();
    link_.Purge();
    console_.EnableWorkingControls(false);
    ShowDeviceUnits();
    return 1;
  }
  link_.Purge();
  console_.EnableFileControls(true);
  console_.EnableWorkingControls(true);
  if (reply == declined) {
    declined_ = true;
    ShowDeviceUnits();
    return 1;
  }
  identity_.serialNumber[0] = kNoSerialNumber;
  return busy ? -1 : 0;
}

bool CVelUpdateDoc::ConfirmWithOperator() {
  ConfirmationRequest request{identity_,     file_,       informationOnly_,
                              protocolByte_, answerByte_, serialNumberOptional_};
  if (!operator_.ConfirmDevice(request)) return false;
  if (informationOnly_ || !LeaveOutUnitsWithoutImage()) return true;
  for (int u = 0; u < 4; ++u) {
    if (identity_.unitSelected[u] == 1) return true;
  }
  // Every unit was left out: there is nothing to update on this device.
  console_.AppendMessage(LoadString(ids::kNoUnitFits));
  return false;
}

void CVelUpdateDoc::AnswerUnitDevice(std::uint8_t& reply, bool multiUnit, bool& lastMoved) {
  const std::uint8_t p = protocolByte_;
  console_.SetStatus(std::string(text::kCommunicationEstablished));
  for (int attempt = 0; attempt < kDeviceInfoTries; ++attempt) {
    std::uint8_t answer = protocol::kAskAgain;
    const bool read = ReadDeviceInfo(reply);
    if (read) {
      const bool noSerial = !identity_.HasSerialNumber();
      if (ConfirmWithOperator()) {
        if (informationOnly_) SetStatusCode(status::kCheckAccepted);
        if (!multiUnit) {
          reply = p;
          identified_ = true;
        } else {
          int selected = 0;
          for (int u = 0; u < 4; ++u) selected += identity_.unitSelected[u] == 1;
          identity_.selectedUnitCount = selected;
          if (selected != 0) {
            identity_.selectedImage = 0;
            identity_.doneUnitCount = 0;
            identity_.currentUnit = 4;
            do {
              --identity_.currentUnit;
            } while (identity_.currentUnit > 0 &&
                     identity_.unitSelected[identity_.currentUnit] != 1);
            identity_.selectedImage = identity_.unitImage[identity_.currentUnit];
            reply = p;
            identified_ = true;
          }
        }
      } else {
        reply = static_cast<std::uint8_t>(p + 1);
        identified_ = false;
        if (informationOnly_) SetStatusCode(status::kCheckDeclined);
      }
      answer = ((noSerial || answerByte_ == protocol::kAck) && reply == p) ? answerByte_
                                                                           : protocol::kDecline;
      if (!multiUnit && CodeMatches(identity_.typeCode[0], "DNK", 3))
        Pause(timing_.dnkAnswerDelayMs);
    }
    lastMoved = Write(&answer, 1);
    if (multiUnit) {
      if (answerByte_ == protocol::kAck && identified_) {
        std::uint8_t mode = 0;
        const std::uint8_t kind = UnitSelectModeByKind(identity_.currentUnit, true, &mode);
        SendUnitSelect(kind, mode);
        std::uint8_t ack = 0;
        lastMoved = ReadByte(&ack) == 1;
        reply = lastMoved && ack == protocol::kAck ? p : static_cast<std::uint8_t>(p + 1);
      } else if (answerByte_ != protocol::kAck) {
        reply = static_cast<std::uint8_t>(p + 1);
      }
    }
    if (read) return;
  }
}

void CVelUpdateDoc::AnswerSerialOnlyDevice(std::uint8_t& reply, bool& lastMoved) {
  const std::uint8_t p = protocolByte_;
  console_.SetStatus(std::string(text::kCommunicationEstablished));
  std::uint8_t answer = protocol::kDecline;
  if (!ReadDeviceInfo(reply)) {
    reply = static_cast<std::uint8_t>(p + 1);
    identified_ = false;
    if (informationOnly_) SetStatusCode(status::kCheckDeclined);
  } else if (ConfirmWithOperator()) {
    reply = p;
    identified_ = true;
    if (informationOnly_) SetStatusCode(status::kCheckAccepted);
  } else {
    reply = static_cast<std::uint8_t>(p + 1);
    identified_ = false;
    if (informationOnly_) SetStatusCode(status::kCheckDeclined);
  }
  if (answerByte_ == protocol::kAck && reply == p) answer = answerByte_;
  lastMoved = Write(&answer, 1);
}

bool CVelUpdateDoc::LeaveOutUnitsWithoutImage() {
  leftOutUnits_.clear();
  for (int u = 0; u < 4 && u < identity_.unitCount; ++u) {
    if (identity_.unitSelected[u] != 1 || identity_.unitImage[u] < kImageSlots) continue;
    identity_.unitSelected[u] = 0;
    leftOutUnits_.push_back(u);
    console_.AppendMessage(Format(LoadString(ids::kUnitLeftOut).c_str(), u,
                                  DisplayName(identity_.typeCode[u]).c_str()));
  }
  return !leftOutUnits_.empty();
}

void CVelUpdateDoc::ReadError(std::string_view text, int status) {
  // Reads cut short by a cancel are no fault of the device.
  if (!Cancelled()) {
    operator_.ShowMessage(std::string(text));
    console_.AppendMessage(std::string(text));
  }
  SetStatusCode(status);
  readErrorSeen_ = true;
  identity_.serialNumber[0] = kNoSerialNumber;
}

bool CVelUpdateDoc::ReadDeviceInfo(std::uint8_t reply) {
  unsigned sum = reply;
  int units = 1;
  const bool multi = protocolByte_ == protocol::kMultiUnitProtocol;
  if (multi) {
    std::uint8_t count = 0;
    if (ReadByte(&count) != 1) {
      ReadError(text::kReadNotEnoughBytes, ids::kReadNotEnoughBytes);
      return false;
    }
    if (count > kMaxUnits) {
      ReadError(Format("Read Error: The device reported %d units; at most %d are supported.", count,
                       kMaxUnits),
                ids::kReadMissingParameters);
      return false;
    }
    units = count;
    sum += count;
  }
  identity_.unitCount = units;
  for (int u = 0; u < units; ++u) {
    std::uint8_t header[2] = {};
    if (multi) {
      if (link_.LinkRead(header, 2) != 2) {
        ReadError(text::kReadNotEnoughBytes, ids::kReadNotEnoughBytes);
        return false;
      }
      if (header[0] <= 3) identity_.unitKind[u] = header[0];
    }
    identity_.serialNumber.fill(0);
    const int got = link_.LinkRead(identity_.serialNumber.data(), kSerialNumberSize);
    if (got < kSerialNumberSize) {
      ReadError(std::string(text::kReadNotEnoughBytes) + " [ " +
                    Text(identity_.serialNumber.data(), static_cast<std::size_t>(got)) + " ]",
                ids::kReadNotEnoughBytes);
      return false;
    }
    std::uint8_t fixed[kInfoFixedBytes];
    if (link_.LinkRead(fixed, kInfoFixedBytes) != static_cast<int>(kInfoFixedBytes) ||
        fixed[0] > kMaxAuxiliaryCount) {
      ReadError(text::kReadMissingParameters, ids::kReadMissingParameters);
      return false;
    }
    const int auxCount = fixed[0];
    std::uint8_t aux[3 * kMaxAuxiliaryCount];
    if (link_.LinkRead(aux, 3 * auxCount) != 3 * auxCount) {
      ReadError(text::kReadMissingParameters, ids::kReadMissingParameters);
      return false;
    }
    identity_.auxiliaryCount = std::min(auxCount, kAuxiliaryVersionCount);
    identity_.typeCode[u] = Text(fixed + 1, 3);
    identity_.hardwareVersion[u] = Text(fixed + 4, 2);
    identity_.firmwareVersion[u] = Text(fixed + 6, 3);
    for (int i = 0; i < identity_.auxiliaryCount; ++i) {
      identity_.auxiliaryVersions[i] = Text(aux + 3 * i, 3);
    }
    for (std::uint8_t b : fixed) sum += b;
    for (int i = 0; i < 3 * auxCount; ++i) sum += aux[i];
    for (int i = 0; i < kSerialNumberSize; ++i) sum += identity_.serialNumber[i];
    if (multi) sum += header[0] + header[1];
  }
  std::uint8_t checksum = 0;
  if (ReadByte(&checksum) != 1 || checksum != static_cast<std::uint8_t>(sum)) {
    ReadError(text::kReadChecksumIncorrect, ids::kReadChecksumIncorrect);
    return false;
  }
  return true;
}

std::uint8_t CVelUpdateDoc::UnitSelectModeByKind(int unit, bool loaderVariant,
                                                 std::uint8_t* mode) const {
  *mode = 0x00;
  if (file_.ImageCount() == 1 || unit < 0) return 0x00;
  switch (identity_.unitKind[unit]) {
    case 1:
      *mode = 0x30;
      return 0x01;
    case 2:
      *mode = 0x30;
      return 0x02;
    case 3:
      *mode = 0x30;
      return 0x03;
    default:
      if (loaderVariant && file_.SecondTypeFlag()) {
        *mode = 0x31;
        return 0x01;
      }
      return 0x00;
  }
}

void CVelUpdateDoc::SendUnitSelect(std::uint8_t kindCode, std::uint8_t mode) {
  const auto frame = protocol::UnitSelectFrame(identity_.serialNumber.data(), kindCode, mode);
  Write(frame.data(), static_cast<int>(frame.size()));
}

void CVelUpdateDoc::Classify() {
  const std::string& unit0 = identity_.typeCode[0];
  const std::string& fileType = file_.Info(0).deviceType;
  const bool fileG456 = CodeMatches(fileType, "G4", 2) || CodeMatches(fileType, "G5", 2) ||
                        CodeMatches(fileType, "G6", 2);
  if (CodeMatches(unit0, "DNK", 3)) {
    classes_.dnk = true;
  } else if (CodeMatches(unit0, "TZT", 3)) {
    classes_.tzt = true;
  } else if (CodeMatches(unit0, "XXX", 3)) {
    classes_.xxx = true;
  } else if (unit0.starts_with("G") && fileG456) {
    // the multi-unit family needs no class
  } else if (CodeMatches(unit0, "H2", 2) || CodeMatches(unit0, "H6", 2) ||
             CodeMatches(unit0, "H7", 2) || CodeMatches(unit0, "RLT", 3)) {
    classes_.userStation = true;
  } else if (CodeMatches(unit0, "JQH", 3)) {
    classes_.jqh = classes_.refuse64k = true;
  } else if (CodeMatches(unit0, "YPB", 3)) {
    classes_.dravik = true;
    classes_.ypd = false;
  } else if (CodeMatches(unit0, "YPD", 3)) {
    classes_.dravik = classes_.ypd = true;
  }
}

void CVelUpdateDoc::ShowDeviceUnits() {
  std::vector<UnitLabel> labels;
  for (int u = 0; u < 4 && u < identity_.unitCount; ++u) {
    if (identity_.unitSelected[u] != 1) continue;
    const int image = identity_.unitImage[u];
    const std::string version = image < kImageSlots ? file_.Info(image).firmwareVersion : "?";
    labels.push_back({u, DisplayName(identity_.typeCode[u]), FormatFirmwareVersion(version)});
  }
  console_.ShowDeviceUnits(labels);
}

}  // namespace vel
