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

// Sorted by id for the binary search below.
constexpr std::array kTable{
    Entry{ids::kCancelledTest,
          "Testing loaded hex file: FAILED  \n\nThe testing was cancelled at your request.  The "
          "file should not be used until validated."},
    Entry{ids::kTestingHexFile, "Testing Hex file..."},
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
    Entry{ids::kNonExistentSegment, "Non-existent Segment Error"},
    Entry{ids::kLoadingHexFile, "Loading Hex File..."},
    Entry{ids::kCreatingMemMap, "Creating Memory Map from Hex File..."},
    Entry{ids::kUnexpectedFileFormat, "Unexpected file format."},
};

static_assert(std::is_sorted(kTable.begin(), kTable.end(),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

}  // namespace

std::string LoadString(int id) {
  auto it = std::lower_bound(kTable.begin(), kTable.end(), id,
                             [](const Entry& e, int wanted) { return e.id < wanted; });
  if (it == kTable.end() || it->id != id) return std::string(text::kResourceLoadError);
  return std::string(it->text);
}

}  // namespace vel
