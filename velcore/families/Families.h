#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vel {

// The transfer procedures, named for what they send. The comment gives each one's number in
// the protocol description (T1 to T13, T5 unused).
enum class Procedure {
  kPageRangeImage64k,         // T1: four page-range blocks of segment 0xFF
  kImage128k,                 // T2: segments 254 and 255, blank records as zeros
  kDravikImage128k,           // T3: the 0x1B handshake (YPB), then segments 254 and 255
  kDravikSectorsThenImage,    // T4: the 0x1F handshake, six 1 KiB sectors, a checksum, the image
  kUserStationRegions,        // T6: every image slot as a region of 1 KiB page-range blocks
  kShortBlocks,               // T7: 128-byte blocks of segment 0xFF with a 16-bit checksum
  kShortBlocksThenImage128k,  // T8: as T7, the 0x1B echo, then slot 1 as T2
  kHubShortBlocks,            // T9: 128-byte blocks up to the image's top, checksum, restart pause
  kPageRangeThenImage128k,    // T10: as T1, three bytes, then slot 1 as 128 KiB
  kSegmentsThenImage128k,     // T11: segments 0 to 3 up to the top, five bytes, then slot 1
  kUnitImages,                // T12: each selected unit's image, handed over unit by unit
  kLoaderImages,              // T13: slot 0, the loader's 27-byte reply, then slot 1
};

// How an update of a file begins.
enum class Start {
  kIdentify,       // the speed and protocol search, then identification
  kWake,           // a wake byte at 9600 baud, answered with itself; no identification
  kHubStartBytes,  // ten 0xBB, then identification with 0x1B
};

// What an identified device (its unit 0's family) takes of a file not of the multi-unit family.
struct Choice {
  Procedure procedure = Procedure::kPageRangeImage64k;
  // Taken instead when the device's auxiliary version 2 differs from the file's.
  Procedure otherAuxiliaryVersion = procedure;
  // "You are trying to download 64k software to 128k system. ..."
  bool refused = false;
  // The device's serial number is written into the image before it goes.
  bool serialNumberIntoImage = false;
};

// One device type code: its names, how a file of it is updated, and what a device of it is.
struct Family {
  std::string_view code;
  std::size_t length;            // characters compared (some families are told by two)
  std::string_view displayName;  // the unit labels' name; empty: "<Unknown>"
  std::string_view caption;      // the update button's caption for a file of it; empty: none
  bool multiUnitFile = false;    // a file of it takes the multi-unit procedures
  Start start = Start::kIdentify;
  std::uint8_t wakeByte = 0;                  // Start::kWake
  Procedure started = Procedure::kImage128k;  // what follows kWake or kHubStartBytes
  // A device whose unit 0 is of this code.
  Choice small{};
  Choice large{Procedure::kImage128k, Procedure::kImage128k, false, true};
  bool segmentsThenImage = false;     // with a multi-unit file: segments 0 to 3, then slot 1 (T11)
  bool topSegmentStartsHigh = false;  // its memory maps start the top segment at 255
  bool noHandshake = false;           // takes its 128 KiB image without the 0x1B handshake
  // Its unit 0 takes a file that starts with a loader image as loader, then image (T13).
  bool unitZeroTakesLoader = false;
  // Its file holds a loader image in slot 0 before the unit's image in slot 1.
  bool fileStartsWithLoader = false;
  // As a file's second image: the loader unit 0 is handed over to, image by image.
  bool loaderHandover = false;
  // Its file carries a second record block without metadata right behind the first.
  bool twoRecordBlocks = false;
  // Its device waits a moment before it takes the answer to its information block.
  bool answersAfterPause = false;
  // Its device keeps no serial number.
  bool noSerialNumber = false;
  std::string_view deviceColumnName{};  // the version check's device column; empty: the name
  std::string_view fileColumnName{};    // the version check's file column; empty: the name
};

// The family of a code: the first row whose code matches, or the row for codes of no family.
const Family& FamilyOf(std::string_view code);
// Every row, in the order FamilyOf tries them.
std::span<const Family> AllFamilies();
// Whether a unit of one code takes an image of the other: the same code, a G4, G5 or G6 and
// another of them, or a KestaS unit and a KestaS+Loader image.
bool CodesAreKin(std::string_view unitCode, std::string_view imageCode);

}  // namespace vel
