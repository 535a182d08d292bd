#pragma once

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

constexpr int kBlockIdPauseMs = 1;  // before each block-ID frame of a user station's region

// The engine's counts of tries, reads and passes.
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
constexpr int kSerialSearchAttempts = 12;
constexpr int kSerialCheckAttempts = 6;
constexpr int kTcpAttempts = 2;

// What a row asks of the engine.
enum class Action {
  kUnformatted,  // the file's record lines as they are
  kVantrel,      // identify once, then the 64 KiB procedure
  kUpdate,       // identify, choose the procedure and send the file
  kCheck,        // identify only
};

}  // namespace vel
