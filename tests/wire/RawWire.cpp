#include "wire/RawWire.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "support/LoopbackListener.h"
#include "support/SocketPairDevice.h"

namespace zandor::wire {

namespace {

constexpr int kPollMs = 50;         // how often the relay and the player look at their stop
constexpr int kPlayWaitMs = 10000;  // the longest the player waits for the host's next step
constexpr std::size_t kBytesPerLine = 32;

std::string Hex(std::uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

void NoDelay(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int ConnectToLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  NoDelay(fd);
  return fd;
}

int ListenerPort(int listener) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// The next connection on `listener`, or -1 when none comes within `waitMs`.
int AcceptWithin(int listener, int waitMs) {
  pollfd p{listener, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0) return -1;
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) NoDelay(fd);
  return fd;
}

// The bytes of a run of hexadecimal digit pairs; nothing when it is not one.
std::optional<std::vector<std::uint8_t>> ParseHex(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

void RawConnection::Add(bool fromHost, const std::uint8_t* bytes, std::size_t count) {
  if (runs.empty() || runs.back().fromHost != fromHost) runs.push_back(RawRun{fromHost, {}});
  runs.back().bytes.insert(runs.back().bytes.end(), bytes, bytes + count);
}

std::vector<std::uint8_t> RawConnection::Sent(bool byHost) const {
  std::vector<std::uint8_t> sent;
  for (const RawRun& run : runs) {
    if (run.fromHost == byHost) sent.insert(sent.end(), run.bytes.begin(), run.bytes.end());
  }
  return sent;
}

std::string FormatRawTranscript(const RawTranscript& t) {
  std::string out =
      "# ZandorUpdate raw wire transcript: every byte that crossed the socket, in the order it\n"
      "# crossed. One line each:\n"
      "#   connect          the host opened a connection; its first 16 bytes are the IV, in clear\n"
      "#   > HHHH...        bytes the host sent, enciphered, two hex digits each, up to 32 a line\n"
      "#   < HHHH...        bytes the device sent, enciphered\n"
      "#   closed by host   the connection ended on the host's side (or: closed by device)\n"
      "# Lines of one direction in a row are one run; a line break says nothing about how the\n"
      "# bytes were sent. Both directions run Twofish-128 in CFB-128 from the connection's IV.\n";
  out += "# scenario: " + t.scenario + "\n";
  out += "# what: " + t.what + "\n";
  out += "# file: " + t.file + "\n";
  out += "# key: " + t.key + "\n";
  out += "# iv source: " + t.ivSource + "\n";
  out += "# status: " + std::to_string(t.status) + " (" + t.statusText + ")\n";
  for (const RawConnection& connection : t.connections) {
    out += "connect\n";
    for (const RawRun& run : connection.runs) {
      for (std::size_t at = 0; at < run.bytes.size(); at += kBytesPerLine) {
        out += run.fromHost ? "> " : "< ";
        for (std::size_t i = at; i < std::min(run.bytes.size(), at + kBytesPerLine); ++i) {
          out += Hex(run.bytes[i]);
        }
        out += "\n";
      }
    }
    out += connection.closedByHost ? "closed by host\n" : "closed by device\n";
  }
  return out;
}

std::optional<RawTranscript> ParseRawTranscript(const std::string& text, std::string* error) {
  RawTranscript t;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  const auto header = [&line](const char* name, std::string* value) {
    const std::string prefix = std::string("# ") + name + ": ";
    if (line.rfind(prefix, 0) == 0) *value = line.substr(prefix.size());
  };
  const auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return std::nullopt;
  };
  std::string status;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    if (line[0] == '#') {
      header("scenario", &t.scenario);
      header("what", &t.what);
      header("file", &t.file);
      header("key", &t.key);
      header("iv source", &t.ivSource);
      header("status", &status);
      continue;
    }
    if (line == "connect") {
      t.connections.emplace_back();
      continue;
    }
    if (t.connections.empty()) return fail("bytes before any connect");
    if (line == "closed by host" || line == "closed by device") {
      t.connections.back().closedByHost = line == "closed by host";
      continue;
    }
    if ((line[0] != '>' && line[0] != '<') || line.size() < 2 || line[1] != ' ') {
      return fail("not a transcript line");
    }
    const auto bytes = ParseHex(line.substr(2));
    if (!bytes) return fail("not hexadecimal bytes");
    t.connections.back().Add(line[0] == '>', bytes->data(), bytes->size());
  }
  if (status.empty()) return fail("no status");
  t.status = std::atoi(status.c_str());
  if (const auto open = status.find('('); open != std::string::npos && status.back() == ')') {
    t.statusText = status.substr(open + 1, status.size() - open - 2);
  }
  return t;
}

RawWireRelay::RawWireRelay(int devicePort) : devicePort_(devicePort) {
  sockaddr_in address{};
  listener_ = vel::testing::ListenOnLoopback(4, &address);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

void RawWireRelay::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

std::vector<RawConnection> RawWireRelay::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void RawWireRelay::Serve() {
  while (!stop_) {
    const int host = AcceptWithin(listener_, kPollMs);
    if (host < 0) continue;
    const int device = ConnectToLoopback(devicePort_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connections_.emplace_back();
    }
    if (device >= 0) {
      Relay(host, device);
      ::close(device);
    }
    ::close(host);
  }
}

void RawWireRelay::Relay(int host, int device) {
  std::uint8_t buffer[4096];
  while (!stop_) {
    pollfd ends[2] = {{host, POLLIN, 0}, {device, POLLIN, 0}};
    if (poll(ends, 2, kPollMs) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if ((ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const bool fromHost = i == 0;
      const ssize_t n = ::recv(ends[i].fd, buffer, sizeof buffer, 0);
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        connections_.back().closedByHost = fromHost;
        return;
      }
      connections_.back().Add(fromHost, buffer, static_cast<std::size_t>(n));
      vel::testing::SendAll(fromHost ? device : host, buffer, static_cast<int>(n));
    }
  }
}

RawWirePlayer::RawWirePlayer(std::vector<RawConnection> connections)
    : connections_(std::move(connections)) {
  sockaddr_in address{};
  listener_ = vel::testing::ListenOnLoopback(4, &address);
  port_ = ListenerPort(listener_);
  thread_ = std::thread([this] { Play(); });
}

RawWirePlayer::~RawWirePlayer() {
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
}

std::string RawWirePlayer::Verdict() {
  if (thread_.joinable()) thread_.join();
  return verdict_;
}

void RawWirePlayer::Play() {
  for (std::size_t i = 0; i < connections_.size() && verdict_.empty(); ++i) {
    const int fd = AcceptWithin(listener_, kPlayWaitMs);
    if (fd < 0) {
      verdict_ = "connection " + std::to_string(i + 1) + " was never made";
      return;
    }
    verdict_ = PlayConnection(i, fd);
    ::close(fd);
  }
}

std::string RawWirePlayer::PlayConnection(std::size_t index, int fd) {
  const std::string where = "connection " + std::to_string(index + 1) + ": ";
  const RawConnection& connection = connections_[index];
  std::size_t hostOffset = 0;  // of the host's bytes in this connection
  for (const RawRun& run : connection.runs) {
    const int size = static_cast<int>(run.bytes.size());
    if (!run.fromHost) {
      vel::testing::SendAll(fd, run.bytes.data(), size);
      continue;
    }
    std::vector<std::uint8_t> got(run.bytes.size());
    const int n =
        vel::testing::ReceiveWithin(vel::SystemClock(), fd, got.data(), size, kPlayWaitMs);
    for (int i = 0; i < n; ++i) {
      if (got[i] != run.bytes[i]) {
        return where + "host byte " + std::to_string(hostOffset + i) + " is " + Hex(got[i]) +
               ", recorded " + Hex(run.bytes[i]);
      }
    }
    if (n < size) {
      return where + "the host stopped at byte " + std::to_string(hostOffset + n) + ", recorded " +
             std::to_string(hostOffset + size);
    }
    hostOffset += run.bytes.size();
  }
  if (!connection.closedByHost) return {};
  std::uint8_t extra = 0;
  bool closed = false;
  if (vel::testing::ReceiveWithin(vel::SystemClock(), fd, &extra, 1, kPlayWaitMs, &closed) == 1) {
    return where + "the host sent " + Hex(extra) + " after its recorded bytes";
  }
  return closed ? std::string() : where + "the host did not close the connection";
}

}  // namespace zandor::wire
