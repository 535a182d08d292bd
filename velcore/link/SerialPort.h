#pragma once

#include <termios.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "common/CancelFlag.h"
#include "link/LinkTiming.h"
#include "link/SerialSettings.h"

namespace vel {

// Where "COMn" port names lead. A name with a '/' is a path and is used as it is; "COMn" (n from
// 1) is looked up in the mapping, else it is /dev/ttyS<n-1>; anything else leads nowhere.
class PortNameMap {
 public:
  PortNameMap() = default;
  // Entries "COM1=/dev/ttyUSB0,COM12=/dev/pts/4" (as the ZANDOR_COM_PORTS variable holds them).
  static PortNameMap Parse(std::string_view entries);
  // The mapping given by the environment variable ZANDOR_COM_PORTS, if any.
  static PortNameMap FromEnvironment();
  void Set(const std::string& comName, const std::string& path);
  // The device path of a port name; empty when the name is neither a path nor a COM name.
  std::string Resolve(const std::string& portName) const;

 private:
  std::map<std::string, std::string> paths_;  // upper-case COM name -> path
};

constexpr const char* kPortMapVariable = "ZANDOR_COM_PORTS";

// Puts the line settings into a terminal's settings: raw bytes both ways, no XON/XOFF, the
// operator's speed, parity (mark and space through CMSPAR), stop and data bits. Hardware flow
// control, modem lines and the rest stay as the driver had them. Linux has no 1.5 stop bits:
// that choice gives two, and *note says so.
void ApplyLineSettings(termios& tio, const SerialSettings& settings, std::string* note);

// A serial port opened exclusively, in raw mode, with the operator's line settings.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort() { Close(); }

  // Opens and configures the port: 0, kLinkNoSuchPort, kLinkAccessDenied or kLinkOtherFailure.
  // On failure a port held before stays held.
  unsigned Open(const SerialSettings& settings, const std::string& portName,
                const PortNameMap& names = PortNameMap::FromEnvironment());
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
