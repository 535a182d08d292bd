#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "link/Encryption.h"
#include "link/LinkTiming.h"

namespace vel {

// An IPv4 endpoint, address and port in network byte order.
struct TcpEndpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// The endpoint for an address text ("192.168.1.20") and a port text read as "%d" (its low
// 16 bits); false when the address is not dotted IPv4.
bool MakeEndpoint(const std::string& address, const std::string& portText, TcpEndpoint* endpoint);

// One TCP connection to a device, optionally enciphered. Sends and receives wait in 400 ms steps
// and give up at the seventh empty wait; a socket error reconnects to the stored endpoint.
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

  // Connects to the endpoint (closing and pausing first when a socket is held). With encryption
  // on, keys a new cipher and sends a fresh IV in clear. Returns 0 or an errno value;
  // EKEYREJECTED when the key text is not a key (nothing is sent then).
  int ConnectTcp(const TcpEndpoint& endpoint);
  // Sends `length` bytes (enciphered in place when encryption is on); *count gets the bytes sent.
  void TcpSend(std::uint8_t* buffer, int length, int* count);
  // Receives `length` bytes; only a complete receive is deciphered.
  void TcpReceive(std::uint8_t* buffer, int length, int* count);

  bool Connected() const { return socket_ >= 0; }
  // True when received bytes are waiting to be read.
  bool ReadableNow() const;
  int LastError() const { return lastError_; }
  // Closes the socket and turns encryption off (the engine's close).
  void ClosePort();
  // Shuts down both directions and closes (the console's disconnect).
  void Shutdown();

  // Test hooks: the pause before reconnecting and the length of one wait for the socket,
  // normally kTcpReconnectPauseMs and kTcpSelectStepMs.
  void SetReconnectPause(int ms) { reconnectPauseMs_ = ms; }
  void SetWaitStep(int ms) { waitStepMs_ = ms; }

 private:
  enum class Direction { kSend, kReceive };
  void Transfer(Direction direction, std::uint8_t* buffer, int length, int* count);
  void CloseSocket();
  bool SetWaitStepOn(int fd) const;

  int socket_ = -1;
  TcpEndpoint endpoint_;
  bool encrypted_ = false;
  std::string keyText_;
  std::unique_ptr<CEncryptAPI> cipher_;
  int lastError_ = 0;
  int reconnectPauseMs_ = kTcpReconnectPauseMs;
  int waitStepMs_ = kTcpSelectStepMs;
};

}  // namespace vel
