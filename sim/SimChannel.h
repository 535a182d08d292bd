#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "common/Clock.h"
#include "link/Encryption.h"

namespace sim {

// The device's end of a link: bytes in and out, optionally enciphered, optionally paced at a
// baud rate so that a pseudo-terminal costs what a real line would.
class SimChannel {
 public:
  // `stop` ends every wait once it is set; the waits and the device's delays take their time
  // from `clock`.
  SimChannel(int fd, bool isPty, int baud, const std::atomic<bool>& stop,
             vel::Clock& clock = vel::SystemClock());
  virtual ~SimChannel();
  SimChannel(const SimChannel&) = delete;
  SimChannel& operator=(const SimChannel&) = delete;

  // Reads exactly n bytes; false when the link closed or `stop` was requested.
  bool Read(std::uint8_t* bytes, int n);
  // Reads one byte, waiting at most timeoutMs; -1 when none came.
  int ReadByteFor(int timeoutMs);
  void Write(const std::uint8_t* bytes, int n);
  void WriteByte(std::uint8_t byte) { Write(&byte, 1); }
  // Sends the bytes of every later write this far apart, as a slow converter would.
  void SetByteGap(int ms) { byteGapMs_ = ms; }
  // Starts the enciphered stream with a key; the first 16 bytes read are the IV.
  bool StartCipher(const std::string& key);
  bool Closed() const { return closed_; }
  bool IsPty() const { return isPty_; }
  // Reads and drops whatever arrives until nothing has for `quietMs` (or the link closed).
  void DiscardUntilQuiet(int quietMs);
  // Accounts the wire time of bytes that arrived (pacing).
  void PaceReceived(int n);
  // Sleeps `ms` on the channel's clock (a device taking its time).
  void Sleep(int ms);
  long long BytesIn() const { return bytesIn_; }
  long long BytesOut() const { return bytesOut_; }

 private:
  // Waits for the pseudo-terminal to have bytes to read.
  bool WaitReadable(int timeoutMs);
  // Reads what has arrived into the inbox, waiting up to timeoutMs (-1: no limit); false when
  // nothing came, the link closed or `stop` was requested.
  bool Fill(int timeoutMs);
  std::chrono::nanoseconds ByteTime(int n) const;
  // Writes the bytes at once (paced at the baud rate).
  void WriteEach(const std::uint8_t* bytes, int n);

  int fd_;
  bool isPty_;
  int baud_;
  int byteGapMs_ = 0;
  bool closed_ = false;
  const std::atomic<bool>& stop_;
  vel::Clock& clock_;
  std::unique_ptr<vel::CWrapper_TwoFish> cipher_;
  std::chrono::steady_clock::time_point lineClock_{};
  // Bytes read from the link but not yet taken by the device: one read takes a whole frame.
  std::array<std::uint8_t, 4096> inbox_{};
  std::size_t inboxBegin_ = 0, inboxEnd_ = 0;
  long long bytesIn_ = 0;
  long long bytesOut_ = 0;
};

}  // namespace sim
