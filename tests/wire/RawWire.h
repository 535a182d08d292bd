#pragma once

// An enciphered exchange as it crossed the socket: every byte each way, in the order it crossed,
// connection by connection. The text form documents itself at the top of each file:
//   connect              the host opened a connection (its first 16 bytes: the IV, in clear)
//   > HHHH...            bytes the host sent, two hex digits each, up to 32 a line
//   < HHHH...            bytes the device sent
//   closed by host       the connection ended on the host's side (or "closed by device")
// Lines of one direction in a row are one run: where a line breaks says nothing about how the
// bytes were sent.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zandor::wire {

struct RawRun {
  bool fromHost = true;
  std::vector<std::uint8_t> bytes;
};

struct RawConnection {
  std::vector<RawRun> runs;
  bool closedByHost = true;

  // Adds bytes to the last run when it goes the same way, else starts a run.
  void Add(bool fromHost, const std::uint8_t* bytes, std::size_t count);
  // Every byte one side sent, in order.
  std::vector<std::uint8_t> Sent(bool byHost) const;
};

struct RawTranscript {
  std::string scenario;
  std::string what;
  std::string file;
  std::string key;       // the 32 key digits both ends hold
  std::string ivSource;  // how the host's IVs were chosen
  int status = 0;
  std::string statusText;
  std::vector<RawConnection> connections;
};

std::string FormatRawTranscript(const RawTranscript& transcript);
// Nothing, with *error set to the line and what is wrong with it, when the text is not one.
std::optional<RawTranscript> ParseRawTranscript(const std::string& text, std::string* error);

// Stands between the engine and a device on loopback: takes the engine's connections one at a
// time, opens one to the device for each, and forwards every byte both ways, keeping it as it
// crossed.
class RawWireRelay {
 public:
  explicit RawWireRelay(int devicePort);
  ~RawWireRelay() { Stop(); }
  RawWireRelay(const RawWireRelay&) = delete;
  RawWireRelay& operator=(const RawWireRelay&) = delete;

  int Port() const { return port_; }
  void Stop();
  // The connections relayed; complete once stopped.
  std::vector<RawConnection> Connections() const;

 private:
  void Serve();
  void Relay(int host, int device);

  int devicePort_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<RawConnection> connections_;
  std::thread thread_;
};

// Plays the device's side of recorded connections to the engine on loopback: for each one it
// takes a connection, checks every byte the host sends against the record and sends the device's
// recorded bytes in their turn. At the first byte that differs it closes the connection and
// stops.
class RawWirePlayer {
 public:
  explicit RawWirePlayer(std::vector<RawConnection> connections);
  ~RawWirePlayer();
  RawWirePlayer(const RawWirePlayer&) = delete;
  RawWirePlayer& operator=(const RawWirePlayer&) = delete;

  int Port() const { return port_; }
  // Waits for the play to end; empty when every connection went as recorded, else the first
  // difference.
  std::string Verdict();

 private:
  void Play();
  std::string PlayConnection(std::size_t index, int fd);

  std::vector<RawConnection> connections_;
  int listener_ = -1;
  int port_ = 0;
  std::string verdict_;
  std::thread thread_;
};

}  // namespace zandor::wire
