#include "engine/Dispatcher.h"

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/Protocol.h"

namespace vel {

namespace {

constexpr int kWakeBaud = 9600;
constexpr auto kHubStartBytes = [] {
  std::array<std::uint8_t, protocol::kHubStartBytes> bytes{};
  bytes.fill(protocol::kHubStartByte);
  return bytes;
}();

int SearchBaud(int attempt, int attemptsPerSpeed) {
  const int speed = attempt / attemptsPerSpeed;
  return speed == 0 ? 38400 : speed == 1 ? 19200 : 9600;
}

}  // namespace

ActionResult Dispatcher::Dispatch(Action action) {
  ctx_.endedByEngine = false;
  ctx_.imagesSent = 0;
  ctx_.unitOutcomes.fill(UnitOutcome::kNotSent);
  ctx_.strangeAnswer = false;
  // Until the action comes to more, a check found no device and anything else failed.
  ctx_.SetStatusCode(action == Action::kCheck ? status::kCheckNoAnswer : ids::kUpdateFailed);
  ctx_.display.PlanFrames(0);  // nothing of this action is done yet
  identifier_.Begin(action == Action::kCheck);
  switch (action) {
    case Action::kUnformatted:
      if (!SerialOnly()) procedures_.SendUnformatted();
      break;
    case Action::kVantrel:
      UpdateVantrel();
      break;
    case Action::kUpdate:
      Update();
      break;
    case Action::kCheck:
      Check();
      break;
  }
  return {EndOf(action), ctx_.StatusCode(), ctx_.unitOutcomes};
}

ActionEnd Dispatcher::EndOf(Action action) const {
  const int code = ctx_.StatusCode();
  const bool succeeded =
      action == Action::kCheck ? code == status::kCheckAccepted : IsUpdateSuccess(code);
  if (succeeded) return ActionEnd::kSucceeded;
  if (ctx_.Cancelled() && !ctx_.endedByEngine) return ActionEnd::kCancelled;
  switch (code) {
    case ids::kConnectionError:
    case status::kCheckNoAnswer:
      return ActionEnd::kNotResponding;
    case ids::kSystemBusy:
      return ActionEnd::kBusy;
    case status::kCheckDeclined:
      return ActionEnd::kDeclined;
    default:
      return identifier_.Declined() ? ActionEnd::kDeclined : ActionEnd::kFailed;
  }
}

int Dispatcher::SearchDevice(int serialAttempts, bool checking) {
  int result = 0;
  if (ctx_.link.Kind() == LinkKind::kSerial) {
    ctx_.link.Purge();
    const int perSpeed = serialAttempts / 3;
    for (int k = 0; k < serialAttempts && result == 0 && !ctx_.Cancelled(); ++k) {
      // Two attempts per protocol byte when searching for an update, one when checking.
      const int group = checking ? k : k / 2;
      ctx_.protocolByte =
          group % 2 == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      ctx_.link.SetBaudRate(SearchBaud(k, perSpeed));
      result = identifier_.IdentifyDevice();
      if (result == 0 && checking) ctx_.SetStatusCode(status::kCheckNoAnswer);
    }
  } else {
    for (int k = 0; k < kTcpAttempts && result == 0 && !ctx_.Cancelled(); ++k) {
      ctx_.protocolByte = k == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      result = identifier_.IdentifyDevice();
      if (result == 0 && checking) ctx_.SetStatusCode(status::kCheckNoAnswer);
    }
  }
  return result;
}

void Dispatcher::Update() {
  const Family& file = FamilyOf(ctx_.file.Info(0).deviceType);
  if (file.start == Start::kWake) return StartWoken(file);
  if (file.start == Start::kHubStartBytes) return StartHub(file);
  const int result = SearchDevice(kSerialSearchAttempts, false);
  if (ctx_.Cancelled()) return;
  if (result < 0) return ctx_.Fail(Tell::kBox, LoadString(ids::kSystemBusy), ids::kSystemBusy);
  if (result == 0) {
    if (ctx_.link.Kind() == LinkKind::kSerial) {
      ctx_.link.ClosePort();
      ctx_.ReportConnectionError();
    } else if (!identifier_.ReadErrorSeen()) {
      // Over TCP no message box; the row still says that the device did not answer (a device
      // that answered with a broken information block keeps that read error instead).
      ctx_.display.AppendMessage(LoadString(ids::kConnectionError));
      ctx_.SetStatusCode(ids::kConnectionError);
    }
    return;
  }
  ChooseProcedure();
}

void Dispatcher::Check() {
  const int result = SearchDevice(kSerialCheckAttempts, true);
  if (result == 0 && !ctx_.Cancelled()) ctx_.ReportConnectionError();
}

void Dispatcher::UpdateVantrel() {
  if (identifier_.IdentifyDevice() == 0 || !ctx_.identified) return;
  Start(Procedure::kPageRangeImage64k);
}

void Dispatcher::ChooseProcedure() {
  if (!ctx_.identified) return;
  ctx_.BuildMapIfMissing(0);
  if (FamilyOf(ctx_.file.Info(0).deviceType).multiUnitFile) return ChooseForMultiUnitFile();
  const bool image128k = ctx_.file.MemMap(0)->GetPage(254, 0) != nullptr;
  StartChoice(image128k ? ctx_.device->large : ctx_.device->small);
}

void Dispatcher::StartChoice(const Choice& choice) {
  if (choice.refused) return ctx_.op.ShowMessage(std::string(text::kRefuse64k));
  if (choice.serialNumberIntoImage) {
    if (SerialOnly()) return;
    WriteSerialNumberIntoImage();
  }
  const bool sameVersion =
      ctx_.identity.auxiliaryVersions[1] == ctx_.file.Shared().auxiliaryVersions[1];
  Start(sameVersion ? choice.procedure : choice.otherAuxiliaryVersion);
}

void Dispatcher::ChooseForMultiUnitFile() {
  FirmwareFile& file = ctx_.file;
  DeviceIdentity& identity = ctx_.identity;
  if (ctx_.device->segmentsThenImage) return Start(Procedure::kSegmentsThenImage128k);
  const bool unit0G4 = ctx_.device->unitZeroTakesLoader;
  if (ctx_.protocolByte == protocol::kMultiUnitProtocol) {
    ctx_.BuildMapIfMissing(1);
    if (file.FirstTypeFlag()) identity.selectedImage = 1;
  } else if (unit0G4 && file.FirstTypeFlag()) {
    ctx_.BuildMapIfMissing(1);
    if (file.MemMap(0)->GetPage(0, 0) == nullptr) {
      return ctx_.Fail(Tell::kLog, text::kNoDataAtSegmentZeroOfImage0, ids::kUpdateFailed);
    }
    return Start(Procedure::kLoaderImages, file.MemMap(1)->RecordExtent());
  } else if (!unit0G4 && file.FirstTypeFlag()) {
    ctx_.BuildMapIfMissing(1);
    identity.selectedImage = 1;
  } else {
    identity.selectedImage = 0;
  }
  const int slot = identity.selectedImage;
  if (slot >= kImageSlots) {
    return ctx_.Fail(Tell::kLog, text::kNoImageForSelectedUnit, ids::kUpdateFailed);
  }
  ctx_.BuildMapIfMissing(slot);
  const VelMemMap& map = *file.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) {
    return ctx_.Fail(Tell::kLog, Format(format::kNoDataAtSegmentZero, slot), ids::kUpdateFailed);
  }
  Start(Procedure::kUnitImages, map.RecordExtent());
}

bool Dispatcher::SerialOnly() {
  if (ctx_.link.Kind() == LinkKind::kSerial) return false;
  ctx_.Fail(Tell::kBoth, text::kSerialOnly, ids::kUpdateFailed);
  return true;
}

void Dispatcher::Start(Procedure name, int range) {
  const TransferProcedure& procedure = ProcedureOf(name);
  if (procedure.serialOnly && SerialOnly()) return;
  if (procedure.needs128kImage && ctx_.file.MemMap(0)->GetPage(254, 0) == nullptr) {
    return ctx_.Fail(Tell::kLog, text::kNo128kImage, ids::kUpdateFailed);
  }
  // The phases are built once: those checked here are those the procedure sends.
  PhaseBuilder& builder = procedures_.Phases();
  std::vector<TransferPhase> phases = builder.PhasesOf(name);
  if (builder.RefuseDataLeftBehind(phases)) return;
  ctx_.display.BeginProgress(1, range != 0 ? range : procedure.progressRange,
                             std::string(procedure.progressText), 1);
  ctx_.link.NoteProcedure();
  procedures_.Run(procedure, std::move(phases));
}

void Dispatcher::StartWoken(const Family& file) {
  if (ctx_.link.Kind() == LinkKind::kTcp) {
    return ctx_.Fail(Tell::kBox, text::kDravikSerialOnly, ids::kConnectionError);
  }
  ctx_.link.Purge();
  ctx_.display.BeginProgress(0, 6, std::string(text::kAttemptingToCommunicate), 1);
  bool awake = false;
  for (int i = 0; i < kWakeTries && !awake && !ctx_.Cancelled(); ++i) {
    ctx_.link.SetBaudRate(kWakeBaud);
    ctx_.display.SetStatus({});
    awake = ctx_.Handshake(file.wakeByte);
  }
  ctx_.display.EndProgress();
  if (!awake) {
    ctx_.link.ClosePort();
    ctx_.ReportConnectionError();
    return;
  }
  ctx_.BuildMapIfMissing(0);
  Start(file.started);
}

void Dispatcher::StartHub(const Family& file) {
  if (SerialOnly()) return;
  ctx_.link.Purge();
  ctx_.protocolByte = protocol::kSingleUnitProtocol;
  ctx_.link.SetBaudRate(kWakeBaud);
  ctx_.Write(kHubStartBytes.data(), static_cast<int>(kHubStartBytes.size()));
  int result = 0;
  for (int i = 0; i < kHubIdentifyTries && result == 0 && !ctx_.Cancelled(); ++i) {
    result = identifier_.IdentifyDevice();
  }
  if (result == 0) {
    ctx_.link.ClosePort();
    ctx_.ReportConnectionError();
    return;
  }
  if (result < 0 || !ctx_.identified) return;
  Start(file.started);
}

void Dispatcher::WriteSerialNumberIntoImage() {
  std::array<std::uint8_t, kSerialNumberSize> bytes;
  if (ctx_.identity.HasSerialNumber()) {
    std::copy(ctx_.identity.serialNumber.begin(),
              ctx_.identity.serialNumber.begin() + kSerialNumberSize, bytes.begin());
  } else {
    bytes.fill(kNoSerialNumber);
  }
  ctx_.file.MutableMemMap(0)->Write(254, 0, bytes.data(), bytes.size());
}

}  // namespace vel
