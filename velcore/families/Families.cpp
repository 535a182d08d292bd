// The one table of device type codes.
#include "families/Families.h"

#include <array>

#include "common/Strings.h"
#include "families/TypeCode.h"

namespace vel {

namespace {

constexpr std::string_view kSend = "Send To Zandor";

constexpr Choice Takes(Procedure procedure) { return {procedure, procedure}; }

constexpr Choice kRefused{Procedure::kPageRangeImage64k, Procedure::kPageRangeImage64k, true};

constexpr Family Named(std::string_view code, std::size_t length, std::string_view name,
                       std::string_view caption = {}) {
  Family f{code, length, name, caption};
  return f;
}

constexpr Family MultiUnit(std::string_view code, std::size_t length, std::string_view name) {
  Family f = Named(code, length, name, kSend);
  f.multiUnitFile = true;
  return f;
}

constexpr Family UserStation(std::string_view code, std::size_t length, std::string_view name) {
  Family f = Named(code, length, name, kSend);
  f.small = Takes(Procedure::kUserStationRegions);
  return f;
}

// A Dravik file that wakes its device with `wake` and sends with `procedure`.
constexpr Family Woken(std::string_view code, std::uint8_t wake, Procedure procedure) {
  Family f = Named(code, 3, {});
  f.start = Start::kWake;
  f.wakeByte = wake;
  f.started = procedure;
  return f;
}

constexpr Family Dnk() {
  Family f = Named("DNK", 3, "Zandor User Station", kSend);
  f.small = kRefused;
  f.answersAfterPause = true;
  return f;
}

constexpr Family Tzt() {
  Family f = Named("TZT", 3, "Kesta4080", "Kesta4080");
  f.small = Takes(Procedure::kPageRangeThenImage128k);
  f.twoRecordBlocks = true;
  return f;
}

// A row with one more behaviour switched on.
constexpr Family With(Family f, bool Family::*behaviour) {
  f.*behaviour = true;
  return f;
}

constexpr Family LoaderFile() {
  Family f = With(MultiUnit("G5", 2, "KestaHWIII"), &Family::fileStartsWithLoader);
  f.fileColumnName = "Kesta Loader";
  return f;
}

constexpr Family Hub() {
  Family f = Named("JQH", 3, "G4-NODEBOX", kSend);
  f.start = Start::kHubStartBytes;
  f.started = Procedure::kHubShortBlocks;
  f.large = kRefused;
  f.topSegmentStartsHigh = true;
  f.noSerialNumber = true;
  f.deviceColumnName = "G4-NODE";
  return f;
}

constexpr Family Dravik(std::string_view code, std::string_view name, bool ypd) {
  Family f = Named(code, 3, name);
  // T3 when the auxiliary version 2 agrees with the file's, else T4; YPD takes T3 always.
  f.large = {Procedure::kDravikImage128k,
             ypd ? Procedure::kDravikImage128k : Procedure::kDravikSectorsThenImage};
  f.noHandshake = ypd;
  f.twoRecordBlocks = !ypd;
  if (ypd) f.deviceColumnName = "DravikA-LWN";
  return f;
}

// First match wins: "G3 " and its kin carry a blank as their third character and come before
// the two-character rows.
constexpr std::array<Family, 28> kFamilies{{
    Named("Q7a", 3, "Kelmori Orbex(Type A)", "Kelmori Orbex(Type A)"),
    Named("Q7b", 3, "Kelmori Orbex(Type B)", "Kelmori Orbex(Type B)"),
    Named("W4b", 3, "Partner Orbex(Type B)", "Partner Orbex(Type B)"),
    Named("W4p", 3, "Partner Orbex(Type P)", "Partner Orbex(Type P)"),
    Named("G3 ", 3, "Zandor Matrix", kSend),
    UserStation("H2 ", 3, "Zandor User Station"),
    UserStation("H6 ", 3, "Zandor User Station"),
    UserStation("H7 ", 3, "Zandor User Station"),
    UserStation("RLT", 3, "Pelm User Station"),
    Dnk(),
    MultiUnit("LWN", 3, "Zandor User Station"),
    Named("G3", 2, "Zandor Kesta", kSend),
    UserStation("H2", 2, "Zandor User Station"),
    UserStation("H6", 2, "Zandor User Station"),
    UserStation("H7", 2, "Zandor User Station"),
    With(MultiUnit("G4", 2, "KestaHWIII"), &Family::unitZeroTakesLoader),
    LoaderFile(),
    MultiUnit("G6", 2, "KestaHWIII"),
    Tzt(),
    With(MultiUnit("XXX", 3, "Zandor"), &Family::segmentsThenImage),
    Named("N8", 2, "KestaS"),
    With(Named("NB", 2, "KestaS+Loader"), &Family::loaderHandover),
    Hub(),
    Dravik("YPB", "DravikA", false),
    Dravik("YPD", "Dravik-LWN", true),
    // Files of the Dravik wake families; no device reports these codes.
    Woken("YPC", 0x1B, Procedure::kImage128k),
    Woken("YPK", 0x1F, Procedure::kShortBlocks),
    With(Woken("YPA", 0x1F, Procedure::kShortBlocksThenImage128k), &Family::twoRecordBlocks),
}};

constexpr Family kNoFamily{};

}  // namespace

std::span<const Family> AllFamilies() { return kFamilies; }

bool CodesAreKin(std::string_view unitCode, std::string_view imageCode) {
  if (CodeMatches(unitCode, imageCode, 3)) return true;
  const auto at = [](std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; };
  if (at(unitCode, 0) == 'G' && at(imageCode, 0) == 'G' && at(unitCode, 1) > '3' &&
      at(imageCode, 1) > '3') {
    return true;  // the G4, G5 and G6 families take each other's files
  }
  return CodeMatches(unitCode, "N8", 2) && CodeMatches(imageCode, "NB", 2);
}

const Family& FamilyOf(std::string_view code) {
  for (const Family& family : kFamilies) {
    if (CodeMatches(code, family.code, family.length)) return family;
  }
  return kNoFamily;
}

}  // namespace vel
