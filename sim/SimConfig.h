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
  bool busy = false;          // answer the attention byte with "busy"
  std::map<int, std::uint8_t> blockResults;  // n-th end of block (from 0) -> 0xF6/0xF7/0xF8, once
  std::set<int> lostAckOfFrames;             // transfer frames (from 0) whose answer is lost
  int silenceFromFrame = -1;   // from this transfer frame on (counted from 0), answer nothing
  int disconnectAtFrame = -1;  // close the connection when this frame arrives
  bool badInfoChecksum = false;
  int shortSerial = -1;         // send only this many serial bytes, then fall silent
  bool rejectChecksum = false;  // answer a checksum frame with 0xFE whatever it says
  bool noLoaderReply = false;   // never send the 27-byte reply between the loader's phases
};

struct SimConfig {
  std::vector<SimUnit> units{SimUnit{}};
  bool multiUnit = true;  // reply 0xC2 to 0x1D; else a single-unit device
  std::optional<std::string> serialNumber = std::string("SIM0000000000001");
  std::set<std::uint8_t> protocols{0x1D, 0x1B};  // attention bytes it answers
  std::uint8_t singleUnitReply = 0xC3;
  std::string key;             // 32 hexadecimal digits: the TCP stream is enciphered
  int programmingDelayMs = 0;  // before a block result
  int answerDelayMs = 0;       // before every answer
  int baud = 0;                // pace the line: 10 bits a byte, both directions

  // Family behaviour beyond identification and single-phase transfers.
  std::uint8_t wakeByte = 0;               // answered with itself, then frames follow (Dravik)
  std::set<std::uint8_t> handshakeEchoes;  // echoed between frames (0x1B, 0x1F handshakes)
  int phases = 1;              // run frames before the device restarts (images, regions)
  int bytesBetweenPhases = 0;  // sent after each run frame but the last
  bool regionAcks = false;     // 0xFA after every run frame but the first (user stations)
  bool loaderEscape = false;   // between phases: 0x1B gets a 27-byte reply, 0xFA resumes
  SimFaults faults;
};

}  // namespace sim
