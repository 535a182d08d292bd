#pragma once

// A wire transcript: everything the engine did to a device's link, in order, with the device's
// answers, the named waits between them and what the operator was asked and shown. Its text form
// has one event a line, optionally after "@MS " (milliseconds since the exchange began):
//   > 02 00 00 04 00 FF FC   the host wrote these bytes (one write)
//   < FA                     a read asked for as many bytes as it got
//   < 55x27 [of 30]          a read asked for 30 and got 27 (0x55 27 times) before its wait ended
//   < - [of 1]               a read that got nothing: the link's read time-out passed
//   <s F4                    a read of one second of a countdown (programming, checksum)
//   ~ FA                     bytes already waiting before a frame, drained as stale
//   ! purge FA F4            received bytes discarded (those shown)
//   ! baud 9600              the serial line's speed set
//   ! connect                a TCP connection opened
//   ! closed                 the device closed the connection, and the engine saw it
//   = pause firstFramePause 200 ms
//   ? not-responding yes     a question and the operator's answer
//   " Transmission ...       a message box (line breaks as \n)
//   : Block Error            a line of the message log
// Bytes are hexadecimal pairs; a run of four or more equal bytes is written HHxN.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vel::wire {

enum class Kind {
  kWrite,
  kRead,
  kStale,
  kPurge,
  kSpeed,
  kConnect,
  kClosed,
  kPause,
  kQuestion,
  kMessage,
  kLog
};

struct Event {
  Kind kind = Kind::kWrite;
  std::vector<std::uint8_t> bytes;  // written, read, drained or purged
  int asked = 0;                    // a read: the bytes it asked for
  bool countdown = false;           // a read: one second of a countdown, not the read time-out
  int number = 0;                   // a speed, a pause's milliseconds
  std::string text;  // a pause's name, a question and its answer, a message, a log line
  // Milliseconds since the exchange began (a read: when it began), or -1 when not kept.
  long long atMs = -1;
};

Event BytesEvent(Kind kind, std::vector<std::uint8_t> bytes = {});
Event ReadEvent(std::vector<std::uint8_t> bytes, int asked, bool countdown);
Event NumberEvent(Kind kind, int number, std::string text = {});
Event TextEvent(Kind kind, std::string text);

// What the engine must reproduce of an event for it to match the one recorded: a write's bytes,
// a read's size and kind, a pause's name, and the rest as they are.
bool SameStep(const Event& recorded, const Event& seen);

struct Transcript {
  std::string scenario;
  std::string what;  // the scenario in a sentence
  std::string file;  // the firmware file sent
  int status = 0;    // the status code the operation ended with
  std::string statusText;
  std::vector<Event> events;
};

std::string FormatEvent(const Event& event);
// One event line, "@MS " first when the event has its time; nothing when the line is not one.
std::optional<Event> ParseEvent(const std::string& line);
std::string FormatTranscript(const Transcript& transcript);
// Nothing, with *error set to the line and what is wrong with it, when the text is not one.
std::optional<Transcript> ParseTranscript(const std::string& text, std::string* error);

// Receives the events of an exchange as they happen (a recorder keeps them, a player checks
// them against a transcript). Called from the thread that runs the engine.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Note(Event event) = 0;
};

}  // namespace vel::wire
