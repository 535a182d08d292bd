#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/Result.h"
#include "common/Waiting.h"

namespace vel {

constexpr const char* kDefaultSerial = "<Default Serial>";
constexpr const char* kDefaultSerialPort = "1";
constexpr const char* kDefaultTcpPort = "3000";
constexpr const char* kNoEncryption = "<Default No Encryption>";
constexpr const char* kDeviceListFileName = "KestaLST.txt";
constexpr int kMaxSerialPortNumber = 10;

// The column a text goes into.
enum class DeviceColumn { kName = 1, kAddress = 2, kPort = 3, kKey = 4, kStatus = 5 };

// One row of the device list.
struct DeviceEntry {
  bool checked = false;
  std::string name;
  std::string address = kDefaultSerial;   // "<Default Serial>" or a dotted IPv4 address
  std::string port = kDefaultSerialPort;  // COM port number, or TCP port
  std::string key = kNoEncryption;        // "<Default No Encryption>" or 16 dashed pairs
  std::string status;
  bool succeeded = false;  // the last operation on the row succeeded (not stored)
  // Cells the list file did not hold whole (bits CellBit(column)): cut to 255 characters, or
  // missing because the file ended inside the row. The row does not read back as the file held
  // it, so it is never written back until those cells are set again.
  unsigned cutCells = 0;
  unsigned missingCells = 0;

  bool IsSerial() const { return address == kDefaultSerial; }
  // The port a row of its kind starts with.
  const char* DefaultPort() const { return IsSerial() ? kDefaultSerialPort : kDefaultTcpPort; }
  bool IsReadWhole() const { return (cutCells | missingCells) == 0; }
  static constexpr unsigned CellBit(DeviceColumn column) { return 1u << static_cast<int>(column); }
};

// The device list: its rows and their rules, the two choice lists, copy and paste. The desktop
// list and the command-line tool both edit rows through it.
class DeviceList {
 public:
  DeviceList();

  const std::vector<DeviceEntry>& Rows() const { return rows_; }
  std::size_t Count() const { return rows_.size(); }
  const DeviceEntry& Row(std::size_t row) const { return rows_.at(row); }

  // Appends a row with the defaults; returns its index.
  std::size_t AddDevice();
  void CheckAllDevices();
  void UncheckAllDevices();
  void SetChecked(std::size_t row, bool checked);
  // Deletes every checked row, keeping the order of the others.
  void DeleteCheckedDevices();
  // Deletes one row; the rows below move up with their own check states.
  void DeleteSelectedDevice(std::size_t row);
  void CopyDevice(std::size_t row);
  void SetPasteTarget(std::size_t row);
  std::optional<std::size_t> PasteTarget() const { return pasteTarget_; }
  // Writes columns 1 to 5 of the copied row into the paste target; false when either is missing.
  bool PasteDevice();
  // The same into a row named by the caller (the row under the cursor); false without a copy.
  bool PasteDeviceInto(std::size_t row);
  std::optional<std::size_t> CopySource() const { return copySource_; }

  // Puts `rows` in place of the list's rows as they are, ticks, statuses and the marks of cells
  // not read whole included; their addresses and keys join the choice lists. The copied row and
  // the paste target follow their rows where those are still in the list. Refused (the list as it
  // was) when a cell holds what no stored list can: a "!", a control character, more than 255
  // characters.
  Result ReplaceRows(std::vector<DeviceEntry> rows);

  // Sets a cell. A "!" would split the row when the list is read back, so it is refused; a key
  // must be the marker or 47 characters of dashed pairs. A refused cell stays as it was.
  Result SetCell(std::size_t row, DeviceColumn column, const std::string& text);
  void SetStatus(std::size_t row, const std::string& text) { rows_.at(row).status = text; }
  void SetOutcome(std::size_t row, const std::string& text, bool succeeded) {
    rows_.at(row).status = text;
    rows_.at(row).succeeded = succeeded;
  }
  // The resets that happen when the Port or key cell is opened for editing.
  void OpenPortCell(std::size_t row);
  void OpenKeyCell(std::size_t row);

  const std::vector<std::string>& AddressChoices() const { return addressChoices_.list; }
  const std::vector<std::string>& KeyChoices() const { return keyChoices_.list; }

  // The whole file's rows replace the list's. A missing file gives an empty list, or is refused
  // where a list must already be there (a walk over its rows). A file that is not a device list
  // (not a regular file, or bytes no stored list holds) is refused and the list stays as it was.
  // Reading takes no lock: a list is only ever replaced whole.
  enum class IfMissing { kEmptyList, kRefuse };
  Result Load(const std::string& path, IfMissing ifMissing = IfMissing::kEmptyList);
  // What the last Load found amiss: one sentence per row it could not read whole.
  const std::vector<std::string>& ReadNotes() const { return notes_; }
  // Written to a temporary file beside the target, flushed and renamed, readable by its owner
  // only (the list holds keys). A file there that is not a device list is never replaced, and a
  // list holding a row that was not read whole (and not set since) is not written: that would
  // change a row nobody touched.
  Result Save(const std::string& path) const;

  // The stored form: fields joined by "!", every byte shifted by 4, no line breaks.
  static std::string Encode(const std::vector<DeviceEntry>& rows);
  static std::vector<DeviceEntry> Decode(const std::string& stored);
  // Whether bytes read from a file can be a stored list: shifted back, they hold no control
  // characters.
  static bool IsStoredList(std::string_view stored);

 private:
  // A choice list and the texts in it, kept apart so that adding stays quick for long lists.
  struct Choices {
    explicit Choices(const char* first) : list{first}, known{first} {}
    void Add(const std::string& text);
    std::vector<std::string> list;
    std::unordered_set<std::string> known;
  };

  std::vector<DeviceEntry> rows_;
  Choices addressChoices_{kDefaultSerial};
  Choices keyChoices_{kNoEncryption};
  std::optional<std::size_t> copySource_;
  std::optional<std::size_t> pasteTarget_;
  std::vector<std::string> notes_;
};

// The leading decimal number of a Port cell, or -1 when it does not begin with one.
int PortNumber(const std::string& cell);

// Why a row does not read back as the list file held it ("the list file ends inside this row,
// without its port and key"); empty when it does.
std::string UnreadCellsText(const DeviceEntry& entry);
// "row 3 (NAME): " (the name shortened) and what of the row was not read whole.
std::string RowNote(std::size_t row, const DeviceEntry& entry);

// Whether a row can reach a device: the address is the serial marker or a dotted IPv4 address,
// the port a whole number (a COM port 1 to 10, a TCP port 1 to 65535). The failure says what is
// allowed.
Result IsUsableRow(const DeviceEntry& row);

// How long an edit waits for another program's edit of the same list (which holds the lock
// for a moment only) before it gives up.
constexpr auto kListLockWaitLimit = std::chrono::seconds(10);

// An advisory lock on a device list for one read-modify-write, taken on a lock file beside it
// (".KestaLST.txt.lock"), so that the desktop and the command line editing one list at the same
// time never lose each other's rows. Released when it goes.
class DeviceListLock {
 public:
  // Waits for the lock under `wait`; fails when the lock file cannot be made or the wait ends
  // first ("interrupted" when stopped, "gave up ..." past its limit).
  static Expected<DeviceListLock> Acquire(const std::string& listPath,
                                          const WaitControl& wait = {
                                              nullptr, kListLockWaitLimit, {}});
  // The lock file of a list: beside the file that symbolic links lead to, named after it, so
  // that edits through different links to one list share one lock.
  static std::string LockPathOf(const std::string& listPath);
  DeviceListLock(DeviceListLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  DeviceListLock& operator=(DeviceListLock&&) = delete;
  DeviceListLock(const DeviceListLock&) = delete;
  ~DeviceListLock();

 private:
  explicit DeviceListLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vel
