#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

// One unit of the simulated device, as it reports itself.
struct SimUnit {
  std::uint8_t kind = 0;  // 0..3
  std::string typeCode = "G4 ";
  std::string hardware = "A1";
  std::string firmware = "100";
  std::vector<std::string> auxiliary;  // 3 characters each
};

// Faults the device can be told to commit, drawn from a seeded generator where random.
struct SimFaults {
  std::uint32_t seed = 1;
  double lostAck = 0.0;       // probability that a frame's acknowledgement is not sent
  double corruptAck = 0.0;    // probability that it is sent as a wrong byte
  double corruptFrame = 0.0;  // probability that a record frame arrives damaged (and is dropped)
  double lateAck = 0.0;       // probability that it comes only after `lateByMs`
  int lateByMs = 1200;        // longer than the host's read time-out
  double duplicateAck = 0.0;  // probability that it is sent twice
  double f4Ack = 0.0;         // probability that 0xF4 acknowledges a block-ID or record frame
  bool busy = false;          // answer the attention byte with "busy"
  std::map<int, std::uint8_t> blockResults;  // n-th end of block (from 0) -> 0xF6/0xF7/0xF8/0xFD
  std::set<int> lostAckOfFrames;             // transfer frames (from 0) whose answer is lost
  std::set<int> lostResults;    // n-th block closed (from 0): acknowledged, its result never sent
  std::set<int> f4EndOfBlocks;  // n-th block closed (from 0): 0xF4 at once, as its answer
  std::set<int> protocolByteFrames;  // transfer frames (from 0) answered with 0x1D, not 0xFA
  std::set<int> protocolByteLines;   // text lines (from 0) answered with 0x1D
  std::map<int, int> blockDelays;    // n-th block closed (from 0) -> milliseconds more to program
  // n-th unit-select frame (from 0) -> the answer it gets instead of 0xFA; 0 is no answer.
  std::map<int, std::uint8_t> selectAnswers;
  int silenceFromFrame = -1;      // from this transfer frame on (counted from 0), answer nothing
  int disconnectAtFrame = -1;     // close the connection when this frame arrives
  bool badInfoChecksum = false;   // every information block carries a wrong checksum
  int badInfoBlocks = 0;          // the first this many information blocks do
  int shortSerial = -1;           // send only this many serial bytes, then fall silent
  int shortAuxiliary = -1;        // send only this many of the first unit's auxiliary bytes
                                  // (after the count that promises more), then fall silent
  bool rejectChecksum = false;    // answer a checksum frame with 0xFE whatever it says
  bool noLoaderReply = false;     // never send the 27-byte reply between the loader's phases
  bool noEcho = false;            // never echo a handshake byte between identification and frames
  bool noRegionAck = false;       // never confirm a region after its run frame
  bool noHandOver = false;        // never hand over to the next unit after a unit's run frame
  std::set<int> repeatLines;      // text lines (from 0) the device asks for again, once each
  std::map<int, int> lineDelays;  // text line (from 0) -> milliseconds before its answer
  int powerCutAtFrame = 0;        // the power fails when this transfer frame (from 1) arrives
  // After the cut, a serial line's device hears nothing until the line was quiet this long:
  // longer than the host's read time-out, so that it comes back once the host gave up.
  int restartQuietMs = 1500;
};

struct SimConfig {
  // The family whose updates the device takes: matrix, multi, kesta128, dravik, dravik-ypc,
  // dravik-ypk, dravik-ypa, station, hub, tzt, xxx, loader.
  std::string family = "multi";
  std::vector<SimUnit> units{SimUnit{}};
  bool multiUnit = true;  // reply 0xC2 to 0x1D; else a single-unit device
  std::optional<std::string> serialNumber = std::string("SIM0000000000001");
  std::set<std::uint8_t> protocols{0x1D, 0x1B};  // attention bytes it answers
  std::uint8_t singleUnitReply = 0xC3;
  std::uint8_t wakeByte = 0;   // Dravik wake families: answered with itself, then frames follow
  int regions = 3;             // user stations: the regions an update sends
  std::string key;             // 32 hexadecimal digits: the TCP stream is enciphered
  int programmingDelayMs = 0;  // before a block result
  int answerDelayMs = 0;       // before every answer
  int byteGapMs = 0;           // between the bytes of an answer (a converter that trickles)
  int baud = 0;                // pace the line: 10 bits a byte, both directions
  SimFaults faults;
  // The firmware version a unit reports once an update of it ran to its end: the device runs
  // the firmware it was given (empty: the version it had).
  std::string firmwareAfterUpdate;
  std::string stateFile;  // keeps what the device holds across restarts (empty: nothing kept)
};

}  // namespace sim
