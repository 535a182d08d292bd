#include "engine/VelUpdateDoc.h"

#include <chrono>

#include "common/Format.h"
#include "common/Strings.h"
#include "engine/DeviceTypes.h"
#include "engine/Protocol.h"

namespace vel {

namespace {

int SearchBaud(int attempt, int attemptsPerSpeed) {
  const int speed = attempt / attemptsPerSpeed;
  return speed == 0 ? 38400 : speed == 1 ? 19200 : 9600;
}

}  // namespace

CVelUpdateDoc::CVelUpdateDoc(Console& console, Operator& op) : console_(console), operator_(op) {
  link_.SetCancelFlag(&console_.State().cancel);
}

CVelUpdateDoc::~CVelUpdateDoc() {
  WaitForWorker();
  link_.Serial().Close();
  link_.Tcp().Shutdown();
}

LoadResult CVelUpdateDoc::OnOpenDocument(const std::string& path) {
  WaitForWorker();
  identity_.Reset();
  classes_ = DeviceClasses{};
  context_.identified = false;
  identifier_.ForgetLeftOutUnits();
  const LoadResult result = HexFileLoader(file_, &console_).LoadPath(path);
  if (!result.ok()) return result;
  path_ = path;
  console_.SetHexFileName(file_.FileName());
  console_.EnableFileControls(true);
  console_.ShowFileDevice(DisplayName(file_.Info(0).deviceType));
  return result;
}

unsigned CVelUpdateDoc::OpenSerialPort(const SerialSettings& settings,
                                       const std::string& portName) {
  const unsigned result = link_.Serial().Open(settings, portName);
  if (result != kLinkOk) {
    console_.AppendMessage("Serial port " + portName + ": " + link_.Serial().LastReason());
  } else if (!link_.Serial().LastNote().empty()) {
    console_.AppendMessage(link_.Serial().LastNote());
  }
  return result;
}

void CVelUpdateDoc::WaitForWorker() {
  if (worker_.joinable()) worker_.join();
}

void CVelUpdateDoc::StartWorker(std::function<void()> procedure) {
  WaitForWorker();
  worker_ = std::thread(std::move(procedure));
}

bool CVelUpdateDoc::RefuseDefectiveFile() {
  const auto defect = file_.FirstDefect();
  if (!defect) return false;
  operator_.ShowMessage(LoadString(ids::kFileFailsTest) + "\n" + DescribeDefect(*defect));
  context_.SetStatusCode(ids::kFileFailsTest);
  context_.EndWithoutTransfer(true);
  return true;
}

void CVelUpdateDoc::DispatchUpdate(int action) {
  WaitForWorker();
  context_.endedByEngine = false;
  identifier_.Begin(action == kActionCheck);
  // (No receive-event mask to set: reads here wait on the descriptor itself.)
  console_.EnableWorkingControls(false);
  // Nothing of a file that fails its checksum test goes to a device.
  const bool sends =
      action == kActionUnformatted || action == kActionVantrel || action == kActionUpdate;
  if (sends && RefuseDefectiveFile()) return;
  switch (action) {
    case kActionUnformatted:
      SendUnformatted();
      break;
    case kActionVantrel:
      if (identifier_.IdentifyDevice() == 0) {
        context_.EndWithoutTransfer(true);
        return;
      }
      if (!context_.identified) {
        context_.EndWithoutTransfer(true);
        return;
      }
      if (SerialOnly()) return;
      StartProcedure(Procedure::kT1, 4096);
      break;
    case kActionUpdate:
      DispatchAction3();
      break;
    case kActionCheck:
      DispatchAction4();
      break;
    default:
      operator_.ShowMessage(std::string(text::kModeNotSupported));
      context_.Signal();
      break;
  }
}

int CVelUpdateDoc::SearchDevice(int serialAttempts, bool checking) {
  int result = 0;
  if (link_.Kind() == LinkKind::kSerial) {
    link_.Purge();
    const int perSpeed = serialAttempts / 3;
    for (int k = 0; k < serialAttempts && result == 0 && !context_.Cancelled(); ++k) {
      // Two attempts per protocol byte when searching for an update, one when checking.
      const int group = checking ? k : k / 2;
      context_.protocolByte =
          group % 2 == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      link_.SetBaudRate(SearchBaud(k, perSpeed));
      result = identifier_.IdentifyDevice();
      if (result == 0 && checking) context_.SetStatusCode(status::kCheckNoAnswer);
    }
  } else {
    for (int k = 0; k < kTcpAttempts && result == 0 && !context_.Cancelled(); ++k) {
      context_.protocolByte = k == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      result = identifier_.IdentifyDevice();
      if (result == 0 && checking) context_.SetStatusCode(status::kCheckNoAnswer);
    }
  }
  return result;
}

void CVelUpdateDoc::DispatchAction3() {
  const std::string& fileType = file_.Info(0).deviceType;
  if (CodeMatches(fileType, "YPC", 3)) return WakeDravikDevice(0);
  if (CodeMatches(fileType, "YPK", 3)) return WakeDravikDevice(1);
  if (CodeMatches(fileType, "YPA", 3)) return WakeDravikDevice(2);
  if (CodeMatches(fileType, "JQH", 3)) return StartHubUpdate();
  const int result = SearchDevice(kSerialSearchAttempts, false);
  if (context_.Cancelled()) {
    context_.EndWithoutTransfer(true);
    return;
  }
  if (result < 0) {
    operator_.ShowMessage(LoadString(ids::kSystemBusy));
    context_.SetStatusCode(ids::kSystemBusy);
    context_.EndWithoutTransfer(true);
    return;
  }
  if (result == 0) {
    if (link_.Kind() == LinkKind::kSerial) {
      link_.ClosePort();
      context_.ReportConnectionError();
    } else if (!identifier_.ReadErrorSeen()) {
      // Over TCP no message box; the row still says that the device did not answer (a device
      // that answered with a broken information block keeps that read error instead).
      console_.AppendMessage(LoadString(ids::kConnectionError));
      context_.SetStatusCode(ids::kConnectionError);
    }
    context_.EndWithoutTransfer(true);
    return;
  }
  ChooseProcedure();
}

void CVelUpdateDoc::DispatchAction4() {
  const int result = SearchDevice(kSerialCheckAttempts, true);
  if (result == 0 && !context_.Cancelled()) {
    context_.ReportConnectionError();
    console_.EnableWorkingControls(true);
  } else if (context_.identified) {
    console_.EnableWorkingControls(true);
  }
  context_.Signal();
}

void CVelUpdateDoc::Refuse64k() {
  operator_.ShowMessage(std::string(text::kRefuse64k));
  context_.EndWithoutTransfer(true);
}

bool CVelUpdateDoc::SerialOnly() {
  if (link_.Kind() == LinkKind::kSerial) return false;
  console_.AppendMessage(std::string(text::kSerialOnly));
  operator_.ShowMessage(std::string(text::kSerialOnly));
  context_.SetStatusCode(ids::kUpdateFailed);
  context_.EndWithoutTransfer(true);
  return true;
}

void CVelUpdateDoc::ChooseProcedure() {
  const std::string& fileType = file_.Info(0).deviceType;
  const bool multiUnitFamily = DeviceTypeCaption(fileType).multiUnitFamily;
  if (!context_.identified) {
    context_.EndWithoutTransfer(true);
    return;
  }
  context_.BuildMapIfMissing(0);
  const bool image128k = file_.MemMap(0)->GetPage(254, 0) != nullptr;
  if (!multiUnitFamily) {
    // Every procedure of these families works over a serial line only.
    const bool refuse =
        (!image128k && classes_.dnk) || (image128k && !classes_.dravik && classes_.refuse64k);
    if (refuse) {
      Refuse64k();
      return;
    }
    if (SerialOnly()) return;
    if (!image128k && classes_.tzt) {
      StartProcedure(Procedure::kT10, 12288);
    } else if (!image128k && classes_.userStation) {
      StartProcedure(Procedure::kT6, 4096);
    } else if (!image128k) {
      StartProcedure(Procedure::kT1, 4096);
    } else if (classes_.dravik && (classes_.ypd || identity_.auxiliaryVersions[1] ==
                                                       file_.Shared().auxiliaryVersions[1])) {
      StartProcedure(Procedure::kT3, 8192);
    } else if (classes_.dravik) {
      StartProcedure(Procedure::kT4, 33488);
    } else {
      WriteSerialNumberIntoImage();
      StartProcedure(Procedure::kT2, 8192);
    }
    return;
  }
  if (classes_.xxx) {
    if (SerialOnly()) return;
    StartProcedure(Procedure::kT11, 24576);
    return;
  }
  const bool unit0G4 = identity_.typeCode[0].starts_with("G4");
  if (context_.protocolByte == protocol::kMultiUnitProtocol) {
    context_.BuildMapIfMissing(1);
    if (file_.FirstTypeFlag()) identity_.selectedImage = 1;
  } else if (unit0G4 && file_.FirstTypeFlag()) {
    context_.BuildMapIfMissing(1);
    if (file_.MemMap(0)->GetPage(0, 0) == nullptr) {
      console_.AppendMessage(std::string(text::kNoDataAtSegmentZeroOfImage0));
      context_.SetStatusCode(ids::kUpdateFailed);
      context_.EndWithoutTransfer(true);
      return;
    }
    StartProcedure(Procedure::kT13, file_.MemMap(1)->RecordExtent());
    return;
  } else if (!unit0G4 && file_.FirstTypeFlag()) {
    context_.BuildMapIfMissing(1);
    identity_.selectedImage = 1;
  } else {
    identity_.selectedImage = 0;
  }
  const int slot = identity_.selectedImage;
  if (slot >= kImageSlots) {
    console_.AppendMessage(std::string(text::kNoImageForSelectedUnit));
    context_.SetStatusCode(ids::kUpdateFailed);
    context_.EndWithoutTransfer(true);
    return;
  }
  context_.BuildMapIfMissing(slot);
  const VelMemMap& map = *file_.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) {
    console_.AppendMessage(Format(format::kNoDataAtSegmentZero, slot));
    context_.SetStatusCode(ids::kUpdateFailed);
    context_.EndWithoutTransfer(true);
    return;
  }
  StartProcedure(Procedure::kT12, map.RecordExtent());
}

void CVelUpdateDoc::SendUnformatted() {
  if (SerialOnly()) return;
  const int total = file_.RecordCount(0);
  console_.BeginProgress(1, total, Format(format::kSendingFirstRecordLine, total), 1);
  const VelHexFile* node = file_.Chain(0);
  std::string line;
  int taken = 0;         // lines the device took (0xFE after each)
  int repeats = 0;       // times in a row the device asked for the same line again
  bool pending = false;  // `line` still waits to be taken
  while (!context_.Cancelled()) {
    if (!pending) {
      if (node == nullptr) break;
      node = node->TakeLine(&line);
      pending = true;
      repeats = 0;
    }
    link_.LinkWrite(reinterpret_cast<const std::uint8_t*>(line.data()),
                    static_cast<int>(line.size()));
    console_.SetStatus(Format(format::kSendingRecordLine, taken + 1, total));
    const int answer = AwaitLineAnswer();
    if (answer == protocol::kAskAgain) {
      ++taken;
      pending = false;
    } else if (answer != protocol::kAck || ++repeats >= kMaxBlockFailures) {
      break;  // the protocol byte, silence, or a line that is never taken ends the walk
    }
  }
  console_.EndProgress();
  // Complete when every line was taken once; a cancel leaves the device without the rest.
  const bool complete = taken == total && !pending && !context_.Cancelled();
  context_.SetStatusCode(complete ? ids::kUpdateSuccessful : ids::kUpdateFailed);
  operator_.ShowMessage(complete ? Format(format::kUnformattedCompleted, taken)
                                 : std::string(text::kUnformattedNotCompleted));
  console_.EnableWorkingControls(true);
  context_.Signal();
}

int CVelUpdateDoc::AwaitLineAnswer() {
  // 0xFA asks for the line again, 0xFE takes it, the protocol byte ends the walk; other bytes
  // are passed over.
  for (;;) {
    std::uint8_t reply = 0;
    if (context_.ReadByte(&reply) != 1) return -1;
    if (reply == protocol::kAck || reply == protocol::kAskAgain || reply == context_.protocolByte) {
      return reply;
    }
  }
}

void CVelUpdateDoc::WriteSerialNumberIntoImage() {
  std::array<std::uint8_t, kSerialNumberSize> bytes;
  if (identity_.HasSerialNumber()) {
    std::copy(identity_.serialNumber.begin(), identity_.serialNumber.begin() + kSerialNumberSize,
              bytes.begin());
  } else {
    bytes.fill(kNoSerialNumber);
  }
  file_.MutableMemMap(0)->Write(254, 0, bytes.data(), bytes.size());
}

void CVelUpdateDoc::StartProcedure(Procedure procedure, int range, bool tickBox) {
  if (procedures_.RefuseDataLeftBehind(procedures_.PhasesOf(procedure))) return;
  console_.BeginProgress(1, range, std::string(text::kSendingHexFile), 1);
  StartWorker([this, procedure, tickBox] { procedures_.Run(procedure, tickBox); });
}

void CVelUpdateDoc::WakeDravikDevice(int mode) {
  if (link_.Kind() == LinkKind::kTcp) {
    operator_.ShowMessage(std::string(text::kDravikSerialOnly));
    context_.SetStatusCode(ids::kConnectionError);
    context_.EndWithoutTransfer(true);
    return;
  }
  const std::uint8_t wake = mode == 0 ? 0x1B : 0x1F;
  link_.Purge();
  console_.BeginProgress(0, 6, std::string(text::kAttemptingToCommunicate), 1);
  bool awake = false;
  for (int i = 0; i < kWakeTries && !awake && !context_.Cancelled(); ++i) {
    link_.SetBaudRate(9600);
    console_.SetStatus({});
    awake = context_.Handshake(wake);
  }
  console_.EndProgress();
  if (!awake) {
    link_.ClosePort();
    context_.ReportConnectionError();
    context_.EndWithoutTransfer(true);
    return;
  }
  context_.BuildMapIfMissing(0);
  if (mode == 0) {
    if (file_.MemMap(0)->GetPage(254, 0) == nullptr) {
      console_.AppendMessage(std::string(text::kNo128kImage));
      context_.SetStatusCode(ids::kUpdateFailed);
      context_.EndWithoutTransfer(true);
      return;
    }
    StartProcedure(Procedure::kT2, 8192, false);
  } else if (mode == 1) {
    StartProcedure(Procedure::kT7, 4096);
  } else {
    StartProcedure(Procedure::kT8, 8912);
  }
}

void CVelUpdateDoc::StartHubUpdate() {
  if (SerialOnly()) return;
  link_.Purge();
  context_.protocolByte = protocol::kSingleUnitProtocol;
  link_.SetBaudRate(9600);
  const std::array<std::uint8_t, 10> start = {0xBB, 0xBB, 0xBB, 0xBB, 0xBB,
                                              0xBB, 0xBB, 0xBB, 0xBB, 0xBB};
  context_.Write(start.data(), static_cast<int>(start.size()));
  int result = 0;
  for (int i = 0; i < kHubIdentifyTries && result == 0 && !context_.Cancelled(); ++i) {
    result = identifier_.IdentifyDevice();
  }
  if (result == 0) {
    link_.ClosePort();
    context_.ReportConnectionError();
    context_.EndWithoutTransfer(true);
    return;
  }
  if (result < 0 || !context_.identified) {
    context_.EndWithoutTransfer(true);
    return;
  }
  if (procedures_.RefuseDataLeftBehind(procedures_.PhasesOf(Procedure::kT9))) return;
  console_.BeginProgress(1, 4096, std::string(text::kSendingVelHexFile), 1);
  StartWorker([this] { procedures_.Run(Procedure::kT9); });
}

}  // namespace vel
