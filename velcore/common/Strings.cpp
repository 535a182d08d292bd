#include "common/Strings.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vel {

namespace {

struct Entry {
  int id;
  std::string_view text;
};

constexpr std::array kEntries{
    Entry{ids::kReadChecksumIncorrect, text::kReadChecksumIncorrect},
    Entry{ids::kReadMissingParameters, text::kReadMissingParameters},
    Entry{ids::kReadNotEnoughBytes, text::kReadNotEnoughBytes},
    Entry{ids::kConnectionError, "Connection error! Please reset power and try again!"},
    Entry{ids::kCancelledTest,
          "Testing loaded hex file: FAILED  \n\nThe testing was cancelled at your request.  The "
          "file should not be used until validated."},
    Entry{ids::kInvalidEncryptionKey,
          "Invalid Encryption Key! \nPlease Enter a valid 16 Byte Encryption Key"},
    Entry{ids::kTestingHexFile, "Testing Hex file..."},
    Entry{ids::kSystemBusy, "System busy! Please try later!"},
    Entry{ids::kDefectChecksum, "Record %d of image %d (line %lld) fails its checksum."},
    Entry{ids::kDefectMissingColon,
          "Line %lld holds hexadecimal digits without the ':' that starts a record."},
    Entry{ids::kDefectUnknownType,
          "Record %d of image %d (line %lld) has record type %02X, which Intel HEX does not have."},
    Entry{ids::kDefectWrapsSegment,
          "Record %d of image %d (line %lld) runs past the end of its 64 KiB segment."},
    Entry{ids::kDefectTrailingText,
          "Record %d of image %d (line %lld) is followed by other characters on its line."},
    Entry{ids::kDefectOverlap,
          "Record %d of image %d (line %lld) gives other data to segment %02X at offset 0x%04X, "
          "which an earlier record of the image filled."},
    Entry{ids::kDefectNoMetadata,
          "Image %d (from line %lld) carries no metadata, unlike the file's other images: no "
          "unit would take it (an end record in the middle of the file?)."},
    Entry{ids::kFileFailsTest,
          "The firmware file fails its checksum test; nothing was sent to the device."},
    Entry{ids::kBlockKeepsFailing,
          "Block %d of segment %02X failed %d times in a row (last result %02X); the transfer "
          "ends."},
    Entry{ids::kDataNotSent,
          "Image %d holds data in segment %02X at offset 0x%04X that this update would not "
          "send; nothing was sent."},
    Entry{ids::kOperationCancelled, "Cancelled at the operator's request"},
    Entry{ids::kUnitLeftOut, "Unit %d (%s) is left out: no image of the file fits it."},
    Entry{ids::kNoUnitFits, "No unit of the device fits an image of the file; nothing was sent."},
    Entry{ids::kUnitNotSelected,
          "A unit did not confirm its selection; nothing more was sent to the device."},
    Entry{ids::kTransmissionCompleted,
          "Transmission completed!  The Zandor Unit should now restart automatically."},
    Entry{ids::kPortMissing,
          "The selected serial port does not exist on this system. Please check the port name "
          "and that its adapter is connected."},
    Entry{ids::kPortInUse,
          "The selected serial port could not be opened: another program has it open, or this "
          "user may not open it."},
    Entry{ids::kCheckPortMissing,
          "The selected serial port does not exist on this system. Please check the port name "
          "and that its adapter is connected."},
    Entry{ids::kCheckPortInUse,
          "The selected serial port could not be opened: another program has it open, or this "
          "user may not open it."},
    Entry{ids::kMemMapNoFile,
          "No file has been loaded.  Memory map cannot be created until a file is "
          "loaded.\n\nPlease use \\\"File-Open...\\\" or press the open toolbar button."},
    Entry{ids::kRecordsNoFile,
          "No file has been loaded.  There are no records to view.\n\nPlease use "
          "\\\"File-Open...\\\" or press the open toolbar button."},
    Entry{ids::kTestFailed,
          "Testing loaded hex file: FAILED  \n\nThe loaded hex file did not complete or pass some "
          "or all checksum tests.  It should be repaired or reloaded."},
    Entry{ids::kTestPassed,
          "Testing loaded hex file: Passed  \n\nThe loaded hex file passed all checksum tests.  It "
          "should be a valid hex file."},
    Entry{ids::kTestNoFile,
          "A Vel Hex File must be loaded before it can be tested.  \n\nPlease use "
          "\\\"File-Open...\\\" or press the open toolbar button."},
    Entry{ids::kTransmissionTerminated,
          "Transmission Terminated.  Power off and on the Zandor Unit and try to upload again."},
    Entry{ids::kNonExistentSegment, "Non-existent Segment Error"},
    Entry{ids::kTcpNotAccepting,
          "Warning: TCPIP port is not accepting transmission.  Bytes written: %d, Error code: %d"},
    Entry{ids::kSerialNotAccepting,
          "Warning: Serial port is not accepting transmission.  Bytes written: %d, Error code: %d"},
    Entry{ids::kLoadingHexFile, "Loading Hex File..."},
    Entry{ids::kCreatingMemMap, "Creating Memory Map from Hex File..."},
    Entry{ids::kUnexpectedFileFormat, "Unexpected file format."},
    Entry{ids::kUpdateSuccessful, "Device Update Successful"},
    Entry{ids::kUpdateFailed, "Device Update Failed"},
};

// Sorted by id for the binary search below.
constexpr auto kTable = [] {
  auto table = kEntries;
  std::sort(table.begin(), table.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
  return table;
}();
static_assert(std::adjacent_find(kTable.begin(), kTable.end(), [](const Entry& a, const Entry& b) {
                return a.id == b.id;
              }) == kTable.end());

}  // namespace

std::string LoadString(int id) {
  auto it = std::lower_bound(kTable.begin(), kTable.end(), id,
                             [](const Entry& e, int wanted) { return e.id < wanted; });
  if (it == kTable.end() || it->id != id) return std::string(text::kResourceLoadError);
  return std::string(it->text);
}

}  // namespace vel
