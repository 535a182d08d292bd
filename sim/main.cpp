// zandor-sim: a simulated device for trying the tool without hardware.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "SessionReplay.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "common/AtomicFile.h"
#include "common/StandardDescriptors.h"
#include "common/Version.h"
#include "link/SessionRecord.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

std::string RecordText(const sim::SimDevice& device, const std::vector<std::string>& violations) {
  const std::vector<sim::ProgrammedUnit> units = device.Programmed();
  std::ostringstream out;
  for (const std::string& v : violations) out << "protocol violation: " << v << "\n";
  static const char* const kHex = "0123456789ABCDEF";
  // A line for each image taken, in the order taken, naming the unit it went to.
  for (const sim::ProgrammedUnit& unit : units) {
    out << "unit " << unit.unit << " kind " << int{unit.kindCode} << " run "
        << (unit.runFrameSeen ? 1 : 0) << " blocks " << unit.blocksProgrammed << "\n";
    for (const auto& [segment, bytes] : unit.segments) {
      out << "segment " << segment << " ";
      for (std::uint8_t b : bytes) out << kHex[b >> 4] << kHex[b & 15];
      out << "\n";
    }
  }
  out << "identifications " << device.IdentificationsAnswered() << " frames "
      << device.FramesReceived() << "\n";
  return out.str();
}

constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;  // a record or state file

// The whole of a regular file of at most kMaxInputBytes; nothing, with *error set, otherwise.
std::optional<std::string> ReadInput(const std::string& path, std::string* error) {
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (!std::filesystem::exists(status)) {
    *error = code ? code.message() : "no such file";
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = "not a regular file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxInputBytes) {
      *error = "larger than this program reads";
      return std::nullopt;
    }
  }
  if (in.bad()) {
    *error = "cannot be read";
    return std::nullopt;
  }
  return text;
}

// Takes the units, serial number and memory a state file kept into the device's configuration;
// false (with *error set) when the file is there but not a state file. A missing file is a device
// that starts afresh.
bool RestoreState(sim::SimConfig* config, sim::DeviceMemory* memory, std::string* error) {
  std::error_code code;
  if (!std::filesystem::exists(config->stateFile, code)) return true;
  const auto text = ReadInput(config->stateFile, error);
  if (!text) return false;
  auto state = sim::ParseSimState(*text, error);
  if (!state) return false;
  config->units = state->units;
  config->serialNumber = state->serialNumber;
  *memory = std::move(state->memory);
  return true;
}

void TellViolation(const std::string& what) {
  std::cerr << "protocol violation: " << what << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a descriptor: a closed standard output or error must not hand its
  // number to a client's connection, which would then receive what this program prints.
  if (const vel::Result opened = vel::OpenStandardDescriptors(); !opened) {
    std::fprintf(stderr, "zandor-sim: %s\n", opened.error().c_str());
    return 3;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << vel::VersionLine() << "\n";
    return 0;
  }
  std::string error;
  bool help = false;
  auto options =
      sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), &error, &help);
  if (!options) {
    if (help) {
      std::cout << sim::kSimUsage;
      return 0;
    }
    std::cerr << "zandor-sim: " << error << "\nTry 'zandor-sim --help'.\n";
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  sim::DeviceMemory memory;
  if (!options->config.stateFile.empty() && !RestoreState(&options->config, &memory, &error)) {
    std::cerr << "zandor-sim: " << options->config.stateFile << ": " << error << "\n";
    return 2;
  }
  std::unique_ptr<sim::SessionReplay> replay;
  if (!options->replayFile.empty()) {
    const auto text = ReadInput(options->replayFile, &error);
    const auto record = text ? vel::ParseSession(*text) : vel::Result::Failed(error);
    if (!record) {
      std::cerr << "zandor-sim: " << options->replayFile << ": " << record.error() << "\n";
      return 2;
    }
    replay = std::make_unique<sim::SessionReplay>(record->events, options->config.key);
  }
  sim::SimServer server(options->config);
  server.Device().Restore(std::move(memory));
  server.Device().KeepState();
  if (!server.Device().StateError().empty()) {
    std::cerr << "zandor-sim: cannot write " << options->config.stateFile << ": "
              << server.Device().StateError() << "\n";
    return 3;
  }
  // Each violation is told as it is seen; the serving thread is the only writer of stderr then.
  if (replay) {
    replay->OnViolation(TellViolation);
    server.ServeBy(*replay);
  } else {
    server.Device().OnViolation(TellViolation);
  }
  if (options->pty) {
    const std::string path = server.StartPty();
    if (path.empty()) {
      std::cerr << "zandor-sim: cannot open a pseudo-terminal\n";
      return 3;
    }
    std::cout << "pty " << path << std::endl;
  } else {
    const std::size_t colon = options->tcp.rfind(':');
    const std::string host =
        colon == std::string::npos ? "127.0.0.1" : options->tcp.substr(0, colon);
    const int wanted = std::atoi(options->tcp.substr(colon + 1).c_str());
    // An IPv6 address is written in brackets, its own colons inside them ("[::1]:0").
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const int port = server.StartTcp(bracketed ? host.substr(1, host.size() - 2) : host, wanted);
    if (port == 0) {
      std::cerr << "zandor-sim: cannot listen on " << options->tcp << "\n";
      return 3;
    }
    std::cout << "tcp " << host << ":" << port << std::endl;
  }
  while (stopRequested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server.Stop();
  auto violations = replay ? replay->Violations() : server.Device().Violations();
  if (replay && !replay->Unplayed().empty()) {
    violations.push_back(replay->Unplayed());
    TellViolation(violations.back());
  }
  if (!violations.empty()) {
    std::cerr << "zandor-sim: " << violations.size() << " protocol violation(s)\n";
  }
  if (!options->recordFile.empty()) {
    const vel::Result written = vel::WriteFileAtomically(
        options->recordFile, RecordText(server.Device(), violations), 0644);
    if (!written) {
      std::cerr << "zandor-sim: cannot write " << options->recordFile << ": " << written.error()
                << "\n";
      return 3;
    }
  }
  if (!server.Device().StateError().empty()) {
    std::cerr << "zandor-sim: cannot write " << options->config.stateFile << ": "
              << server.Device().StateError() << "\n";
    return 3;
  }
  return violations.empty() ? 0 : 1;
}
