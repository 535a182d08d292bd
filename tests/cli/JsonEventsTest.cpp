// Every --json event a run prints is one the published schema (docs/json-events.schema.json)
// describes, checked by an independent validator (python3-jsonschema) on the real output of
// runs that give every kind of event.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>

#include "SimServer.h"
#include "support/Files.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/TestDevice.h"

namespace zandor {
namespace {

using namespace std::chrono_literals;
using vel::testing::Subprocess;
using vel::testing::TestDevice;

const std::string kSource = ZANDOR_SOURCE_DIR;
const std::string kZandor = std::string(ZANDOR_BIN_DIR) + "/zandor";
const std::string kSample = kSource + "/samples/multi-unit.hex";

std::string Tcp(TestDevice& device) { return "tcp:127.0.0.1:" + std::to_string(device.StartTcp()); }

TEST(JsonEvents, EveryEventOfRealRunsFollowsThePublishedSchema) {
  vel::testing::TempDir dir;
  TestDevice plain{sim::SimConfig{}};
  sim::SimConfig strange;
  strange.units = {sim::SimUnit{0, "?? ", "A1", "100", {}}};  // a type no file can judge
  TestDevice unknown{strange};
  TestDevice serial{sim::SimConfig{}};
  const std::string pty = serial.StartPty();
  ASSERT_FALSE(pty.empty());
  // A COM name mapped to the serial device gives a port event; the unknown type a question.
  setenv("ZANDOR_COM_PORTS", ("COM7=" + pty).c_str(), 1);
  Subprocess update(
      {kZandor, "update", kSample, Tcp(plain), Tcp(unknown), "serial:COM7", "--json"});
  const int updated = update.WaitFor(120s).value_or(-1);
  unsetenv("ZANDOR_COM_PORTS");
  EXPECT_EQ(updated, 1) << "the unknown device is declined" << update.err;
  Subprocess refused({kZandor, "check", "tcp:127.0.0.1:1", "--json"});
  EXPECT_EQ(refused.WaitFor(60s).value_or(-1), 1);
  const std::string events = update.out + refused.out;
  const std::string file = dir.File("events.jsonl");
  vel::testing::WriteText(file, events);

  std::set<std::string> kinds;
  const std::regex kind("\"event\":\"([a-z]+)\"");
  for (auto it = std::sregex_iterator(events.begin(), events.end(), kind);
       it != std::sregex_iterator(); ++it) {
    kinds.insert((*it)[1].str());
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"port", "progress", "log", "message", "question",
                                          "versions", "result"}))
      << events;
  Subprocess validate({"/usr/bin/python3", kSource + "/tests/tools/validate_json_events.py",
                       kSource + "/docs/json-events.schema.json", file});
  EXPECT_EQ(validate.WaitFor(60s).value_or(-1), 0) << validate.out << validate.err;
}

// Every JSON a script reads (events, a report, a file's facts, a device list) names its fields in
// snake_case; a former camelCase name is given only beside its snake_case one, with its value.
TEST(JsonNames, EveryFieldAScriptReadsIsSnakeCase) {
  vel::testing::TempDir dir;
  TestDevice device{sim::SimConfig{}};
  const std::string events = dir.File("events.jsonl"), report = dir.File("walk.json");
  Subprocess update({kZandor, "update", kSample, Tcp(device), "--json", "--report", report});
  ASSERT_EQ(update.WaitFor(120s).value_or(-1), 0) << update.err;
  vel::testing::WriteText(events, update.out);
  EXPECT_NE(update.out.find("\"serial_number\":\"SIM0000000000001\""), std::string::npos);

  const std::string info = dir.File("info.json");
  Subprocess facts({kZandor, "info", kSource + "/samples/station-three-images.hex", "--json"});
  ASSERT_EQ(facts.WaitFor(60s).value_or(-1), 0) << facts.err;
  vel::testing::WriteText(info, facts.out);
  EXPECT_NE(facts.out.find("\"image_count\":3"), std::string::npos) << facts.out;

  const std::string list = dir.File("list.txt"), rows = dir.File("rows.json");
  Subprocess add({kZandor, "devices", "--list", list, "add", "--name", "A", "--address", "10.0.0.5",
                  "--port", "5000"});
  ASSERT_EQ(add.WaitFor(60s).value_or(-1), 0) << add.err;
  Subprocess listed({kZandor, "devices", "--list", list, "list", "--json"});
  ASSERT_EQ(listed.WaitFor(60s).value_or(-1), 0) << listed.err;
  vel::testing::WriteText(rows, listed.out);

  Subprocess check({"/usr/bin/python3", kSource + "/tests/tools/check_json_names.py", events,
                    report, info, rows});
  EXPECT_EQ(check.WaitFor(60s).value_or(-1), 0) << check.out << check.err;
}

}  // namespace
}  // namespace zandor
