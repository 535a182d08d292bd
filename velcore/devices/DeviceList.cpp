#include "devices/DeviceList.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/AtomicFile.h"
#include "common/Format.h"
#include "common/Strings.h"
#include "link/KeyText.h"
#include "link/TcpLink.h"

namespace vel {

namespace {

constexpr char kSeparator = '!';
constexpr unsigned char kShift = 4;
constexpr std::size_t kMaxTokenLength = 255;
constexpr int kFieldsPerRow = 4;

}  // namespace

int PortNumber(const std::string& cell) {
  std::size_t i = 0;
  long value = 0;
  while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9' && value < 100000) {
    value = value * 10 + (cell[i] - '0');
    ++i;
  }
  return i == 0 ? -1 : static_cast<int>(value);
}

std::string UnreadCellsText(const DeviceEntry& entry) {
  static constexpr std::pair<DeviceColumn, const char*> kNames[] = {
      {DeviceColumn::kName, "name"},
      {DeviceColumn::kAddress, "address"},
      {DeviceColumn::kPort, "port"},
      {DeviceColumn::kKey, "key"}};
  const auto cells = [](unsigned bits) {
    std::string names;
    for (const auto& [column, name] : kNames) {
      if ((bits & DeviceEntry::CellBit(column)) == 0) continue;
      names += std::string(names.empty() ? "" : " and ") + name;
    }
    return names;
  };
  std::string text;
  if (entry.missingCells != 0) {
    text = "the list file ends inside this row, without its " + cells(entry.missingCells);
  }
  if (entry.cutCells != 0) {
    text += std::string(text.empty() ? "" : "; ") + "its " + cells(entry.cutCells) +
            " held more than 255 characters and was cut";
  }
  return text;
}

std::string RowNote(std::size_t row, const DeviceEntry& entry) {
  constexpr std::size_t kShownName = 32;
  const std::string name =
      entry.name.size() > kShownName ? entry.name.substr(0, kShownName) + "..." : entry.name;
  return "row " + std::to_string(row + 1) + " (" + name + "): " + UnreadCellsText(entry);
}

DeviceList::DeviceList() = default;

void DeviceList::Choices::Add(const std::string& text) {
  if (known.insert(text).second) list.push_back(text);
}

std::size_t DeviceList::AddDevice() {
  rows_.emplace_back();
  return rows_.size() - 1;
}

void DeviceList::CheckAllDevices() {
  for (DeviceEntry& row : rows_) row.checked = true;
}

void DeviceList::UncheckAllDevices() {
  for (DeviceEntry& row : rows_) row.checked = false;
}

void DeviceList::SetChecked(std::size_t row, bool checked) { rows_.at(row).checked = checked; }

void DeviceList::DeleteCheckedDevices() {
  for (std::size_t row = rows_.size(); row-- > 0;) {
    if (rows_[row].checked) DeleteSelectedDevice(row);
  }
}

void DeviceList::DeleteSelectedDevice(std::size_t row) {
  if (row >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  // The copied row and the paste target stay with their rows; a deleted one is forgotten.
  for (std::optional<std::size_t>* index : {&copySource_, &pasteTarget_}) {
    if (*index == row) {
      index->reset();
    } else if (*index && **index > row) {
      --**index;
    }
  }
}

void DeviceList::CopyDevice(std::size_t row) {
  if (row < rows_.size()) copySource_ = row;
}

void DeviceList::SetPasteTarget(std::size_t row) {
  if (row < rows_.size()) pasteTarget_ = row;
}

bool DeviceList::PasteDevice() {
  return pasteTarget_.has_value() && PasteDeviceInto(*pasteTarget_);
}

bool DeviceList::PasteDeviceInto(std::size_t row) {
  if (!copySource_ || row >= rows_.size()) return false;
  const DeviceEntry source = rows_.at(*copySource_);
  DeviceEntry& target = rows_.at(row);
  target.name = source.name;
  target.address = source.address;
  target.port = source.port;
  target.key = source.key;
  target.status = source.status;
  target.cutCells = source.cutCells;
  target.missingCells = source.missingCells;
  return true;
}

namespace {

// Why a text cannot be a cell of a stored list; empty when it can.
std::string_view CellProblem(const std::string& text) {
  if (text.find(kSeparator) != std::string::npos) return text::kFieldWithSeparator;
  if (text.size() > kMaxTokenLength) return text::kFieldTooLong;
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    return text::kFieldWithControl;
  }
  return {};
}

bool SameStoredRow(const DeviceEntry& a, const DeviceEntry& b) {
  return a.name == b.name && a.address == b.address && a.port == b.port && a.key == b.key;
}

// Where a row of `before` stands among `after`: the same index when the row there is the same,
// else the first same row; nothing when it is gone.
std::optional<std::size_t> Follow(std::optional<std::size_t> index,
                                  const std::vector<DeviceEntry>& before,
                                  const std::vector<DeviceEntry>& after) {
  if (!index || *index >= before.size()) return std::nullopt;
  const DeviceEntry& row = before[*index];
  if (*index < after.size() && SameStoredRow(after[*index], row)) return index;
  for (std::size_t r = 0; r < after.size(); ++r) {
    if (SameStoredRow(after[r], row)) return r;
  }
  return std::nullopt;
}

}  // namespace

Result DeviceList::ReplaceRows(std::vector<DeviceEntry> rows) {
  for (const DeviceEntry& row : rows) {
    for (const std::string* cell : {&row.name, &row.address, &row.port, &row.key}) {
      if (const std::string_view problem = CellProblem(*cell); !problem.empty()) {
        return Result::Failed(std::string(problem));
      }
    }
  }
  copySource_ = Follow(copySource_, rows_, rows);
  pasteTarget_ = Follow(pasteTarget_, rows_, rows);
  rows_ = std::move(rows);
  for (const DeviceEntry& row : rows_) {
    addressChoices_.Add(row.address);
    keyChoices_.Add(row.key);
  }
  return Result::Done();
}

Result DeviceList::SetCell(std::size_t row, DeviceColumn column, const std::string& text) {
  if (row >= rows_.size()) {
    return Result::Failed("there is no row " + std::to_string(row + 1));
  }
  if (const std::string_view problem = CellProblem(text); !problem.empty()) {
    return Result::Failed(std::string(problem));
  }
  DeviceEntry& entry = rows_[row];
  switch (column) {
    case DeviceColumn::kName:
      entry.name = text;
      break;
    case DeviceColumn::kAddress:
      entry.address = text;
      addressChoices_.Add(text);
      if (entry.IsSerial()) entry.key = kNoEncryption;
      break;
    case DeviceColumn::kPort:
      entry.port = text;
      break;
    case DeviceColumn::kKey:
      if (text != kNoEncryption && !IsDashedKey(text)) {
        return Result::Failed(LoadString(ids::kInvalidEncryptionKey));
      }
      if (entry.IsSerial() && text != kNoEncryption) {
        return Result::Failed(std::string(text::kSerialRowWithKey));
      }
      entry.key = text;
      keyChoices_.Add(text);
      break;
    case DeviceColumn::kStatus:
      entry.status = text;
      break;
  }
  // The operator has set the cell; a serial row's key follows from its being serial.
  unsigned set = DeviceEntry::CellBit(column);
  if (entry.IsSerial()) set |= DeviceEntry::CellBit(DeviceColumn::kKey);
  entry.cutCells &= ~set;
  entry.missingCells &= ~set;
  return Result::Done();
}

void DeviceList::OpenPortCell(std::size_t row) {
  DeviceEntry& entry = rows_.at(row);
  const int number = PortNumber(entry.port);
  if (entry.IsSerial() && number > kMaxSerialPortNumber) entry.port = kDefaultSerialPort;
  if (!entry.IsSerial() && number <= kMaxSerialPortNumber) entry.port = kDefaultTcpPort;
}

void DeviceList::OpenKeyCell(std::size_t row) {
  DeviceEntry& entry = rows_.at(row);
  if (entry.IsSerial()) entry.key = kNoEncryption;
}

std::string DeviceList::Encode(const std::vector<DeviceEntry>& rows) {
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) text += kSeparator;
    const DeviceEntry& row = rows[i];
    text += row.name + kSeparator + row.address + kSeparator + row.port + kSeparator + row.key;
  }
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) + kShift);
  return text;
}

std::vector<DeviceEntry> DeviceList::Decode(const std::string& stored) {
  std::string text = stored;
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) - kShift);
  std::vector<DeviceEntry> rows;
  if (text.empty()) return rows;
  rows.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), kSeparator)) /
                   kFieldsPerRow +
               1);
  constexpr DeviceColumn kColumns[kFieldsPerRow] = {DeviceColumn::kName, DeviceColumn::kAddress,
                                                    DeviceColumn::kPort, DeviceColumn::kKey};
  std::size_t start = 0;
  int field = 0;
  for (;;) {
    const std::size_t end = text.find(kSeparator, start);
    std::string token =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (field % kFieldsPerRow == 0) rows.emplace_back();
    DeviceEntry& row = rows.back();
    const DeviceColumn column = kColumns[field % kFieldsPerRow];
    if (token.size() > kMaxTokenLength) {
      token.resize(kMaxTokenLength);
      row.cutCells |= DeviceEntry::CellBit(column);
    }
    switch (column) {
      case DeviceColumn::kName:
        row.name = std::move(token);
        break;
      case DeviceColumn::kAddress:
        row.address = std::move(token);
        break;
      case DeviceColumn::kPort:
        row.port = std::move(token);
        break;
      default:
        row.key = std::move(token);
        break;
    }
    ++field;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  // The file ended inside its last row: the cells after the last field are not the file's, and
  // stay empty rather than take a value nobody wrote.
  for (int missing = field % kFieldsPerRow; missing != 0 && missing < kFieldsPerRow; ++missing) {
    DeviceEntry& row = rows.back();
    row.missingCells |= DeviceEntry::CellBit(kColumns[missing]);
    (kColumns[missing] == DeviceColumn::kAddress ? row.address
     : kColumns[missing] == DeviceColumn::kPort  ? row.port
                                                 : row.key)
        .clear();
  }
  return rows;
}

bool DeviceList::IsStoredList(std::string_view stored) {
  return std::none_of(stored.begin(), stored.end(), [](char c) {
    const auto decoded = static_cast<unsigned char>(static_cast<unsigned char>(c) - kShift);
    return decoded < 0x20 || decoded == 0x7F;
  });
}

namespace {

// The whole of a list file, or why it cannot be a device list (*missing tells a missing file).
Expected<std::string> ReadListFile(const std::string& path, bool* missing) {
  *missing = false;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *missing = errno == ENOENT;
    return Result::Failed(std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Result::Failed("not a device list: not a regular file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return Result::Failed(std::strerror(errno));
  }
  std::ostringstream whole;
  whole << in.rdbuf();
  std::string text = whole.str();
  if (!DeviceList::IsStoredList(text)) {
    return Result::Failed("not a device list: it holds bytes that no stored device list has");
  }
  return text;
}

}  // namespace

Result DeviceList::Load(const std::string& path, IfMissing ifMissing) {
  bool missing = false;
  const Expected<std::string> text = ReadListFile(path, &missing);
  if (!text) {
    if (!missing || ifMissing == IfMissing::kRefuse) return Result::Failed(text.error());
    rows_.clear();  // no list yet
  } else {
    rows_ = Decode(*text);
  }
  notes_.clear();
  addressChoices_.known.reserve(addressChoices_.known.size() + rows_.size());
  keyChoices_.known.reserve(keyChoices_.known.size() + rows_.size());
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    addressChoices_.Add(rows_[row].address);
    keyChoices_.Add(rows_[row].key);
    if (!rows_[row].IsReadWhole()) notes_.push_back(RowNote(row, rows_[row]));
  }
  copySource_.reset();
  pasteTarget_.reset();
  return Result::Done();
}

Result DeviceList::Save(const std::string& path) const {
  bool missing = false;
  const Expected<std::string> existing = ReadListFile(path, &missing);
  if (!existing && !missing) return Result::Failed(existing.error() + "; it is left as it is");
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (rows_[row].IsReadWhole()) continue;
    return Result::Failed(
        RowNote(row, rows_[row]) +
        "; writing the list would change that row, so the list is left as it is (set those "
        "cells or remove the row)");
  }
  return WriteFileAtomically(path, Encode(rows_), 0600, FileMode::kAlways);
}

Result IsUsableRow(const DeviceEntry& row) {
  in_addr parsed{};
  if (!row.IsSerial() && inet_pton(AF_INET, row.address.c_str(), &parsed) != 1) {
    return Result::Failed(
        "The address is \"serial\" or a dotted IPv4 address such as 192.168.1.20, not \"" +
        row.address + "\".");
  }
  const int number = PortTextNumber(row.port).value_or(-1);
  if (row.IsSerial() && (number < 1 || number > kMaxSerialPortNumber)) {
    return Result::Failed("A serial row's port is a COM port number from 1 to 10, not \"" +
                          row.port + "\".");
  }
  if (!row.IsSerial() && (number < 1 || number > kMaxTcpPort)) {
    return Result::Failed("A TCP row's port is a number from 1 to 65535, not \"" + row.port +
                          "\".");
  }
  return Result::Done();
}

std::string DeviceListLock::LockPathOf(const std::string& listPath) {
  // Follow the links to the file itself (which need not exist yet).
  std::string path = listPath;
  constexpr int kMostLinks = 40;  // as the system follows them
  for (int hop = 0; hop < kMostLinks; ++hop) {
    std::error_code failed;
    const std::filesystem::path link(path);
    if (!std::filesystem::is_symlink(link, failed)) break;
    const std::filesystem::path target = std::filesystem::read_symlink(link, failed);
    if (failed) break;
    path = (target.is_absolute() ? target : link.parent_path() / target).string();
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".lock";
}

Expected<DeviceListLock> DeviceListLock::Acquire(const std::string& listPath,
                                                 const WaitControl& wait) {
  const std::string lockPath = LockPathOf(listPath);
  const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return Result::Failed(lockPath + ": " + std::strerror(errno));
  }
  int failure = 0;
  const WaitEnd end = WaitUntil(wait, [&] {
    failure = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    return failure != EWOULDBLOCK && failure != EINTR;
  });
  if (end != WaitEnd::kDone || failure != 0) {
    close(fd);
    if (end == WaitEnd::kStopped) return Result::Failed("interrupted");
    if (end == WaitEnd::kTimedOut) {
      return Result::Failed(Format("gave up after %g s: another program holds the lock (%s)",
                                   static_cast<double>(wait.limit.count()) / 1000,
                                   lockPath.c_str()));
    }
    return Result::Failed(lockPath + ": " + std::strerror(failure));
  }
  return DeviceListLock(fd);
}

DeviceListLock::~DeviceListLock() {
  if (fd_ >= 0) close(fd_);  // also releases the lock
}

}  // namespace vel
