#pragma once

#include <string>
#include <string_view>

namespace vel {

// Every user-facing text. Texts with a resource id are looked up by it; the GUI and the
// command-line tool show the same words.
// Status codes of a device check that are not text ids: the device list shows a text of its own
// for each.
namespace status {
constexpr int kCheckAccepted = 1;   // "Device Information Success"
constexpr int kCheckNoAnswer = -1;  // "Device not responding"
constexpr int kCheckDeclined = -3;  // "Device type doesn't match"
constexpr int kDeviceCurrent = -4;  // "Device already holds the file's firmware"
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
constexpr int kUnitNotSelected = 30009;
constexpr int kDefectUnknownType = 30021;
constexpr int kDefectWrapsSegment = 30022;
constexpr int kDefectTrailingText = 30023;
constexpr int kDefectOverlap = 30024;
constexpr int kDefectNoMetadata = 30025;
}  // namespace ids

// Whether an update's status code says the device took the file.
constexpr bool IsUpdateSuccess(int statusCode) {
  return statusCode == ids::kUpdateSuccessful || statusCode == ids::kTransmissionCompleted;
}

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
constexpr std::string_view kSessionNotRecorded = "Session record not written: ";
constexpr std::string_view kUpdateInterrupted =
    "The update was interrupted: the device may hold part of the new firmware. Run the update "
    "again.";
constexpr std::string_view kBlockErrorF6 = "Block Error -- F6(Erase Error)";
constexpr std::string_view kBlockErrorF7 = "Block Error -- F7(Programming Error)";
constexpr std::string_view kBlockErrorF8 = "Block Error -- F8(Block Checking Error)";
constexpr std::string_view kNoProgrammingResult =
    "No programming result from the Zandor Unit for this block.";
constexpr std::string_view kUnitsNotHandedOver =
    "The Zandor Unit did not hand over to the next selected unit; not every unit was updated.";
constexpr std::string_view kConnectionClosed =
    "The Zandor Unit closed the connection; the transfer ends.";
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
constexpr std::string_view kDeviceCurrent = "Device already holds the file's firmware";
constexpr std::string_view kSiteNotReached = "Not reached: the roll-out stopped before this site";
constexpr std::string_view kSegmentNotUsed =
    "WARNING:\nThe specified segment is not used in the file.  \nThe segment will be displayed "
    "as erased.";
constexpr std::string_view kUnknown = "<Unknown>";
constexpr std::string_view kErrorF6Box = "Error updating block:\n\nError Code: F6(Erase Error)";
constexpr std::string_view kErrorF7Box =
    "Error updating block:\n\nError Code: F7(Programming Error)";
constexpr std::string_view kErrorF8Box =
    "Error updating block:\n\nError Code: F8(Block Checking Error)";
constexpr std::string_view kPleaseUpdateAgain = "Please Update again!";
// The hub's own wording, with two blanks before "and".
constexpr std::string_view kTerminatedHub =
    "Transmission Terminated.  Power off and on the Zandor Unit  and try to upload again.";
constexpr std::string_view kTelvikFail = "Telvik Programming Fail";
constexpr std::string_view kUnformattedNotCompleted =
    "File transfer not completed successfully.  Upload will have to be restarted.";
constexpr std::string_view kDravikSerialOnly =
    "Dravik only supports firmware upgrade via serial port";
constexpr std::string_view kSendingVelHexFile = "Sending VelHex File...";
constexpr std::string_view kNoImageForSelectedUnit =
    "No image of the file was chosen for the selected unit; nothing was sent.";
constexpr std::string_view kNoDataAtSegmentZeroOfImage0 =
    "Image 0 holds no data at segment 0; nothing was sent.";
constexpr std::string_view kNo128kImage =
    "The file holds no 128 KiB image (segment 254); nothing was sent.";
constexpr std::string_view kInactiveMessage = "INACTIVE MESSAGE: ";
constexpr std::string_view kFileNotReadAgain = "The firmware file could not be read again: ";
constexpr std::string_view kNotAnAddress = "Not an IP address: ";
constexpr std::string_view kFieldWithSeparator =
    "A device list field cannot contain \"!\": it separates the fields of the list file.";
constexpr std::string_view kFieldTooLong = "A device list field holds at most 255 characters.";
constexpr std::string_view kFieldWithControl =
    "A device list field cannot contain control characters.";
constexpr std::string_view kSerialRowWithKey = "A device on a serial port has no encryption key.";
constexpr std::string_view kNotReachedCanaryRow = "Not reached: the first row did not succeed";
constexpr std::string_view kNotReachedAfterFailure = "Not reached: an earlier row did not succeed";
constexpr std::string_view kEncipheredNoAnswer =
    "the link is enciphered: a device with another key, or with none, does not answer; check the "
    "encryption key";
constexpr std::string_view kStrangeAnswer =
    "the device answered with bytes that are no reply of this exchange: if its link is "
    "enciphered, check the encryption key";
constexpr std::string_view kWalkNotEnded =
    "The walk had not ended when this report was written: what became of the device is unknown.";
}  // namespace text

// Status-line and message formats (printf conversions).
namespace format {
constexpr const char* kNotReachedCanaryRows =
    "Not reached: not all of the first %zu rows succeeded";
constexpr const char* kSendingBlockId = "Sending Hex File : Block %d ID,  Try:";
constexpr const char* kSendingRecordOf24 =
    "Sending Hex File : Block %d/24,  Page %d/64,  Record %d/16,  Try:";
constexpr const char* kSendingRecordOf12 =
    "Sending Hex File : Block %d/12,  Page %d/64,  Record %d/16,  Try:";
constexpr const char* kSendingRecordOf8 =
    "Sending Hex File : Block %d/8,  Page %d/64,  Record %d/16,  Try:";
constexpr const char* kSendingRecordOfN =
    "Sending Hex File : Block %d/%d,  Page %d/64,  Record %d/16,  Try:";
constexpr const char* kSendingRecordOf60 =
    "Sending Hex File : Block %d/60,  Page %d/4,  Record %d/16,  Try:";
constexpr const char* kSendingRegionRecord =
    "Sending Hex File : Region %d/%d,  Block %d/64,  Page %d/4,  Record %d/16,  Try:";
constexpr const char* kSendingVelHexBlockId = "Sending VelHex File : Block %d ID,  Try:";
constexpr const char* kSendingShortRecord =
    "Sending VelHex File : Block %d/%d,  Page %d/1,  Record %d/8,  Try:";
constexpr const char* kSendingSectorRecord =
    "Sending VelHex File : Sector %d/6,Block %d/64,  Page %d/4,  Record %d/16,  Try:";
constexpr const char* kSendingEndOfBlock = "Sending End of Block: Block %d, Try:";
constexpr const char* kWaitingForZandor =
    "Waiting for Zandor Unit to program block.  Timeout: %d s";
constexpr const char* kWaitingForVel2 = "Waiting for Vel 2 to program block.  Timeout: %d s";
constexpr const char* kWaitingMainFirmware =
    "Waiting for Vel to program Main Firmware.  Timeout: %d s";
constexpr const char* kWaitingRcm = "Waiting for Vel to program RCM.  Timeout: %d s";
constexpr const char* kWaitingOsdModule = "Waiting for Vel to program OSD Module.  Timeout: %d s";
constexpr const char* kWaitingRegion =
    "Waiting for programing Region[%d] Block[%d] . Timeout: %d s";
constexpr const char* kWaitingChecksum = "Waiting check checksum: %d s";
constexpr const char* kSendingRecordLine = "Sending Hex File : Record %d/%d";
constexpr const char* kSendingFirstRecordLine = "Sending Hex File : Record 0/%d";
constexpr const char* kUnformattedCompleted =
    "File transfer completed successfully. Number of records written to device:  %d";
constexpr const char* kRegionTimeout =
    "Timeout Error when waiting respond for END of Block Record. Region[%d], Block[%d]";
constexpr const char* kCannotConnect = "Cannot connect to the Zandor Unit: %s";
constexpr const char* kTooManyUnits =
    "Read Error: The device reported %d units; at most %d are supported.";
constexpr const char* kNoDataAtSegmentZero =
    "Image %d holds no data at segment 0; nothing was sent.";
constexpr const char* kNoImageForUnit = "No image was chosen for unit %d.";
constexpr const char* kUnitNotConfirmed =
    "Unit %d did not confirm its selection (answer %s); nothing was sent to it.";
}  // namespace format

}  // namespace vel
