#include "link/DeviceLink.h"

namespace vel {

int PortPeer::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (link_.Kind() == LinkKind::kSerial) return link_.Serial().Read(buffer, count, limitMs);
  int received = 0;
  link_.Tcp().TcpReceive(buffer, count, &received, limitMs);
  return received;
}

int PortPeer::Write(const std::uint8_t* buffer, int count) {
  if (link_.Kind() == LinkKind::kSerial) return link_.Serial().Write(buffer, count);
  if (count <= 0) return 0;
  scratch_.assign(buffer, buffer + count);  // the caller's bytes stay as they were
  int sent = 0;
  link_.Tcp().TcpSend(scratch_.data(), count, &sent);
  return sent;
}

bool PortPeer::ReadableNow() {
  return link_.Kind() == LinkKind::kSerial ? link_.Serial().ReadableNow()
                                           : link_.Tcp().ReadableNow();
}

int PortPeer::Connect() { return link_.Tcp().ConnectTcp(link_.Tcp().Endpoint()); }

void PortPeer::Purge() { link_.Serial().Purge(); }

void PortPeer::SpeedSet(int baud) { link_.Serial().SetBaudRate(baud); }

bool PortPeer::Dropped() { return link_.Tcp().Dropped(); }

void PortPeer::Close() {
  if (link_.Kind() == LinkKind::kSerial) {
    link_.Serial().Close();
  } else {
    link_.Tcp().ClosePort();
  }
}

int DeviceLink::LinkRead(std::uint8_t* buffer, int count) {
  return LinkReadWithin(buffer, count, -1);
}

int DeviceLink::LinkReadWithin(std::uint8_t* buffer, int count, int limitMs) {
  return Active().Read(buffer, count, limitMs);
}

int DeviceLink::ReadTimeoutMs() {
  return Kind() == LinkKind::kSerial ? serial_.ReadTimeoutMs() : tcp_.ReadTimeoutMs();
}

int DeviceLink::LinkWrite(const std::uint8_t* buffer, int count) {
  return Active().Write(buffer, count);
}

int DeviceLink::LastWriteError() const {
  return Kind() == LinkKind::kSerial ? serial_.LastWriteError() : tcp_.LastError();
}

int DeviceLink::ConnectTcp() { return Active().Connect(); }

bool DeviceLink::ReadableNow() { return Active().ReadableNow(); }

bool DeviceLink::ConnectionDropped() { return Kind() == LinkKind::kTcp && Active().Dropped(); }

void DeviceLink::Purge() {
  if (Kind() == LinkKind::kSerial) Active().Purge();
}

void DeviceLink::SetBaudRate(int baud) { Active().SpeedSet(baud); }

void DeviceLink::ClosePort() { Active().Close(); }

}  // namespace vel
