#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "SimDevice.h"

namespace sim {

// Serves a simulated device over TCP (one connection at a time) or over a pseudo-terminal, on a
// thread of its own.
class SimServer {
 public:
  explicit SimServer(SimConfig config);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Listens on host:port (port 0 picks one); returns the port, or 0 on failure.
  int StartTcp(const std::string& host = "127.0.0.1", int port = 0);
  // Opens a pseudo-terminal pair; returns the path the host opens, or "" on failure.
  std::string StartPty();
  void Stop();

  SimDevice& Device() { return device_; }
  // Serves connections with `responder` instead of the device (before a Start).
  void ServeBy(Responder& responder) { responder_ = &responder; }
  // Bytes that crossed the link in both directions, over every finished connection.
  long long BytesExchanged() const { return bytesExchanged_; }
  // Processor time the serving thread used, in seconds; known once stopped.
  double ServingSeconds() const { return servingSeconds_; }

 private:
  void ServeTcp();
  void ServePty();
  // Keeps the calling (serving) thread's processor time.
  void KeepServingTime();

  SimConfig config_;
  SimDevice device_;
  Responder* responder_ = &device_;
  int listener_ = -1;
  int ptyMaster_ = -1;
  int ptySlaveKeeper_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<long long> bytesExchanged_{0};
  std::atomic<double> servingSeconds_{0};
  std::thread thread_;
};

}  // namespace sim
