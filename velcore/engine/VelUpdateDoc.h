#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/BlockTransfer.h"
#include "engine/DeviceIdentifier.h"
#include "engine/DeviceIdentity.h"
#include "engine/Dispatcher.h"
#include "engine/EngineContext.h"
#include "engine/EngineTiming.h"
#include "engine/Operator.h"
#include "engine/ProcedureSteps.h"
#include "engine/StatusDisplay.h"
#include "image/FirmwareFile.h"
#include "image/HexFileLoader.h"
#include "image/SharedFirmware.h"
#include "link/DeviceLink.h"

namespace vel {

// The document: the loaded firmware file and the device engine. It owns the file, the link and
// what is known of the connected device; an action runs on the caller's thread from the first
// byte to the end of its procedure. It reports only through the display and the operator, never
// to a window.
class CVelUpdateDoc {
 public:
  CVelUpdateDoc(StatusDisplay& display, Operator& op);
  ~CVelUpdateDoc();
  CVelUpdateDoc(const CVelUpdateDoc&) = delete;
  CVelUpdateDoc& operator=(const CVelUpdateDoc&) = delete;

  // Loads a firmware file, replacing every image and forgetting the device.
  LoadResult OnOpenDocument(const std::string& path);
  // Loads through `loads` from now on: the documents given the same loads share one copy of an
  // unchanged file.
  void ShareLoads(std::shared_ptr<SharedFirmware> loads) { sharedLoads_ = std::move(loads); }
  const std::shared_ptr<SharedFirmware>& SharedLoads() const { return sharedLoads_; }
  FirmwareFile& File() { return file_; }
  const FirmwareFile& File() const { return file_; }
  const std::string& PathName() const { return path_; }

  // The link to the next device, set up before an action.
  DeviceLink& Link() { return link_; }
  void SetLinkKind(LinkKind kind) { link_.SetLinkKind(kind); }
  // Key text without dashes; turns encryption on for the next connection.
  void SetLinkKey(const std::string& keyText) { link_.Tcp().SetLinkKey(keyText); }
  void SetEncryption(bool on) { link_.Tcp().SetEncryption(on); }
  void SetTcpEndpoint(const TcpEndpoint& endpoint) { link_.Tcp().SetEndpoint(endpoint); }
  LinkOpen OpenSerialPort(const SerialSettings& settings, const std::string& portName);
  void ClosePort() { link_.ClosePort(); }

  // The single entry of the engine: runs an action (identification, and the transfer procedure
  // the device and file call for) to its end on the calling thread; what it came to.
  ActionResult DispatchUpdate(Action action) { return dispatcher_.Dispatch(action); }

  const DeviceIdentity& Identity() const { return identity_; }
  void SetSerialNumberOptional(bool on) { identifier_.SetSerialNumberOptional(on); }
  EngineTiming& Timing() { return timing_; }
  // The clock the engine's pauses take their time from (the system's unless set).
  void SetClock(Clock& clock) { context_.clock = &clock; }
  StatusDisplay& GetDisplay() { return display_; }
  Operator& GetOperator() { return operator_; }
  // Units of the last update that no image of the file fits, left out of it.
  const std::vector<int>& LeftOutUnits() const { return identifier_.LeftOutUnits(); }
  // The images of the file (of its image count) that no transfer phase of the last action sent.
  std::vector<int> ImagesNotSent() const;
  // What the last action left on a unit of the device (numbered as identification read them).
  UnitOutcome OutcomeOfUnit(int unit) const {
    return context_.unitOutcomes[static_cast<std::size_t>(unit)];
  }
  // Whether identification met bytes that are no reply of the exchange (a wrong key, say).
  bool AnsweredStrangely() const { return context_.strangeAnswer; }

 private:
  StatusDisplay& display_;
  Operator& operator_;
  FirmwareFile file_;
  std::string path_;
  std::shared_ptr<SharedFirmware> sharedLoads_;  // none: every load is the document's own
  DeviceLink link_;
  DeviceIdentity identity_;
  EngineTiming timing_;
  EngineContext context_{display_, operator_, link_, file_, identity_, timing_};
  DeviceIdentifier identifier_{context_};
  BlockTransfer transfer_{context_};
  ProcedureSteps procedures_{context_, transfer_, identifier_};
  Dispatcher dispatcher_{context_, identifier_, procedures_};
};

}  // namespace vel
