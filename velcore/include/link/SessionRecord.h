#pragma once

// A session record: one device operation's exchange as it crossed the link, for support to play
// back against the tool (zandor-sim --replay). Its text form:
//   zandor session record 1
//   program ZandorUpdate version 2.4.5 GA Build 1
//   action update
//   link tcp 192.0.2.7:3000 enciphered
//   file firmware.hex
//   status 62504 Device Update Successful
//   @0 ! connect
//   @3 > 1D
//   @3 < C2
//   ...
// The header's lines come first, in any order; then one wire-transcript event a line, each with
// its time. An enciphered session is kept as the bytes were before enciphering and after
// deciphering; the key is never part of it.
#include <string>
#include <vector>

#include "common/Result.h"
#include "link/WireTranscript.h"

namespace vel {

constexpr int kSessionFormat = 1;
// What the first line of a session record says, before its format number.
constexpr const char* kSessionMagic = "zandor session record";

struct SessionRecord {
  std::string program;  // the version line of the program that recorded it
  std::string action;   // "update", "check", ...
  std::string link;     // "serial PATH BAUD 8N1" or "tcp HOST:PORT" (+ " enciphered")
  std::string file;     // the firmware file's name, empty for a check without one
  int status = 0;       // the status code the operation ended with
  std::string statusText;
  std::vector<wire::Event> events;
};

std::string FormatSession(const SessionRecord& record);
// Fails, saying what is wrong (in printable text), when `text` is not a session record of this
// program's format.
Expected<SessionRecord> ParseSession(const std::string& text);

}  // namespace vel
