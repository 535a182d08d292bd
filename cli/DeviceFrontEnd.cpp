#include "DeviceFrontEnd.h"

#include <algorithm>
#include <iostream>

#include "Json.h"
#include "Printable.h"
#include "common/Strings.h"
#include "image/VersionText.h"

namespace zandor {

namespace {

constexpr auto kRepaintInterval = std::chrono::milliseconds(33);  // about 30 repaints a second
constexpr int kPlainPercentStep = 25;
constexpr auto kPlainQuietTime = std::chrono::milliseconds(500);

std::string Verdict(int v) {
  return v == vel::kFits ? "yes" : v == vel::kDoesNotFit ? "no" : "unknown";
}

std::string JsonVerdict(bool judged, int v) { return judged ? std::to_string(v) : "null"; }

std::string OneLine(const std::string& text) { return Printable(text, true); }

std::string Event(const Presentation& p, const std::string& kind, const std::string& fields) {
  return "{\"event\":\"" + kind + "\",\"device\":" + JsonString(p.device) +
         (fields.empty() ? "" : "," + fields) + "}\n";
}

}  // namespace

void CliConsole::WriteLog(const std::string& line) {
  if (p_.log != nullptr) {
    *p_.log << OneLine(p_.device.empty() ? line : p_.device + ": " + line) << "\n";
  }
}

void CliConsole::LogStatusLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(*p_.lock);
  WriteLog(line);
}

void CliConsole::AppendMessage(const std::string& line) {
  std::lock_guard<std::mutex> guard(*p_.lock);
  WriteLog(line);
  if (p_.json) {
    p_.out << Event(p_, "log", "\"text\":" + JsonString(line)) << std::flush;
  } else if (!p_.errIsTerminal) {
    p_.err << OneLine(p_.device + ": " + line) << "\n";
  }
}

void CliConsole::ShowDeviceUnits(const std::vector<vel::UnitLabel>& units) {
  std::lock_guard<std::mutex> guard(*p_.lock);
  for (const vel::UnitLabel& unit : units) {
    WriteLog("Unit " + std::to_string(unit.unit) + ": " + unit.name + " " + unit.firmwareVersion);
  }
}

void CliConsole::ShowProgress(int low, int high, int position, const std::string& statusLine) {
  const long long span = std::max(1LL, static_cast<long long>(high) - low);
  const int percent = static_cast<int>(
      std::clamp((static_cast<long long>(position) - low) * 100 / span, 0LL, 100LL));
  std::lock_guard<std::mutex> guard(*p_.lock);
  const auto now = std::chrono::steady_clock::now();
  if (p_.json) {
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    p_.out << Event(
                  p_, "progress",
                  "\"percent\":" + std::to_string(percent) + ",\"text\":" + JsonString(statusLine))
           << std::flush;
    return;
  }
  if (p_.errIsTerminal) {
    if (now - lastPaint_ < kRepaintInterval && percent == shownPercent_) return;
    lastPaint_ = now;
    shownPercent_ = percent;
    constexpr int kWidth = 24;
    const int filled = percent * kWidth / 100;
    p_.err << "\r\033[K" << OneLine(p_.device) << " [" << std::string(filled, '#')
           << std::string(kWidth - filled, '.') << "] " << percent << "% "
           << OneLine(statusLine.substr(0, 70)) << std::flush;
    lineOpen_ = true;
    return;
  }
  // Plain lines: an operation that lasts shows its name and every quarter it passes; quick ones
  // (loading, identification) and countdowns that run backwards show nothing.
  if (operationText_.empty()) {
    operationText_ = statusLine;
    operationStart_ = now;
  }
  const int quarter = percent / kPlainPercentStep * kPlainPercentStep;
  if (now - operationStart_ < kPlainQuietTime || quarter <= shownPercent_) return;
  shownPercent_ = quarter;
  p_.err << OneLine(p_.device + ": " + operationText_) << " " << quarter << "%\n";
}

void CliConsole::HideProgress() {
  std::lock_guard<std::mutex> guard(*p_.lock);
  shownPercent_ = -1;
  operationText_.clear();
  if (lineOpen_) p_.err << "\r\033[K" << std::flush;
  lineOpen_ = false;
}

void CliConsole::FinishLine() { HideProgress(); }

void CliOperator::ShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> guard(*p_.lock);
  const std::string line = OneLine(p_.device + ": " + text);
  if (p_.log != nullptr) *p_.log << line << "\n";
  if (p_.json) {
    p_.out << Event(p_, "message", "\"text\":" + JsonString(text)) << std::flush;
  } else {
    p_.err << (p_.errIsTerminal ? "\r\033[K" : "") << line << "\n";
  }
}

std::string CliOperator::ReadTerminalLine(const std::string& prompt) {
  std::lock_guard<std::mutex> guard(*p_.lock);
  p_.err << "\r\033[K" << prompt << std::flush;
  std::string line;
  std::getline(std::cin, line);
  return line;
}

bool CliOperator::AskTerminal(const std::string& question) {
  const std::string answer = ReadTerminalLine(OneLine(question) + " [y/N] ");
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool CliOperator::AskYesNo(vel::Question question, const std::string& text) {
  bool answer = false;
  if (question == vel::Question::kUnknownCompatibility && choices_.yes) {
    answer = true;
  } else if (choices_.interactive) {
    answer = AskTerminal(text);
  } else {
    answer = question == vel::Question::kNotResponding ? choices_.cancelOnSilence : false;
  }
  if (p_.json) {
    std::lock_guard<std::mutex> guard(*p_.lock);
    p_.out << Event(p_, "question",
                    "\"text\":" + JsonString(text) + ",\"answer\":" + (answer ? "true" : "false"))
           << std::flush;
  }
  return answer;
}

void CliOperator::PrintVersionCheck(const vel::VersionCheck& check) {
  const vel::ConfirmationRequest& r = check.Request();
  const vel::DeviceIdentity& d = r.device;
  const bool judged = r.file.HasFile();
  std::string text;
  if (p_.json) {
    text = "\"serialNumber\":" + JsonString(check.InitialSerialText()) + ",\"units\":[";
    for (int u = 0; u < std::min(d.unitCount, 4); ++u) {
      const vel::UnitVerdicts& v = check.Verdicts(u);
      text += std::string(u ? "," : "") + "{\"unit\":" + std::to_string(u) +
              ",\"type\":" + JsonString(d.typeCode[u]) +
              ",\"name\":" + JsonString(vel::DeviceColumnName(d.typeCode[u])) +
              ",\"hardware\":" + JsonString(d.hardwareVersion[u]) +
              ",\"firmware\":" + JsonString(d.firmwareVersion[u]) +
              ",\"typeVerdict\":" + JsonVerdict(judged, v.type) +
              ",\"hardwareVerdict\":" + JsonVerdict(judged, v.hardware) +
              ",\"firmwareVerdict\":" + JsonVerdict(judged, v.firmware) +
              ",\"selected\":" + (check.UnitSelected(u) ? "true" : "false") +
              ",\"image\":" + std::to_string(check.UnitImage(u)) + "}";
    }
    text += "],\"auxiliary\":[";
    for (std::size_t i = 0; i < check.AuxiliaryLines().size(); ++i) {
      std::string line = check.AuxiliaryLines()[i];
      line.resize(line.size() - 2);  // without "\r\n"
      text += std::string(i ? "," : "") + JsonString(line);
    }
    std::lock_guard<std::mutex> guard(*p_.lock);
    p_.out << Event(p_, "versions", text + "]") << std::flush;
    return;
  }
  text = p_.device + ": device and file versions\n";
  text += "  Serial number: " +
          (d.HasSerialNumber() ? check.InitialSerialText() : std::string("<none>")) + "\n";
  for (int u = 0; u < std::min(d.unitCount, 4); ++u) {
    const vel::UnitVerdicts& v = check.Verdicts(u);
    text += "  Unit " + std::to_string(u) + ": " + vel::DeviceColumnName(d.typeCode[u]) + " (" +
            d.typeCode[u] + ")  H/W " + vel::FormatUnitHardware(d.hardwareVersion[u]) + "  F/W " +
            vel::FormatFirmwareVersion(d.firmwareVersion[u]);
    // Without a firmware file there is nothing to judge the unit against.
    text += judged ? "   type OK? " + Verdict(v.type) + "  H/W OK? " + Verdict(v.hardware) +
                         "  F/W OK? " + Verdict(v.firmware) + "  upgrade? " +
                         (check.UnitSelected(u) ? "yes" : "no")
                   : std::string("   not judged");
    if (check.UnitImage(u) < vel::kImageSlots)
      text += " (image " + std::to_string(check.UnitImage(u)) + ")";
    text += "\n";
  }
  if (r.file.HasFile() && r.file.MetadataPresent()) {
    for (int k = 0; k < std::min(r.file.ImageCount(), 3); ++k) {
      const vel::FirmwareInfo& info = r.file.Info(k);
      text += "  Image " + std::to_string(k) + ": " + vel::FileColumnName(info.deviceType) +
              "  H/W " + vel::FormatHardwareList(info.hardwareVersions) + "  F/W " +
              vel::FormatFirmwareVersion(info.firmwareVersion) + "\n";
    }
  }
  for (const std::string& line : check.AuxiliaryLines()) {
    text += "  " + line.substr(0, line.size() - 2) + "\n";
  }
  std::lock_guard<std::mutex> guard(*p_.lock);
  p_.out << Printable(text) << std::flush;
}

bool CliOperator::ChooseSerialNumber(const vel::VersionCheck& check, std::string* serial) {
  *serial = check.InitialSerialText();
  if (!choices_.serialNumber.empty() && check.SerialEditable()) *serial = choices_.serialNumber;
  if (!check.NeedsSerialNumber() || check.OkEnabledFor(*serial)) return true;
  if (choices_.interactive) {
    *serial =
        ReadTerminalLine("The device has no serial number. Serial number (8 to 12 characters): ");
    if (check.OkEnabledFor(*serial)) return true;
  }
  ShowMessage(
      "The device has no serial number: give --serial-number (8 to 12 characters) or "
      "--serial-optional.");
  return false;
}

bool CliOperator::ConfirmDevice(vel::ConfirmationRequest& request) {
  vel::VersionCheck check(request);
  if (choices_.printVersionCheck) PrintVersionCheck(check);
  std::string serial;
  if (!ChooseSerialNumber(check, &serial)) return false;
  switch (check.Evaluate()) {
    case vel::VersionCheck::OkOutcome::kAccepted:
      break;
    case vel::VersionCheck::OkOutcome::kNoUnitSelected: {
      // Reading a device's information needs no unit to update.
      if (request.informationOnly) break;
      const std::string question =
          "No unit could be chosen from the file's metadata. Update unit 0 with image 0?";
      const bool take = choices_.yes || (choices_.interactive && AskTerminal(question));
      if (!take || request.device.unitCount == 0) {
        ShowMessage(std::string(vel::text::kMustSelectUnit));
        return false;
      }
      request.device.unitSelected[0] = 1;
      request.device.unitImage[0] = 0;
      break;
    }
    case vel::VersionCheck::OkOutcome::kWrongFirmware:
      ShowMessage(std::string(vel::text::kWrongFirmware));
      return false;
    case vel::VersionCheck::OkOutcome::kAskCompatibility:
      if (!AskYesNo(vel::Question::kUnknownCompatibility,
                    std::string(vel::text::kUnknownCompatibility))) {
        return false;
      }
      break;
  }
  check.Accept(serial);
  return true;
}

}  // namespace zandor
