#pragma once

#include <chrono>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>

#include "devices/VersionCheck.h"
#include "engine/Console.h"
#include "engine/Operator.h"

namespace zandor {

// How the command-line front end talks: a progress bar on a terminal, plain lines otherwise,
// or one JSON object per event; the message log optionally into a file.
struct Presentation {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  bool json = false;
  std::ofstream* log = nullptr;
  std::mutex* lock = nullptr;  // one writer at a time across threads and devices
  std::string device;          // the target this output is about (JSON events carry it)
};

class CliConsole final : public vel::Console {
 public:
  explicit CliConsole(Presentation presentation) : p_(presentation) {}
  void AppendMessage(const std::string& line) override;
  void ShowDeviceUnits(const std::vector<vel::UnitLabel>& units) override;
  // Clears a progress line left on the terminal.
  void FinishLine();

 protected:
  void ShowProgress(int low, int high, int position, const std::string& statusLine) override;
  void HideProgress() override;
  void LogStatusLine(const std::string& line) override;

 private:
  void WriteLog(const std::string& line);

  Presentation p_;
  int shownPercent_ = -1;
  std::string operationText_;
  std::chrono::steady_clock::time_point operationStart_{};
  std::chrono::steady_clock::time_point lastPaint_{};
  bool lineOpen_ = false;
};

// The operator's side on the command line: answers from the terminal where there is one,
// otherwise from the options.
struct OperatorChoices {
  bool yes = false;             // accept what would need the operator's word
  bool cancelOnSilence = true;  // --on-silence=cancel|wait
  std::string serialNumber;     // --serial-number
  bool interactive = false;     // standard input is a terminal
  bool printVersionCheck = true;
};

class CliOperator final : public vel::Operator {
 public:
  CliOperator(Presentation presentation, OperatorChoices choices)
      : p_(presentation), choices_(std::move(choices)) {}
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(vel::Question question, const std::string& text) override;
  bool ConfirmDevice(vel::ConfirmationRequest& request) override;

 private:
  bool AskTerminal(const std::string& question);
  std::string ReadTerminalLine(const std::string& prompt);
  void PrintVersionCheck(const vel::VersionCheck& check);
  bool ChooseSerialNumber(const vel::VersionCheck& check, std::string* serial);

  Presentation p_;
  OperatorChoices choices_;
};

}  // namespace zandor
