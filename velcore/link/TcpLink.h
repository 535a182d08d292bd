#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/CancelFlag.h"
#include "link/Encryption.h"
#include "link/LinkTiming.h"

namespace vel {

// An IPv4 or IPv6 endpoint as connect() takes it.
struct TcpEndpoint {
  sockaddr_storage socket{};
  socklen_t length = 0;

  int Family() const { return socket.ss_family; }
  // The port, in host byte order; 0 for an endpoint never made.
  int Port() const;
};

constexpr int kMaxTcpPort = 65535;

// The number a port text of one to five decimal digits gives; nothing for any other text.
std::optional<int> PortTextNumber(std::string_view text);

// The endpoint for an address text (dotted IPv4 "192.168.1.20" or IPv6 "fe80::1", without
// brackets) and a port text; false when the address is neither or the port not a number from 1
// to 65535 (never the low 16 bits of a larger one).
bool MakeEndpoint(const std::string& address, const std::string& portText, TcpEndpoint* endpoint);

// The address text a host name resolves to: its first IPv4 address, or its first IPv6 address
// when it has none. Nothing, with *error set to the resolver's words, when it does not resolve.
std::optional<std::string> ResolveHost(const std::string& host, std::string* error);

// The address text of an endpoint, IPv6 in brackets ("[::1]"), so that a port may follow it.
std::string AddressText(const TcpEndpoint& endpoint);

// Where a connection's initialisation vector comes from: fills the 16 bytes, false when it cannot.
using IvSource = std::function<bool(std::uint8_t* iv)>;

// The system's random bytes (getrandom): a fresh, unpredictable vector for every connection.
bool SystemRandomIv(std::uint8_t* iv);

// Counts the empty waits of one TCP call. A wait step counts only when it passes whole without a
// byte, as one `select` of that length would; bytes that arrive start a new step but give back
// no empty wait counted before them. The link waits in slices shorter than a step so that a
// cancel is seen sooner.
class EmptyWaits {
 public:
  EmptyWaits(int waitStepMs, int sliceMs);
  // Bytes moved during the current slice.
  void BytesMoved() { quietSlices_ = 0; }
  // A slice passed with nothing; true when that made the empty wait that ends the call.
  bool QuietSlice();
  int Count() const { return emptyWaits_; }

 private:
  int slicesPerWait_;
  int quietSlices_ = 0;
  int emptyWaits_ = 0;
};

// One TCP connection to a device, optionally enciphered. A connect gives up after its time-out;
// sends and receives wait in 400 ms steps and give up at the seventh empty one (looking at the
// cancel request every 100 ms meanwhile); a socket error reconnects to the stored endpoint.
// Every wait ends early when a cancel is requested.
class TcpLink {
 public:
  TcpLink() = default;
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;
  ~TcpLink() { Shutdown(); }

  // Stores the 32-digit key (dashes already removed) and turns encryption on.
  void SetLinkKey(const std::string& keyText);
  void SetEncryption(bool on) { encrypted_ = on; }
  bool Encrypted() const { return encrypted_; }
  void SetEndpoint(const TcpEndpoint& endpoint) { endpoint_ = endpoint; }
  const TcpEndpoint& Endpoint() const { return endpoint_; }

  // The source of the IV each enciphered connect sends (SystemRandomIv unless set).
  void SetIvSource(IvSource source) { ivSource_ = std::move(source); }

  // Connects to the endpoint (closing and pausing first when a socket is held). With encryption
  // on, keys a new cipher and sends a fresh IV from the IV source in clear. Returns 0 or an errno
  // value: EKEYREJECTED when the key text is not a key (nothing is sent then), ETIMEDOUT when the
  // endpoint did not answer within the connect time-out, ECANCELED when a cancel came first.
  int ConnectTcp(const TcpEndpoint& endpoint);
  // Sends `length` bytes (enciphered in place when encryption is on); *count gets the bytes sent.
  void TcpSend(std::uint8_t* buffer, int length, int* count);
  // Receives up to `length` bytes; *count gets how many arrived, every one of them deciphered
  // (a short receive too, so that the receiving stream never falls out of step). With
  // `limitMs` at 0 or more the receive also ends once that time has passed.
  void TcpReceive(std::uint8_t* buffer, int length, int* count, int limitMs = -1);

  // The longest a receive of one byte waits: every wait step of a call empty.
  int ReadTimeoutMs() const { return waitStepMs_ * (kTcpEmptyWaitsAllowed + 1); }

  bool Connected() const { return socket_ >= 0; }
  // True when the connection of the last ConnectTcp ended since: the device closed it, or a
  // socket error replaced it with a new one.
  bool Dropped() const { return dropped_; }
  // True when received bytes are waiting to be read.
  bool ReadableNow() const;
  int LastError() const { return lastError_; }
  // Closes the socket and turns encryption off (the engine's close).
  void ClosePort();
  // Shuts down both directions and closes (the display's disconnect).
  void Shutdown();

  // Test hooks: the pause before reconnecting and the length of one wait for the socket,
  // normally kTcpReconnectPauseMs and kTcpSelectStepMs.
  void SetReconnectPause(int ms) { reconnectPauseMs_ = ms; }
  void SetWaitStep(int ms) { waitStepMs_ = ms; }
  void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
  // The request that ends a wait early (nothing when null).
  void SetCancelFlag(const CancelFlag* cancel) { cancel_ = cancel; }

 private:
  enum class Direction { kSend, kReceive };
  void Transfer(Direction direction, std::uint8_t* buffer, int length, int* count, int limitMs);
  void CloseSocket();
  // A socket error: reconnects to the stored endpoint; the engine's connection is gone.
  void Reconnect();
  // The socket's time-out: the wait step, cut into slices short enough to see a cancel.
  int WaitSliceMs() const;
  bool SetWaitStepOn(int fd) const;
  // Connects a non-blocking socket within the connect time-out; 0 or an errno value.
  int ConnectWithin(int fd, const TcpEndpoint& endpoint) const;
  bool CancelRequested() const { return cancel_ != nullptr && cancel_->IsRequested(); }

  int socket_ = -1;
  bool dropped_ = false;
  TcpEndpoint endpoint_;
  bool encrypted_ = false;
  std::string keyText_;
  std::unique_ptr<CEncryptAPI> cipher_;
  IvSource ivSource_ = SystemRandomIv;
  int lastError_ = 0;
  int reconnectPauseMs_ = kTcpReconnectPauseMs;
  int waitStepMs_ = kTcpSelectStepMs;
  int connectTimeoutMs_ = kTcpConnectTimeoutMs;
  const CancelFlag* cancel_ = nullptr;
};

}  // namespace vel
