#include "devices/DeviceList.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/AtomicFile.h"
#include "common/Strings.h"
#include "image/HexText.h"

namespace vel {

namespace {

constexpr char kSeparator = '!';
constexpr unsigned char kShift = 4;
constexpr std::size_t kMaxTokenLength = 255;
constexpr const char* kDefaultTcpPort = "3000";
constexpr const char* kDefaultSerialPort = "1";
constexpr int kFieldsPerRow = 4;

bool IsDashedKey(const std::string& key) {
  if (key.size() != kKeyColumnLength) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (i % 3 == 2 ? key[i] != '-' : HexDigitValue(key[i]) < 0) return false;
  }
  return true;
}

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

DeviceList::DeviceList() : addressChoices_{kDefaultSerial}, keyChoices_{kNoEncryption} {}

void DeviceList::AddChoice(std::vector<std::string>& list, const std::string& text) {
  if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
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
  rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                             [](const DeviceEntry& row) { return row.checked; }),
              rows_.end());
  copySource_.reset();
  pasteTarget_.reset();
}

void DeviceList::DeleteSelectedDevice(std::size_t row) {
  if (row >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  copySource_.reset();
  pasteTarget_.reset();
}

void DeviceList::CopyDevice(std::size_t row) {
  if (row < rows_.size()) copySource_ = row;
}

void DeviceList::SetPasteTarget(std::size_t row) {
  if (row < rows_.size()) pasteTarget_ = row;
}

bool DeviceList::PasteDevice() {
  if (!copySource_ || !pasteTarget_) return false;
  const DeviceEntry source = rows_.at(*copySource_);
  DeviceEntry& target = rows_.at(*pasteTarget_);
  target.name = source.name;
  target.address = source.address;
  target.port = source.port;
  target.key = source.key;
  target.status = source.status;
  return true;
}

bool DeviceList::SetCell(std::size_t row, DeviceColumn column, const std::string& text,
                         std::string* error) {
  if (row >= rows_.size()) {
    *error = "there is no row " + std::to_string(row + 1);
    return false;
  }
  if (text.find(kSeparator) != std::string::npos) {
    *error = "A device list field cannot contain \"!\": it separates the fields of the list file.";
    return false;
  }
  if (text.size() > kMaxTokenLength) {
    *error = "A device list field holds at most 255 characters.";
    return false;
  }
  DeviceEntry& entry = rows_[row];
  switch (column) {
    case DeviceColumn::kName:
      entry.name = text;
      break;
    case DeviceColumn::kAddress:
      entry.address = text;
      AddChoice(addressChoices_, text);
      if (entry.IsSerial()) entry.key = kNoEncryption;
      break;
    case DeviceColumn::kPort:
      entry.port = text;
      break;
    case DeviceColumn::kKey:
      if (text != kNoEncryption && !IsDashedKey(text)) {
        *error = LoadString(ids::kInvalidEncryptionKey);
        return false;
      }
      if (entry.IsSerial() && text != kNoEncryption) {
        *error = "A device on a serial port has no encryption key.";
        return false;
      }
      entry.key = text;
      AddChoice(keyChoices_, text);
      break;
    case DeviceColumn::kStatus:
      entry.status = text;
      break;
  }
  return true;
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
  std::size_t start = 0;
  int field = 0;
  for (;;) {
    const std::size_t end = text.find(kSeparator, start);
    std::string token =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    token.resize(std::min(token.size(), kMaxTokenLength));
    switch (field % kFieldsPerRow) {
      case 0:
        rows.emplace_back();
        rows.back().name = token;
        break;
      case 1:
        rows.back().address = token;
        break;
      case 2:
        rows.back().port = token;
        break;
      case 3:
        rows.back().key = token;
        break;
    }
    ++field;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return rows;
}

bool DeviceList::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    rows_.clear();
    if (errno == ENOENT) return true;  // no list yet
    *error = std::strerror(errno);
    return false;
  }
  std::ostringstream whole;
  whole << in.rdbuf();
  rows_ = Decode(whole.str());
  for (const DeviceEntry& row : rows_) {
    AddChoice(addressChoices_, row.address);
    AddChoice(keyChoices_, row.key);
  }
  copySource_.reset();
  pasteTarget_.reset();
  return true;
}

bool DeviceList::Save(const std::string& path, std::string* error) const {
  return WriteFileAtomically(path, Encode(rows_), 0600, error);
}

}  // namespace vel
