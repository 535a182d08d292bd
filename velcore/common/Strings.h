#pragma once

#include <string>
#include <string_view>

namespace vel {

// Every user-facing text. Texts with a resource id are looked up by it; the GUI and the
// command-line tool show the same words.
// Status codes of a device check that are not text ids: the device list shows a text of its own
// for each.
namespace status {
constexpr int kCheckAccepted = 1;     // "Device Information Success"
constexpr int kCheckNoAnswer = -1;    // "Device not responding"
constexpr int kCheckDeclined = -3;    // "Device type doesn't match"
}  // namespace status

namespace ids {
// Status codes whose text the device list shows.
constexpr int kReadChecksumIncorrect = 5;
constexpr int kReadMissingParameters = 6;
constexpr int kReadNotEnoughBytes = 7;
constexpr int kConnectionError = 9;
constexpr int kSystemBusy = 20;
constexpr int kInvalidEncryptionKey = 18;
constexpr int kTransmissionCompleted = 24897;
constexpr int kPortMissing = 61450;
constexpr int kCheckPortMissing = 61460;
constexpr int kCheckPortInUse = 61461;
constexpr int kPortInUse = 61451;
constexpr int kTransmissionTerminated = 61471;
constexpr int kTcpNotAccepting = 61482;
constexpr int kSerialNotAccepting = 61483;
constexpr int kUpdateSuccessful = 62504;
constexpr int kUpdateFailed = 62505;

constexpr int kCancelledTest = 17;
constexpr int kTestingHexFile = 19;
constexpr int kMemMapNoFile = 61463;
constexpr int kRecordsNoFile = 61464;
constexpr int kTestFailed = 61465;
constexpr int kTestPassed = 61466;
constexpr int kTestNoFile = 61467;
constexpr int kNonExistentSegment = 61481;
constexpr int kLoadingHexFile = 61490;
constexpr int kCreatingMemMap = 61492;
constexpr int kUnexpectedFileFormat = 61728;

// Texts of this program's own, beyond the resource table it grew from.
constexpr int kDefectChecksum = 30001;
constexpr int kDefectMissingColon = 30002;
constexpr int kFileFailsTest = 30003;
constexpr int kBlockKeepsFailing = 30004;
constexpr int kDataNotSent = 30005;
constexpr int kOperationCancelled = 30006;
constexpr int kUnitLeftOut = 30007;
constexpr int kNoUnitFits = 30008;
}  // namespace ids

// The text of a resource id, or "Resource String Load Error" for an id the table lacks.
std::string LoadString(int id);

namespace text {
constexpr std::string_view kResourceLoadError = "Resource String Load Error";
constexpr std::string_view kAttemptingToCommunicate =
    "Attempting to communicate with Zandor Unit...";
constexpr std::string_view kCommunicationEstablished = "Communication Established";
constexpr std::string_view kCommunicationEstablishedLog =
    "Communication established with Zandor Unit.";
constexpr std::string_view kReadNotEnoughBytes = "Read Error: Not enough bytes received.";
constexpr std::string_view kReadMissingParameters = "Read Error: Missing Parameters";
constexpr std::string_view kReadChecksumIncorrect = "Read Error: Checksum incorrect.";
constexpr std::string_view kModeNotSupported = "This mode is not currently supported";
constexpr std::string_view kRefuse64k =
    "You are trying to download 64k software to 128k system. Please check the software version !";
constexpr std::string_view kSendingHexFile = "Sending Hex File...";
constexpr std::string_view kNotResponding =
    "Warning: The Zandor Unit is not responding.\nYou may wait to see if it recovers, or cancel "
    "the operation and try again.\n\nWould you like to cancel the transmission?";
constexpr std::string_view kUnitTimeout =
    "Timeout error when waiting for respond from Zandor Unit!!!";
constexpr std::string_view kNonExistantSegment = "Non-existant Segment Error";
constexpr std::string_view kSerialOnly =
    "This update procedure works over a serial port only; the device was reached over TCP/IP.";
constexpr std::string_view kBlockError = "Block Error";
constexpr std::string_view kBlockErrorF6 = "Block Error -- F6(Erase Error)";
constexpr std::string_view kBlockErrorF7 = "Block Error -- F7(Programming Error)";
constexpr std::string_view kBlockErrorF8 = "Block Error -- F8(Block Checking Error)";
constexpr std::string_view kNoProgrammingResult =
    "No programming result from the Zandor Unit for this block.";
constexpr std::string_view kUnitsNotHandedOver =
    "The Zandor Unit did not hand over to the next selected unit; not every unit was updated.";
constexpr std::string_view kMustSelectUnit = "You must select the unit that you want to upgrade!";
constexpr std::string_view kWrongFirmware =
    "This hex file does not contain firmware for this product.\nPlease contact Kelmori Technical "
    "Support for the correct firmware for this product.";
constexpr std::string_view kUnknownCompatibility =
    "VelUpdate is unable to determine if this firmware is designed for your device.\nThis "
    "firmware may not be compatible with it.\nAre you sure you would like to proceed?";
constexpr std::string_view kDeviceInformationSuccess = "Device Information Success";
constexpr std::string_view kDeviceNotResponding = "Device not responding";
constexpr std::string_view kDeviceTypeMismatch = "Device type doesn't match";
constexpr std::string_view kSegmentNotUsed =
    "WARNING:\nThe specified segment is not used in the file.  \nThe segment will be displayed "
    "as erased.";
constexpr std::string_view kUnknown = "<Unknown>";
}  // namespace text

}  // namespace vel
