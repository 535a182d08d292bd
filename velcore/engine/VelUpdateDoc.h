#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "engine/Console.h"
#include "engine/DeviceIdentity.h"
#include "engine/Operator.h"
#include "engine/Protocol.h"
#include "engine/TransferPhase.h"
#include "image/FirmwareFile.h"
#include "image/HexFileLoader.h"
#include "link/DeviceLink.h"

namespace vel {

// The waits shown to the operator as a countdown in seconds.
constexpr int kProgrammingWaitSeconds = 60;     // while a block is programmed
constexpr int kChecksumWaitSeconds = 120;       // the device's word on the checksum frame
constexpr int kSectorChecksumWaitSeconds = 60;  // the same after the Dravik sectors
constexpr int kConfirmationSeconds = 60;        // a region's confirmation

// Every wait of the engine that is not a link time-out: pauses in milliseconds, then the
// countdowns in seconds.
struct EngineTiming {
  int dnkAnswerDelayMs = 1000;          // a DNK unit wants a pause before the answer byte
  int unitSelectPauseMs = 500;          // after the loader unit-select frame of an NB file
  int nbUnitZeroDelayMs = 1000;         // before selecting unit 0 of an NB file
  int encryptedHandoverWaitMs = 10000;  // after selecting the next unit on an enciphered link
  int firstFramePauseMs = 200;          // before the first frame of the 128 KiB procedure
  int handshakePauseMs = 1000;          // after the Dravik handshakes, before the first frame
  int phasePauseMs = 250;               // between the two phases of the Dravik update
  int hubRestartPauseMs = 10000;        // the hub restarts after its checksum is confirmed
  int escapePauseMs = 100;              // before the escapes between the YPA phases
  int secondPhasePauseMs = 10;          // after the echo, before the second YPA phase
  int programmingWaitSeconds = kProgrammingWaitSeconds;
  int checksumWaitSeconds = kChecksumWaitSeconds;
  int sectorChecksumWaitSeconds = kSectorChecksumWaitSeconds;
  int confirmationSeconds = kConfirmationSeconds;
};

constexpr int kOneSecondMs = 1000;            // one step of a wait shown in seconds
constexpr int kMaxBlockFailures = 10;         // results other than "programmed" in a row
constexpr int kNotRespondingEveryTries = 20;  // the question while a frame goes unanswered
constexpr int kNotRespondingEveryTriesLink = 10;
constexpr int kIdentifyPasses = 3;
constexpr int kDeviceInfoTries = 2;
constexpr int kBusyBytes = 3;
constexpr int kHandoverEmptyReads = 5;
constexpr int kWakeTries = 6;
constexpr int kHubIdentifyTries = 3;
constexpr int kEscapeTries = 3;
constexpr int kLoaderEscapeTries = 10;
constexpr int kLoaderReplySize = 27;
constexpr int kSerialSearchAttempts = 12;
constexpr int kSerialCheckAttempts = 6;
constexpr int kTcpAttempts = 2;

// The transfer procedures, one per device family.
enum class Procedure { kT1, kT2, kT3, kT4, kT6, kT7, kT8, kT9, kT10, kT11, kT12, kT13 };

enum Action {
  kActionUnformatted = 0,
  kActionMatrix = 1,
  kActionVantrel = 2,
  kActionUpdate = 3,
  kActionCheck = 4
};

// The document: the loaded firmware file and the device engine in one object. It owns the link,
// the identity of the connected device and the transfer worker; it reports only through the
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

  DeviceLink& Link() { return link_; }
  void SetLinkKind(LinkKind kind) { link_.SetLinkKind(kind); }
  // Key text without dashes; turns encryption on for the next connection.
  void SetLinkKey(const std::string& keyText) { link_.Tcp().SetLinkKey(keyText); }
  void SetEncryption(bool on) { link_.Tcp().SetEncryption(on); }
  void SetTcpEndpoint(const TcpEndpoint& endpoint) { link_.Tcp().SetEndpoint(endpoint); }
  unsigned OpenSerialPort(const SerialSettings& settings, const std::string& portName);
  void ClosePort() { link_.ClosePort(); }

  // The single entry of the engine. Runs identification on the calling thread and starts a
  // transfer worker where the action needs one; every path of action 3 ends, sooner or later,
  // with the status code written and the completion event signalled.
  void DispatchUpdate(int action);
  // Waits until no transfer worker runs.
  void WaitForWorker();

  int IdentifyDevice();
  bool ReadDeviceInfo(std::uint8_t reply);
  void ShowDeviceUnits();
  bool SendFrameAwaitAck(const std::uint8_t* frame, int length, const std::string& prefix,
                         int position);
  bool SendFrameAwaitAckLink(const std::uint8_t* frame, int length, const std::string& prefix,
                             int position);

  DeviceIdentity& Identity() { return identity_; }
  const DeviceClasses& Classes() const { return classes_; }
  bool Identified() const { return identified_; }
  std::uint8_t ProtocolByte() const { return protocolByte_; }
  void SetSerialNumberOptional(bool on) { serialNumberOptional_ = on; }
  // Units of the last update that no image of the file fits, left out of it.
  const std::vector<int>& LeftOutUnits() const { return leftOutUnits_; }
  // Whether the last operation's cancel came from the engine itself rather than from outside.
  bool EndedByEngine() const { return endedByEngine_; }
  // Whether the last identification ended with the device declined.
  bool Declined() const { return declined_; }
  EngineTiming& Timing() { return timing_; }
  Console& GetConsole() { return console_; }
  Operator& GetOperator() { return operator_; }

 private:
  enum class BlockOutcome { kSent, kProgrammed, kFrameFailed, kMissingSegment };
  static constexpr int kNoResult = -1;

  // Dispatch.
  void DispatchAction3();
  void DispatchAction4();
  void SendUnformatted();
  int SearchDevice(int serialAttempts, bool checking);
  void ChooseProcedure();
  void EndWithoutTransfer(bool enableControls);
  // Refuses (message, status, end of the operation) a file that fails its checksum test.
  bool RefuseDefectiveFile();
  void Refuse64k();
  bool SerialOnly();
  void BuildMapIfMissing(int slot);
  void StartWorker(std::function<void()> procedure);

  // Identification.
  void AnswerUnitDevice(std::uint8_t& reply, bool multiUnit, bool& lastMoved);
  void AnswerSerialOnlyDevice(std::uint8_t& reply, bool& lastMoved);
  // The operator's verdict on the device. In an update run, units that no image fits are left
  // out first, and a device left without a unit is declined.
  bool ConfirmWithOperator();
  void Classify();
  void SendUnitSelect(std::uint8_t kindCode, std::uint8_t mode);
  std::uint8_t UnitSelectModeByKind(int unit, bool loaderVariant, std::uint8_t* mode) const;
  void ReadError(std::string_view text, int status);

  // Transfer.
  bool SendFrameUntilAnswered(const std::uint8_t* frame, int length, const std::string& prefix,
                              int position, bool eitherLink, int* writes);
  // Sends one block; *sentSum takes the data bytes of every record frame that went out.
  BlockOutcome SendBlock(const TransferPhase& phase, const VelMemMap& map, int segment, int block,
                         std::uint32_t* sentSum);
  PhaseOutcome RunPhase(const TransferPhase& phase, std::uint32_t* dataSum = nullptr);
  int ProgrammingWait(const TransferPhase& phase, int segment, int block);
  int WaitForByte(int seconds, const std::function<std::string(int)>& text, int positionFactor,
                  std::initializer_list<std::uint8_t> wanted);
  // A wait of `seconds` shown second by second; ends early when `showSecondsLeft` or `takeByte`
  // (given each byte read) says so, or on a cancel.
  void TimedWait(int seconds, const std::function<bool(int)>& showSecondsLeft,
                 const std::function<bool(std::uint8_t)>& takeByte);
  // The phases a procedure sends, in order (maps built as needed).
  std::vector<TransferPhase> PhasesOf(Procedure procedure);
  // Refuses (message, failure, end of the operation) when an image the procedure sends holds
  // data outside what it sends.
  bool RefuseDataLeftBehind(const std::vector<TransferPhase>& phases);
  // Starts a procedure on the worker after the check above, with its progress range.
  void StartProcedure(Procedure procedure, int range, std::function<void()> body);
  // Units the operator kept selected that no image fits are left out of the update; true when
  // any was.
  bool LeaveOutUnitsWithoutImage();
  void LogBlockResult(int result, bool showMessage);
  void CloseTransfer();
  void WriteRunFrame();
  // "Transmission completed!", the success status and (unless told not to) the ticked box.
  void Succeeded(bool tickBox = true);
  // The run frame, then Succeeded.
  void Finish(bool tickBox = true);
  void Terminated(int statusCode = 0);
  // The end of a transfer by its outcome: success, the terminated message (a stop showed its own
  // message already), then the closing steps.
  void EndTransfer(PhaseOutcome outcome, bool tickBox = true);
  void RunFrameThenSkip(int bytes);
  TransferPhase Segment64KPhase(const char* recordFormat) const;
  TransferPhase SecondImagePhase(int positionBase, int shownBefore) const;
  bool Handshake(std::uint8_t byte);
  bool ConfirmChecksum(std::uint32_t dataSum, int seconds,
                       std::initializer_list<std::uint8_t> answers);
  // The checksum frame, the wait for the device's word on it, then the run frame; "Telvik
  // Programming Fail" when the device did not confirm.
  bool ChecksumThenRun(std::uint32_t dataSum);
  TransferPhase Kesta128Phase(int slot, int positionBase, int waitFactor) const;
  TransferPhase SegmentPhase(int slot, int positionBase, const char* recordFormat) const;
  TransferPhase ShortBlockPhase(int blocks) const;
  TransferPhase SectorPhase() const;
  TransferPhase RegionPhase(int region, int regions) const;
  void ProcedureT1();
  void ProcedureT2(bool tickBox);
  void ProcedureT3();
  void ProcedureT4();
  void ProcedureT6();
  void ProcedureT7();
  void ProcedureT8();
  void ProcedureT9();
  void ProcedureT10();
  void ProcedureT11();
  void ProcedureT12();
  void ProcedureT13();
  void WakeDravikDevice(int mode);
  void StartHubUpdate();
  bool SendUnitImage(bool* cancelled);
  bool SelectNextUnit();
  void WriteSerialNumberIntoImage();

  bool Write(const std::uint8_t* bytes, int count);
  int ReadByte(std::uint8_t* byte);
  // Sleeps unless a cancel comes first; false when it did.
  bool Pause(int ms);
  bool Cancelled() const { return console_.State().cancel.IsRequested(); }
  // The engine ends its own transfer (the operator gave up on a silent device, a region timed
  // out): a failure, unlike a cancel requested from outside.
  void RequestCancel() {
    endedByEngine_ = true;
    console_.State().cancel.Request();
  }
  void SetStatusCode(int code) { console_.State().statusCode = code; }
  void Signal() { console_.State().completion.Set(); }

  Console& console_;
  Operator& operator_;
  FirmwareFile file_;
  std::string path_;
  DeviceLink link_;
  DeviceIdentity identity_;
  DeviceClasses classes_;
  bool identified_ = false;
  bool informationOnly_ = false;
  bool serialNumberOptional_ = false;
  std::uint8_t protocolByte_ = 0x1D;
  std::uint8_t answerByte_ = 0xFA;
  EngineTiming timing_;
  std::thread worker_;
  std::uint8_t lastReply_ = 0;  // the answer that ended the last send-and-wait
  bool readErrorSeen_ = false;  // an information block of this search was broken
  bool endedByEngine_ = false;
  bool declined_ = false;
  std::vector<int> leftOutUnits_;
};

}  // namespace vel
