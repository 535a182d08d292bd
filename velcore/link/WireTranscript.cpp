#include "link/WireTranscript.h"

#include <cstdio>
#include <sstream>

namespace vel::wire {

namespace {

constexpr std::size_t kRunOf = 4;                // equal bytes written as HHxN from this many on
constexpr std::size_t kMaxEventBytes = 0x10000;  // more in one event is not a link's step

std::string Hex(std::uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string FormatBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t run = 1;
    while (i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    if (!out.empty()) out += ' ';
    if (run >= kRunOf) {
      out += Hex(bytes[i]) + "x" + std::to_string(run);
      i += run;
    } else {
      out += Hex(bytes[i]);
      ++i;
    }
  }
  return out;
}

bool ParseBytes(const std::string& text, std::vector<std::uint8_t>* bytes) {
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    if (word.size() < 2) return false;
    unsigned value = 0;
    char tail = 0;
    if (std::sscanf(word.substr(0, 2).c_str(), "%2x%c", &value, &tail) != 1) return false;
    std::size_t count = 1;
    if (word.size() > 2) {
      if (word[2] != 'x') return false;
      try {
        count = std::stoul(word.substr(3));
      } catch (...) {
        return false;
      }
      if (count == 0) return false;
    }
    if (count > kMaxEventBytes - bytes->size()) return false;
    bytes->insert(bytes->end(), count, static_cast<std::uint8_t>(value));
  }
  return true;
}

// Line breaks and backslashes in texts, so that each stays on its line.
std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      out += text[i] == 'n' ? '\n' : text[i];
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string WithoutComment(const std::string& text) {
  const std::size_t hash = text.find(" #");
  std::string kept = hash == std::string::npos ? text : text.substr(0, hash);
  while (!kept.empty() && kept.back() == ' ') kept.pop_back();
  return kept;
}

std::optional<Event> ParseRead(const std::string& line) {
  Event e;
  e.kind = Kind::kRead;
  std::size_t at = 1;
  if (line.size() > 1 && line[1] == 's') {
    e.countdown = true;
    at = 2;
  }
  std::string rest = WithoutComment(line.substr(at));
  const std::size_t of = rest.find("[of ");
  if (of != std::string::npos) {
    try {
      e.asked = std::stoi(rest.substr(of + 4));
    } catch (...) {
      return std::nullopt;
    }
    rest = rest.substr(0, of);
  }
  while (!rest.empty() && rest.back() == ' ') rest.pop_back();
  if (rest != " -" && !ParseBytes(rest, &e.bytes)) return std::nullopt;
  if (of == std::string::npos) e.asked = static_cast<int>(e.bytes.size());
  if (e.asked < static_cast<int>(e.bytes.size()) || e.asked <= 0) return std::nullopt;
  return e;
}

std::optional<Event> ParseEventBody(const std::string& line) {
  Event e;
  const std::string body = line.size() > 2 ? line.substr(2) : std::string();
  switch (line[0]) {
    case '>':
      e.kind = Kind::kWrite;
      return ParseBytes(WithoutComment(body), &e.bytes) && !e.bytes.empty()
                 ? std::optional<Event>(e)
                 : std::nullopt;
    case '<':
      return ParseRead(line);
    case '~':
      e.kind = Kind::kStale;
      return ParseBytes(WithoutComment(body), &e.bytes) && !e.bytes.empty()
                 ? std::optional<Event>(e)
                 : std::nullopt;
    case '!': {
      const std::string what = WithoutComment(body);
      if (what == "connect" || what == "closed") {
        e.kind = what == "connect" ? Kind::kConnect : Kind::kClosed;
        return e;
      }
      if (what.rfind("baud ", 0) == 0) {
        e.kind = Kind::kSpeed;
        e.number = std::atoi(what.c_str() + 5);
        return e.number > 0 ? std::optional<Event>(e) : std::nullopt;
      }
      if (what.rfind("purge", 0) == 0) {
        e.kind = Kind::kPurge;
        return ParseBytes(what.substr(5), &e.bytes) ? std::optional<Event>(e) : std::nullopt;
      }
      return std::nullopt;
    }
    case '=': {
      e.kind = Kind::kPause;
      char name[64] = {};
      int ms = 0;
      if (std::sscanf(body.c_str(), "pause %63s %d ms", name, &ms) != 2) return std::nullopt;
      e.text = name;
      e.number = ms;
      return e;
    }
    case '?':
      e.kind = Kind::kQuestion;
      e.text = body;
      return e;
    case '"':
      e.kind = Kind::kMessage;
      e.text = Unescape(body);
      return e;
    case ':':
      e.kind = Kind::kLog;
      e.text = Unescape(body);
      return e;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Event> ParseEvent(const std::string& line) {
  if (line.empty() || line[0] != '@') {
    return line.empty() ? std::nullopt : ParseEventBody(line);
  }
  const std::size_t space = line.find(' ');
  const std::string digits = line.substr(1, space == std::string::npos ? space : space - 1);
  if (space == std::string::npos || digits.empty() || digits.size() > 12 ||
      digits.find_first_not_of("0123456789") != std::string::npos || space + 1 >= line.size()) {
    return std::nullopt;
  }
  auto event = ParseEventBody(line.substr(space + 1));
  if (event) event->atMs = std::stoll(digits);
  return event;
}

Event BytesEvent(Kind kind, std::vector<std::uint8_t> bytes) {
  Event e;
  e.kind = kind;
  e.bytes = std::move(bytes);
  return e;
}

Event ReadEvent(std::vector<std::uint8_t> bytes, int asked, bool countdown) {
  Event e = BytesEvent(Kind::kRead, std::move(bytes));
  e.asked = asked;
  e.countdown = countdown;
  return e;
}

Event NumberEvent(Kind kind, int number, std::string text) {
  Event e = BytesEvent(kind);
  e.number = number;
  e.text = std::move(text);
  return e;
}

Event TextEvent(Kind kind, std::string text) { return NumberEvent(kind, 0, std::move(text)); }

bool SameStep(const Event& recorded, const Event& seen) {
  if (recorded.kind != seen.kind) return false;
  switch (recorded.kind) {
    case Kind::kRead:
      return recorded.asked == seen.asked && recorded.countdown == seen.countdown;
    case Kind::kPause:
      return recorded.text == seen.text;
    case Kind::kStale:
    case Kind::kPurge:
    case Kind::kConnect:
    case Kind::kClosed:
      return true;  // what arrives is the device's side
    case Kind::kSpeed:
      return recorded.number == seen.number;
    case Kind::kWrite:
      return recorded.bytes == seen.bytes;
    case Kind::kQuestion:
    case Kind::kMessage:
    case Kind::kLog:
      return recorded.text == seen.text;
  }
  return false;
}

std::string FormatEvent(const Event& e) {
  if (e.atMs >= 0) {
    Event untimed = e;
    untimed.atMs = -1;
    return "@" + std::to_string(e.atMs) + " " + FormatEvent(untimed);
  }
  switch (e.kind) {
    case Kind::kWrite:
      return "> " + FormatBytes(e.bytes);
    case Kind::kRead: {
      std::string line = e.countdown ? "<s " : "< ";
      line += e.bytes.empty() ? "-" : FormatBytes(e.bytes);
      if (static_cast<int>(e.bytes.size()) != e.asked)
        line += " [of " + std::to_string(e.asked) + "]";
      if (e.bytes.empty()) {
        line += e.countdown ? "  # one second of a countdown" : "  # the read time-out";
      }
      return line;
    }
    case Kind::kStale:
      return "~ " + FormatBytes(e.bytes);
    case Kind::kPurge:
      return e.bytes.empty() ? "! purge" : "! purge " + FormatBytes(e.bytes);
    case Kind::kSpeed:
      return "! baud " + std::to_string(e.number);
    case Kind::kConnect:
      return "! connect";
    case Kind::kClosed:
      return "! closed";
    case Kind::kPause:
      return "= pause " + e.text + " " + std::to_string(e.number) + " ms";
    case Kind::kQuestion:
      return "? " + e.text;
    case Kind::kMessage:
      return "\" " + Escape(e.text);
    case Kind::kLog:
      return ": " + Escape(e.text);
  }
  return {};
}

std::string FormatTranscript(const Transcript& t) {
  std::string out = "# ZandorUpdate wire transcript\n";
  out += "# scenario: " + t.scenario + "\n";
  out += "# what: " + t.what + "\n";
  out += "# file: " + t.file + "\n";
  out += "# status: " + std::to_string(t.status) + " (" + t.statusText + ")\n";
  for (const Event& e : t.events) out += FormatEvent(e) + "\n";
  return out;
}

std::optional<Transcript> ParseTranscript(const std::string& text, std::string* error) {
  Transcript t;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  bool statusSeen = false;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.rfind("# scenario: ", 0) == 0) t.scenario = line.substr(12);
      if (line.rfind("# what: ", 0) == 0) t.what = line.substr(8);
      if (line.rfind("# file: ", 0) == 0) t.file = line.substr(8);
      if (line.rfind("# status: ", 0) == 0) {
        t.status = std::atoi(line.c_str() + 10);
        statusSeen = true;
      }
      continue;
    }
    const auto event = ParseEvent(line);
    if (!event) {
      *error = "line " + std::to_string(number) + " is not an event: " + line.substr(0, 80);
      return std::nullopt;
    }
    t.events.push_back(*event);
  }
  if (t.scenario.empty() || !statusSeen) {
    *error = "no scenario or status in the header";
    return std::nullopt;
  }
  return t;
}

}  // namespace vel::wire
