#include "devices/DeviceOperations.h"

#include "common/Strings.h"
#include "devices/KeyMask.h"
#include "devices/RowOperations.h"
#include "engine/VelUpdateDoc.h"
#include "link/KeyText.h"

namespace vel {

namespace {

// Opens the target's link and tells the engine where the device is. Nothing when the link is
// ready; otherwise what the failure means.
std::optional<DeviceResult> PrepareLink(CVelUpdateDoc& doc, const DeviceTarget& target,
                                        const SerialSettings& settings, bool checking) {
  const int failed = checking ? status::kCheckNoAnswer : ids::kUpdateFailed;
  doc.SetEncryption(false);
  doc.SetLinkKind(target.kind);
  if (target.kind == LinkKind::kTcp) {
    if (!target.key.empty()) doc.SetLinkKey(target.key);
    if (!target.hostName.empty()) {
      doc.GetDisplay().AppendMessage(target.hostName + " is " + target.address);
    }
    TcpEndpoint endpoint;
    if (!MakeEndpoint(target.address, target.port, &endpoint)) {
      doc.GetDisplay().AppendMessage(std::string(text::kNotAnAddress) + target.address);
      return DeviceResult{failed, Outcome::kUnusableRow};
    }
    doc.SetTcpEndpoint(endpoint);
    return std::nullopt;
  }
  const LinkOpen result = doc.OpenSerialPort(settings, target.portName);
  if (result == LinkOpen::kOk) return std::nullopt;
  if (checking && (result == LinkOpen::kNoSuchPort || result == LinkOpen::kAccessDenied)) {
    doc.GetOperator().ShowMessage(LoadString(
        result == LinkOpen::kNoSuchPort ? ids::kCheckPortMissing : ids::kCheckPortInUse));
  }
  if (result == LinkOpen::kNoSuchPort) {
    return DeviceResult{checking ? failed : ids::kPortMissing, Outcome::kPortMissing};
  }
  if (result == LinkOpen::kAccessDenied) {
    return DeviceResult{checking ? failed : ids::kPortInUse, Outcome::kPortInUse};
  }
  return DeviceResult{failed, Outcome::kFailed};
}

// What the engine's end of an action means for the row.
Outcome OutcomeOf(ActionEnd end) {
  switch (end) {
    case ActionEnd::kSucceeded:
      return Outcome::kSucceeded;
    case ActionEnd::kDeclined:
      return Outcome::kDeclined;
    case ActionEnd::kNotResponding:
      return Outcome::kNotResponding;
    case ActionEnd::kBusy:
      return Outcome::kBusy;
    case ActionEnd::kCancelled:
      return Outcome::kCancelled;
    case ActionEnd::kFailed:
      break;
  }
  return Outcome::kFailed;
}

// The end of an operation: the engine's result, or the link's failure when the engine never ran.
// One that a cancel from outside cut short ends cancelled, whatever else it left.
DeviceResult Ended(CVelUpdateDoc& doc, const std::optional<ActionResult>& acted,
                   const std::optional<DeviceResult>& linkFailure) {
  const bool cancelledFromOutside =
      acted ? acted->end == ActionEnd::kCancelled : doc.GetDisplay().State().cancel.IsRequested();
  if (cancelledFromOutside) return {ids::kOperationCancelled, Outcome::kCancelled};
  if (acted) return {acted->statusCode, OutcomeOf(acted->end)};
  return linkFailure.value_or(DeviceResult{ids::kUpdateFailed, Outcome::kFailed});
}

// Where the host of a "tcp:" text ends: at the colon before the port. An IPv6 host is written
// in brackets ("tcp:[::1]:5000"), its own colons inside them. Nothing when no port follows.
std::optional<std::size_t> TcpHostEnd(const std::string& text) {
  constexpr std::size_t kHostStart = 4;
  if (text.size() > kHostStart && text[kHostStart] == '[') {
    const std::size_t close = text.find(']', kHostStart);
    if (close == std::string::npos || text.compare(close + 1, 1, ":") != 0) return std::nullopt;
    return close + 1;
  }
  const std::size_t colon = text.find(':', kHostStart);
  if (colon == std::string::npos) return std::nullopt;
  return colon;
}

// The host of a TCP target: an IPv4 or bracketed IPv6 address as written, or a name resolved
// once by `resolve`. A name that holds a key is never sent to a name server.
Result ResolveTargetHost(const std::string& text, const std::string& host, HostResolver resolve,
                         DeviceTarget* target) {
  TcpEndpoint probe;
  if (host.starts_with('[')) {
    target->address = host.substr(1, host.size() - 2);
    if (target->address.find(':') == std::string::npos ||
        !MakeEndpoint(target->address, target->port, &probe)) {
      return Result::Failed("not an IPv6 address in brackets: " + MaskedTarget(text));
    }
    return Result::Done();
  }
  target->address = host;
  if (MakeEndpoint(host, target->port, &probe)) return Result::Done();
  if (MaskedTarget(text).find("tcp:" + host + ":") != 0) {
    return Result::Failed("not an IP address or host name: " + MaskedTarget(text));
  }
  std::string why;
  const auto resolved = (resolve != nullptr ? resolve : ResolveHost)(host, &why);
  if (!resolved) {
    return Result::Failed("cannot resolve the host (" + why + "): " + MaskedTarget(text));
  }
  target->hostName = host;
  target->address = *resolved;
  return Result::Done();
}

}  // namespace

std::string MaskedTarget(const std::string& text) {
  if (text.rfind("tcp:", 0) != 0) return MaskKeys(text);
  const auto hostEnd = TcpHostEnd(text);
  const std::size_t portEnd = hostEnd ? text.find(':', *hostEnd + 1) : std::string::npos;
  if (portEnd == std::string::npos) return MaskKeys(text);
  // Whatever follows the port is the key, whether or not it spells one; where it does, it is
  // masked before the port too.
  const KeyMask mask({text.substr(portEnd + 1)});
  return mask(text.substr(0, portEnd + 1)) + "<key>";
}

Expected<DeviceTarget> ParseTarget(const std::string& text, HostResolver resolve) {
  DeviceTarget target;
  if (text.rfind("serial:", 0) == 0) {
    target.portName = text.substr(7);
    if (target.portName.empty()) {
      return Result::Failed("serial target without a port: " + text);
    }
    return target;
  }
  if (text.rfind("tcp:", 0) != 0) {
    return Result::Failed("a target is serial:PORT or tcp:HOST:PORT[:KEY], not " +
                          MaskedTarget(text));
  }
  target.kind = LinkKind::kTcp;
  const auto hostEnd = TcpHostEnd(text);
  if (!hostEnd) return Result::Failed("tcp target without a port: " + MaskedTarget(text));
  const std::string afterHost = text.substr(*hostEnd + 1);
  const std::size_t keyColon = afterHost.find(':');
  target.port = afterHost.substr(0, keyColon);
  const int port = PortTextNumber(target.port).value_or(0);
  if (port < 1 || port > kMaxTcpPort) {
    return Result::Failed("not a port from 1 to 65535: " + MaskedTarget(text));
  }
  if (const Result host = ResolveTargetHost(text, text.substr(4, *hostEnd - 4), resolve, &target);
      !host) {
    return Result::Failed(host.error());
  }
  if (keyColon != std::string::npos) {
    const auto key = KeyDigits(afterHost.substr(keyColon + 1));
    if (!key) {
      return Result::Failed("a key is 32 hexadecimal digits or 16 dash-separated pairs: " +
                            MaskedTarget(text));
    }
    target.key = *key;
  }
  return target;
}

std::string LinkName(const DeviceTarget& target) {
  if (target.kind == LinkKind::kSerial) return "serial:" + target.portName;
  const bool ipv6 = target.address.find(':') != std::string::npos;
  return "tcp:" + (ipv6 ? "[" + target.address + "]" : target.address) + ":" + target.port;
}

DeviceResult RunUpdate(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings) {
  return RunAction(doc, target, settings, Action::kUpdate);
}

DeviceResult RunAction(CVelUpdateDoc& doc, const DeviceTarget& target,
                       const SerialSettings& settings, Action action) {
  StatusDisplay& display = doc.GetDisplay();
  display.HideDeviceInfo();
  // Nothing of a file that fails its checksum test goes to a device.
  if (const auto defect = doc.File().FirstDefect()) {
    doc.GetOperator().ShowMessage(LoadString(ids::kFileFailsTest) + "\n" + DescribeDefect(*defect));
    return {ids::kFileFailsTest, Outcome::kFileRefused};
  }
  const auto linkFailure = PrepareLink(doc, target, settings, false);
  doc.Link().ForgetProcedure();
  std::optional<ActionResult> acted;
  if (!linkFailure) acted = doc.DispatchUpdate(action);
  doc.ClosePort();
  DeviceResult result = Ended(doc, acted, linkFailure);
  result.interrupted = result.outcome != Outcome::kSucceeded && doc.Link().ProcedureBegun();
  return result;
}

DeviceResult RunCheck(CVelUpdateDoc& doc, const DeviceTarget& target,
                      const SerialSettings& settings) {
  StatusDisplay& display = doc.GetDisplay();
  display.HideDeviceInfo();
  const auto linkFailure = PrepareLink(doc, target, settings, true);
  std::optional<ActionResult> acted;
  if (!linkFailure) acted = doc.DispatchUpdate(Action::kCheck);
  doc.ClosePort();
  display.HideDeviceInfo();
  return Ended(doc, acted, linkFailure);
}

int UpdateDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings) {
  // Every device starts from a freshly read file; one that cannot be read again is not sent.
  if (!doc.PathName().empty() && !doc.OnOpenDocument(doc.PathName()).ok()) {
    doc.GetDisplay().AppendMessage(std::string(text::kFileNotReadAgain) + doc.PathName());
    return ids::kUpdateFailed;
  }
  return RunUpdate(doc, target, settings).statusCode;
}

int CheckDevice(CVelUpdateDoc& doc, const DeviceTarget& target, const SerialSettings& settings) {
  return RunCheck(doc, target, settings).statusCode;
}

std::string UpdateStatusText(int statusCode) { return LoadString(statusCode); }

std::string UpdateResultText(const DeviceResult& result) {
  if (result.outcome == Outcome::kCurrent) return std::string(text::kDeviceCurrent);
  const std::string text = UpdateStatusText(result.statusCode);
  return result.interrupted ? text + " " + std::string(text::kUpdateInterrupted) : text;
}

std::string CheckStatusText(int statusCode) {
  switch (statusCode) {
    case status::kCheckAccepted:
      return std::string(text::kDeviceInformationSuccess);
    case status::kCheckNoAnswer:
      return std::string(text::kDeviceNotResponding);
    case status::kCheckDeclined:
      return std::string(text::kDeviceTypeMismatch);
    default:
      return LoadString(statusCode);
  }
}

}  // namespace vel
