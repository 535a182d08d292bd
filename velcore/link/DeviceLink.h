#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "link/LinkKind.h"
#include "link/SerialPort.h"
#include "link/TcpLink.h"

namespace vel {

// A device reached in-process instead of through a port or a socket: a harness that answers the
// engine from a script, or one that relays to a simulated device and records its answers.
class LinkPeer {
 public:
  virtual ~LinkPeer() = default;
  // As DeviceLink::LinkReadWithin.
  virtual int Read(std::uint8_t* buffer, int count, int limitMs) = 0;
  virtual int Write(const std::uint8_t* buffer, int count) = 0;
  // Whether received bytes are waiting to be read.
  virtual bool ReadableNow() = 0;
  // What the engine does to the link besides reading and writing, for a peer that keeps a
  // record of the exchange: a connect (0: connected), a purge of what was received on a serial
  // line, a change of its speed, and a named pause between two steps.
  virtual int Connect() { return 0; }
  virtual void Purge() {}
  virtual void SpeedSet(int) {}
  virtual void Paused(std::string_view, int) {}
  // Whether the device closed the connection.
  virtual bool Dropped() { return false; }
  // The identification is over and a transfer procedure begins.
  virtual void ProcedureBegins() {}
  // The engine closes the link.
  virtual void Close() {}
};

class DeviceLink;

// The device link's own serial port and TCP connection as a peer, for a peer that relays to them.
class PortPeer final : public LinkPeer {
 public:
  explicit PortPeer(DeviceLink& link) : link_(link) {}
  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t* buffer, int count) override;
  bool ReadableNow() override;
  int Connect() override;
  void Purge() override;
  void SpeedSet(int baud) override;
  bool Dropped() override;
  void Close() override;

 private:
  DeviceLink& link_;
  std::vector<std::uint8_t> scratch_;  // a TCP write, enciphered in place
};

// The device's link: a serial port or a TCP connection, chosen by the link kind at every call.
class DeviceLink {
 public:
  SerialPort& Serial() { return serial_; }
  TcpLink& Tcp() { return tcp_; }

  void SetLinkKind(LinkKind kind) { kind_.store(kind); }
  LinkKind Kind() const { return kind_.load(); }

  // Reads `count` bytes from the current link; returns how many arrived (fewer on a time-out or
  // a cancel).
  int LinkRead(std::uint8_t* buffer, int count);
  // As LinkRead, but the read also ends once `limitMs` have passed.
  int LinkReadWithin(std::uint8_t* buffer, int count, int limitMs);
  // The longest one read of a byte waits on the current link (its own time-out).
  int ReadTimeoutMs();
  // Writes `count` bytes to the current link; returns how many went out. The caller's bytes are
  // left as they were, also on an enciphered link.
  int LinkWrite(const std::uint8_t* buffer, int count);
  // The system's error of the last short write.
  int LastWriteError() const;
  // Connects the TCP link to its stored endpoint: 0 or an errno value (TcpLink::ConnectTcp).
  int ConnectTcp();
  // True when received bytes are waiting on the link.
  bool ReadableNow();
  // True when the TCP connection the engine opened has ended (closed by the device, or replaced
  // after a socket error) since its last connect.
  bool ConnectionDropped();
  // Discards pending serial data (nothing to do on TCP).
  void Purge();
  // Sets the serial line's speed (the rest of its settings stay).
  void SetBaudRate(int baud);
  // Notes that a transfer procedure begins (and tells an attached peer).
  void NoteProcedure() {
    procedureBegun_ = true;
    if (peer_ != nullptr) peer_->ProcedureBegins();
  }
  // Whether a transfer procedure began since the last ForgetProcedure: from then on the device
  // may hold part of a new image.
  bool ProcedureBegun() const { return procedureBegun_; }
  void ForgetProcedure() { procedureBegun_ = false; }
  // Tells an attached peer that the engine pauses `ms` for the reason `name`.
  void NotePause(std::string_view name, int ms) {
    if (peer_ != nullptr) peer_->Paused(name, ms);
  }
  // Closes the link of the current kind; on TCP this also turns encryption off.
  void ClosePort();
  // The request that ends every wait of both links early.
  void SetCancelFlag(const CancelFlag* cancel) {
    serial_.SetCancelFlag(cancel);
    tcp_.SetCancelFlag(cancel);
  }
  // Sends every read, write, connect, purge, speed change and close to `peer` instead of the
  // port or the socket. Null restores the real links.
  void AttachPeer(LinkPeer* peer) { peer_ = peer; }
  // The real links as a peer: what a peer that only watches the exchange relays to.
  LinkPeer& Ports() { return ports_; }

 private:
  LinkPeer& Active() { return peer_ != nullptr ? *peer_ : ports_; }

  std::atomic<LinkKind> kind_{LinkKind::kSerial};
  SerialPort serial_;
  TcpLink tcp_;
  PortPeer ports_{*this};
  LinkPeer* peer_ = nullptr;
  bool procedureBegun_ = false;
};

}  // namespace vel
