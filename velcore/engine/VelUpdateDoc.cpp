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
  identified_ = false;
  leftOutUnits_.clear();
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

bool CVelUpdateDoc::Write(const std::uint8_t* bytes, int count) {
  return link_.LinkWrite(bytes, count) == count;
}

int CVelUpdateDoc::ReadByte(std::uint8_t* byte) { return link_.LinkRead(byte, 1); }

bool CVelUpdateDoc::Pause(int ms) {
  return console_.State().cancel.SleepFor(std::chrono::milliseconds(ms));
}

bool CVelUpdateDoc::RefuseDefectiveFile() {
  const auto defect = file_.FirstDefect();
  if (!defect) return false;
  operator_.ShowMessage(LoadString(ids::kFileFailsTest) + "\n" + DescribeDefect(*defect));
  SetStatusCode(ids::kFileFailsTest);
  EndWithoutTransfer(true);
  return true;
}

void CVelUpdateDoc::DispatchUpdate(int action) {
  WaitForWorker();
  endedByEngine_ = false;
  declined_ = false;
  answerByte_ = protocol::kAck;
  // (No receive-event mask to set: reads here wait on the descriptor itself.)
  console_.EnableWorkingControls(false);
  // Nothing of a file that fails its checksum test goes to a device.
  const bool sends = action == kActionUnformatted || action == kActionVantrel ||
                     action == kActionUpdate;
  if (sends && RefuseDefectiveFile()) return;
  switch (action) {
    case kActionUnformatted:
      SendUnformatted();
      break;
    case kActionVantrel:
      if (IdentifyDevice() == 0) {
        EndWithoutTransfer(true);
        return;
      }
      if (!identified_) {
        EndWithoutTransfer(true);
        return;
      }
      if (SerialOnly()) return;
      StartProcedure(Procedure::kT1, 4096, [this] { ProcedureT1(); });
      break;
    case kActionUpdate:
      DispatchAction3();
      break;
    case kActionCheck:
      DispatchAction4();
      break;
    default:
      operator_.ShowMessage(std::string(text::kModeNotSupported));
      Signal();
      break;
  }
}

int CVelUpdateDoc::SearchDevice(int serialAttempts, bool checking) {
  int result = 0;
  readErrorSeen_ = false;
  if (link_.Kind() == LinkKind::kSerial) {
    link_.Purge();
    const int perSpeed = serialAttempts / 3;
    for (int k = 0; k < serialAttempts && result == 0 && !Cancelled(); ++k) {
      // Two attempts per protocol byte when searching for an update, one when checking.
      const int group = checking ? k : k / 2;
      protocolByte_ = group % 2 == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      link_.Serial().SetBaudRate(SearchBaud(k, perSpeed));
      result = IdentifyDevice();
      if (result == 0 && checking) SetStatusCode(status::kCheckNoAnswer);
    }
  } else {
    for (int k = 0; k < kTcpAttempts && result == 0 && !Cancelled(); ++k) {
      protocolByte_ = k == 0 ? protocol::kMultiUnitProtocol : protocol::kSingleUnitProtocol;
      result = IdentifyDevice();
      if (result == 0 && checking) SetStatusCode(status::kCheckNoAnswer);
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
  if (Cancelled()) {
    EndWithoutTransfer(true);
    return;
  }
  if (result < 0) {
    operator_.ShowMessage(LoadString(ids::kSystemBusy));
    SetStatusCode(ids::kSystemBusy);
    EndWithoutTransfer(true);
    return;
  }
  if (result == 0) {
    if (link_.Kind() == LinkKind::kSerial) {
      link_.ClosePort();
      operator_.ShowMessage(LoadString(ids::kConnectionError));
      SetStatusCode(ids::kConnectionError);
    } else if (!readErrorSeen_) {
      // Over TCP no message box; the row still says that the device did not answer (a device
      // that answered with a broken information block keeps that read error instead).
      console_.AppendMessage(LoadString(ids::kConnectionError));
      SetStatusCode(ids::kConnectionError);
    }
    EndWithoutTransfer(true);
    return;
  }
  ChooseProcedure();
}

void CVelUpdateDoc::DispatchAction4() {
  informationOnly_ = true;
  answerByte_ = protocol::kBusy;
  const int result = SearchDevice(kSerialCheckAttempts, true);
  informationOnly_ = false;
  if (result == 0 && !Cancelled()) {
    operator_.ShowMessage(LoadString(ids::kConnectionError));
    SetStatusCode(ids::kConnectionError);
    console_.EnableWorkingControls(true);
  } else if (identified_) {
    console_.EnableWorkingControls(true);
  }
  Signal();
}

void CVelUpdateDoc::BuildMapIfMissing(int slot) {
  if (file_.MemMap(slot) != nullptr) return;
  const bool shown =
      console_.BeginProgress(1, file_.RecordCount(0), LoadString(ids::kCreatingMemMap), 1);
  file_.GetMemMap(slot, shown ? &console_ : nullptr, classes_.jqh);
  if (shown) console_.EndProgress();
}

void CVelUpdateDoc::EndWithoutTransfer(bool enableControls) {
  if (enableControls) console_.EnableWorkingControls(true);
  Signal();
}

void CVelUpdateDoc::Refuse64k() {
  operator_.ShowMessage(std::string(text::kRefuse64k));
  EndWithoutTransfer(true);
}

bool CVelUpdateDoc::SerialOnly() {
  if (link_.Kind() == LinkKind::kSerial) return false;
  console_.AppendMessage(std::string(text::kSerialOnly));
  operator_.ShowMessage(std::string(text::kSerialOnly));
  SetStatusCode(ids::kUpdateFailed);
  EndWithoutTransfer(true);
  return true;
}

void CVelUpdateDoc::ChooseProcedure() {
  const std::string& fileType = file_.Info(0).deviceType;
  const bool multiUnitFamily = DeviceTypeCaption(fileType).multiUnitFamily;
  if (!identified_) {
    EndWithoutTransfer(true);
    return;
  }
  BuildMapIfMissing(0);
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
      StartProcedure(Procedure::kT10, 12288, [this] { ProcedureT10(); });
    } else if (!image128k && classes_.userStation) {
      StartProcedure(Procedure::kT6, 4096, [this] { ProcedureT6(); });
    } else if (!image128k) {
      StartProcedure(Procedure::kT1, 4096, [this] { ProcedureT1(); });
    } else if (classes_.dravik && (classes_.ypd || identity_.auxiliaryVersions[1] ==
                                                       file_.Shared().auxiliaryVersions[1])) {
      StartProcedure(Procedure::kT3, 8192, [this] { ProcedureT3(); });
    } else if (classes_.dravik) {
      StartProcedure(Procedure::kT4, 33488, [this] { ProcedureT4(); });
    } else {
      WriteSerialNumberIntoImage();
      StartProcedure(Procedure::kT2, 8192, [this] { ProcedureT2(true); });
    }
    return;
  }
  if (classes_.xxx) {
    if (SerialOnly()) return;
    StartProcedure(Procedure::kT11, 24576, [this] { ProcedureT11(); });
    return;
  }
  const bool unit0G4 = identity_.typeCode[0].starts_with("G4");
  if (protocolByte_ == protocol::kMultiUnitProtocol) {
    BuildMapIfMissing(1);
    if (file_.FirstTypeFlag()) identity_.selectedImage = 1;
  } else if (unit0G4 && file_.FirstTypeFlag()) {
    BuildMapIfMissing(1);
    if (file_.MemMap(0)->GetPage(0, 0) == nullptr) {
      console_.AppendMessage("Image 0 holds no data at segment 0; nothing was sent.");
      SetStatusCode(ids::kUpdateFailed);
      EndWithoutTransfer(true);
      return;
    }
    StartProcedure(Procedure::kT13, file_.MemMap(1)->RecordExtent(), [this] { ProcedureT13(); });
    return;
  } else if (!unit0G4 && file_.FirstTypeFlag()) {
    BuildMapIfMissing(1);
    identity_.selectedImage = 1;
  } else {
    identity_.selectedImage = 0;
  }
  const int slot = identity_.selectedImage;
  if (slot >= kImageSlots) {
    console_.AppendMessage(
        "No image of the file was chosen for the selected unit; nothing was sent.");
    SetStatusCode(ids::kUpdateFailed);
    EndWithoutTransfer(true);
    return;
  }
  BuildMapIfMissing(slot);
  const VelMemMap& map = *file_.MemMap(slot);
  if (map.GetPage(0, 0) == nullptr) {
    console_.AppendMessage(Format("Image %d holds no data at segment 0; nothing was sent.", slot));
    SetStatusCode(ids::kUpdateFailed);
    EndWithoutTransfer(true);
    return;
  }
  StartProcedure(Procedure::kT12, map.RecordExtent(), [this] { ProcedureT12(); });
}

void CVelUpdateDoc::SendUnformatted() {
  if (SerialOnly()) return;
  const int total = file_.RecordCount(0);
  console_.BeginProgress(1, total, Format("Sending Hex File : Record 0/%d", total), 1);
  const VelHexFile* node = file_.Chain(0);
  std::string line;
  std::uint8_t reply = 0x20;
  int sent = 0;
  bool more = node != nullptr;
  while (more) {
    if (reply != protocol::kAck) {
      if (node == nullptr) break;
      node = node->TakeLine(&line);
    }
    link_.LinkWrite(reinterpret_cast<const std::uint8_t*>(line.data()),
                    static_cast<int>(line.size()));
    ++sent;
    console_.SetStatus(Format("Sending Hex File : Record %d/%d", sent, total));
    more = !Cancelled() && node != nullptr;
    // Wait for the device's word on this line; silence ends the walk.
    for (;;) {
      if (ReadByte(&reply) != 1) {
        more = false;
        break;
      }
      if (reply == protocolByte_) more = false;
      if (reply == protocol::kAck || reply == protocol::kAskAgain || reply == protocolByte_) break;
    }
  }
  console_.EndProgress();
  SetStatusCode(sent == total ? ids::kUpdateSuccessful : ids::kUpdateFailed);
  operator_.ShowMessage(
      sent == total
          ? Format("File transfer completed successfully. Number of records written to device:  %d",
                   sent)
          : std::string("File transfer not completed successfully.  Upload will have to be "
                        "restarted."));
  console_.EnableWorkingControls(true);
  Signal();
}

}  // namespace vel
