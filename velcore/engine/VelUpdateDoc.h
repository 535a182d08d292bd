#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/BlockTransfer.h"
#include "engine/Console.h"
#include "engine/DeviceIdentifier.h"
#include "engine/DeviceIdentity.h"
#include "engine/EngineContext.h"
#include "engine/EngineTiming.h"
#include "engine/Operator.h"
#include "engine/TransferProcedures.h"
#include "image/FirmwareFile.h"
#include "image/HexFileLoader.h"
#include "link/DeviceLink.h"

namespace vel {

// The document: the loaded firmware file and the device engine. It owns the file, the link, what
// is known of the connected device and the transfer worker; it dispatches an action to the
// identification and to the transfer procedure that fits the device. It reports only through the
// console and the operator, never to a window.
class CVelUpdateDoc {
 public:
  CVelUpdateDoc(Console& console, Operator& op);
  ~CVelUpdateDoc();
  CVelUpdateDoc(const CVelUpdateDoc&) = delete;
  CVelUpdateDoc& operator=(const CVelUpdateDoc&) = delete;

  // Loads a firmware file, replacing every image and forgetting the device.
  LoadResult OnOpenDocument(const std::string& path);
  FirmwareFile& File() { return file_; }
  const std::string& PathName() const { return path_; }

  // The link to the next device, set up before an action.
  DeviceLink& Link() { return link_; }
  void SetLinkKind(LinkKind kind) { link_.SetLinkKind(kind); }
  // Key text without dashes; turns encryption on for the next connection.
  void SetLinkKey(const std::string& keyText) { link_.Tcp().SetLinkKey(keyText); }
  void SetEncryption(bool on) { link_.Tcp().SetEncryption(on); }
  void SetTcpEndpoint(const TcpEndpoint& endpoint) { link_.Tcp().SetEndpoint(endpoint); }
  unsigned OpenSerialPort(const SerialSettings& settings, const std::string& portName);
  void ClosePort() { link_.ClosePort(); }

  // The single entry of the engine. Runs identification on the calling thread and starts a
  // transfer worker where the action needs one; every path ends, sooner or later, with the
  // status code written and the completion event signalled.
  void DispatchUpdate(int action);
  // Waits until no transfer worker runs.
  void WaitForWorker();

  const DeviceIdentity& Identity() const { return identity_; }
  const DeviceClasses& Classes() const { return classes_; }
  void SetSerialNumberOptional(bool on) { identifier_.SetSerialNumberOptional(on); }
  EngineTiming& Timing() { return timing_; }
  Console& GetConsole() { return console_; }
  Operator& GetOperator() { return operator_; }
  // Units of the last update that no image of the file fits, left out of it.
  const std::vector<int>& LeftOutUnits() const { return identifier_.LeftOutUnits(); }
  // Whether the last operation's cancel came from the engine itself rather than from outside.
  bool EndedByEngine() const { return context_.endedByEngine; }
  // Whether the last identification ended with the device declined.
  bool Declined() const { return identifier_.Declined(); }

 private:
  void DispatchAction3();
  void DispatchAction4();
  void SendUnformatted();
  // The device's word on a line of the unformatted send: 0xFA, 0xFE, the protocol byte, or -1
  // when none came.
  int AwaitLineAnswer();
  int SearchDevice(int serialAttempts, bool checking);
  void ChooseProcedure();
  void Refuse64k();
  // Refuses (messages, failure, end of the operation) what goes over TCP but works over a serial
  // line only.
  bool SerialOnly();
  // Refuses (message, status, end of the operation) a file that fails its checksum test.
  bool RefuseDefectiveFile();
  void WakeDravikDevice(int mode);
  void StartHubUpdate();
  void WriteSerialNumberIntoImage();
  // Starts a procedure on the worker, with its progress range, unless the file holds data it
  // would not send.
  void StartProcedure(Procedure procedure, int range, bool tickBox = true);
  void StartWorker(std::function<void()> procedure);

  Console& console_;
  Operator& operator_;
  FirmwareFile file_;
  std::string path_;
  DeviceLink link_;
  DeviceIdentity identity_;
  DeviceClasses classes_;
  EngineTiming timing_;
  EngineContext context_{console_, operator_, link_, file_, identity_, classes_, timing_};
  DeviceIdentifier identifier_{context_};
  BlockTransfer transfer_{context_};
  TransferProcedures procedures_{context_, transfer_, identifier_};
  std::thread worker_;
};

}  // namespace vel
