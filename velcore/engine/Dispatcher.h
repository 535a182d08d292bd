#pragma once

#include "engine/ActionResult.h"
#include "engine/DeviceIdentifier.h"
#include "engine/EngineContext.h"
#include "families/Families.h"
#include "engine/ProcedureSteps.h"

namespace vel {

// The engine's one entry: an action runs on the caller's thread from its first byte to the end
// of its procedure. It searches for the device, identifies it, and chooses the procedure that the
// file's family and the device's family call for.
class Dispatcher {
 public:
  Dispatcher(EngineContext& ctx, DeviceIdentifier& identifier, ProcedureSteps& procedures)
      : ctx_(ctx), identifier_(identifier), procedures_(procedures) {}

  // Runs an action to its end; what it came to.
  ActionResult Dispatch(Action action);

 private:
  void Update();
  void Check();
  void UpdateVantrel();
  // Tries speeds and protocol bytes (serial) or the two protocol bytes (TCP); the result of the
  // last identification.
  int SearchDevice(int serialAttempts, bool checking);
  void ChooseProcedure();
  void ChooseForMultiUnitFile();
  void StartChoice(const Choice& choice);
  // A Dravik file: the wake byte at 9600 baud, then the family's procedure.
  void StartWoken(const Family& file);
  // A hub file: ten 0xBB, identification with 0x1B, then the hub's procedure.
  void StartHub(const Family& file);
  // Runs a procedure with its progress range, unless the link cannot take it or the file holds
  // data it would not send.
  void Start(Procedure procedure, int range = 0);
  // Refuses (messages, failure) what goes over TCP but works over a serial line only.
  bool SerialOnly();
  void WriteSerialNumberIntoImage();
  // How the action ended, from what the engine learned on the way.
  ActionEnd EndOf(Action action) const;

  EngineContext& ctx_;
  DeviceIdentifier& identifier_;
  ProcedureSteps& procedures_;
};

}  // namespace vel
