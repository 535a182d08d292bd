// Every golden transcript keeps the framed transfer's rules when read on its own, and the reader
// names each fault put into a real transcript.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "support/Files.h"
#include "wire/GoldenScenarios.h"
#include "wire/TranscriptReader.h"

namespace zandor::wire {
namespace {

// The *.txt files directly in the golden directory (a subfolder holds other formats).
std::vector<std::string> GoldenFileNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ZANDOR_GOLDEN_DIR)) {
    if (entry.is_regular_file() && entry.path().extension() == ".txt") {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

const GoldenScenario* ScenarioNamed(const std::string& name) {
  for (const auto& scenario : GoldenScenarios()) {
    if (scenario.name == name) return &scenario;
  }
  return nullptr;
}

// The procedures a scenario's exchange may send: by its action, then the "T<n>" its name holds,
// which its family must take, else every procedure of its family (the Dravik family's two
// differ by the device's auxiliary version). None, with *why set, when the scenario fits none.
std::vector<Procedure> ProceduresOf(const GoldenScenario& scenario, std::string* why) {
  if (scenario.action == vel::Action::kCheck) return {Procedure::kIdentifyOnly};
  if (scenario.action == vel::Action::kUnformatted) return {Procedure::kUnformatted};
  if (scenario.action == vel::Action::kVantrel) return {Procedure::kT1};
  static const std::map<std::string, std::vector<Procedure>> kTaken = {
      {"matrix", {Procedure::kT1}},     {"kesta128", {Procedure::kT2}},
      {"dravik-ypc", {Procedure::kT2}}, {"dravik", {Procedure::kT3, Procedure::kT4}},
      {"station", {Procedure::kT6}},    {"dravik-ypk", {Procedure::kT7}},
      {"dravik-ypa", {Procedure::kT8}}, {"hub", {Procedure::kT9}},
      {"tzt", {Procedure::kT10}},       {"xxx", {Procedure::kT11}},
      {"multi", {Procedure::kT12}},     {"loader", {Procedure::kT13}}};
  const auto taken = kTaken.find(scenario.family);
  if (taken == kTaken.end()) {
    *why = "no procedure known for the family " + scenario.family;
    return {};
  }
  std::optional<Procedure> named;
  std::istringstream words(scenario.name);
  for (std::string word; std::getline(words, word, '-');) {
    if (!named) named = ProcedureNamed(word);
  }
  if (named) {
    if (std::find(taken->second.begin(), taken->second.end(), *named) == taken->second.end()) {
      *why = "the family " + scenario.family + " does not take the procedure its name gives";
      return {};
    }
    return {*named};
  }
  return taken->second;
}

class GoldenReading : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenReading, EveryWriteKeepsTheTransferRules) {
  const std::string text =
      vel::testing::ReadFile(std::string(ZANDOR_GOLDEN_DIR) + "/" + GetParam());
  std::string error;
  const auto transcript = ParseTranscript(text, &error);
  ASSERT_TRUE(transcript) << GetParam() << ": " << error;
  const GoldenScenario* scenario = ScenarioNamed(transcript->scenario);
  ASSERT_NE(scenario, nullptr) << GetParam() << ": no scenario " << transcript->scenario;
  std::string why;
  const auto procedures = ProceduresOf(*scenario, &why);
  ASSERT_FALSE(procedures.empty()) << GetParam() << ": " << why;
  const std::vector<int> lines = EventLines(text);
  ASSERT_EQ(lines.size(), transcript->events.size());
  constexpr std::size_t kShown = 20;
  // Read as the procedure it keeps best.
  std::vector<ReaderFault> faults = ReadTranscript(*transcript, procedures.front());
  for (const Procedure procedure : procedures) {
    auto read = ReadTranscript(*transcript, procedure);
    if (read.size() < faults.size()) faults = std::move(read);
  }
  std::ostringstream broken;
  for (std::size_t i = 0; i < faults.size() && i < kShown; ++i) {
    broken << GetParam() << ":" << lines[faults[i].event] << ": " << faults[i].rule << "\n";
  }
  EXPECT_TRUE(faults.empty()) << faults.size() << " writes break a rule:\n" << broken.str();
}

INSTANTIATE_TEST_SUITE_P(Transcripts, GoldenReading, ::testing::ValuesIn(GoldenFileNames()),
                         [](const auto& info) {
                           std::string name = info.param.substr(0, info.param.size() - 4);
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// Faults put into real transcripts: the reader names each at the write that holds it.
class ReaderFaults : public ::testing::Test {
 protected:
  static Transcript Load(const std::string& name) {
    std::string error;
    auto transcript =
        ParseTranscript(vel::testing::ReadFile(ZANDOR_GOLDEN_DIR "/" + name + ".txt"), &error);
    if (!transcript) ADD_FAILURE() << name << ": " << error;
    return transcript ? *transcript : Transcript{};
  }

  // The index of the n-th write (from 0) the predicate takes.
  static std::size_t Write(const Transcript& t,
                           const std::function<bool(const std::vector<std::uint8_t>&)>& takes,
                           int n = 0) {
    for (std::size_t i = 0; i < t.events.size(); ++i) {
      if (t.events[i].kind == Kind::kWrite && takes(t.events[i].bytes) && n-- == 0) return i;
    }
    ADD_FAILURE() << "no such write";
    return 0;
  }

  static bool IsRecord(const std::vector<std::uint8_t>& b) { return b.size() == 21; }
  static bool IsEndOfBlock(const std::vector<std::uint8_t>& b) {
    return b == std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x01, 0xFF};
  }

  // The frame's last byte made right again, so that only the fault put in remains.
  static void Reseal(std::vector<std::uint8_t>& frame) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) sum += frame[i];
    frame.back() = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
  }

  // The first fault the reader names is at `event` and speaks of `words`.
  static void ExpectFirstFault(const Transcript& t, Procedure procedure, std::size_t event,
                               const std::string& words) {
    const auto faults = ReadTranscript(t, procedure);
    ASSERT_FALSE(faults.empty()) << "no fault found; expected: " << words;
    EXPECT_EQ(faults.front().event, event) << faults.front().rule;
    EXPECT_NE(faults.front().rule.find(words), std::string::npos) << faults.front().rule;
  }
};

TEST_F(ReaderFaults, FramesAndBlocks) {
  {  // one data bit of a record, its checksum left as it was
    Transcript t = Load("T1-clean");
    const std::size_t at = Write(t, IsRecord, 5);
    t.events[at].bytes[9] ^= 0x01;
    ExpectFirstFault(t, Procedure::kT1, at, "frame checksum");
  }
  {  // a record at page 64 of a 64-page block
    Transcript t = Load("T1-clean");
    const std::size_t at = Write(t, IsRecord, 5);
    t.events[at].bytes[1] = 0x40;
    Reseal(t.events[at].bytes);
    ExpectFirstFault(t, Procedure::kT1, at, "outside the 64 pages the block announced");
  }
  {  // a record of segment addressing that leaves the block its first record opened
    Transcript t = Load("T12-clean");
    const std::size_t at = Write(t, IsRecord, 3);
    t.events[at].bytes[1] = 0x40;
    Reseal(t.events[at].bytes);
    ExpectFirstFault(t, Procedure::kT12, at, "lies outside its block 0x0000 to 0x3FFF");
  }
  {  // a record written again after the end-of-block frame
    Transcript t = Load("T1-clean");
    const std::size_t end = Write(t, IsEndOfBlock);
    const Event record = t.events[end - 2];
    t.events.insert(t.events.begin() + end + 1, record);
    ExpectFirstFault(t, Procedure::kT1, end + 1, "record frame outside an announced block");
  }
  {  // the last record of the first block left out
    Transcript t = Load("T1-clean");
    const std::size_t end = Write(t, IsEndOfBlock);
    t.events.erase(t.events.begin() + end - 2, t.events.begin() + end);
    ExpectFirstFault(t, Procedure::kT1, end - 2, "after 1023 of the block's 1024 records");
  }
  {  // a record sent twice though the first copy was acknowledged
    Transcript t = Load("T1-clean");
    const std::size_t at = Write(t, IsRecord, 7);
    const std::vector<Event> sent(t.events.begin() + at, t.events.begin() + at + 2);
    t.events.insert(t.events.begin() + at + 2, sent.begin(), sent.end());
    ExpectFirstFault(t, Procedure::kT1, at + 2, "a frame sent again after it was acknowledged");
  }
  {  // the page-range block-ID frames of the first procedure read as those of another
    const Transcript t = Load("T1-clean");
    const std::size_t at = Write(t, [](const auto& b) { return b.size() == 7; });
    ExpectFirstFault(t, Procedure::kT12, at, "does not announce a segment");
  }
}

TEST_F(ReaderFaults, ResentRecordsAndBlanks) {
  {  // a record the device did not acknowledge goes again with another byte
    Transcript t = Load("T1-acks-lost-and-garbled");
    std::size_t again = 0;
    for (std::size_t i = 0, last = 0; i < t.events.size() && !again; ++i) {
      if (t.events[i].kind != Kind::kWrite || !IsRecord(t.events[i].bytes)) continue;
      if (last && t.events[last].bytes == t.events[i].bytes) again = i;
      last = i;
    }
    ASSERT_NE(again, 0u) << "the transcript sends no record twice";
    t.events[again].bytes[12] ^= 0x80;
    Reseal(t.events[again].bytes);
    ExpectFirstFault(t, Procedure::kT1, again, "sent again with other bytes");
  }
  {  // a record whose acknowledgement was lost goes again: the checksum frame must count it
     // twice, so the clean run's sum no longer holds
    Transcript t = Load("T7-clean");
    const std::size_t at = Write(t, IsRecord, 9);
    const Event record = t.events[at];
    t.events[at + 1] = ReadEvent({}, 1, false);
    t.events.insert(t.events.begin() + at + 2, {record, ReadEvent({0xFA}, 1, false)});
    const std::size_t checksum =
        Write(t, [](const auto& b) { return b.size() == 5 && b[3] == 0x06; });
    ExpectFirstFault(t, Procedure::kT7, checksum, "the records sent sum to");
  }
  {  // a blank record of the 128 KiB procedure sent as 0xFF instead of zeros
    Transcript t = Load("T2-clean");
    const std::size_t at = Write(t, [](const auto& b) {
      return b.size() == 21 &&
             std::all_of(b.begin() + 4, b.end() - 1, [](auto x) { return x == 0; });
    });
    std::fill(t.events[at].bytes.begin() + 4, t.events[at].bytes.end() - 1, 0xFF);
    Reseal(t.events[at].bytes);
    ExpectFirstFault(t, Procedure::kT2, at, "sent as 0xFF where blanks go as zero bytes");
  }
}

TEST_F(ReaderFaults, ChecksumAndUnitSelectFrames) {
  const auto isChecksumFrame = [](const auto& b) { return b.size() == 5 && b[3] == 0x06; };
  for (const auto& [name, procedure] :
       {std::pair{"T7-clean", Procedure::kT7}, std::pair{"T4-clean", Procedure::kT4}}) {
    Transcript t = Load(name);
    const std::size_t at = Write(t, isChecksumFrame);
    ++t.events[at].bytes[2];
    Reseal(t.events[at].bytes);
    ExpectFirstFault(t, procedure, at, "the records sent sum to");
  }
  {  // the phase's checksum frame left out before its run frame
    Transcript t = Load("T7-clean");
    const std::size_t at = Write(t, isChecksumFrame);
    t.events.erase(t.events.begin() + at);
    const std::size_t run = Write(t, [](const auto& b) { return b.size() == 5 && b[3] == 0x05; });
    ExpectFirstFault(t, Procedure::kT7, run, "whose checksum frame was not sent");
  }
  const auto isUnitSelect = [](const auto& b) { return b.size() == 12 && b[0] == 0xE7; };
  {
    Transcript t = Load("T12-clean");
    const std::size_t at = Write(t, isUnitSelect);
    t.events[at].bytes[11] ^= 0x01;
    ExpectFirstFault(t, Procedure::kT12, at, "unit-select checksum");
  }
  {  // a serial number other than the device's, the frame's checksum made right
    Transcript t = Load("T12-clean");
    const std::size_t at = Write(t, isUnitSelect);
    ++t.events[at].bytes[6];
    --t.events[at].bytes[11];
    ExpectFirstFault(t, Procedure::kT12, at, "bytes 4 to 8 are not the first five");
  }
  {  // an information block whose checksum fails, taken all the same
    Transcript t = Load("T12-clean");
    const std::size_t answer =
        Write(t, [](const auto& b) { return b.size() == 1 && b[0] == 0xFA; });
    ASSERT_EQ(t.events[answer - 2].kind, Kind::kRead);  // the block's checksum byte
    ++t.events[answer - 2].bytes.back();
    ExpectFirstFault(t, Procedure::kT12, answer, "a broken information block answered 0xFA");
  }
  {  // a transfer frame in an information-only exchange
    Transcript t = Load("check-matrix");
    t.events.push_back(BytesEvent(Kind::kWrite, {0x00, 0x00, 0x00, 0x05, 0xFB}));
    ExpectFirstFault(t, Procedure::kIdentifyOnly, t.events.size() - 1, "sends no firmware");
  }
}

TEST_F(ReaderFaults, UnformattedTextLines) {
  const auto isLine = [](const auto& b) { return b.size() > 1 && b[0] == ':'; };
  {  // one hex digit of a line's data changed
    Transcript t = Load("unformatted-line-again");
    const std::size_t at = Write(t, isLine, 2);
    t.events[at].bytes[12] = t.events[at].bytes[12] == '0' ? '1' : '0';
    ExpectFirstFault(t, Procedure::kUnformatted, at, "text line checksum");
  }
  {  // the line 0xFA asked for again replaced by the next one
    Transcript t = Load("unformatted-line-again");
    std::size_t again = 0;
    for (std::size_t i = 1; i < t.events.size() && !again; ++i) {
      if (t.events[i].kind == Kind::kRead && t.events[i].bytes == std::vector<std::uint8_t>{0xFA}) {
        again = i + 1;
      }
    }
    ASSERT_NE(again, 0u);
    t.events.erase(t.events.begin() + again, t.events.begin() + again + 2);
    ExpectFirstFault(t, Procedure::kUnformatted, again, "0xFA asked for the line again");
  }
}

}  // namespace
}  // namespace zandor::wire
