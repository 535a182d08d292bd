#include "wire/GoldenScenarios.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "SimDevice.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "common/Strings.h"
#include "devices/DeviceOperations.h"
#include "engine/VelUpdateDoc.h"
#include "link/KeyText.h"
#include "support/CountingIvSource.h"
#include "support/CutSamples.h"
#include "support/EngineFakes.h"
#include "support/SocketPairDevice.h"
#include "support/TempDir.h"
#include "support/VirtualClock.h"

namespace zandor::wire {

namespace {

using vel::LinkKind;
constexpr std::uint8_t kRefused = 0xFE;

sim::SimUnit Unit(const std::string& type, const std::string& hw, std::uint8_t kind) {
  return sim::SimUnit{kind, type, hw, "100", {}};
}

// Every log line of the engine, while the exchange runs.
class NotingDisplay final : public vel::StatusDisplay {
 public:
  explicit NotingDisplay(EventSink& sink) : sink_(sink) {}
  void AppendMessage(const std::string& line) override {
    if (noting_) sink_.Note(TextEvent(Kind::kLog, line));
  }
  void StartNoting() { noting_ = true; }

 protected:
  void ShowProgress(const vel::ProgressPaint&, const std::string&) override {}
  void HideProgress() override {}
  bool KeepsEveryStatusLine() const override { return false; }
  void LogStatusLine(const std::string&) override {}

 private:
  EventSink& sink_;
  std::atomic<bool> noting_{false};
};

// The scenario's operator: answers as the scenario says, and notes every question and message.
class NotingOperator final : public vel::Operator {
 public:
  NotingOperator(EventSink& sink, const GoldenScenario& scenario) : sink_(sink) {
    answers_.cancelOnSilence = scenario.cancelOnSilence;
    answers_.acceptUnknown = scenario.acceptUnknown;
  }
  void ShowMessage(const std::string& text) override {
    sink_.Note(TextEvent(Kind::kMessage, text));
  }
  bool AskYesNo(vel::Question question, const std::string& text) override {
    const bool yes = answers_.AskYesNo(question, text);
    const std::string asked =
        question == vel::Question::kNotResponding ? "not-responding" : "unknown-compatibility";
    sink_.Note(TextEvent(Kind::kQuestion, asked + (yes ? " yes" : " no")));
    return yes;
  }
  bool ConfirmDevice(vel::ConfirmationRequest& request) override {
    const bool accepted = answers_.ConfirmDevice(request);
    sink_.Note(TextEvent(Kind::kQuestion, accepted ? "confirm accepted" : "confirm declined"));
    return accepted;
  }

 private:
  EventSink& sink_;
  vel::testing::ScriptedOperator answers_;
};

// The samples with each segment cut to its first `bytes`, written once for each length.
const vel::testing::CutSamples& CutSamplesOf(std::size_t bytes) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<vel::testing::CutSamples>> cuts;
  std::lock_guard<std::mutex> lock(mutex);
  auto& cut = cuts[bytes];
  if (!cut) cut = std::make_unique<vel::testing::CutSamples>(bytes);
  return *cut;
}

// The file a scenario made for itself, written once.
std::string MadeFile(const GoldenScenario& scenario) {
  static const vel::testing::TempDir dir;
  const std::string path = dir.File(scenario.name + ".hex");
  if (!std::filesystem::exists(path)) {
    std::ofstream(path, std::ios::binary) << samplegen::Generate(scenario.madeFile).text;
  }
  return path;
}

std::string CutText(std::size_t bytes) {
  return bytes % 0x400 == 0 ? std::to_string(bytes / 0x400) + " KiB"
                            : std::to_string(bytes) + " bytes";
}

GoldenScenario Of(std::string name, std::string what, std::string family, std::string sample,
                  LinkKind link = LinkKind::kSerial) {
  GoldenScenario s;
  s.name = std::move(name);
  s.what = std::move(what);
  s.family = std::move(family);
  s.sample = std::move(sample);
  s.link = link;
  return s;
}

GoldenScenario With(GoldenScenario s, std::function<void(sim::SimConfig&)> device) {
  s.device = std::move(device);
  return s;
}

GoldenScenario Doing(vel::Action action, GoldenScenario s) {
  s.action = action;
  return s;
}

std::vector<GoldenScenario> MakeScenarios() {
  const auto tcp = LinkKind::kTcp;
  const auto blockErrors = [](std::map<int, std::uint8_t> results) {
    return [results](sim::SimConfig& c) { c.faults.blockResults = results; };
  };
  const auto twoUnits = [](sim::SimConfig& c) {
    c.units = {Unit("G4 ", "A1", 0), Unit("G4 ", "B2", 1)};
  };
  // Two units, and a fault of the device.
  const auto twoUnitsWith = [twoUnits](std::function<void(sim::SimFaults&)> fault) {
    return [twoUnits, fault](sim::SimConfig& c) {
      twoUnits(c);
      fault(c.faults);
    };
  };
  std::vector<GoldenScenario> all = {
      // One clean update for each procedure.
      Of("T1-clean",
         "a matrix (G3) takes single-64k.hex with the first procedure: four page-range "
         "blocks of 16 KiB",
         "matrix", "single-64k.hex"),
      Of("T2-clean",
         "a KestaS (N8) takes kesta-128k.hex with the 128 KiB procedure: segments 254 "
         "and 255, blank records as zeros, the serial number in segment 254",
         "kesta128", "kesta-128k.hex"),
      Of("T2-YPC-clean",
         "a Dravik woken with 0x1B at 9600 baud takes dravik-ypc.hex with the 128 "
         "KiB procedure",
         "dravik-ypc", "dravik-ypc.hex"),
      Of("T3-clean",
         "a DravikA (YPB) whose auxiliary version 2 equals the file's takes the 0x1B "
         "handshake and segments 254 and 255",
         "dravik", "dravik-128k.hex"),
      With(Of("T4-clean",
              "a DravikA (YPB) with another auxiliary version takes the 0x1F handshake, "
              "six sectors of 1 KiB blocks with an 8-bit checksum frame, then segments 254 and 255",
              "dravik", "dravik-128k.hex"),
           [](sim::SimConfig& c) {
             c.units[0].auxiliary = {"001", "099"};
           }),
      Of("T6-clean",
         "a user station (H2) takes three regions of 1 KiB page-range blocks, each "
         "region after the first confirmed, then the closing frame",
         "station", "station-three-images.hex"),
      Of("T7-clean",
         "a Dravik woken with 0x1F takes dravik-ypk.hex in 128-byte blocks with a "
         "16-bit checksum frame",
         "dravik-ypk", "dravik-ypk.hex"),
      Of("T8-clean",
         "a Dravik woken with 0x1F takes the 128-byte phase with its checksum, the 0x1B "
         "echo, then slot 1's 128 KiB",
         "dravik-ypa", "dravik-ypa.hex"),
      Of("T9-clean",
         "a hub (JQH) is started with ten 0xBB, identified with 0x1B and takes 128-byte "
         "blocks up to its image's top with a 16-bit checksum, then the 10 s restart pause",
         "hub", "hub-jqh.hex"),
      Of("T10-clean",
         "a Kesta4080 (TZT) takes four page-range blocks, three bytes between the "
         "phases, then slot 1's 128 KiB",
         "tzt", "tzt-two-images.hex"),
      Of("T11-clean",
         "an XXX unit takes segments 0 and 1 up to its image's top, five bytes between "
         "the phases, then slot 1's 128 KiB",
         "xxx", "xxx-two-images.hex"),
      Of("T12-clean",
         "a one-unit multi-unit device (G4) over TCP takes its unit-select frame and "
         "segments 0 and 1 up to the image's top",
         "multi", "multi-unit.hex", tcp),
      With(Of("T12-two-units",
              "a two-unit device over TCP: unit 1 first, then the hand-over (1B, 1B "
              "1B) and unit 0; both unit-select frames 00 00, as the file has one image",
              "multi", "multi-unit.hex", tcp),
           twoUnits),
      Of("T13-clean",
         "a loader (G4 on 0x1B) over TCP takes slot 0, two bytes, the 0x1B escape "
         "answered with 27 bytes, the 0xFA go-ahead, then slot 1",
         "loader", "loader-g5.hex", tcp),
      With(Of("T12-NB-loader",
              "a KestaS+Loader device over TCP: the N8 unit 1 (01 30) takes the NB "
              "image, hands over, and after a 1000 ms pause the G4 unit 0 (01 31) takes image 0, "
              "then the loader's unit-select 01 32 and a 500 ms pause before its run frame",
              "multi", "kesta-nb-loader.hex", tcp),
           [](sim::SimConfig& c) {
             c.units = {Unit("G4 ", "A1", 0), Unit("N8 ", "A1", 1)};
           }),

      // Block results.
      With(Of("T1-block-errors",
              "the first procedure sends a block again from its block-ID frame "
              "after F6, F7 and F8, and logs each",
              "matrix", "single-64k.hex"),
           blockErrors({{1, 0xF6}, {2, 0xF7}, {4, 0xF8}})),
      With(Of("T2-block-error-stops",
              "the 128 KiB procedure stops on F7 with its message box and "
              "status 62505, without the run frame",
              "kesta128", "kesta-128k.hex"),
           blockErrors({{2, 0xF7}})),
      With(Of("T12-F7-restarts-segment",
              "F6 repeats a block; F7 to block 2 of segment 0 sends the segment again from block "
              "0 (going on with segment 1 would leave the block unprogrammed)",
              "multi", "multi-unit.hex", tcp),
           blockErrors({{1, 0xF6}, {3, 0xF7}})),
      With(Of("T10-F7-ends-first-phase",
              "F7 in the first phase of the Kesta4080 procedure ends the "
              "transfer, terminated",
              "tzt", "tzt-two-images.hex"),
           blockErrors({{1, 0xF7}})),
      With(Of("T1-block-keeps-failing",
              "a block that fails ten times in a row ends the transfer "
              "with a line naming it",
              "matrix", "single-64k.hex"),
           blockErrors({{0, 0xF6},
                        {1, 0xF6},
                        {2, 0xF6},
                        {3, 0xF6},
                        {4, 0xF6},
                        {5, 0xF6},
                        {6, 0xF6},
                        {7, 0xF6},
                        {8, 0xF6},
                        {9, 0xF6}})),

      // 0xFD: update again.
      With(Of("T7-FD-ends-incomplete",
              "0xFD to a 128-byte block: \"Please Update again!\", the "
              "transfer ends incomplete",
              "dravik-ypk", "dravik-ypk.hex"),
           blockErrors({{5, 0xFD}})),
      With(Of("T4-FD-skips-sector",
              "0xFD in the Dravik sectors skips the rest of the sector; the "
              "update ends failed without the checksum frame",
              "dravik", "dravik-128k.hex"),
           [](sim::SimConfig& c) {
             c.units[0].auxiliary = {"001", "099"};
             c.faults.blockResults = {{70, 0xFD}};
           }),

      // Acknowledgements lost, damaged, late, twice, or as 0xF4.
      With(Of("T1-acks-lost-and-garbled",
              "unanswered and garbled acknowledgements: the frame goes "
              "again",
              "matrix", "single-64k.hex"),
           [](sim::SimConfig& c) {
             c.faults.lostAckOfFrames = {1, 2, 1030};
             c.faults.corruptAck = 0.002;
           }),
      With(Of("T1-acks-late-and-twice",
              "acknowledgements that come late or twice leave stale "
              "bytes, drained before the next frame",
              "matrix", "single-64k.hex"),
           [](sim::SimConfig& c) {
             c.faults.lateAck = 0.002;
             c.faults.lateByMs = 350;
             c.faults.duplicateAck = 0.004;
           }),
      With(Of("T12-F4-acks",
              "0xF4 acknowledges block-ID and record frames, and reports a "
              "programmed block at once",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.faults.f4Ack = 0.01; }),

      // Unit selection and hand-over.
      With(Of("T12-select-refused",
              "the device answers 0xFE to the first unit-select frame: no "
              "record frame follows, the row fails naming unit 1",
              "multi", "multi-unit.hex", tcp),
           twoUnitsWith([](sim::SimFaults& f) {
             f.selectAnswers = {{0, kRefused}};
           })),
      With(Of("T12-later-select-refused",
              "the second unit refuses its unit-select frame after the "
              "hand-over: unit 0 gets nothing, the row fails",
              "multi", "multi-unit.hex", tcp),
           twoUnitsWith([](sim::SimFaults& f) {
             f.selectAnswers = {{1, kRefused}};
           })),
      With(Of("T12-no-hand-over",
              "the device does not hand over to the second unit: five empty "
              "reads, the row fails",
              "multi", "multi-unit.hex", tcp),
           twoUnitsWith([](sim::SimFaults& f) { f.noHandOver = true; })),

      // Silence and cancel.
      With(Of("T1-silence-question",
              "the device falls silent: after 20 tries the operator is "
              "asked and cancels",
              "matrix", "single-64k.hex"),
           [](sim::SimConfig& c) { c.faults.silenceFromFrame = 40; }),
      With(Of("T1-programming-silence",
              "no result within the 60 one-second reads of the "
              "programming wait: the block fails",
              "matrix", "single-64k.hex"),
           [](sim::SimConfig& c) { c.faults.lostResults = {0}; }),
      With(Of("T12-link-silence-question",
              "silence on the either-link sender: the question every "
              "10 tries, Yes ends the row failed",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.faults.silenceFromFrame = 30; }),

      // Handshakes and phase steps.
      With(Of("T3-handshake-missing", "no echo of the 0x1B handshake: terminated", "dravik",
              "dravik-128k.hex"),
           [](sim::SimConfig& c) { c.faults.noEcho = true; }),
      With(Of("T8-echo-missing",
              "no 0x1B echo between the phases: three escapes, then a "
              "connection error",
              "dravik-ypa", "dravik-ypa.hex"),
           [](sim::SimConfig& c) { c.faults.noEcho = true; }),
      With(Of("T2-YPC-wake-unanswered",
              "a Dravik that answers another wake byte: six tries at 9600 "
              "baud, then a connection error",
              "dravik-ypc", "dravik-ypc.hex"),
           [](sim::SimConfig& c) { c.wakeByte = 0x1F; }),
      With(Of("T7-checksum-refused",
              "the 16-bit checksum refused: the run frame still goes, "
              "\"Telvik Programming Fail\"",
              "dravik-ypk", "dravik-ypk.hex"),
           [](sim::SimConfig& c) { c.faults.rejectChecksum = true; }),
      With(Of("T9-checksum-refused",
              "the hub refuses its checksum: the run frame goes, "
              "\"Telvik Programming Fail\", and the 10 s restart pause "
              "still passes before the port closes",
              "hub", "hub-jqh.hex"),
           [](sim::SimConfig& c) { c.faults.rejectChecksum = true; }),
      With(Of("T4-checksum-refused",
              "the sectors' 8-bit checksum refused with 0xFE: the wait ends "
              "at once, no run frame, no second phase",
              "dravik", "dravik-128k.hex"),
           [](sim::SimConfig& c) {
             c.units[0].auxiliary = {"001", "099"};
             c.faults.rejectChecksum = true;
           }),
      With(Of("T6-region-unconfirmed",
              "the second region's run frame is not confirmed: 60 "
              "one-second reads, then the timeout message",
              "station", "station-three-images.hex"),
           [](sim::SimConfig& c) { c.faults.noRegionAck = true; }),
      With(Of("T13-loader-reply-missing",
              "no 27-byte reply to the loader's escape: ten tries, "
              "terminated with status 61471",
              "loader", "loader-g5.hex", tcp),
           [](sim::SimConfig& c) { c.faults.noLoaderReply = true; }),

      // Identification.
      With(Of("identify-busy", "a busy device (0xFB four times) over TCP: \"System busy!\"",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.faults.busy = true; }),
      With(Of("identify-broken-blocks",
              "two broken information blocks: 0xFE once, 0x1C after the "
              "second, then the next pass reads a good one",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.faults.badInfoBlocks = 2; }),
      With(Of("identify-declined",
              "a unit whose hardware no image lists: the device is declined "
              "(0xFC), nothing is sent",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.units = {Unit("G4 ", "Z9", 0)}; }),
      With(Of("identify-no-answer-serial",
              "no answer at any speed: twelve attempts at 38400, 19200 "
              "and 9600 baud, two each of 0x1D and 0x1B, each pass ended with 0x1C",
              "matrix", "single-64k.hex"),
           [](sim::SimConfig& c) { c.protocols = {}; }),
      With(Of("identify-no-answer-tcp", "no answer over TCP: two attempts, 0x1D then 0x1B", "multi",
              "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.protocols = {}; }),
      With(Of("T12-unit-left-out",
              "a two-unit device whose unit 0 no image fits: unit 1 is "
              "updated, unit 0 left out",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) {
             c.units = {Unit("G4 ", "Z9", 0), Unit("G4 ", "B2", 1)};
           }),

      // A connection the device closed.
      With(Of("T12-connection-closed",
              "the device closes the connection mid-transfer: the row "
              "ends at once",
              "multi", "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.faults.disconnectAtFrame = 100; }),
  };

  // Identification: each single-unit reply, the serial-only reply, the read errors and the
  // units' kinds in their unit-select frames.
  const auto checking = [](GoldenScenario s) { return Doing(vel::Action::kCheck, std::move(s)); };
  const auto replying = [](std::uint8_t reply) {
    return [reply](sim::SimConfig& c) { c.singleUnitReply = reply; };
  };
  for (const std::uint8_t reply : {0xC4, 0xC5, 0xC7, 0xC8, 0xC9}) {
    char name[32];
    std::snprintf(name, sizeof name, "identify-single-%02X", reply);
    char what[96];
    std::snprintf(what, sizeof what,
                  "a single-unit matrix replies 0x%02X: its block without unit count or header, "
                  "answered 0xFC",
                  reply);
    all.push_back(checking(With(Of(name, what, "matrix", "single-64k.hex"), replying(reply))));
  }
  all.push_back(
      checking(With(Of("identify-CA-serial",
                       "a device replying 0xCA on a serial line: one block, answered 0xFC "
                       "in an information-only run",
                       "matrix", "single-64k.hex"),
                    replying(0xCA))));
  all.push_back(
      checking(With(Of("identify-CA-ignored-on-tcp",
                       "0xCA over TCP is no reply: 0x1C after it and after each byte of the "
                       "block that follows it, then no answer",
                       "multi", "multi-unit.hex", tcp),
                    [](sim::SimConfig& c) {
                      c.multiUnit = false;
                      c.singleUnitReply = 0xCA;
                    })));
  all.push_back(
      checking(With(Of("identify-DNK-waits",
                       "a DNK user station the file does not fit: 1000 ms before the answer "
                       "byte 0xFC",
                       "station", "station-three-images.hex"),
                    [](sim::SimConfig& c) { c.units[0].typeCode = "DNK"; })));
  all.push_back(checking(With(Of("check-serial-invalid",
                                 "Check Device Information on a device whose serial number is 16 "
                                 "times 0xFF: answered 0xFB",
                                 "multi", "multi-unit.hex", tcp),
                              [](sim::SimConfig& c) { c.serialNumber.reset(); })));
  all.push_back(checking(
      With(Of("identify-25-auxiliary",
              "25 auxiliary versions: all 75 bytes read and summed, the block taken", "multi",
              "multi-unit.hex", tcp),
           [](sim::SimConfig& c) { c.units[0].auxiliary = std::vector<std::string>(25, "A01"); })));
  all.push_back(checking(With(Of("identify-short-serial",
                                 "8 of 16 serial-number bytes, then silence: \"Read Error: Not "
                                 "enough bytes received.\" (status 7) each try, 0xFE then 0x1C, "
                                 "and at last no answer",
                                 "multi", "multi-unit.hex", tcp),
                              [](sim::SimConfig& c) { c.faults.shortSerial = 8; })));
  all.push_back(checking(With(Of("identify-missing-parameters",
                                 "4 auxiliary versions promised, 2 bytes sent: \"Read Error: "
                                 "Missing Parameters\" (status 6) each try, 0xFE then 0x1C, and at "
                                 "last no answer",
                                 "multi", "multi-unit.hex", tcp),
                              [](sim::SimConfig& c) {
                                c.units[0].auxiliary = {"001", "002", "003", "004"};
                                c.faults.shortAuxiliary = 2;
                              })));
  for (const std::uint8_t kind : {2, 3}) {
    // The device refuses the frame, so the transcript ends with its bytes.
    all.push_back(
        With(Of("unit-select-kind-" + std::to_string(kind),
                "a unit of kind " + std::to_string(kind) +
                    " and a two-image file: the unit-select frame carries " + std::to_string(kind) +
                    " and 0x30 (refused by the device, "
                    "so nothing follows)",
                "xxx", "xxx-two-images.hex"),
             [kind](sim::SimConfig& c) {
               c.units = {Unit("XXX", "AA", kind)};
               c.faults.selectAnswers = {{0, kRefused}};
             }));
  }

  // Block results and checksums of the procedures that had none recorded.
  all.push_back(With(Of("T11-F7",
                        "F7 in the XXX procedure: to block 1 of segment 0, segment 0 again "
                        "from block 0 (where repeating the block alone would do as well; kept "
                        "as the multi-unit procedure does it); to block 1 of segment 254 in "
                        "the second phase, segment 254 again from block 0",
                        "xxx", "xxx-two-images.hex"),
                     blockErrors({{1, 0xF7}, {7, 0xF7}})));
  all.push_back(
      With(Of("T10-F7-second-phase",
              "F7 to block 2 of segment 254 in the Kesta4080 procedure's second phase: the "
              "box, then segment 254 again from block 0",
              "tzt", "tzt-two-images.hex"),
           blockErrors({{6, 0xF7}})));
  all.push_back(With(Of("T8-checksum-refused",
                        "the 128-byte phase's checksum refused with 0xFE: the run frame, \"Telvik "
                        "Programming Fail\", no second phase",
                        "dravik-ypa", "dravik-ypa.hex"),
                     [](sim::SimConfig& c) { c.faults.rejectChecksum = true; }));
  all.push_back(With(Of("T4-resent-record-checksum",
                        "a record of the Dravik sectors sent again after a lost acknowledgement: "
                        "the checksum frame's sum holds it twice (every record frame built), "
                        "as the device model sums every record it takes, and confirms",
                        "dravik", "dravik-128k.hex"),
                     [](sim::SimConfig& c) {
                       c.units[0].auxiliary = {"001", "099"};
                       c.faults.lostAckOfFrames = {5};
                     }));
  all.push_back(With(Of("T7-resent-record-checksum",
                        "a 128-byte block's record sent again after a lost acknowledgement: the "
                        "checksum frame's sum holds it twice (every record sent), as the "
                        "device model sums every record it takes, and confirms",
                        "dravik-ypk", "dravik-ypk.hex"),
                     [](sim::SimConfig& c) { c.faults.lostAckOfFrames = {5}; }));
  all.push_back(With(Of("T2-serial-number-invalid",
                        "a KestaS without a serial number (16 times 0xFF) takes the 128 KiB "
                        "procedure: the serial number's 16 bytes of segment 254 are 0xFF, "
                        "sent as a blank record of zeros",
                        "kesta128", "kesta-128k.hex"),
                     [](sim::SimConfig& c) { c.serialNumber.reset(); }));
  // Files no sample is: what the engine refuses, and a segment missing from a map.
  const auto made = [](std::string type, std::vector<int> segments,
                       std::vector<std::string> more = {}) {
    samplegen::ImageSpec image;  // without a type: an image that carries no metadata
    if (!type.empty()) {
      image.metadataItems = {"HardwareVersionList = ??", "FirmwareVersion = 200",
                             "DeviceType = " + type};
    }
    image.metadataItems.insert(image.metadataItems.end(), more.begin(), more.end());
    image.segments = std::move(segments);
    image.bytesPerSegment = 0x400;
    return image;
  };
  const auto madeFor = [](GoldenScenario s, std::vector<samplegen::ImageSpec> file) {
    s.madeFile = std::move(file);
    return s;
  };
  all.push_back(madeFor(
      Of("T2-YPC-no-segment-254",
         "a Dravik woken with 0x1B and a YPC file of segment 255 alone: woken, then nothing "
         "sent, the file holds no 128 KiB image",
         "dravik-ypc", "a YPC file of segment 255 (1 KiB)"),
      {made("YPC", {255})}));
  all.push_back(
      madeFor(With(Of("refuse-64k-DNK",
                      "a DNK user station and a 64 KiB DNK image: identified and confirmed, then "
                      "refused, nothing sent",
                      "station", "a DNK file of segment 0 (1 KiB)"),
                   [](sim::SimConfig& c) { c.units[0].typeCode = "DNK"; }),
              {made("DNK", {0})}));
  all.push_back(madeFor(Of("hub-128k-image-not-sent",
                           "a hub and a JQH file of segments 254 and 255: the hub procedure "
                           "sends segment 0xFF alone, so nothing is sent and the message says "
                           "which data would be left out",
                           "hub", "a JQH file of segments 254 and 255 (1 KiB each)"),
                        {made("JQH", {254, 255})}));
  all.push_back(madeFor(
      Of("missing-segment",
         "a DravikA file whose 128 KiB image lacks segment 255: its segment 254 sent, then "
         "\"Non-existent Segment Error\"",
         "dravik", "a YPB file of segment 254 and a sector image of segment 0 (1 KiB each)"),
      {made("YPB", {254}, {"AuxiliaryVersion = 2 100"}), made("", {0})}));

  std::vector<samplegen::ImageSpec> fiveRegions;
  for (int k = 0; k < 5; ++k) {
    samplegen::ImageSpec region = made("\"H2 \"", {0xFF});
    region.seed = 70 + static_cast<std::uint32_t>(k);
    fiveRegions.push_back(region);
  }
  all.push_back(
      madeFor(With(Of("T6-five-regions",
                      "a user station and a file of five images: five regions in turn, each "
                      "after the first confirmed, then the closing frame",
                      "station", "an H2 file of five images of segment 0xFF (1 KiB)"),
                   [](sim::SimConfig& c) { c.regions = 5; }),
              fiveRegions));

  // Answers the frames did not expect.
  all.push_back(With(Of("T12-F4-ends-block",
                        "0xF4 as the direct answer to the second end-of-block frame: the block "
                        "counts as programmed, no programming wait, the next block follows",
                        "multi", "multi-unit.hex", tcp),
                     [](sim::SimConfig& c) { c.faults.f4EndOfBlocks = {1}; }));
  all.push_back(With(Of("T1-protocol-byte-for-ack",
                        "the protocol byte 0x1D in place of a record frame's acknowledgement "
                        "ends the wait for that frame as a failure, and the transfer with it",
                        "matrix", "single-64k.hex"),
                     [](sim::SimConfig& c) { c.faults.protocolByteFrames = {10}; }));
  GoldenScenario stationSilence =
      With(Of("T6-programming-silence",
              "a user station that never reports its first block: the not-responding question "
              "at 40 and at 20 (answered No), then after the 60th read the time-out message "
              "naming region and block, and the end",
              "station", "station-three-images.hex"),
           [](sim::SimConfig& c) { c.faults.lostResults = {0}; });
  stationSilence.cancelOnSilence = false;
  all.push_back(stationSilence);
  GoldenScenario oddHub = With(Of("T9-odd-block-count",
                                  "a hub image whose top address gives an odd count of 128-byte "
                                  "blocks (7): the last block is the first half of its page",
                                  "hub", "hub-jqh.hex"),
                               [](sim::SimConfig&) {});
  oddHub.bytesPerSegment = 0x380;
  all.push_back(oddHub);

  // Information-only runs, the unformatted send, the 64 KiB update, a cancel, an enciphered
  // hand-over.
  all.push_back(
      checking(With(Of("check-multi-unit",
                       "Check Device Information on a three-unit "
                       "device over TCP: answered 0xFC (the serial number is valid), nothing sent",
                       "multi", "multi-unit.hex", tcp),
                    [](sim::SimConfig& c) {
                      c.units = {Unit("G4 ", "A1", 0), Unit("G4 ", "B2", 1), Unit("G6 ", "A1", 2)};
                    })));
  all.push_back(checking(Of("check-matrix",
                            "Check Device Information on a matrix over a "
                            "serial line",
                            "matrix", "single-64k.hex")));
  const auto unformatted = [](GoldenScenario s) {
    return Doing(vel::Action::kUnformatted, std::move(s));
  };
  all.push_back(unformatted(With(Of("unformatted-line-again",
                                    "the unformatted send: each "
                                    "line as text, 0xFE takes it, 0xFA asks for line 3 again",
                                    "matrix", "hub-jqh.hex"),
                                 [](sim::SimConfig& c) { c.faults.repeatLines = {3}; })));
  GoldenScenario unformattedCancel = unformatted(Of("unformatted-cancel",
                                                    "the operator cancels during the unformatted "
                                                    "send: the line in flight is the last",
                                                    "matrix", "hub-jqh.hex"));
  unformattedCancel.cancelAtWrite = 20;
  all.push_back(unformattedCancel);
  all.push_back(unformatted(
      With(Of("unformatted-protocol-byte",
              "the protocol byte 0x1D as the answer to line 4 of the unformatted send ends "
              "the send at once: not completed",
              "matrix", "hub-jqh.hex"),
           [](sim::SimConfig& c) { c.faults.protocolByteLines = {3}; })));
  all.push_back(Doing(vel::Action::kVantrel, Of("vantrel-T1",
                                                "Update Vantrel II: one identification, then "
                                                "the first procedure",
                                                "matrix", "single-64k.hex")));
  GoldenScenario cancel = Of("T1-cancel",
                             "the operator cancels in the second block: the frame "
                             "in flight is the last, terminated",
                             "matrix", "single-64k.hex");
  cancel.cancelAtWrite = 1100;
  all.push_back(cancel);
  GoldenScenario keyed = With(Of("T12-enciphered-two-units",
                                 "an enciphered two-unit device: "
                                 "the 10 s wait after selecting the next unit (recorded "
                                 "deciphered)",
                                 "multi", "multi-unit.hex", tcp),
                              twoUnits);
  keyed.key = "000102030405060708090A0B0C0D0E0F";
  all.push_back(keyed);
  return all;
}

}  // namespace

const std::vector<GoldenScenario>& GoldenScenarios() {
  static const std::vector<GoldenScenario> scenarios = MakeScenarios();
  return scenarios;
}

namespace {

// The engine's settings for an exchange that crosses a real socket.
constexpr int kRawWaitStepMs = 100;  // the read time-out is seven of these (0.8 s, not 2.8 s)
const char* const kRawIvSource =
    "connect k (from 1) sends the bytes k0 k1 ... kF (connect 1: 10 11 ... 1F, connect 2: "
    "20 21 ... 2F)";

// What the engine noted while no one keeps it.
class IgnoredEvents final : public EventSink {
 public:
  void Note(Event) override {}
};

// Runs the scenario's operation: the display's log lines and the operator's questions and
// messages go to `sink`; `peer`, when given, plays or relays the device, else the engine uses its
// own TCP link, set up by `prepareTcp`.
int RunScenario(const GoldenScenario& scenario, EventSink& sink, ScenarioPeer* peer,
                bool realPauses, vel::Clock* clock,
                const std::function<void(vel::TcpLink&)>& prepareTcp) {
  NotingDisplay display(sink);
  NotingOperator op(sink, scenario);
  vel::CVelUpdateDoc doc(display, op);
  // The samples cut short (1 KiB a segment unless the scenario says otherwise): every
  // procedure's whole exchange, mostly blank records.
  const std::string path = scenario.madeFile.empty()
                               ? CutSamplesOf(scenario.bytesPerSegment).Path(scenario.sample)
                               : MadeFile(scenario);
  if (!doc.OnOpenDocument(path).ok()) throw std::runtime_error("cannot load " + path);
  doc.SetSerialNumberOptional(scenario.serialNumberOptional);
  if (!realPauses) doc.Timing() = vel::EngineTiming{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if (clock != nullptr) doc.SetClock(*clock);
  doc.SetLinkKind(scenario.link);
  if (!scenario.key.empty()) doc.SetLinkKey(*vel::KeyDigits(scenario.key));
  if (prepareTcp) prepareTcp(doc.Link().Tcp());
  vel::DisplayState& state = display.State();
  if (peer != nullptr) peer->CancelAt(scenario.cancelAtWrite, [&state] { state.cancel.Request(); });
  display.StartNoting();
  doc.Link().AttachPeer(peer);
  const int status = doc.DispatchUpdate(scenario.action).statusCode;
  doc.Link().AttachPeer(nullptr);
  return status;
}

sim::SimConfig DeviceOf(const GoldenScenario& scenario) {
  sim::SimConfig config;
  if (!sim::ApplyFamily(scenario.family, &config)) {
    throw std::runtime_error("unknown family " + scenario.family);
  }
  if (scenario.device) scenario.device(config);
  return config;
}

std::string FileOf(const GoldenScenario& scenario) {
  return scenario.madeFile.empty()
             ? scenario.sample + " of samples/, each segment cut to its first " +
                   CutText(scenario.bytesPerSegment)
             : scenario.sample;
}

std::string StatusText(const GoldenScenario& scenario, int status) {
  return scenario.action == vel::Action::kCheck ? vel::CheckStatusText(status)
                                                : vel::UpdateStatusText(status);
}

std::vector<GoldenScenario> MakeEncipheredScenarios() {
  // The plain scenarios kept enciphered, with what their bytes on the socket show.
  const std::map<std::string, std::string> kept = {
      {"T12-clean", "one connection, one IV"},
      {"T13-clean",
       "each identification pass connects again, with a fresh IV, and the 27-byte answer to a "
       "30-byte read moves the receiving stream on"},
  };
  std::vector<GoldenScenario> enciphered;
  for (const GoldenScenario& plain : GoldenScenarios()) {
    const auto found = kept.find(plain.name);
    if (found == kept.end()) continue;
    GoldenScenario s = plain;
    s.what = "enciphered: " + plain.what + "; " + found->second;
    s.key = "2B7E151628AED2A6ABF7158809CF4F3C";
    enciphered.push_back(s);
  }
  return enciphered;
}

}  // namespace

int RunGolden(const GoldenScenario& scenario, ScenarioPeer& peer, bool realPauses,
              vel::Clock* clock) {
  return RunScenario(scenario, peer, &peer, realPauses, clock, nullptr);
}

const std::vector<GoldenScenario>& EncipheredScenarios() {
  static const std::vector<GoldenScenario> scenarios = MakeEncipheredScenarios();
  return scenarios;
}

int RunEnciphered(const GoldenScenario& scenario, int port) {
  IgnoredEvents ignored;
  return RunScenario(scenario, ignored, nullptr, false, nullptr, [port](vel::TcpLink& tcp) {
    vel::TcpEndpoint endpoint;
    vel::MakeEndpoint("127.0.0.1", std::to_string(port), &endpoint);
    tcp.SetEndpoint(endpoint);
    tcp.SetIvSource(vel::testing::CountingIvSource());
    tcp.SetWaitStep(kRawWaitStepMs);
    tcp.SetReconnectPause(0);
  });
}

RawTranscript RecordEnciphered(const GoldenScenario& scenario,
                               std::vector<std::string>* violations) {
  sim::SimConfig device = DeviceOf(scenario);
  device.key = scenario.key;  // the device deciphers what crosses the socket itself
  sim::SimServer server(device);
  RawTranscript transcript;
  transcript.scenario = scenario.name;
  transcript.what = scenario.what;
  transcript.file = FileOf(scenario);
  transcript.key = scenario.key;
  transcript.ivSource = kRawIvSource;
  const int port = server.StartTcp();
  if (port == 0) throw std::runtime_error("the simulator cannot listen on loopback");
  {
    RawWireRelay relay(port);
    transcript.status = RunEnciphered(scenario, relay.Port());
    relay.Stop();
    transcript.connections = relay.Connections();
  }
  server.Stop();
  transcript.statusText = StatusText(scenario, transcript.status);
  *violations = server.Device().Violations();
  return transcript;
}

Transcript RecordGolden(const GoldenScenario& scenario, std::vector<std::string>* violations,
                        std::chrono::milliseconds* clockTime) {
  sim::SimDevice device(DeviceOf(scenario));
  Transcript transcript;
  transcript.scenario = scenario.name;
  transcript.what = scenario.what;
  transcript.file = FileOf(scenario);
  {
    // The device's and the engine's waits pass on a clock of their own: the real pauses are
    // recorded without being sat through.
    vel::testing::VirtualClock clock;
    vel::testing::SocketPairDevice serving(device, &clock);
    TranscriptRecorder recorder(serving.EngineEnd(), clock);
    transcript.status = RunGolden(scenario, recorder, true, &clock);
    transcript.events = recorder.Events();
    if (clockTime != nullptr) *clockTime = clock.Elapsed();
  }
  transcript.statusText = StatusText(scenario, transcript.status);
  *violations = device.Violations();
  return transcript;
}

}  // namespace zandor::wire
