#include "link/SessionRecord.h"

#include <charconv>
#include <sstream>

namespace vel {

namespace {

constexpr std::size_t kMaxHeaderText = 512;  // longer header values are not this program's

// "key value" header lines; false when `line` is not one of them.
bool TakeHeaderLine(const std::string& line, SessionRecord* record) {
  const std::size_t space = line.find(' ');
  if (space == std::string::npos || line.size() - space - 1 > kMaxHeaderText) return false;
  const std::string key = line.substr(0, space);
  const std::string value = line.substr(space + 1);
  if (key == "program") {
    record->program = value;
  } else if (key == "action") {
    record->action = value;
  } else if (key == "link") {
    record->link = value;
  } else if (key == "file") {
    record->file = value;
  } else if (key == "status") {
    const std::size_t digitsEnd = value.find_first_not_of("-0123456789");
    const std::string digits = value.substr(0, digitsEnd);
    // The whole run must be one number: "-" alone or "1-2" is no status.
    int status = 0;
    const auto [end, failure] =
        std::from_chars(digits.data(), digits.data() + digits.size(), status);
    if (digits.empty() || digits.size() > 9 || failure != std::errc() ||
        end != digits.data() + digits.size()) {
      return false;
    }
    record->status = status;
    record->statusText =
        digitsEnd == std::string::npos ? std::string() : value.substr(digitsEnd + 1);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string FormatSession(const SessionRecord& record) {
  std::string out = std::string(kSessionMagic) + " " + std::to_string(kSessionFormat) + "\n";
  out += "program " + record.program + "\n";
  out += "action " + record.action + "\n";
  out += "link " + record.link + "\n";
  if (!record.file.empty()) out += "file " + record.file + "\n";
  out += "status " + std::to_string(record.status) + " " + record.statusText + "\n";
  for (const wire::Event& event : record.events) out += wire::FormatEvent(event) + "\n";
  return out;
}

Expected<SessionRecord> ParseSession(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  const std::string magic = std::string(kSessionMagic) + " ";
  if (!std::getline(lines, line) || line.rfind(magic, 0) != 0) {
    return Result::Failed("not a session record (its first line is not \"" + magic + "N\")");
  }
  if (line != magic + std::to_string(kSessionFormat)) {
    const std::string number = line.substr(magic.size(), 12);
    const bool digits =
        !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
    return Result::Failed("a session record of format " +
                          (digits ? number : std::string("unknown")) +
                          "; this program reads format " + std::to_string(kSessionFormat));
  }
  SessionRecord record;
  bool statusSeen = false;
  int number = 1;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    if (record.events.empty() && line[0] != '@') {
      if (!TakeHeaderLine(line, &record)) {
        return Result::Failed("line " + std::to_string(number) +
                              " is neither a header line nor an event");
      }
      statusSeen = statusSeen || line.rfind("status ", 0) == 0;
      continue;
    }
    auto event = wire::ParseEvent(line);
    if (!event || event->atMs < 0) {
      return Result::Failed("line " + std::to_string(number) + " is not a timed event");
    }
    record.events.push_back(std::move(*event));
  }
  if (!statusSeen || record.link.empty()) {
    return Result::Failed("the header has no link or no status");
  }
  return record;
}

}  // namespace vel
