#pragma once

#include <string>
#include <string_view>

namespace vel {

// Every user-facing text. Texts with a resource id are looked up by it; the GUI and the
// command-line tool show the same words.
namespace ids {
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
}  // namespace ids

// The text of a resource id, or "Resource String Load Error" for an id the table lacks.
std::string LoadString(int id);

namespace text {
constexpr std::string_view kResourceLoadError = "Resource String Load Error";
constexpr std::string_view kSegmentNotUsed =
    "WARNING:\nThe specified segment is not used in the file.  \nThe segment will be displayed "
    "as erased.";
constexpr std::string_view kUnknown = "<Unknown>";
}  // namespace text

}  // namespace vel
