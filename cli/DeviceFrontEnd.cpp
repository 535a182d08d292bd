#include "DeviceFrontEnd.h"

#include <unistd.h>

#include <algorithm>

#include "Json.h"
#include "Printable.h"
#include "StandardStreams.h"
#include "TerminalInput.h"
#include "common/Strings.h"
#include "devices/KeyMask.h"
#include "image/VersionText.h"
#include "link/PortNames.h"

namespace zandor {

namespace {

constexpr auto kRepaintInterval = std::chrono::milliseconds(33);  // about 30 repaints a second
constexpr int kPlainPercentStep = 25;

std::string Verdict(int v) {
  return v == vel::kFits ? "yes" : v == vel::kDoesNotFit ? "no" : "unknown";
}

std::string JsonVerdict(bool judged, int v) { return judged ? std::to_string(v) : "null"; }

std::string WouldChangeText(vel::UpdateEffect effect) {
  switch (effect) {
    case vel::UpdateEffect::kChanges:
      return "yes";
    case vel::UpdateEffect::kCurrent:
      return "no, it already holds the file's firmware";
    case vel::UpdateEffect::kRefused:
      break;
  }
  return "no, the file's firmware is not for it";
}

// Whether an update would program the device: null where there is no file's metadata to judge by.
std::string JsonWouldChange(const vel::ConfirmationRequest& request) {
  if (!request.file->HasFile() || !request.file->MetadataPresent()) return "null";
  return vel::EffectOfUpdate(request) == vel::UpdateEffect::kChanges ? "true" : "false";
}

std::string Event(const std::string& device, const std::string& kind, const std::string& fields) {
  return "{\"event\":\"" + kind + "\",\"device\":" + JsonString(device) +
         (fields.empty() ? "" : "," + fields) + "}\n";
}

}  // namespace

CliJobView::CliJobView(Presentation presentation, OperatorChoices choices,
                       std::vector<NamedRow> rows, vel::KeyMask mask)
    : p_(presentation),
      choices_(std::move(choices)),
      mask_(std::move(mask)),
      rows_(std::move(rows)) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    position_[rows_[i].row] = i;
    rows_[i].label = mask_(rows_[i].label);
    rows_[i].resultLabel = mask_(rows_[i].resultLabel);
  }
  results_.resize(rows_.size());
}

void CliJobView::Publish(vel::JobEvent event) {
  using Kind = vel::JobEvent::Kind;
  switch (event.kind()) {
    case Kind::kStatusLogged: {
      std::lock_guard<std::mutex> guard(lock_);
      WriteLog(Label(event.row), event.Text());
      break;
    }
    case Kind::kLogLine:
      LogLine(event.row, event.Text());
      break;
    case Kind::kUnits: {
      std::lock_guard<std::mutex> guard(lock_);
      for (const vel::UnitLabel& unit : event.As<vel::job::Units>().units) {
        WriteLog(Label(event.row), "Unit " + std::to_string(unit.unit) + ": " + unit.name + " " +
                                       unit.firmwareVersion);
      }
      break;
    }
    case Kind::kProgress: {
      const auto& progress = event.As<vel::job::Progress>();
      Progress(event.row, progress.overallPercent, progress.text);
      break;
    }
    case Kind::kProgressEnded:
      EndProgress(event.row);
      break;
    case Kind::kMessage:
      ShowMessage(event.row, event.Text());
      break;
    case Kind::kQuestion:
      Answer(event.row, *event.As<vel::job::Question>().question);
      break;
    case Kind::kRowFinished:
      Finished(event.row, event.As<vel::job::RowFinished>());
      break;
    case Kind::kWalkFinished:
      walkSucceeded_ = event.As<vel::job::WalkFinished>().allSucceeded;
      break;
    case Kind::kRowBegun:
      ShowPort(event.row);
      break;
    case Kind::kStatusLine:
    case Kind::kUnitsHidden:
    case Kind::kRowSkipped:  // only a list that changes under the walk skips rows
      break;
  }
}

void CliJobView::Emit(std::ostream& stream, const std::string& text) {
  if (!stream) return;  // closed earlier: nothing more goes to it
  stream << text << std::flush;
  if (stream) return;
  const bool out = &stream == &p_.out;
  bool& noted = out ? outClosedNoted_ : errClosedNoted_;
  if (noted) return;
  noted = true;
  WriteLog({}, std::string(out ? "standard output " : "standard error ") +
                   WriteFailureText(stream) + "; the run goes on without it");
}

std::string CliJobView::OneLine(const std::string& text) const {
  return Printable(mask_(text), true);
}

void CliJobView::WriteLog(const std::string& device, const std::string& line) {
  if (p_.log == nullptr) return;
  if (!p_.log->WriteLine(OneLine(device.empty() ? line : device + ": " + line))) {
    Emit(p_.err, "zandor: cannot write the log " + Printable(p_.log->Path(), true) + ": " +
                     p_.log->Failure() + "; the run goes on without it\n");
  }
}

void CliJobView::LogLine(std::size_t row, const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  WriteLog(Label(row), line);
  if (p_.json) {
    Emit(p_.out, Event(Label(row), "log", "\"text\":" + JsonString(mask_(line))));
  } else if (!p_.quiet) {
    ShowLine(row, line);
  }
}

void CliJobView::ShowLine(std::size_t row, const std::string& text) {
  // The same line twice in a row (a reason logged and then shown as the message, or one
  // logged by each connection attempt) is shown once; the log file keeps both.
  std::string& last = views_[row].lastLine;
  if (text == last) return;
  last = text;
  ClearProgressLine();
  Emit(p_.err, OneLine(Label(row) + ": " + text) + "\n");
}

void CliJobView::ClearProgressLine() {
  if (!progressOnScreen_) return;
  Emit(p_.err, "\r\033[K");
  progressOnScreen_ = false;
}

void CliJobView::ShowPort(std::size_t row) {
  const std::string& port = rows_[position_.at(row)].portName;
  const vel::PortNameMap names = vel::PortNameMap::ForThisUser();
  const std::string path = names.Resolve(port);
  if (port.empty() || path.empty() || path == port) return;
  const std::string origin = names.Origin(port);
  std::lock_guard<std::mutex> guard(lock_);
  WriteLog(Label(row),
           port + " opens " + path + (origin.empty() ? "" : " (set in " + origin + ")"));
  if (p_.json) {
    Emit(p_.out,
         Event(Label(row), "port",
               "\"port\":" + JsonString(mask_(port)) + ",\"path\":" + JsonString(mask_(path)) +
                   ",\"from\":" + (origin.empty() ? "null" : JsonString(origin))));
  } else if (!p_.quiet) {
    ShowLine(row, port + " opens " + path);
  }
}

void CliJobView::Progress(std::size_t row, int overallPercent, const std::string& statusLine) {
  const int percent = std::clamp(overallPercent, 0, 100);
  std::lock_guard<std::mutex> guard(lock_);
  RowView& view = views_[row];
  const std::string& device = Label(row);
  const auto now = std::chrono::steady_clock::now();
  if (p_.json) {
    // One event when an operation begins and one each time the share changes; never the same
    // event twice in a row (operations that begin at the share the last one left).
    const bool begins = view.shownPercent < 0;
    if (!begins && percent == view.shownPercent) return;
    view.shownPercent = percent;
    std::string fields =
        "\"percent\":" + std::to_string(percent) + ",\"text\":" + JsonString(mask_(statusLine));
    if (fields == view.lastEvent) return;
    view.lastEvent = fields;
    Emit(p_.out, Event(device, "progress", view.lastEvent));
    return;
  }
  if (p_.quiet) return;
  if (p_.errIsTerminal) {
    if (now - view.lastPaint < kRepaintInterval && percent == view.shownPercent) return;
    view.lastPaint = now;
    view.shownPercent = percent;
    constexpr int kWidth = 24;
    const int filled = percent * kWidth / 100;
    Emit(p_.err, "\r\033[K" + OneLine(device) + " [" + std::string(filled, '#') +
                     std::string(kWidth - filled, '.') + "] " + std::to_string(percent) + "% " +
                     OneLine(mask_(statusLine).substr(0, 70)));
    view.lineOpen = true;
    progressOnScreen_ = true;
    return;
  }
  // Plain lines: every quarter of the update it passes, with the name of the operation under
  // way; steps before the transfer (loading, identification) show nothing.
  if (view.operationText.empty()) view.operationText = statusLine;
  const int quarter = percent / kPlainPercentStep * kPlainPercentStep;
  if (quarter <= view.shownQuarter) return;
  view.shownQuarter = quarter;
  Emit(p_.err, OneLine(device + ": " + view.operationText) + " " + std::to_string(quarter) + "%\n");
}

void CliJobView::EndProgress(std::size_t row) {
  std::lock_guard<std::mutex> guard(lock_);
  RowView& view = views_[row];
  view.shownPercent = -1;
  view.operationText.clear();
  if (view.lineOpen) ClearProgressLine();
  view.lineOpen = false;
}

void CliJobView::ShowMessage(std::size_t row, const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  WriteLog(Label(row), text);
  if (p_.json) {
    Emit(p_.out, Event(Label(row), "message", "\"text\":" + JsonString(mask_(text))));
  } else {
    ShowLine(row, text);
  }
}

void CliJobView::Message(const std::string& label, const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  WriteLog(label, text);
  if (p_.json) {
    Emit(p_.out, Event(mask_(label), "message", "\"text\":" + JsonString(mask_(text))));
  } else {
    ClearProgressLine();
    Emit(p_.err, OneLine(label + ": " + text) + "\n");
  }
}

void CliJobView::Answer(std::size_t row, vel::JobQuestion& question) {
  if (question.GetKind() == vel::JobQuestion::Kind::kConfirmDevice) {
    // The choices are made in a copy of the question's request and go back with the answer.
    vel::ConfirmationRequest request = *question.Request();
    const bool accepted = ConfirmDevice(row, request);
    question.Answer(accepted, vel::DeviceChoices::Of(request.device));
  } else {
    question.Answer(AskYesNo(row, question.GetQuestion(), question.Text()));
  }
}

std::optional<std::string> CliJobView::AskTerminalLine(const std::string& prompt) {
  std::lock_guard<std::mutex> guard(lock_);
  progressOnScreen_ = false;  // the prompt takes the progress line's place
  Emit(p_.err, "\r\033[K" + prompt);
  return ReadTerminalLine(STDIN_FILENO, p_.interrupt);
}

bool CliJobView::AskTerminal(const std::string& question) {
  const auto answer = AskTerminalLine(OneLine(question) + " [y/N] ");
  return answer && !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

bool CliJobView::AskYesNo(std::size_t row, vel::Question question, const std::string& text) {
  bool answer = false;
  if (question == vel::Question::kUnknownCompatibility && choices_.yes) {
    answer = true;
  } else if (choices_.interactive) {
    answer = AskTerminal(text);
  } else {
    answer = question == vel::Question::kNotResponding ? choices_.cancelOnSilence : false;
  }
  if (p_.json) {
    std::lock_guard<std::mutex> guard(lock_);
    Emit(p_.out, Event(Label(row), "question",
                       "\"text\":" + JsonString(mask_(text)) +
                           ",\"answer\":" + (answer ? "true" : "false")));
  }
  return answer;
}

void CliJobView::PrintVersionCheck(std::size_t row, const vel::VersionCheck& check) {
  const vel::ConfirmationRequest& r = check.Request();
  const vel::DeviceIdentity& d = r.device;
  const bool judged = r.file->HasFile();
  const std::string& device = Label(row);
  std::string text;
  if (p_.json) {
    text = JsonField("serial_number", JsonString(check.InitialSerialText()), "serialNumber") +
           ",\"units\":[";
    for (int u = 0; u < std::min(d.unitCount, 4); ++u) {
      const vel::UnitVerdicts& v = check.Verdicts(u);
      text += std::string(u ? "," : "") + "{\"unit\":" + std::to_string(u) +
              ",\"type\":" + JsonString(d.typeCode[u]) +
              ",\"name\":" + JsonString(vel::DeviceColumnName(d.typeCode[u])) +
              ",\"hardware\":" + JsonString(d.hardwareVersion[u]) +
              ",\"firmware\":" + JsonString(d.firmwareVersion[u]) + "," +
              JsonField("type_verdict", JsonVerdict(judged, v.type), "typeVerdict") + "," +
              JsonField("hardware_verdict", JsonVerdict(judged, v.hardware), "hardwareVerdict") +
              "," +
              JsonField("firmware_verdict", JsonVerdict(judged, v.firmware), "firmwareVerdict") +
              ",\"selected\":" + (check.UnitSelected(u) ? "true" : "false") +
              ",\"image\":" + std::to_string(check.UnitImage(u)) + "}";
    }
    text += "],\"would_change\":" + JsonWouldChange(r) + ",\"auxiliary\":[";
    for (std::size_t i = 0; i < check.AuxiliaryLines().size(); ++i) {
      std::string line = check.AuxiliaryLines()[i];
      line.resize(line.size() - 2);  // without "\r\n"
      text += std::string(i ? "," : "") + JsonString(line);
    }
    std::lock_guard<std::mutex> guard(lock_);
    Emit(p_.out, Event(device, "versions", text + "]"));
    return;
  }
  if (p_.quiet) return;
  text = device + ": device and file versions\n";
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
  if (r.file->HasFile() && r.file->MetadataPresent()) {
    for (int k = 0; k < std::min(r.file->ImageCount(), 3); ++k) {
      const vel::FirmwareInfo& info = r.file->Info(k);
      text += "  Image " + std::to_string(k) + ": " + vel::FileColumnName(info.deviceType) +
              "  H/W " + vel::FormatHardwareList(info.hardwareVersions) + "  F/W " +
              vel::FormatFirmwareVersion(info.firmwareVersion) + "\n";
    }
  }
  for (const std::string& line : check.AuxiliaryLines()) {
    text += "  " + line.substr(0, line.size() - 2) + "\n";
  }
  if (r.file->HasFile() && r.file->MetadataPresent()) {
    text += "  An update would change it: " + WouldChangeText(vel::EffectOfUpdate(r)) + "\n";
  }
  std::lock_guard<std::mutex> guard(lock_);
  ClearProgressLine();
  Emit(p_.out, Printable(text));
}

bool CliJobView::ChooseSerialNumber(std::size_t row, const vel::VersionCheck& check,
                                    std::string* serial) {
  *serial = check.InitialSerialText();
  if (!choices_.serialNumber.empty() && check.SerialEditable()) *serial = choices_.serialNumber;
  if (!check.NeedsSerialNumber() || check.OkEnabledFor(*serial)) return true;
  if (choices_.interactive) {
    *serial =
        AskTerminalLine("The device has no serial number. Serial number (8 to 12 characters): ")
            .value_or(std::string());
    if (check.OkEnabledFor(*serial)) return true;
  }
  ShowMessage(row,
              "The device has no serial number: give --serial-number (8 to 12 characters) or "
              "--serial-optional.");
  return false;
}

bool CliJobView::ConfirmDevice(std::size_t row, vel::ConfirmationRequest& request) {
  vel::VersionCheck check(request);
  PrintVersionCheck(row, check);
  std::string serial;
  if (!ChooseSerialNumber(row, check, &serial)) return false;
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
        ShowMessage(row, std::string(vel::text::kMustSelectUnit));
        return false;
      }
      request.device.unitSelected[0] = 1;
      request.device.unitImage[0] = 0;
      break;
    }
    case vel::VersionCheck::OkOutcome::kWrongFirmware:
      ShowMessage(row, std::string(vel::text::kWrongFirmware));
      return false;
    case vel::VersionCheck::OkOutcome::kAskCompatibility:
      if (!AskYesNo(row, vel::Question::kUnknownCompatibility,
                    std::string(vel::text::kUnknownCompatibility))) {
        return false;
      }
      break;
  }
  check.Accept(serial);
  return true;
}

void CliJobView::Finished(std::size_t row, const vel::job::RowFinished& finished) {
  EndProgress(row);
  std::lock_guard<std::mutex> guard(lock_);
  const std::size_t place = position_.at(row);
  results_[place] =
      DeviceLine{rows_[place].resultLabel,       finished.statusCode,
                 finished.text + finished.notes, vel::IsDone(finished.outcome),
                 finished.interrupted,           finished.outcome == vel::Outcome::kCurrent};
  PrintReadyResults();
}

void CliJobView::PrintReadyResults() {
  while (nextResult_ < results_.size() && results_[nextResult_]) {
    PrintResult(*results_[nextResult_]);
    ++nextResult_;
  }
}

void CliJobView::PrintResult(const DeviceLine& result) {
  WriteLog(result.label, result.text);
  if (p_.json) {
    Emit(p_.out, "{\"event\":\"result\",\"device\":" + JsonString(result.label) +
                     ",\"status\":" + std::to_string(result.statusCode) +
                     ",\"text\":" + JsonString(mask_(result.text)) +
                     ",\"success\":" + (result.success ? "true" : "false") +
                     ",\"interrupted\":" + (result.interrupted ? "true" : "false") +
                     ",\"current\":" + (result.current ? "true" : "false") + "}\n");
  } else {
    ClearProgressLine();
    Emit(p_.out, OneLine(result.label + ": " + result.text) + "\n");
  }
}

bool CliJobView::Close(bool interrupted) {
  std::lock_guard<std::mutex> guard(lock_);
  bool all = true;
  for (std::size_t place = 0; place < results_.size(); ++place) {
    if (!results_[place] && interrupted) {
      // A device not begun before the stop request is reported as cancelled too.
      results_[place] = DeviceLine{rows_[place].resultLabel, vel::ids::kOperationCancelled,
                                   vel::LoadString(vel::ids::kOperationCancelled), false};
    }
    all = all && results_[place] && results_[place]->success;
  }
  PrintReadyResults();
  return all;
}

}  // namespace zandor
