#include "SimOptions.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "common/SameFile.h"
#include "link/KeyText.h"

namespace sim {

const char* const kSimUsage =
    "usage: zandor-sim (--tcp HOST:PORT | --pty) [options]\n"
    "       zandor-sim --replay FILE (--tcp HOST:PORT | --pty)\n"
    "Device:\n"
    "  --family NAME                      a device of one family: matrix, multi, kesta128,\n"
    "                                     dravik, dravik-ypc, dravik-ypk, dravik-ypa, station,\n"
    "                                     hub, tzt, xxx, loader (default multi)\n"
    "  --unit TYPE,HW,FW[,KIND[,AUX...]]  a unit (repeat for several; default G4 ,A1,100,0)\n"
    "  --single-unit                      answer as a single-unit device (reply 0xC3)\n"
    "  --reply HH                         the single-unit reply byte (C3..C9, CA)\n"
    "  --serial TEXT | --no-serial        the serial number (default SIM0000000000001)\n"
    "  --protocol 1D|1B|both              attention bytes answered (default both)\n"
    "  --key KEY                          encipher the TCP stream (32 hex digits or dashed)\n"
    "  --programming-delay MS             wait before each block result\n"
    "  --block-delay N=MS                 the N-th block closed (from 0) takes MS longer\n"
    "  --answer-delay MS                  wait before every answer\n"
    "  --byte-gap MS                      send an answer's bytes MS apart\n"
    "  --baud N                           pace the line at N baud, 10 bits a byte\n"
    "  --regions N                        a user station's regions (default 3)\n"
    "Faults:\n"
    "  --seed N  --lost-acks P  --corrupt-acks P  --corrupt-frames P  --busy\n"
    "  --late-acks P  --late-by MS        acknowledgements that come after the host gave up\n"
    "  --duplicate-acks P  --f4-acks P    acknowledgements sent twice, or as 0xF4\n"
    "  --block-error N=F6|F7|F8|FD        the N-th block closed (from 0) fails once\n"
    "  --refuse-select N[=HH]             the N-th unit-select frame (from 0) answered HH\n"
    "                                     (default FE; 00: no answer)\n"
    "  --silence-from N  --disconnect-at N  --bad-info-checksum  --short-serial N\n"
    "  --bad-info-blocks N                the first N information blocks have a wrong checksum\n"
    "  --reject-checksum  --no-loader-reply  --no-echo  --no-region-ack  --no-hand-over\n"
    "  --repeat-line N                    ask for text line N (from 0) again, once\n"
    "  --line-delay N=MS                  answer text line N (from 0) only after MS\n"
    "  --power-cut-at FRAME               the power fails when transfer frame FRAME (from 1)\n"
    "                                     arrives: the line drops and the device restarts\n"
    "                                     with what it had programmed\n"
    "  --firmware-after-update FW         the firmware version a unit reports once an update\n"
    "                                     of it ran to its end (default: the version it had)\n"
    "State:\n"
    "  --state FILE                       keep the units, serial number and programmed memory\n"
    "                                     in FILE across restarts (read at start if present)\n"
    "Replay:\n"
    "  --replay FILE                      play the device's side of a session record (zandor\n"
    "                                     --record) in strict order; a host byte that differs\n"
    "                                     from the record is a protocol violation\n"
    "Output:\n"
    "  --record FILE                      write what was programmed, and every protocol\n"
    "                                     violation, when the simulator stops\n"
    "HOST is an IPv4 address or an IPv6 address in brackets ([::1]); PORT 0 takes a free port.\n"
    "It prints \"tcp HOST:PORT\" or \"pty PATH\" when it is ready and runs until killed; each\n"
    "protocol violation is printed on standard error as it is seen.\n";

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool Number(const std::string& text, long long low, long long high, long long* out, int base = 10) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, base);
  if (text.empty() || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

}  // namespace

std::optional<SimUnit> ParseUnitText(const std::string& text, std::string* error) {
  const auto parts = Split(text, ',');
  if (parts.size() < 3) {
    *error = "a unit is TYPE,HW,FW[,KIND[,AUX...]]";
    return std::nullopt;
  }
  SimUnit unit{0, parts[0], parts[1], parts[2], {}};
  long long kind = 0;
  if (parts.size() > 3) {
    if (!Number(parts[3], 0, 3, &kind)) {
      *error = "a unit kind is 0 to 3";
      return std::nullopt;
    }
    unit.kind = static_cast<std::uint8_t>(kind);
  }
  for (std::size_t k = 4; k < parts.size(); ++k) unit.auxiliary.push_back(parts[k]);
  return unit;
}

std::string UnitText(const SimUnit& unit) {
  std::string text =
      unit.typeCode + "," + unit.hardware + "," + unit.firmware + "," + std::to_string(unit.kind);
  for (const std::string& aux : unit.auxiliary) text += "," + aux;
  return text;
}

bool ApplyFamily(const std::string& name, SimConfig* config) {
  const auto single = [config](const std::string& type, const std::string& hw) {
    config->multiUnit = false;
    config->units = {SimUnit{0, type, hw, "100", {}}};
  };
  if (name == "multi") {
    config->units = {SimUnit{0, "G4 ", "A1", "100", {}}};
  } else if (name == "matrix") {
    single("G3 ", "AB");
  } else if (name == "kesta128") {
    single("N8 ", "AC");
  } else if (name == "dravik") {
    single("YPB", "AA");
    config->units[0].auxiliary = {"001", "100"};
  } else if (name == "dravik-ypc" || name == "dravik-ypk" || name == "dravik-ypa") {
    config->protocols = {};
    config->wakeByte = name == "dravik-ypc" ? 0x1B : 0x1F;
  } else if (name == "station") {
    single("H2 ", "AA");
  } else if (name == "hub") {
    single("JQH", "AA");
    config->protocols = {0x1B};
  } else if (name == "tzt") {
    single("TZT", "AA");
  } else if (name == "xxx") {
    config->units = {SimUnit{0, "XXX", "AA", "100", {}}};
  } else if (name == "loader") {
    config->units = {SimUnit{0, "G4 ", "A1", "100", {}}};
    config->protocols = {0x1B};
  } else {
    return false;
  }
  config->family = name;
  return true;
}

namespace {
// The options that take a value; every other word is a flag or unknown.
const std::set<std::string> kValuedOptions = {"--tcp",
                                              "--family",
                                              "--unit",
                                              "--reply",
                                              "--serial",
                                              "--protocol",
                                              "--key",
                                              "--programming-delay",
                                              "--answer-delay",
                                              "--byte-gap",
                                              "--baud",
                                              "--silence-from",
                                              "--disconnect-at",
                                              "--short-serial",
                                              "--seed",
                                              "--late-by",
                                              "--repeat-line",
                                              "--regions",
                                              "--bad-info-blocks",
                                              "--lost-acks",
                                              "--corrupt-acks",
                                              "--corrupt-frames",
                                              "--late-acks",
                                              "--duplicate-acks",
                                              "--f4-acks",
                                              "--block-delay",
                                              "--line-delay",
                                              "--refuse-select",
                                              "--block-error",
                                              "--record",
                                              "--replay",
                                              "--firmware-after-update",
                                              "--state",
                                              "--power-cut-at"};
}  // namespace

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& words, std::string* error,
                                          bool* help) {
  SimOptions options;
  std::vector<SimUnit> units;
  const auto fail = [error](const std::string& what) {
    *error = what;
    return std::nullopt;
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= words.size()) return std::nullopt;
      return words[++i];
    };
    long long n = 0;
    if (w == "--help") {
      *help = true;
      return std::nullopt;
    } else if (w == "--pty") {
      options.pty = true;
    } else if (w == "--single-unit") {
      options.config.multiUnit = false;
    } else if (w == "--no-serial") {
      options.config.serialNumber.reset();
    } else if (w == "--busy") {
      options.config.faults.busy = true;
    } else if (w == "--bad-info-checksum") {
      options.config.faults.badInfoChecksum = true;
    } else if (w == "--reject-checksum") {
      options.config.faults.rejectChecksum = true;
    } else if (w == "--no-loader-reply") {
      options.config.faults.noLoaderReply = true;
    } else if (w == "--no-echo") {
      options.config.faults.noEcho = true;
    } else if (w == "--no-region-ack") {
      options.config.faults.noRegionAck = true;
    } else if (w == "--no-hand-over") {
      options.config.faults.noHandOver = true;
    } else {
      if (kValuedOptions.count(w) == 0) return fail("option " + w + " is unknown");
      const auto v = value();
      if (!v) return fail("option " + w + " needs a value");
      if (w == "--tcp") {
        options.tcp = *v;
      } else if (w == "--family") {
        if (!ApplyFamily(*v, &options.config)) return fail("unknown family " + *v);
      } else if (w == "--unit") {
        std::string problem;
        const auto unit = ParseUnitText(*v, &problem);
        if (!unit) return fail(problem);
        units.push_back(*unit);
      } else if (w == "--reply") {
        if (!Number(*v, 0xC3, 0xCA, &n, 16)) return fail("--reply takes C3 to CA");
        options.config.singleUnitReply = static_cast<std::uint8_t>(n);
      } else if (w == "--serial") {
        options.config.serialNumber = *v;
      } else if (w == "--protocol") {
        if (*v == "1D") {
          options.config.protocols = {0x1D};
        } else if (*v == "1B") {
          options.config.protocols = {0x1B};
        } else if (*v == "both") {
          options.config.protocols = {0x1D, 0x1B};
        } else {
          return fail("--protocol takes 1D, 1B or both");
        }
      } else if (w == "--key") {
        const auto key = vel::KeyDigits(*v);
        if (!key) return fail("--key takes 32 hexadecimal digits or 16 dash-separated pairs");
        options.config.key = *key;
      } else if (w == "--programming-delay" || w == "--answer-delay" || w == "--byte-gap" ||
                 w == "--baud" || w == "--silence-from" || w == "--disconnect-at" ||
                 w == "--short-serial" || w == "--seed" || w == "--late-by" ||
                 w == "--repeat-line" || w == "--regions" || w == "--bad-info-blocks") {
        if (!Number(*v, 0, 100000000, &n)) return fail(w + " takes a whole number");
        const int i32 = static_cast<int>(n);
        if (w == "--programming-delay") options.config.programmingDelayMs = i32;
        if (w == "--answer-delay") options.config.answerDelayMs = i32;
        if (w == "--byte-gap") options.config.byteGapMs = i32;
        if (w == "--baud") options.config.baud = i32;
        if (w == "--silence-from") options.config.faults.silenceFromFrame = i32;
        if (w == "--disconnect-at") options.config.faults.disconnectAtFrame = i32;
        if (w == "--short-serial") options.config.faults.shortSerial = std::min(i32, 15);
        if (w == "--seed") options.config.faults.seed = static_cast<std::uint32_t>(n);
        if (w == "--late-by") options.config.faults.lateByMs = i32;
        if (w == "--bad-info-blocks") options.config.faults.badInfoBlocks = i32;
        if (w == "--repeat-line") options.config.faults.repeatLines.insert(i32);
        if (w == "--regions") options.config.regions = std::clamp(i32, 1, 10);
      } else if (w == "--lost-acks" || w == "--corrupt-acks" || w == "--corrupt-frames" ||
                 w == "--late-acks" || w == "--duplicate-acks" || w == "--f4-acks") {
        char* end = nullptr;
        const double p = std::strtod(v->c_str(), &end);
        if (v->empty() || *end != '\0' || !(p >= 0.0 && p <= 1.0)) {
          return fail(w + " takes a probability 0 to 1");
        }
        SimFaults& f = options.config.faults;
        (w == "--lost-acks"        ? f.lostAck
         : w == "--corrupt-acks"   ? f.corruptAck
         : w == "--corrupt-frames" ? f.corruptFrame
         : w == "--late-acks"      ? f.lateAck
         : w == "--duplicate-acks" ? f.duplicateAck
                                   : f.f4Ack) = p;
      } else if (w == "--block-delay" || w == "--line-delay") {
        const auto parts = Split(*v, '=');
        long long ms = 0;
        if (parts.size() != 2 || !Number(parts[0], 0, 1000000, &n) ||
            !Number(parts[1], 0, 600000, &ms)) {
          return fail(w + " takes N=MS");
        }
        auto& delays = w == "--block-delay" ? options.config.faults.blockDelays
                                            : options.config.faults.lineDelays;
        delays[static_cast<int>(n)] = static_cast<int>(ms);
      } else if (w == "--refuse-select") {
        const auto parts = Split(*v, '=');
        long long answer = 0xFE;
        if (parts.size() > 2 || !Number(parts[0], 0, 1000000, &n) ||
            (parts.size() == 2 && !Number(parts[1], 0, 0xFF, &answer, 16)) || answer == 0xFA) {
          return fail("--refuse-select takes N or N=HH (HH not FA)");
        }
        options.config.faults.selectAnswers[static_cast<int>(n)] =
            static_cast<std::uint8_t>(answer);
      } else if (w == "--block-error") {
        const auto parts = Split(*v, '=');
        long long code = 0;
        if (parts.size() != 2 || !Number(parts[0], 0, 1000000, &n) ||
            !Number(parts[1], 0xF6, 0xFD, &code, 16) || code == 0xF9 || code == 0xFA ||
            code == 0xFB || code == 0xFC) {
          return fail("--block-error takes N=F6, N=F7, N=F8 or N=FD");
        }
        options.config.faults.blockResults[static_cast<int>(n)] = static_cast<std::uint8_t>(code);
      } else if (w == "--record") {
        options.recordFile = *v;
      } else if (w == "--replay") {
        options.replayFile = *v;
      } else if (w == "--firmware-after-update") {
        if (v->empty() || v->size() > 3)
          return fail("--firmware-after-update takes 1 to 3 characters");
        options.config.firmwareAfterUpdate = *v;
      } else if (w == "--state") {
        options.config.stateFile = *v;
      } else if (w == "--power-cut-at") {
        if (!Number(*v, 1, 100000000, &n)) {
          return fail("--power-cut-at takes a transfer frame from 1 (frame " + *v +
                      " is not one: a cut before the first frame cuts nothing)");
        }
        options.config.faults.powerCutAtFrame = static_cast<int>(n);
      }
    }
  }
  if (!units.empty()) options.config.units = units;
  if (options.pty == !options.tcp.empty()) return fail("give exactly one of --tcp and --pty");
  if (!options.replayFile.empty() &&
      (!options.config.stateFile.empty() || options.config.faults.powerCutAtFrame > 0)) {
    return fail("--replay plays a record back; --state and --power-cut-at go with a device");
  }
  if (!options.recordFile.empty()) {
    std::vector<vel::NamedPath> inputs = {{options.config.stateFile, "--state"},
                                          {options.replayFile, "--replay"}};
    std::erase_if(inputs, [](const vel::NamedPath& input) { return input.path.empty(); });
    const std::string clash = vel::OutputClash(inputs, {{options.recordFile, "--record"}});
    if (!clash.empty()) return fail(clash);
  }
  return options;
}

}  // namespace sim
