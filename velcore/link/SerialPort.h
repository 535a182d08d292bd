#pragma once

#include <termios.h>

#include <cstdint>
#include <string>

#include "common/CancelFlag.h"
#include "link/LinkTiming.h"
#include "link/PortNames.h"
#include "link/SerialSettings.h"

namespace vel {

// Puts the line settings into a terminal's settings: raw bytes both ways, no XON/XOFF, the
// operator's speed, parity (mark and space through CMSPAR), stop and data bits; the carrier line
// ignored (CLOCAL), no CTS handshake, DTR and RTS dropped on close (HUPCL). Linux has no 1.5
// stop bits: that choice gives two, and *note says so.
void ApplyLineSettings(termios& tio, const SerialSettings& settings, std::string* note);

// A serial port opened exclusively, in raw mode, with the operator's line settings.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort() { Close(); }

  // Opens and configures the port.
  // On failure a port held before stays held.
  LinkOpen Open(const SerialSettings& settings, const std::string& portName,
                const PortNameMap& names = PortNameMap::ForThisUser());
  bool IsOpen() const { return fd_ >= 0; }
  // The system's reason for the last failed open, and remarks on the last open (e.g. a setting
  // this system cannot apply exactly), for the log.
  const std::string& LastReason() const { return reason_; }
  const std::string& LastNote() const { return note_; }
  const std::string& DevicePath() const { return path_; }

  // Changes only the baud rate; failures are ignored.
  void SetBaudRate(int baud);
  // Discards everything pending in both directions.
  void Purge();
  // True when received bytes are waiting to be read.
  bool ReadableNow() const;
  // Reads until `count` bytes arrived, the read time-out (or the shorter `limitMs`) passed or a
  // cancel was requested; returns the bytes read.
  int Read(std::uint8_t* buffer, int count, int limitMs = -1);
  // Writes until all bytes are out, the write time-out passed or a cancel was requested; returns
  // the bytes written.
  int Write(const std::uint8_t* buffer, int count);
  // The request that ends a wait early (nothing when null).
  void SetCancelFlag(const CancelFlag* cancel) { cancel_ = cancel; }
  // errno of the last short write.
  int LastWriteError() const { return writeError_; }
  // Purges and closes; nothing when no port is held.
  void Close();

  int ReadTimeoutMs() const { return readTimeoutMs_; }
  void SetTimeouts(int readMs, int writeMs) {
    readTimeoutMs_ = readMs;
    writeTimeoutMs_ = writeMs;
  }

 private:
  int fd_ = -1;
  std::string path_;
  std::string reason_;
  std::string note_;
  int writeError_ = 0;
  const CancelFlag* cancel_ = nullptr;
  int readTimeoutMs_ = kSerialReadTimeoutMs;
  int writeTimeoutMs_ = kSerialWriteTimeoutMs;
};

}  // namespace vel
