#pragma once

namespace vel {

// Every wait of the device link, in milliseconds.
constexpr int kSerialReadTimeoutMs = 1000;   // a serial read returns at the latest after this
constexpr int kSerialWriteTimeoutMs = 5000;  // a serial write returns at the latest after this
constexpr int kTcpSelectStepMs = 400;        // one wait of the TCP link for its socket
constexpr int kTcpEmptyWaitsAllowed = 6;     // the seventh empty wait in one call ends it
constexpr int kTcpReconnectPauseMs = 500;    // pause after closing a held socket, before a connect
constexpr int kPurgeDrainLimitMs = 500;      // a purge lets written bytes leave for at most this
constexpr int kTcpConnectTimeoutMs = 5000;   // a connect that gets no answer gives up after this
constexpr int kCancelPollMs = 100;           // a wait looks at the cancel request this often

// What opening a serial port came to.
enum class LinkOpen {
  kOk,
  kNoSuchPort,    // the port does not exist
  kAccessDenied,  // in use, or permission denied
  kOtherFailure,  // anything else (not a serial device, settings refused)
};

}  // namespace vel
