#include "devices/DeviceWalks.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstdlib>
#include <filesystem>

#include "common/Strings.h"
#include "link/KeyText.h"
#include "link/PortNames.h"
#include "link/TcpLink.h"

namespace vel {

namespace {

// Whether an endpoint's address reaches this host: the unspecified address, the loopback
// network and the addresses of this host's interfaces all lead to what listens on every address.
bool IsThisHost(const TcpEndpoint& endpoint) {
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(endpoint.socket);
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(endpoint.socket);
  if (endpoint.Family() == AF_INET) {
    const std::uint32_t host = ntohl(v4.sin_addr.s_addr);
    if (host == INADDR_ANY || (host >> 24) == IN_LOOPBACKNET) return true;
  } else if (IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) || IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr)) {
    return true;
  }
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* i = interfaces; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != endpoint.Family()) continue;
    found = endpoint.Family() == AF_INET
                ? reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr ==
                      v4.sin_addr.s_addr
                : IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr,
                                     &v6.sin6_addr);
  }
  freeifaddrs(interfaces);
  return found;
}

}  // namespace

Expected<DeviceTarget> TargetForRow(const DeviceEntry& row) {
  // A cell the list file never held (it ended inside the row), or held only in part (cut to 255
  // characters), is no way to reach a device: the row is not the one the operator wrote. A
  // serial row has no key to miss.
  unsigned reach =
      DeviceEntry::CellBit(DeviceColumn::kAddress) | DeviceEntry::CellBit(DeviceColumn::kPort);
  if (!row.IsSerial()) reach |= DeviceEntry::CellBit(DeviceColumn::kKey);
  if ((row.missingCells & reach) != 0 || row.cutCells != 0) {
    return Result::Failed(UnreadCellsText(row));
  }
  // The same rules as a row entered by hand: a port that would wrap ("68537") or is no number
  // never reaches a device.
  if (const Result usable = IsUsableRow(row); !usable) return Result::Failed(usable.error());
  DeviceTarget target;
  if (row.IsSerial()) {
    target.kind = LinkKind::kSerial;
    target.portName = "COM" + row.port;
    return target;
  }
  target.kind = LinkKind::kTcp;
  target.address = row.address;
  target.port = row.port;
  if (row.key != kNoEncryption) {
    // A key from the file is checked here, when it is used, and never given to the cipher
    // unless it is sixteen dashed pairs.
    if (!IsDashedKey(row.key)) {
      return Result::Failed(LoadString(ids::kInvalidEncryptionKey));
    }
    target.key = *KeyDigits(row.key);
  }
  return target;
}

std::string LinkOfRow(const DeviceEntry& row) {
  return row.IsSerial() ? "serial:COM" + row.port : "tcp:" + row.address + ":" + row.port;
}

std::string EndpointOf(const DeviceTarget& target) {
  if (target.kind == LinkKind::kSerial) {
    // The device the name opens, however the name is written or linked to.
    const std::string path = PortNameMap::ForThisUser().Resolve(target.portName);
    std::error_code unresolved;
    const std::filesystem::path real = std::filesystem::canonical(path, unresolved);
    return "serial:" + (path.empty() ? target.portName : unresolved ? path : real.string());
  }
  // The socket the engine connects to, however its address and port are written.
  TcpEndpoint endpoint;
  if (!MakeEndpoint(target.address, target.port, &endpoint)) {
    return "tcp:" + target.address + ":" + target.port;
  }
  const std::string address = IsThisHost(endpoint) ? "this host" : AddressText(endpoint);
  return "tcp:" + address + ":" + std::to_string(endpoint.Port());
}

JobRow RowOfList(std::size_t row, const DeviceEntry& entry) {
  JobRow job;
  job.row = row;
  Expected<DeviceTarget> target = TargetForRow(entry);
  if (target) {
    job.target = std::move(*target);
  } else {
    job.problem = target.error();
  }
  job.link = job.target ? EndpointOf(*job.target) : LinkOfRow(entry);
  return job;
}

void LiveRows::Set(std::vector<DeviceEntry> rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_ = std::move(rows);
}

std::optional<JobRow> LiveRows::TickedRow(std::size_t row) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (row >= rows_.size() || !rows_[row].checked) return std::nullopt;
  return RowOfList(row, rows_[row]);
}

}  // namespace vel
