#include "devices/DeviceOperations.h"

#include "common/Strings.h"
#include "image/HexText.h"
#include "link/Encryption.h"

namespace vel {

namespace {

constexpr std::size_t kKeyDigits = 32;
constexpr std::size_t kDashedKeyLength = 47;

// Opens the target's link and tells the engine where the device is; false (with the status
// code set) when the link cannot be opened.
bool PrepareLink(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings,
                 bool checking) {
  ConsoleState& state = doc.GetConsole().State();
  doc.SetEncryption(false);
  doc.SetLinkKind(target.kind);
  if (target.kind == LinkKind::kTcp) {
    if (!target.key.empty()) doc.SetLinkKey(target.key);
    TcpEndpoint endpoint;
    if (!MakeEndpoint(target.address, target.port, &endpoint)) {
      doc.GetConsole().AppendMessage("Not an IPv4 address: " + target.address);
      return false;
    }
    doc.SetTcpEndpoint(endpoint);
    return true;
  }
  const unsigned result = doc.OpenSerialPort(settings, target.portName);
  if (result == kLinkOk) return true;
  if (checking) {
    state.statusCode = -1;
    if (result == kLinkNoSuchPort || result == kLinkAccessDenied) {
      doc.GetOperator().ShowMessage(
          LoadString(result == kLinkNoSuchPort ? ids::kCheckPortMissing : ids::kCheckPortInUse));
    }
  } else if (result == kLinkNoSuchPort) {
    state.statusCode = ids::kPortMissing;
  } else if (result == kLinkAccessDenied) {
    state.statusCode = ids::kPortInUse;
  }
  return false;
}

// An operation that a cancel from outside cut short ends cancelled, whatever else it left.
int CancelledOr(CVelUpdateDoc& doc, int status, bool succeeded) {
  const bool cancelled = doc.GetConsole().State().cancel.IsRequested();
  return !succeeded && cancelled && !doc.EndedByEngine() ? ids::kOperationCancelled : status;
}

}  // namespace

std::optional<std::string> NormaliseKey(const std::string& key) {
  std::string digits;
  if (key.size() == kDashedKeyLength) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      if (i % 3 == 2) {
        if (key[i] != '-') return std::nullopt;
      } else {
        digits += key[i];
      }
    }
  } else {
    digits = key;
  }
  if (digits.size() != kKeyDigits) return std::nullopt;
  for (char c : digits) {
    if (HexDigitValue(c) < 0) return std::nullopt;
  }
  return digits;
}

std::string MaskedTarget(const std::string& text) {
  if (text.rfind("tcp:", 0) != 0) return text;
  const std::size_t hostEnd = text.find(':', 4);
  const std::size_t portEnd = hostEnd == std::string::npos ? hostEnd : text.find(':', hostEnd + 1);
  return portEnd == std::string::npos ? text : text.substr(0, portEnd + 1) + "<key>";
}

std::optional<DeviceTarget> ParseTarget(const std::string& text, std::string* error) {
  DeviceTarget target;
  if (text.rfind("serial:", 0) == 0) {
    target.portName = text.substr(7);
    if (target.portName.empty()) {
      *error = "serial target without a port: " + text;
      return std::nullopt;
    }
    return target;
  }
  if (text.rfind("tcp:", 0) != 0) {
    *error = "a target is serial:PORT or tcp:HOST:PORT[:KEY], not " + MaskedTarget(text);
    return std::nullopt;
  }
  target.kind = LinkKind::kTcp;
  const std::string rest = text.substr(4);
  const std::size_t colon = rest.find(':');
  if (colon == std::string::npos) {
    *error = "tcp target without a port: " + MaskedTarget(text);
    return std::nullopt;
  }
  target.address = rest.substr(0, colon);
  if (target.address == "localhost") target.address = "127.0.0.1";
  const std::string afterHost = rest.substr(colon + 1);
  const std::size_t keyColon = afterHost.find(':');
  target.port = afterHost.substr(0, keyColon);
  TcpEndpoint probe;
  const bool portIsNumber =
      !target.port.empty() && target.port.find_first_not_of("0123456789") == std::string::npos &&
      target.port.size() <= 5 && std::stoi(target.port) > 0 && std::stoi(target.port) < 65536;
  if (!MakeEndpoint(target.address, target.port, &probe) || !portIsNumber) {
    *error = "not an IPv4 address and port: " + MaskedTarget(text);
    return std::nullopt;
  }
  if (keyColon != std::string::npos) {
    const auto key = NormaliseKey(afterHost.substr(keyColon + 1));
    if (!key) {
      *error = "a key is 32 hexadecimal digits or 16 dash-separated pairs: " + MaskedTarget(text);
      return std::nullopt;
    }
    target.key = *key;
  }
  return target;
}

int UpdateDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings) {
  Console& console = doc.GetConsole();
  ConsoleState& state = console.State();
  state.completion.Reset();
  state.statusCode = ids::kUpdateFailed;
  console.HideDeviceInfo();
  // Every device starts from a freshly read file; one that cannot be read again is not sent.
  if (!doc.PathName().empty() && !doc.OnOpenDocument(doc.PathName()).ok()) {
    console.AppendMessage("The firmware file could not be read again: " + doc.PathName());
    return state.statusCode;
  }
  if (PrepareLink(doc, target, settings, false)) {
    doc.DispatchUpdate(kActionUpdate);
    state.completion.Wait();
    doc.WaitForWorker();
  }
  const int status = state.statusCode;
  doc.ClosePort();
  return CancelledOr(doc, status, IsUpdateSuccess(status));
}

int CheckDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings) {
  Console& console = doc.GetConsole();
  ConsoleState& state = console.State();
  state.statusCode = -1;
  console.HideDeviceInfo();
  if (PrepareLink(doc, target, settings, true)) doc.DispatchUpdate(kActionCheck);
  const int status = state.statusCode;
  doc.ClosePort();
  console.HideDeviceInfo();
  return CancelledOr(doc, status, status == 1);
}

bool IsUpdateSuccess(int statusCode) {
  return statusCode == ids::kUpdateSuccessful || statusCode == ids::kTransmissionCompleted;
}

std::string UpdateStatusText(int statusCode) { return LoadString(statusCode); }

std::string CheckStatusText(int statusCode) {
  switch (statusCode) {
    case 1:
      return std::string(text::kDeviceInformationSuccess);
    case -1:
      return std::string(text::kDeviceNotResponding);
    case -3:
      return std::string(text::kDeviceTypeMismatch);
    default:
      return LoadString(statusCode);
  }
}

}  // namespace vel
