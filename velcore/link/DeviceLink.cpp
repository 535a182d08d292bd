#include "link/DeviceLink.h"

namespace vel {

int DeviceLink::LinkRead(std::uint8_t* buffer, int count) {
  return LinkReadWithin(buffer, count, -1);
}

int DeviceLink::LinkReadWithin(std::uint8_t* buffer, int count, int limitMs) {
  if (peer_ != nullptr) return peer_->Read(buffer, count, limitMs);
  if (Kind() == LinkKind::kSerial) return serial_.Read(buffer, count, limitMs);
  int received = 0;
  tcp_.TcpReceive(buffer, count, &received, limitMs);
  return received;
}

int DeviceLink::LinkWrite(const std::uint8_t* buffer, int count) {
  if (peer_ != nullptr) return peer_->Write(buffer, count);
  if (Kind() == LinkKind::kSerial) return serial_.Write(buffer, count);
  if (count <= 0) return 0;
  scratch_.assign(buffer, buffer + count);  // the TCP link enciphers in place
  int sent = 0;
  tcp_.TcpSend(scratch_.data(), count, &sent);
  return sent;
}

int DeviceLink::LastWriteError() const {
  return Kind() == LinkKind::kSerial ? serial_.LastWriteError() : tcp_.LastError();
}

int DeviceLink::ConnectTcp() {
  return peer_ != nullptr ? peer_->Connect() : tcp_.ConnectTcp(tcp_.Endpoint());
}

bool DeviceLink::ReadableNow() {
  if (peer_ != nullptr) return peer_->ReadableNow();
  return Kind() == LinkKind::kSerial ? serial_.ReadableNow() : tcp_.ReadableNow();
}

bool DeviceLink::ConnectionDropped() const {
  if (Kind() != LinkKind::kTcp) return false;
  return peer_ != nullptr ? peer_->Dropped() : tcp_.Dropped();
}

void DeviceLink::Purge() {
  if (Kind() != LinkKind::kSerial) return;
  if (peer_ != nullptr) {
    peer_->Purge();
  } else {
    serial_.Purge();
  }
}

void DeviceLink::SetBaudRate(int baud) {
  if (peer_ != nullptr) {
    peer_->SpeedSet(baud);
  } else {
    serial_.SetBaudRate(baud);
  }
}

void DeviceLink::ClosePort() {
  if (peer_ != nullptr) return;
  if (Kind() == LinkKind::kSerial) {
    serial_.Close();
  } else {
    tcp_.ClosePort();
  }
}

}  // namespace vel
