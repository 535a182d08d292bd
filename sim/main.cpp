// zandor-sim: a simulated device for trying the tool without hardware.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <thread>

#include "SimOptions.h"
#include "SimServer.h"
#include "common/AtomicFile.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

std::string RecordText(const std::vector<sim::ProgrammedUnit>& units,
                       const std::vector<std::string>& violations) {
  std::ostringstream out;
  for (const std::string& v : violations) out << "protocol violation: " << v << "\n";
  static const char* const kHex = "0123456789ABCDEF";
  for (std::size_t u = 0; u < units.size(); ++u) {
    out << "unit " << u << " kind " << int{units[u].kindCode} << " run "
        << (units[u].runFrameSeen ? 1 : 0) << " blocks " << units[u].blocksProgrammed << "\n";
    for (const auto& [segment, bytes] : units[u].segments) {
      out << "segment " << segment << " ";
      for (std::uint8_t b : bytes) out << kHex[b >> 4] << kHex[b & 15];
      out << "\n";
    }
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  bool help = false;
  const auto options =
      sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), &error, &help);
  if (!options) {
    if (help) {
      std::cout << sim::kSimUsage;
      return 0;
    }
    std::cerr << "zandor-sim: " << error << "\n" << sim::kSimUsage;
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  sim::SimServer server(options->config);
  // Each violation is told as it is seen; the serving thread is the only writer of stderr then.
  server.Device().OnViolation(
      [](const std::string& what) { std::cerr << "protocol violation: " << what << std::endl; });
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
    const int port = server.StartTcp(host, wanted);
    if (port == 0) {
      std::cerr << "zandor-sim: cannot listen on " << options->tcp << "\n";
      return 3;
    }
    std::cout << "tcp " << host << ":" << port << std::endl;
  }
  while (stopRequested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server.Stop();
  const auto violations = server.Device().Violations();
  if (!violations.empty()) {
    std::cerr << "zandor-sim: " << violations.size() << " protocol violation(s)\n";
  }
  if (!options->recordFile.empty()) {
    const vel::Result written = vel::WriteFileAtomically(
        options->recordFile, RecordText(server.Device().Programmed(), violations), 0644);
    if (!written) {
      std::cerr << "zandor-sim: cannot write " << options->recordFile << ": " << written.error()
                << "\n";
      return 3;
    }
  }
  return violations.empty() ? 0 : 1;
}
